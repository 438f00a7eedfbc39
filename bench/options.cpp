#include "bench/options.h"

#include <optional>
#include <string_view>

namespace bench {

namespace {

constexpr std::uint32_t kMostRounds = 100000;

// A whole decimal number, or nothing.
std::optional<std::uint32_t> Number(std::wstring_view text) {
  std::uint64_t value = 0;
  for (const wchar_t c : text) {
    if (c < L'0' || c > L'9' || value > 0xFFFFFFFFU / 10) {
      return std::nullopt;
    }
    value = value * 10 + static_cast<std::uint64_t>(c - L'0');
  }
  if (text.empty() || value > 0xFFFFFFFFU) {
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

}  // namespace

bool ParseOptions(std::span<wchar_t*> args, Options& options) {
  for (std::size_t i = 0; i + 1 < args.size(); i += 2) {
    const std::wstring_view option = args[i];
    const std::uint32_t value = Number(args[i + 1]).value_or(0);
    if (option == L"--json") {
      options.json = args[i + 1];
    } else if (option == L"--work") {
      options.work = args[i + 1];
    } else if (option == L"--arch") {
      options.architectures.emplace_back(args[i + 1]);
    } else if (option == L"--seed" && Number(args[i + 1])) {
      options.seed = value;
      options.seeded = true;
    } else if (option == L"--rounds" && value > 0 && value <= kMostRounds) {
      options.rounds = static_cast<int>(value);
    } else {
      return false;
    }
  }
  return args.size() % 2 == 0;
}

std::string Usage() {
  return "usage: bench-startup [--rounds N] [--seed S] [--json FILE] [--work FOLDER]\n"
         "                     [--arch FOLDER]...\n"
         "  times profile-import.exe against the programs beside it, and each FOLDER's\n"
         "  importer against its minimal PE; default " +
         std::to_string(kDefaultRounds) +
         " rounds, bench.json, and\n"
         "  bench-work beside the benchmark\n";
}

}  // namespace bench
