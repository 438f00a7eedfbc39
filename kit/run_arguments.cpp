#include "kit/run_arguments.h"

#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cwchar>

#include "kit/kit_text.h"

namespace kit {

namespace {

constexpr std::wstring_view kGtestPrefix = L"--gtest_";
// The runner names the XML; a listing or a flag file runs no test.
constexpr std::array<std::wstring_view, 3> kGtestRefused = {
    L"--gtest_output", L"--gtest_list_tests", L"--gtest_flagfile"};
constexpr std::uint32_t kMostRounds = 100000;
constexpr const wchar_t* kDefaultRounds = L"200";

bool Digits(std::wstring_view text) {
  return !text.empty() && text.size() <= 9 &&
         text.find_first_not_of(L"0123456789") == std::wstring_view::npos;
}

}  // namespace

std::vector<std::wstring> Arguments(int argc, wchar_t** argv) {
  const std::span<wchar_t*> given(argv, static_cast<std::size_t>(argc));
  std::vector<std::wstring> args(given.begin(), given.end());
  const std::wstring passed = Environment(L"KIT_ARGS");
  int count = 0;
  wchar_t** split = passed.empty() ? nullptr : CommandLineToArgvW((L"x " + passed).c_str(), &count);
  if (split != nullptr) {
    const std::span<wchar_t*> more(split, static_cast<std::size_t>(count));
    args.insert(args.end(), more.begin() + 1, more.end());
    LocalFree(static_cast<void*>(split));
  }
  return args;
}

std::wstring Quoted(std::wstring_view arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring_view::npos) {
    return std::wstring(arg);
  }
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  return out.append(backslashes * 2, L'\\') + L"\"";
}

bool BenchArguments(std::span<const std::wstring> args, std::wstring& out) {
  std::wstring rounds = kDefaultRounds;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::wstring_view arg = args[i];
    if (arg == L"--seed" && i + 1 < args.size() && Digits(args[i + 1])) {
      out += L" --seed " + args[++i];
    } else if (Digits(arg) && std::wcstoul(arg.data(), nullptr, 10) - 1 < kMostRounds) {
      rounds = arg;
    } else {
      PrintLine(L"run-bench: not accepted: " + Quoted(arg) +
                L". Usage: run-bench.cmd [ROUNDS] [--seed N], ROUNDS from 1 to " +
                std::to_wstring(kMostRounds));
      return false;
    }
  }
  out = L" --rounds " + rounds + out;
  return true;
}

bool TestArguments(std::span<const std::wstring> args, std::wstring& out) {
  for (const std::wstring& arg : args) {
    const std::wstring_view text = arg;
    if (!text.starts_with(kGtestPrefix) ||
        std::any_of(kGtestRefused.begin(), kGtestRefused.end(),
                    [&text](std::wstring_view refused) { return text.starts_with(refused); })) {
      PrintLine(L"run-tests: not accepted: " + Quoted(text) +
                L". Only --gtest_ options go on to the suites, for example "
                L"run-tests.cmd --gtest_filter=ImportEndToEnd.*");
      return false;
    }
    out += L" " + Quoted(text);
  }
  return true;
}

}  // namespace kit
