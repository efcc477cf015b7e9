#pragma once
// Per-user shell folders and the path rules the device settings share.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace ks {

// Longest full path the store builds or accepts, in 8-bit characters (MAX_PATH without its NUL).
inline constexpr std::size_t kMaxPathLength = 259;

// A shell folder of the current user (a CSIDL without flags), created when missing, in its current
// location; empty when the shell cannot give it.
std::optional<std::string> UserShellFolder(int csidl);

// "<folder>\<name>", with no second backslash when the folder already ends in one. The end is found
// by characters, so a trail byte equal to '\' is not taken for a separator.
std::string JoinPath(const std::string& folder, std::string_view name);

}  // namespace ks
