#pragma once
// Windows-free text logic of profile text, the format of default profile files: the one value-line
// grammar and line joining, section headers, a whole-text reader with an optional diagnostics sink,
// and the placeholder filler (the writer is profile_writer.h). Nothing here touches the registry or
// the file system; the importer, the preparation step and the support tool apply the results.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ks {

// True when `byte` starts a double-byte character of the ANSI code page in use. Searches and
// comparisons step over such characters whole, so a trail byte never matches "\\", "=" or "%".
// Null means a single-byte code page.
using LeadBytePredicate = bool (*)(unsigned char byte);

// One registry value as a line of a default profile file describes it.
struct ValueLine {
    enum class Kind { String, Dword, Binary };
    std::string name;            // empty: the key's default value
    Kind kind = Kind::String;
    std::vector<std::uint8_t> bytes;  // exactly what is written: REG_SZ with its NUL, 4 LE bytes, raw bytes
};

// Parses one (already joined) line: name, "=", value text. Empty optional when the line is
// ignored (no "=", unknown or empty type word). Numbers are read as scanf would ("%08X" for a dword,
// "%02X" for each byte), so "dword:0x1e" and "dword:-1" are numbers and "0g" is the byte 00. With
// `problem`, a caller that wants strictness learns why a line is ignored or read other than it is
// written (a number or byte whose text is not wholly read); it stays empty otherwise.
std::optional<ValueLine> ParseValueLine(std::string_view line, LeadBytePredicate isLead = nullptr,
                                        std::string* problem = nullptr);

// The importer reads a section into a buffer of this many characters; the platform's section
// reader delivers at most two fewer, and what does not fit is not imported.
inline constexpr std::size_t kSectionBufferSize = 5000;
inline constexpr std::size_t kImportedSectionLength = kSectionBufferSize - 2;

// Splits what the platform delivered for one section (lines separated by NULs, as many
// characters as it reported) into the lines to import, joining "=hex:" lines that end in a
// backslash with the next line. Empty lines are dropped; so is a last line that never ended:
// one without a NUL of its own (it was cut off) and a continued "=hex:" line whose next line
// never came (the last of its section, or one the delivered characters end inside).
std::vector<std::string> JoinSectionLines(std::string_view delivered, LeadBytePredicate isLead = nullptr);

// A line a strict reader reports: its number in the text (from 1) and why.
struct TextProblem {
    std::size_t line;
    std::string reason;
};

struct ProfileSection {
    std::string header;  // between the brackets
    std::size_t line;    // of the header
    std::vector<ValueLine> values;
};

// A whole profile text, read as the platform's profile functions hand it to the import: a "[...]"
// line opens a section, lines are trimmed of blanks, blank and ";" lines skip, lines before the
// first section are not read, and each section's lines go through JoinSectionLines and
// ParseValueLine. The default-profile import passes no `problems` and skips what it cannot read; a
// strict caller gets each line the import would skip or read other than written, with its number.
std::vector<ProfileSection> ReadProfileText(std::string_view text, LeadBytePredicate isLead = nullptr,
                                            std::vector<TextProblem>* problems = nullptr);

// The registry root a section header names.
enum class RootKey { ClassesRoot, CurrentConfig, CurrentUser, LocalMachine, Users };

struct SectionTarget {
    RootKey root;
    std::string path;  // everything after the first backslash
};

// Splits a section header at its first backslash and looks the root name up (exact,
// case-sensitive, long names only). Empty optional: no backslash, or an unknown root.
std::optional<SectionTarget> ParseSectionHeader(std::string_view header, LeadBytePredicate isLead = nullptr);

// Fills a default profile file's text: the GAMMA_VALUES placeholder (removed; defines
// "%GAMMA%"), every "%ROOT%" (replaced by `rootText`, the own-hive device key path such as
// "HKEY_CURRENT_USER\Software\Stellwick\Keystrel 4.0\<hardware>"), and the cut at the event
// section header "[<rootText>\EventProfiles]". A text without that header is kept whole.
// The placeholder's format is checked and applied by FormatInteger (integer_format.h); a
// format it refuses leaves every "%GAMMA%" as it is, the placeholder is removed all the same.
std::string FillDefaultProfile(std::string_view text, std::string_view rootText, LeadBytePredicate isLead = nullptr);

}  // namespace ks
