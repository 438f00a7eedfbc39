#pragma once

#include <utility>

#include "platform/port.h"

namespace profile_import::platform {

// Move-only owner of one handle: closes it through the port on destruction,
// so every handle is released on every path by construction, and a test's
// fake port counts every close. Named PortOwned*, apart from winlib's
// Unique* owners, which close with the Windows call itself.
template <typename Traits>
class PortOwner {
 public:
  using Raw = typename Traits::Raw;
  using PortType = typename Traits::PortType;

  PortOwner() = default;
  PortOwner(PortType& port, Raw raw) : port_(&port), raw_(raw) {}
  PortOwner(PortOwner&& other) noexcept : port_(other.port_), raw_(other.release()) {}
  PortOwner& operator=(PortOwner&& other) noexcept {
    if (this != &other) {
      reset();
      port_ = other.port_;
      raw_ = other.release();
    }
    return *this;
  }
  PortOwner(const PortOwner&) = delete;
  PortOwner& operator=(const PortOwner&) = delete;
  ~PortOwner() { reset(); }

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

using PortOwnedFile = PortOwner<FileHandleTraits>;
using PortOwnedKey = PortOwner<KeyHandleTraits>;
using PortOwnedToken = PortOwner<TokenHandleTraits>;

}  // namespace profile_import::platform
