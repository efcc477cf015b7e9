#pragma once
#include "core/records.h"
#include "profiles/profile_service.h"
