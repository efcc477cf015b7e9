#pragma once
// The writing side of the profile text format: registry keys and values as the section headers
// and value lines that the profile importer reads back into the same names, types and bytes.
// Windows-free; the caller enumerates the registry and hands the values over.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "calibration/pure/profile_text.h"

namespace ks {

// The registry value types a value line can carry (the platform's numbers).
inline constexpr std::uint32_t kLineTypeString = 1;  // REG_SZ
inline constexpr std::uint32_t kLineTypeBinary = 3;  // REG_BINARY
inline constexpr std::uint32_t kLineTypeDword = 4;   // REG_DWORD

// Hexadecimal value lines are continued with a trailing backslash before they pass this width.
inline constexpr std::size_t kValueLineWidth = 78;

struct WrittenValue {
    std::vector<std::string> lines;  // empty when refused
    std::string refusal;             // why the value cannot be written, when refused
};

// One registry value as value lines: "name"="text", "name"=dword:0000001e, or
// "name"=hex:0a,1b,... continued on further lines. The importer takes quoted texts raw (no
// escapes) and reads its file line by line, so these are refused: types other than the three;
// a string whose data is not its text and one NUL, or whose text holds a NUL, CR or LF; a dword
// that is not 4 bytes; a name holding "=" (the importer splits there), NUL, CR or LF.
WrittenValue WriteValueLines(std::string_view name, std::uint32_t type, std::span<const std::uint8_t> data);

// "[<key>]" for a full key name such as "HKEY_CURRENT_USER\Software\...". Empty optional, with
// the reason in `refusal`, when the name holds "]", CR or LF (no header could name it).
std::optional<std::string> WriteSectionHeader(std::string_view key, std::string* refusal);

// The characters the platform's section reader delivers for these lines: each line without its
// leading and trailing blanks, and its NUL. Beyond kImportedSectionLength a section is cut.
std::size_t DeliveredSectionLength(const std::vector<std::string>& lines);

}  // namespace ks
