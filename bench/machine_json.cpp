#include "bench/machine_json.h"

#include <windows.h>

#include <array>

#include "bench/json_text.h"

namespace bench {

namespace {

// Longer than any name the report reads.
constexpr std::size_t kLongestName = 256;

std::wstring RegistryText(const wchar_t* key, const wchar_t* name) {
  std::array<wchar_t, kLongestName> text{};
  auto size = static_cast<DWORD>(sizeof(text));
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key, name, RRF_RT_REG_SZ, nullptr, text.data(), &size) !=
      ERROR_SUCCESS) {
    return {};
  }
  return text.data();
}

}  // namespace

std::string MachineJson() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  using GetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
  using WineVersionFunction = const char*(CDECL*)();
  const auto get_version = reinterpret_cast<GetVersionFunction>(
      reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "RtlGetVersion")));
  const auto wine_version = reinterpret_cast<WineVersionFunction>(
      reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "wine_get_version")));
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof(version);
  if (get_version != nullptr) {
    get_version(&version);
  }
  const wchar_t* current = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
  DWORD revision = 0;
  auto size = static_cast<DWORD>(sizeof(revision));
  RegGetValueW(HKEY_LOCAL_MACHINE, current, L"UBR", RRF_RT_REG_DWORD, nullptr, &revision, &size);
  const std::string wine =
      wine_version != nullptr ? std::string("\"") + wine_version() + "\"" : "null";
  return "\"windows\":{\"version\":\"" + std::to_string(version.dwMajorVersion) + "." +
         std::to_string(version.dwMinorVersion) + "." + std::to_string(version.dwBuildNumber) +
         "\",\"build\":" + std::to_string(version.dwBuildNumber) +
         ",\"revision\":" + std::to_string(revision) +
         ",\"product\":" + JsonString(RegistryText(current, L"ProductName")) +
         ",\"display_version\":" + JsonString(RegistryText(current, L"DisplayVersion")) +
         ",\"wine\":" + wine +
         "},\"cpus\":" + std::to_string(GetActiveProcessorCount(ALL_PROCESSOR_GROUPS)) +
         ",\"cpu\":" +
         JsonString(RegistryText(L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0",
                                 L"ProcessorNameString"));
}

}  // namespace bench
