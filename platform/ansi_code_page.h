#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace profile_import::platform {

// The one call that reads text: MultiByteToWideChar with MB_ERR_INVALID_CHARS
// in one ANSI code page. The importer's port asks for the machine's own
// (CP_ACP); the checker reads with the code page it is told.
class AnsiCodePage {
 public:
  // Writes the UTF-16 of `bytes` (never empty) to `out` and gives the code
  // units written, or 0 when the bytes are not valid text in the code page or
  // do not fit.
  virtual std::size_t multiByteToWideChar(std::span<const std::uint8_t> bytes,
                                          std::span<char16_t> out) = 0;

  AnsiCodePage(const AnsiCodePage&) = delete;
  AnsiCodePage& operator=(const AnsiCodePage&) = delete;
  AnsiCodePage(AnsiCodePage&&) = delete;
  AnsiCodePage& operator=(AnsiCodePage&&) = delete;

 protected:
  AnsiCodePage() = default;
  // Never deleted through the interface; the importer has no operator delete.
  ~AnsiCodePage() = default;
};

}  // namespace profile_import::platform
