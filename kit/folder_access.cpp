#include "kit/folder_access.h"

namespace kit {

namespace {

bool Trusted(Trustee trustee) {
  return trustee != Trustee::Other;
}

}  // namespace

FolderJudgement JudgeKitFolder(bool fixed_disk, Trustee owner, bool has_dacl,
                               std::span<const AccessEntry> entries) {
  if (!fixed_disk) {
    return {FolderVerdict::NotFixedDisk};
  }
  // CREATOR OWNER never owns anything itself.
  if (!Trusted(owner) || owner == Trustee::CreatorOwner) {
    return {FolderVerdict::OwnedByOther};
  }
  if (!has_dacl) {
    return {FolderVerdict::NoDacl};
  }
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const AccessEntry& entry = entries[i];
    if (entry.allows && !Trusted(entry.trustee) && (entry.mask & kChangingRights) != 0) {
      return {FolderVerdict::WritableByOthers, i};
    }
  }
  return {};
}

}  // namespace kit
