#include "profile/profile_file.h"

#include "platform/port_owner.h"

namespace profile_import {
namespace {

// Whether the name is the file itself, not a link (symbolic link, junction)
// to one. FAT32 and exFAT answer no attribute-tag query; their files are never
// reparse points, which the basic information, which they do answer, shows.
bool IsPlainFile(platform::Port& port, platform::RawFile file) {
  const platform::FileTag tag = port.getFileAttributeTagInfo(file);
  if (tag.known) {
    const bool is_link = (tag.attributes & platform::kFileAttributeReparsePoint) != 0 &&
                         (tag.reparse_tag & platform::kReparseTagNameSurrogate) != 0;
    return !is_link;
  }
  const platform::FileBasics basics = port.getFileBasicInfo(file);
  return basics.known && (basics.attributes & platform::kFileAttributeReparsePoint) == 0;
}

}  // namespace

ProfileFileResult ReadProfileFile(platform::Port& port) {
  ProfileFileResult result{};
  const platform::FileResult opened = port.createFile(kProfileFileName);
  if (opened.file == platform::kInvalidFile) {
    result.outcome = OpenFailure(opened);
    return result;
  }
  platform::PortOwnedFile file{port, opened.file};
  // Zero-filled, so a file shorter than the read always ends in a NUL.
  const bool read = port.readFile(file.get(), result.bytes);
  file.reset();
  if (!read) {
    result.outcome = ProfileFileResult::ReadFailed;
    return result;
  }
  // Lines that are neither ASCII nor UTF-8 are read as the machine's own ANSI
  // programs wrote them: in its ANSI code page.
  const ParsedProfile parsed = ParseProfileText(result.bytes, port);
  if (parsed.verdict != ProfileTextVerdict::Accepted) {
    result.outcome = ProfileFileResult::Rejected;
    return result;
  }
  result.outcome = ProfileFileResult::Read;
  result.profile = parsed.profile;
  return result;
}

void DeleteProfileFile(platform::Port& port, const ProfileReadBuffer& imported) {
  // Held without sharing from the comparison to the close, so the bytes
  // compared are the bytes of the file that goes.
  const platform::PortOwnedFile file{port, port.createFileForDeletion(kProfileFileName)};
  if (!file) {
    return;
  }
  // A link stays unread: the import read its target through it, so the bytes
  // would match, but the target is not ours to consume.
  if (!IsPlainFile(port, file.get())) {
    return;
  }
  ProfileReadBuffer current{};
  if (port.readFile(file.get(), current) && current == imported) {
    port.setFileDispositionInfo(file.get());
  }
}

}  // namespace profile_import
