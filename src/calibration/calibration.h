#pragma once
// Gamma calibration tables of a device: stored in the caller's hive, read from there, else from
// the console user's hive, else from the device's default profile imported into the caller's hive.
// Knows nothing of COM objects; the caller has checked the pointers and the size and run the root
// step. Each keeps the contract of the interface method of the same name.
#include <windows.h>

#include <string>

namespace ks {

HRESULT StoreCalibrationData(const std::string& hardware, LONG gamma, LONG size, unsigned char* data);
HRESULT GetCalibrationData(const std::string& hardware, LONG size, unsigned char* data);
HRESULT GetDefualtGamma(const std::string& hardware, LONG* gamma);

// What GetCalibrationData reads of the caller's own hive, for tools that show it: the value name of
// table `gamma` ("Gamma - <n>"), the current gamma number of an open device key (0: no table of
// its own), and table `gamma` of an open CalibrationProfiles key (only a REG_BINARY that fits
// `size` counts, though a fitting value of another type has been copied all the same).
std::string TableName(LONG gamma);
LONG CurrentGamma(HKEY deviceKey);
bool QueryTable(HKEY tablesKey, LONG gamma, LONG size, unsigned char* data);

}  // namespace ks
