#pragma once
// Searching 8-bit ANSI text character by character: a double-byte character is stepped over
// whole, so its trail byte never matches a single-byte character such as "\\", "=" or "%".
#include <cstddef>
#include <string>
#include <string_view>

#include "calibration/pure/profile_text.h"

namespace ks {

// Position of the character after the one at `pos` (a character start). A lead byte in the
// last position has no trail byte and counts as a character of its own.
std::size_t NextCharPos(std::string_view text, std::size_t pos, LeadBytePredicate isLead);

// First occurrence of `needle` that starts on a character at or after `from` (a character
// start); npos when there is none. Bytes are compared exactly.
std::size_t FindText(std::string_view text, std::string_view needle, std::size_t from, LeadBytePredicate isLead);

// Start of the last character of `text`; npos for an empty text.
std::size_t LastCharPos(std::string_view text, LeadBytePredicate isLead);

// True when the last character of `text` is the single-byte character `c`.
bool EndsWithChar(std::string_view text, char c, LeadBytePredicate isLead);

// Start of the last single-byte character `c` in `text`; npos when there is none.
std::size_t FindLastChar(std::string_view text, char c, LeadBytePredicate isLead);

// Every occurrence of `needle` (non-empty) replaced, left to right, without rescanning what
// was put in.
std::string ReplaceAll(std::string_view text, std::string_view needle, std::string_view replacement,
                       LeadBytePredicate isLead);

}  // namespace ks
