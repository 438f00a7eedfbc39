#include "winlib/paths.h"

#include <windows.h>

namespace winlib {

namespace {

// Long paths reach 32,767 characters; MAX_PATH is where a first try starts.
constexpr DWORD kLongestPath = 32768;

}  // namespace

std::wstring ParentFolder(const std::wstring& path) {
  return path.substr(0, path.find_last_of(L'\\'));
}

Result<std::wstring> ProgramPath() {
  Result<std::wstring> result;
  std::wstring& path = result.value;
  // The call says nothing of the length it needs: it fills the buffer, cut,
  // and reports ERROR_INSUFFICIENT_BUFFER; the buffer grows until it fits.
  for (DWORD size = MAX_PATH;; size *= 2) {
    path.resize(size);
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), size);
    if (length == 0) {
      result.status = Status::LastError();
      return result;
    }
    if (length < size) {
      path.resize(length);
      return result;
    }
    if (size >= kLongestPath) {
      result.status = {ERROR_INSUFFICIENT_BUFFER};
      return result;
    }
  }
}

Result<std::wstring> ProgramFolder() {
  Result<std::wstring> result = ProgramPath();
  result.value = ParentFolder(result.value);
  return result;
}

Result<std::wstring> FullPath(const std::wstring& path) {
  Result<std::wstring> result;
  std::wstring& full = result.value;
  // Too small a buffer: the call gives the size it needs, NUL included.
  for (DWORD size = MAX_PATH;;) {
    full.resize(size);
    const DWORD length = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    if (length == 0) {
      result.status = Status::LastError();
      return result;
    }
    if (length < size) {
      full.resize(length);
      return result;
    }
    size = length;
  }
}

}  // namespace winlib
