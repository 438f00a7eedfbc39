#pragma once
// What the kit prints, and the texts it builds from Windows' answers.
#include <windows.h>

#include <string>
#include <string_view>

#include "winlib/status.h"

namespace kit {

// A time as digits with the separators given, e.g. 2026-12-09 21:50:00.
std::wstring TimeText(const SYSTEMTIME& time, std::wstring_view date_separator,
                      std::wstring_view middle, std::wstring_view time_separator);
std::wstring UtcStamp(std::wstring_view date_separator, std::wstring_view middle,
                      std::wstring_view time_separator);
// Writes a line to the console (or, redirected, as UTF-8).
void PrintLine(std::wstring_view line);
// "error N (the system's text)".
std::wstring ErrorText(DWORD error);
inline std::wstring ErrorText(winlib::Status status) {
  return ErrorText(status.error);
}
// An exit code: small ones in decimal, NTSTATUS-like ones in hex too.
std::wstring CodeText(DWORD code);
// An environment variable's value; empty when it is not set.
std::wstring Environment(const wchar_t* name);
std::wstring Wide(std::string_view ascii);

}  // namespace kit
