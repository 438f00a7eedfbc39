#include "bench/bench_text.h"

#include <array>
#include <charconv>
#include <cstdio>

#include "winlib/error_text.h"

namespace bench {

void Print(std::string_view text) {
  static_cast<void>(std::fwrite(text.data(), 1, text.size(), stdout));
}

std::string Fixed(double value, int decimals) {
  std::array<char, 32> buffer{};
  // NOLINTNEXTLINE(*-pointer-arithmetic)
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                    std::chars_format::fixed, decimals);
  return {buffer.data(), result.ptr};
}

std::string Narrow(std::wstring_view text) {
  std::string out;
  for (const wchar_t c : text) {
    out += c < 0x80 ? static_cast<char>(c) : '?';
  }
  return out;
}

std::string ErrorDescription(winlib::Status status) {
  return "error " + std::to_string(status.error) + ", " + Narrow(winlib::ErrorText(status));
}

}  // namespace bench
