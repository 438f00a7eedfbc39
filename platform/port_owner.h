#pragma once

#include <utility>

#include "platform/port.h"

namespace profile_import::platform {

// Move-only owner of one handle: closes it through the port on destruction,
// so every handle is released on every path by construction.
template <typename Traits>
class UniqueHandle {
 public:
  using Raw = typename Traits::Raw;
  using PortType = typename Traits::PortType;

  UniqueHandle() = default;
  UniqueHandle(PortType& port, Raw raw) : port_(&port), raw_(raw) {}
  UniqueHandle(UniqueHandle&& other) noexcept : port_(other.port_), raw_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      reset();
      port_ = other.port_;
      raw_ = other.release();
    }
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  [[nodiscard]] Raw get() const { return raw_; }
  [[nodiscard]] Raw release() { return std::exchange(raw_, Traits::kInvalid); }
  void reset() {
    if (*this) {
      Traits::Close(*port_, release());
    }
  }
  explicit operator bool() const { return raw_ != Traits::kInvalid; }

 private:
  PortType* port_ = nullptr;
  Raw raw_ = Traits::kInvalid;
};

struct FileHandleTraits {
  using PortType = Port;
  using Raw = RawFile;
  static constexpr Raw kInvalid = kInvalidFile;
  static void Close(Port& port, Raw raw) { port.closeHandle(raw); }
};

struct KeyHandleTraits {
  using PortType = Port;
  using Raw = RawKey;
  static constexpr Raw kInvalid = kNoKey;
  static void Close(Port& port, Raw raw) { port.regCloseKey(raw); }
};

struct TokenHandleTraits {
  using PortType = Port;
  using Raw = RawToken;
  static constexpr Raw kInvalid = kNoToken;
  static void Close(Port& port, Raw raw) { port.ntClose(raw); }
};

using UniqueFile = UniqueHandle<FileHandleTraits>;
using UniqueKey = UniqueHandle<KeyHandleTraits>;
using UniqueToken = UniqueHandle<TokenHandleTraits>;

}  // namespace profile_import::platform
