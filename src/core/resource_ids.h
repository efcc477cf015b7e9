#pragma once
// Resource ids of the module: string resources the store loads and the registration scripts.
// Also read by the resource compiler, so plain defines only.
#define IDS_PROJNAME 100
#define IDR_APPID 101
#define IDR_KEYSTRELCONFIG 201
#define IDS_NEW_CONFIGURATION 2000
