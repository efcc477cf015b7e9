#pragma once
// The install folder: the folder of the store's own module file in the calling process. Default
// profiles and driver settings templates are found below it, in "Profiles".
#include <optional>
#include <string>

namespace ks {

// Full path of the module's own file (ANSI, at most 259 characters); empty when the platform
// cannot tell. A longer path comes back cut by the platform.
std::optional<std::string> ModulePath();

// The module path up to, not including, its last backslash (multi-byte aware); the empty text
// when the path has no backslash; empty optional when the module path is unknown.
std::optional<std::string> InstallFolder();

}  // namespace ks
