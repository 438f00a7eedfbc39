#include "winlib/machine_policy.h"

#include <array>

#include "winlib/unique_handle.h"

namespace winlib {

namespace {

// Policies are one key for 32- and 64-bit programs: the 64-bit view names it.
constexpr REGSAM kPolicyView = KEY_WOW64_64KEY;

}  // namespace

bool MachinePolicyAsked() {
  std::array<wchar_t, 4> value{};
  const DWORD length = GetEnvironmentVariableW(kMachinePolicyVariable, value.data(),
                                               static_cast<DWORD>(value.size()));
  return length == 1 && value[0] == L'1';
}

Status MarkMachinePolicy() {
  UniqueKey mark;
  return Status{
      static_cast<DWORD>(RegCreateKeyExW(HKEY_CURRENT_USER, kMachinePolicyMark, 0, nullptr, 0,
                                         KEY_WRITE, nullptr, mark.put(), nullptr))};
}

Status PutBackMachinePolicy() {
  // Only where the tests that set it are asked for: a mark planted in the
  // user's own hive would otherwise have an elevated run delete the
  // machine's real policy.
  if (!MachinePolicyAsked()) {
    return Status{};
  }
  UniqueKey mark;
  LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, kMachinePolicyMark, 0, KEY_READ, mark.put());
  if (status == ERROR_FILE_NOT_FOUND) {
    return Status{};
  }
  mark.reset();
  if (status == ERROR_SUCCESS) {
    status = RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kMachinePolicyKey, kPolicyView, 0);
  }
  if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) {
    status = RegDeleteKeyW(HKEY_CURRENT_USER, kMachinePolicyMark);
  }
  return Status{static_cast<DWORD>(status)};
}

}  // namespace winlib
