#include "bench/json_text.h"

#include "bench/bench_text.h"

namespace bench {

namespace {

constexpr int kJsonDecimals = 4;
constexpr std::string_view kHexDigits = "0123456789abcdef";

}  // namespace

std::string JsonString(std::wstring_view text) {
  std::string out = "\"";
  for (const wchar_t c : text) {
    const auto unit = static_cast<unsigned>(c);
    if (c == L'"' || c == L'\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (unit >= 0x20U && unit < 0x80U) {
      out += static_cast<char>(c);
    } else {
      out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) {
        out += kHexDigits[(unit >> shift) & 0xFU];
      }
    }
  }
  return out + "\"";
}

std::string JsonArray(const std::vector<double>& ms) {
  std::string out = "[";
  for (const double value : ms) {
    out += (out.size() == 1 ? "" : ",") + Fixed(value, kJsonDecimals);
  }
  return out + "]";
}

}  // namespace bench
