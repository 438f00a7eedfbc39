#include "winlib/files.h"

#include <windows.h>

#include <algorithm>

#include "winlib/unique_handle.h"

namespace winlib {

namespace {

// Read in pieces of this size, straight into the result.
constexpr DWORD kReadPiece = 65536;

}  // namespace

Result<std::string> ReadWholeFile(const std::wstring& path) {
  Result<std::string> result;
  const UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    result.status = Status::LastError();
    return result;
  }
  std::string& bytes = result.value;
  for (;;) {
    const std::size_t had = bytes.size();
    bytes.resize(had + kReadPiece);
    DWORD read = 0;
    if (ReadFile(file.get(), &bytes[had], kReadPiece, &read, nullptr) == FALSE) {
      result.status = Status::LastError();
      bytes.clear();
      return result;
    }
    bytes.resize(had + read);
    if (read == 0) {
      return result;
    }
  }
}

Status WriteWholeFile(const std::wstring& path, std::string_view bytes) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    return Status::LastError();
  }
  // One WriteFile takes at most a DWORD's worth.
  while (!bytes.empty()) {
    const auto piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), MAXDWORD));
    DWORD written = 0;
    if (WriteFile(file.get(), bytes.data(), piece, &written, nullptr) == FALSE) {
      return Status::LastError();
    }
    bytes.remove_prefix(written);
  }
  // A close can be where a write to a full or remote disk fails.
  if (CloseHandle(file.release()) == FALSE) {
    return Status::LastError();
  }
  return {};
}

}  // namespace winlib
