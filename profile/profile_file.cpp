#include "profile/profile_file.h"

#include <array>
#include <cstdint>

#include "platform/unique_handle.h"
#include "profile/profile_text.h"

namespace profile_import {

ProfileFileResult ReadProfileFile(platform::Port& port) {
  platform::UniqueFile file{port, port.createFile(kProfileFileName)};
  if (!file) {
    return {ProfileFileResult::NotOpened, {}};
  }
  // Zero-filled, so a file shorter than the read always ends in a NUL.
  std::array<std::uint8_t, kProfileReadSize> buffer{};
  const bool read = port.readFile(file.get(), buffer);
  file.reset();
  if (!read) {
    return {ProfileFileResult::ReadFailed, {}};
  }
  const ParsedProfile parsed = ParseProfileText(buffer);
  if (parsed.verdict != ProfileTextVerdict::Accepted) {
    return {ProfileFileResult::Rejected, {}};
  }
  return {ProfileFileResult::Read, parsed.profile};
}

void DeleteProfileFile(platform::Port& port) {
  port.deleteFile(kProfileFileName);
}

}  // namespace profile_import
