#pragma once
// The pieces of the benchmark's JSON file.
#include <string>
#include <string_view>
#include <vector>

namespace bench {

// A JSON string, in ASCII: anything else as \uXXXX.
std::string JsonString(std::wstring_view text);
// Times in milliseconds, to a tenth of a microsecond.
std::string JsonArray(const std::vector<double>& ms);

}  // namespace bench
