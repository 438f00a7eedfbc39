#include "kit/kit_text.h"

#include "profile/text_encoding.h"
#include "winlib/error_text.h"

#include <cstdint>

namespace kit {

std::wstring TimeText(const SYSTEMTIME& time, std::wstring_view date_separator,
                      std::wstring_view middle, std::wstring_view time_separator) {
  auto two = [](WORD value) {
    return std::wstring(value < 10 ? L"0" : L"") + std::to_wstring(value);
  };
  std::wstring text = std::to_wstring(time.wYear);
  text.append(date_separator).append(two(time.wMonth)).append(date_separator);
  text.append(two(time.wDay)).append(middle).append(two(time.wHour)).append(time_separator);
  return text.append(two(time.wMinute)).append(time_separator).append(two(time.wSecond));
}

std::wstring UtcStamp(std::wstring_view date_separator, std::wstring_view middle,
                      std::wstring_view time_separator) {
  SYSTEMTIME now{};
  GetSystemTime(&now);
  return TimeText(now, date_separator, middle, time_separator);
}

void PrintLine(std::wstring_view line) {
  const std::wstring text = std::wstring(line) + L"\r\n";
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD written = 0;
  DWORD mode = 0;
  if (GetConsoleMode(out, &mode) != FALSE) {
    WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  const std::u16string_view units(reinterpret_cast<const char16_t*>(text.data()), text.size());
  std::string bytes(profile_import::EncodeUtf8(units, {}), '\0');
  static_cast<void>(profile_import::EncodeUtf8(
      units, {reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size()}));
  WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::wstring ErrorText(DWORD error) {
  const std::wstring text = winlib::ErrorText({error});
  return L"error " + std::to_wstring(error) + (text.empty() ? L"" : L" (" + text + L")");
}

std::wstring CodeText(DWORD code) {
  if (code < 0x10000) {
    return std::to_wstring(code);
  }
  std::wstring hex = L"0x";
  for (int shift = 28; shift >= 0; shift -= 4) {
    hex += L"0123456789ABCDEF"[(code >> shift) & 0xF];
  }
  return hex + L" (" + std::to_wstring(static_cast<std::int32_t>(code)) + L")";
}

std::wstring Environment(const wchar_t* name) {
  const DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
  if (needed == 0) {
    return {};
  }
  std::wstring value(needed, L'\0');
  value.resize(GetEnvironmentVariableW(name, value.data(), needed));
  return value;
}

std::wstring Wide(std::string_view ascii) {
  return {ascii.begin(), ascii.end()};
}

}  // namespace kit
