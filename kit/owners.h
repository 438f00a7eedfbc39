#pragma once
// Move-only owners of the kit's Windows handles, one traits type per kind of
// handle, so that each is closed once on every path.
#include <windows.h>

namespace kit {

template <typename Traits>
class Owner {
 public:
  using Type = typename Traits::Type;
  Owner() = default;
  explicit Owner(Type value) : value_(value) {}
  Owner(Owner&& other) noexcept : value_(other.release()) {}
  Owner& operator=(Owner&& other) noexcept {
    if (this != &other) {
      reset(other.release());
    }
    return *this;
  }
  Owner(const Owner&) = delete;
  Owner& operator=(const Owner&) = delete;
  ~Owner() { reset(); }

  Type get() const { return value_; }
  bool valid() const { return value_ != Traits::Invalid(); }
  // For a call that fills in a handle: whatever was held is closed first.
  Type* out() {
    reset();
    return &value_;
  }
  Type release() {
    const Type value = value_;
    value_ = Traits::Invalid();
    return value;
  }
  void reset(Type value = Traits::Invalid()) {
    if (value_ != Traits::Invalid()) {
      Traits::Close(value_);
    }
    value_ = value;
  }

 private:
  Type value_ = Traits::Invalid();
};

struct HandleTraits {  // processes, threads, jobs, mutexes
  using Type = HANDLE;
  static Type Invalid() { return nullptr; }
  static void Close(Type value) { CloseHandle(value); }
};
struct FileTraits {  // CreateFileW gives INVALID_HANDLE_VALUE, not null
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Type value) { CloseHandle(value); }
};
struct KeyTraits {
  using Type = HKEY;
  static Type Invalid() { return nullptr; }
  static void Close(Type value) { RegCloseKey(value); }
};
struct FindTraits {
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Type value) { FindClose(value); }
};

using Handle = Owner<HandleTraits>;
using File = Owner<FileTraits>;
using Key = Owner<KeyTraits>;
using Find = Owner<FindTraits>;

}  // namespace kit
