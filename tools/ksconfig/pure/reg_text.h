#pragma once
// Windows-free: the registry editor's text files (version 5 and REGEDIT4), read into keys and
// values; keys and values written as version 5 text. The store's profile text is read and written
// by the store's own module (calibration/pure/profile_text.h). Nothing here touches the registry or
// a file: ksconfig decodes a file into UTF-16 and applies the result.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ksconfig::regtext {

// The platform's value type numbers.
inline constexpr std::uint32_t kTypeSz = 1;
inline constexpr std::uint32_t kTypeExpandSz = 2;
inline constexpr std::uint32_t kTypeBinary = 3;
inline constexpr std::uint32_t kTypeDword = 4;
inline constexpr std::uint32_t kTypeMultiSz = 7;

enum class Format { Reg5, Reg4, ProfileText };

struct Value {
    std::u16string name;             // empty: the key's default value
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;  // as stored: a quoted text becomes UTF-16LE with its NUL
    std::size_t line = 0;            // where the value starts, from 1
    bool hexData = false;            // written as hex(n): bytes, not as a quoted text or dword:
    bool operator==(const Value& o) const { return name == o.name && type == o.type && data == o.data; }
};

struct Key {
    std::u16string path;  // the full name, root first: HKEY_CURRENT_USER\Software\...
    std::vector<Value> values;
    std::size_t line = 0;
    bool operator==(const Key& o) const { return path == o.path && values == o.values; }
};

struct Problem {
    std::size_t line;
    std::string reason;  // UTF-8
};

struct Document {
    Format format = Format::ProfileText;
    std::vector<Key> keys;          // in file order; a key named twice appears twice
    std::vector<Problem> problems;  // one per line that could not be read; empty when all were
};

// Reads a whole file (byte-order mark removed; lines end in CR LF, LF or CR). A first line
// "Windows Registry Editor Version 5.00" or "REGEDIT4" names the registry editor's format, with
// escaped quoted texts, dword: and hex(n): values; anything else is profile text, which is left to
// the store's reader: the document then has that format and nothing else. Every line is checked: a
// bad number, byte, quote, escape, header or a line that is none of these is a problem, and
// deleting keys or values is refused.
// In REGEDIT4 files the bytes of hex(1), hex(2) and hex(7) are 8-bit text: the caller converts
// the values marked hexData.
Document Parse(std::u16string_view text);

// Keys and values as version 5 text without the byte-order mark, CR LF line ends. A REG_SZ is a
// quoted text only when its data is one NUL-terminated UTF-16 text, a REG_DWORD is dword: only
// when it has 4 bytes; everything else is hex(n): so that it reads back byte for byte. A key
// whose path holds a line break cannot be named: it is left out and its path added to `leftOut`.
std::u16string Write(const std::vector<Key>& keys, std::vector<std::u16string>* leftOut = nullptr);

// Why `path` may not be imported: empty when it is the settings root or the backup tree of the
// current user or below them (letter case ignored, as the registry does), else a reason that
// names its root.
std::string Refusal(std::u16string_view path);

std::string Utf8(std::u16string_view text);
// Appends UTF-16LE bytes, as the registry keeps texts.
void AppendUtf16(std::vector<std::uint8_t>& out, std::u16string_view text);
std::u16string Widen(std::string_view ascii);

}  // namespace ksconfig::regtext
