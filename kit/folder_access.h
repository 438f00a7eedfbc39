#pragma once
// Whether the kit may run from a folder: whoever can change its files can
// change what the run starts as the tester (and, through the logon restore,
// later). Only the tester, Administrators and SYSTEM may write there, and
// the folder must be on a fixed local disk: a share's or a removable
// drive's ACL is not the machine's to keep. Portable, so that the rule is
// tested natively; the Windows layer reads the folder's owner and DACL.
#include <cstddef>
#include <cstdint>
#include <span>

namespace kit {

// The rights that let a trustee change the folder or what is in it: write or
// append (add a file or a folder), delete a child, delete the folder, change
// its DACL or owner, and the generic rights that include them.
inline constexpr std::uint32_t kWriteData = 0x2;
inline constexpr std::uint32_t kAppendData = 0x4;
inline constexpr std::uint32_t kDeleteChild = 0x40;
inline constexpr std::uint32_t kDelete = 0x10000;
inline constexpr std::uint32_t kWriteDac = 0x40000;
inline constexpr std::uint32_t kWriteOwner = 0x80000;
inline constexpr std::uint32_t kGenericAll = 0x10000000;
inline constexpr std::uint32_t kGenericWrite = 0x40000000;
inline constexpr std::uint32_t kChangingRights = kWriteData | kAppendData | kDeleteChild | kDelete |
                                                 kWriteDac | kWriteOwner | kGenericAll |
                                                 kGenericWrite;

enum class Trustee : std::uint8_t {
  Tester,  // the account the run is for
  Administrators,
  System,
  // Stands for whoever creates a file or folder inside: the tester, here.
  CreatorOwner,
  Other,
};

struct AccessEntry {
  Trustee trustee;
  bool allows;  // deny entries only take rights away
  std::uint32_t mask;
};

enum class FolderVerdict : std::uint8_t {
  Safe,
  NotFixedDisk,
  OwnedByOther,  // an owner may always rewrite the DACL
  NoDacl,        // a null DACL lets everyone do everything
  WritableByOthers,
};

struct FolderJudgement {
  FolderVerdict verdict = FolderVerdict::Safe;
  std::size_t entry = 0;  // with WritableByOthers: the entry that grants it
};

// Inherit-only entries count too: the kit's files got what they pass on.
[[nodiscard]] FolderJudgement JudgeKitFolder(bool fixed_disk, Trustee owner, bool has_dacl,
                                             std::span<const AccessEntry> entries);

}  // namespace kit
