#pragma once
// Files the install folder ships for each scanner in its "Profiles" folder, named after the
// scanner's hardware name: the default profile (".ks4") and the driver settings templates
// (".isis", ".twain").
#include <optional>
#include <string>
#include <string_view>

namespace ks {

// True when `byte` starts a double-byte character of the ANSI code page in use; null means a
// single-byte code page.
using LeadBytePredicate = bool (*)(unsigned char byte);

// "<install folder>\Profiles\<hardware name><extension>". Nothing when the name would lead out of
// that folder or away from a plain file in it: a path separator ("\" or "/", a trail byte of a
// double-byte character is none), a drive or stream colon, "." or ".." as the whole name, or a
// device name the platform reserves in every folder (CON, PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$,
// CONOUT$, also with an extension or trailing spaces, in any case). The registry key of such a
// name is still the name exactly as given.
std::optional<std::string> ProfilesFilePath(std::string_view installFolder, std::string_view hardwareName,
                                            std::string_view extension, LeadBytePredicate isLead);

}  // namespace ks
