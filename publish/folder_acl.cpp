#include "publish/folder_acl.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace profile_import::publish {
namespace {

// FILE_GENERIC_READ | FILE_GENERIC_EXECUTE: read and list, and traverse.
constexpr std::string_view kUserRights = "0x1200a9";
constexpr std::string_view kAdministrators = "S-1-5-32-544";
constexpr std::string_view kSystem = "S-1-5-18";
constexpr std::string_view kCreatorOwner = "S-1-3-0";
constexpr std::array<std::string_view, 3> kTrusted = {kAdministrators, kSystem, kCreatorOwner};

// The rights that show a file's bytes or a folder's names: read data (list),
// and the generic rights that include it.
constexpr std::uint32_t kReadData = 0x1;
constexpr std::uint32_t kGenericAll = 0x10000000;
constexpr std::uint32_t kGenericRead = 0x80000000;
constexpr std::uint32_t kReadingRights = kReadData | kGenericAll | kGenericRead;

}  // namespace

std::string UserFolderSddl(std::string_view sid) {
  // P: protected, so nothing comes from the parent; OICI: files and folders
  // inside get the same entries.
  std::string sddl = "D:P(A;OICI;";
  sddl.append(kUserRights).append(";;;").append(sid).append(")");
  return sddl.append("(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)");
}

bool ReadableByOthers(const platform::FolderAcl& acl, std::string_view sid) {
  if (!acl.has_dacl) {
    return true;
  }
  return std::ranges::any_of(acl.entries, [sid](const platform::AclEntry& entry) {
    return entry.allows && (entry.mask & kReadingRights) != 0 && entry.trustee != sid &&
           std::ranges::find(kTrusted, entry.trustee) == kTrusted.end();
  });
}

}  // namespace profile_import::publish
