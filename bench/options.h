#pragma once
// The benchmark's command line.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace bench {

inline constexpr int kDefaultRounds = 200;

struct Options {
  int rounds = kDefaultRounds;
  std::uint32_t seed = 0;
  bool seeded = false;
  std::wstring json = L"bench.json";
  std::wstring work;  // bench-work beside the benchmark unless given
  // Folders beside the benchmark holding another architecture's importer and
  // minimal PE, each pair timed in the same rounds.
  std::vector<std::wstring> architectures;
};

std::string Usage();

// The arguments after the program's name; false on any it does not take.
[[nodiscard]] bool ParseOptions(std::span<wchar_t*> args, Options& options);

}  // namespace bench
