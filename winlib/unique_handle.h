#pragma once
// Move-only owners, one type per kind of handle the tools hold, each closing
// its handle with the call that kind needs. The same traits shape as the
// importer's own owners (platform/port_owner.h), which close through the
// importer's port instead, so that its tests can count every close.
#include <windows.h>

#include <utility>

namespace winlib {

template <typename Traits>
class UniqueHandle {
 public:
  using Raw = typename Traits::Raw;

  UniqueHandle() = default;
  explicit UniqueHandle(Raw raw) : raw_(raw) {}
  UniqueHandle(UniqueHandle&& other) noexcept : raw_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      reset(other.release());
    }
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  [[nodiscard]] Raw get() const { return raw_; }
  [[nodiscard]] Raw release() { return std::exchange(raw_, Traits::Invalid()); }
  // Closes what it holds, then holds raw.
  void reset(Raw raw = Traits::Invalid()) {
    const Raw old = std::exchange(raw_, raw);
    if (old != Traits::Invalid()) {
      Traits::Close(old);
    }
  }
  // For a call that hands the handle out through a pointer: whatever was held
  // is closed first.
  [[nodiscard]] Raw* put() {
    reset();
    return &raw_;
  }
  explicit operator bool() const { return raw_ != Traits::Invalid(); }

 private:
  Raw raw_ = Traits::Invalid();
};

// Kernel objects whose calls report failure as a null handle. Kind keeps a
// process from being passed where a job is wanted.
template <typename Kind>
struct NullHandleTraits {
  using Raw = HANDLE;
  static Raw Invalid() { return nullptr; }
  static void Close(Raw raw) { CloseHandle(raw); }
};

// CreateFileW reports failure as INVALID_HANDLE_VALUE, not null.
struct FileHandleTraits {
  using Raw = HANDLE;
  static Raw Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Raw raw) { CloseHandle(raw); }
};

struct FindHandleTraits {
  using Raw = HANDLE;
  static Raw Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Raw raw) { FindClose(raw); }
};

struct KeyHandleTraits {
  using Raw = HKEY;
  static Raw Invalid() { return nullptr; }
  static void Close(Raw raw) { RegCloseKey(raw); }
};

struct ProcessKind;
struct ThreadKind;
struct JobKind;
struct TokenKind;

using UniqueProcess = UniqueHandle<NullHandleTraits<ProcessKind>>;
using UniqueThread = UniqueHandle<NullHandleTraits<ThreadKind>>;
using UniqueJob = UniqueHandle<NullHandleTraits<JobKind>>;
using UniqueToken = UniqueHandle<NullHandleTraits<TokenKind>>;
using UniqueFile = UniqueHandle<FileHandleTraits>;
using UniqueFind = UniqueHandle<FindHandleTraits>;  // FindFirstFileW's search
// CreateToolhelp32Snapshot's, which fails as CreateFileW does.
using UniqueSnapshot = UniqueHandle<FileHandleTraits>;
using UniqueKey = UniqueHandle<KeyHandleTraits>;

}  // namespace winlib
