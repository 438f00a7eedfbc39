#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace profile_import::sync {

inline constexpr std::size_t kMaxMasters = 8;
// Every master's path together, as given (before {sid} is replaced).
inline constexpr std::size_t kCommandLineUnits = 4096;

// profile-sync.exe [--check] [--enforce] MASTER [MASTER...]
struct CommandLine {
  bool check = false;
  bool enforce = false;
  std::size_t master_count = 0;
  std::array<std::u16string_view, kMaxMasters> masters{};  // into `text`
  std::array<char16_t, kCommandLineUnits> text{};
};

// Splits GetCommandLineW's text as the C runtime splits it into arguments
// (quotes, and backslashes before a quote), skips the program's own name,
// and takes the options and the masters. False for a command line that is
// wrong: an unknown option, no master, one that is not a full path (a drive's
// X:\... or a share's \\server\share\...), or more than fit.
bool ParseCommandLine(std::u16string_view line, CommandLine& out);

}  // namespace profile_import::sync
