#pragma once
// The runner's command line: a verb, then what goes on to the suites or the
// benchmark, checked, so that nothing but those options reaches them.
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kit {

// The command line's arguments, then those the command file passed in
// KIT_ARGS, split as a command line is.
std::vector<std::wstring> Arguments(int argc, wchar_t** argv);
// An argument as CommandLineToArgvW and the C runtime split it back.
std::wstring Quoted(std::wstring_view arg);
// The suites' and the benchmark's arguments, checked, as they go on to them;
// false, with a message printed, when one is not accepted.
bool TestArguments(std::span<const std::wstring> args, std::wstring& out);
bool BenchArguments(std::span<const std::wstring> args, std::wstring& out);

}  // namespace kit
