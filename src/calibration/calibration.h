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

}  // namespace ks
