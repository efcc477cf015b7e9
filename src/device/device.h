#pragma once
// Device application settings: the copy-to-folder destination of each scanner and the scanner
// driver settings files with the interface's saved modes. Knows nothing of COM objects: names
// arrive and texts leave as 8-bit text; the caller has checked required pointers and run the root
// step. Each keeps the contract of the interface method of the same name.
#include <optional>
#include <string>

#include "core/record_descriptor.h"

namespace ks {

// The stored settings, or on first use the defaults, written; `current` holds the caller's
// values, which a value that cannot be read leaves as they are. Nothing without a device key or a
// usable documents folder.
std::optional<CopySettings> CopyToFolderSettings(const std::string& hardware, const CopySettings& current);
void StoreCopyFolderOptions(const std::string& hardware, DWORD flags, const std::string& path);
void UpdateCopyCount(const std::string& hardware, LONG add);

// `profile`: the interface profile the object was given.
void UIInterfaceSaveSettings(const std::string& profile, short scanMode, short deviceMode);
struct StartupSettings {
    short scanMode;
    short deviceMode;
    std::string file;  // the ISIS settings file; empty when there is none
};
std::optional<StartupSettings> UIInterfaceStartupSettings(const std::string& hardware, const std::string& profile);
std::optional<std::string> GetTwainConfigurationFile(const std::string& hardware);

// The folders the store makes on first use, for tools that show what it would do: the default
// copy-to-folder destination and the folder of the per-user driver settings files. Empty when the
// shell cannot give the folder they are in.
std::optional<std::string> DefaultCopyFolder();
std::optional<std::string> DriverFilesFolder();

}  // namespace ks
