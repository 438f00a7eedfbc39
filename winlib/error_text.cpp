#include "winlib/error_text.h"

#include <windows.h>

#include <array>

namespace winlib {

namespace {

// Longer than any system message.
constexpr std::size_t kLongestText = 512;

bool TrailingFiller(wchar_t c) {
  return c == L'\n' || c == L'\r' || c == L' ' || c == L'.';
}

}  // namespace

std::wstring ErrorText(Status status) {
  std::array<wchar_t, kLongestText> text{};
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     status.error, 0, text.data(), static_cast<DWORD>(text.size()), nullptr);
  std::wstring out(text.data(), length);
  while (!out.empty() && TrailingFiller(out.back())) {
    out.pop_back();
  }
  return out;
}

}  // namespace winlib
