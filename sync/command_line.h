#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace profile_import::sync {

inline constexpr std::size_t kMaxMasters = 8;
// Every master's path together, as given (before {sid} is replaced).
inline constexpr std::size_t kCommandLineUnits = 4096;
// How long a profile may go without being in line with a master before a run
// that finds none says so as an error: long enough for a holiday off the VPN.
inline constexpr std::uint32_t kDefaultStaleDays = 14;
inline constexpr std::uint32_t kMaxStaleDays = 3650;

// profile-sync.exe [--check] [--enforce] [--stale-days N] [MASTER...]
// profile-sync.exe --restore-previous
// Also the shape of policy Masters, which serves when no MASTER is given.
struct CommandLine {
  bool check = false;
  bool enforce = false;
  bool restore = false;
  std::uint32_t stale_days = 0;  // 0 when not given
  std::size_t master_count = 0;
  std::array<std::u16string_view, kMaxMasters> masters{};  // into `text`
  std::array<char16_t, kCommandLineUnits> text{};
};

// A drive's X:\... or a share's \\server\share\...: what a master must be.
bool IsFullPath(std::u16string_view path);

// Splits GetCommandLineW's text as the C runtime splits it into arguments
// (quotes, and backslashes before a quote), skips the program's own name,
// and takes the options and the masters. False for a command line that is
// wrong: an unknown option, a master that is not a full path, more than fit,
// --stale-days without a number from 1 to kMaxStaleDays, or
// --restore-previous with anything else.
bool ParseCommandLine(std::u16string_view line, CommandLine& out);

}  // namespace profile_import::sync
