#pragma once
// What the benchmark prints: ASCII, on standard output.
#include <string>
#include <string_view>

#include "winlib/status.h"

namespace bench {

void Print(std::string_view text);
std::string Fixed(double value, int decimals);
// Anything beyond ASCII as '?'.
std::string Narrow(std::wstring_view text);
// "error 5, Access is denied", as the kit's test reads a start that failed.
std::string ErrorDescription(winlib::Status status);

}  // namespace bench
