#pragma once
// The user logged on at the active console. A process whose own hive holds nothing for a device
// (one running under another account, say) reads that user's calibration tables instead.
#include <optional>
#include <string>

namespace ks {

// The console user's SID in its string form (S-1-5-...), asked of the platform on every call;
// empty when any step of the platform's answer is missing or fails.
std::optional<std::string> QueryConsoleUserSid();

// Where the store gets the console user's SID: QueryConsoleUserSid unless a test points it
// elsewhere (the platform answer cannot be steered from a test).
using ConsoleUserSidSource = std::optional<std::string> (*)();
extern ConsoleUserSidSource g_consoleUserSid;

}  // namespace ks
