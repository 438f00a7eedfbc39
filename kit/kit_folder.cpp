#include "kit/kit_folder.h"

#include <windows.h>
// After windows.h, whose types they use.
#include <aclapi.h>
#include <sddl.h>

#include <array>
#include <memory>
#include <vector>

#include "kit/folder_access.h"
#include "kit/kit_text.h"
#include "winlib/unique_handle.h"

namespace kit {

namespace {

static_assert(kWriteData == FILE_WRITE_DATA && kAppendData == FILE_APPEND_DATA &&
              kDeleteChild == FILE_DELETE_CHILD && kDelete == DELETE && kWriteDac == WRITE_DAC &&
              kWriteOwner == WRITE_OWNER && kGenericAll == GENERIC_ALL &&
              kGenericWrite == GENERIC_WRITE);

// What LocalAlloc gave, freed once.
struct LocalDeleter {
  void operator()(void* memory) const { LocalFree(memory); }
};

std::wstring SidText(PSID sid) {
  wchar_t* text = nullptr;
  if (ConvertSidToStringSidW(sid, &text) == FALSE) {
    return L"?";
  }
  std::wstring out(text);
  LocalFree(text);
  return out;
}

// DOMAIN\name (SID), or the SID alone when it has no name here.
std::wstring SidName(PSID sid) {
  std::array<wchar_t, 256> name{};
  std::array<wchar_t, 256> domain{};
  auto name_size = static_cast<DWORD>(name.size());
  auto domain_size = static_cast<DWORD>(domain.size());
  SID_NAME_USE use = SidTypeUnknown;
  if (LookupAccountSidW(nullptr, sid, name.data(), &name_size, domain.data(), &domain_size, &use) ==
      FALSE) {
    return SidText(sid);
  }
  const std::wstring qualified = domain[0] == L'\0'
                                     ? std::wstring(name.data())
                                     : std::wstring(domain.data()) + L"\\" + name.data();
  return qualified + L" (" + SidText(sid) + L")";
}

Trustee TrusteeOf(PSID sid, PSID tester) {
  if (EqualSid(sid, tester) != FALSE) {
    return Trustee::Tester;
  }
  if (IsWellKnownSid(sid, WinBuiltinAdministratorsSid) != FALSE) {
    return Trustee::Administrators;
  }
  if (IsWellKnownSid(sid, WinLocalSystemSid) != FALSE) {
    return Trustee::System;
  }
  return IsWellKnownSid(sid, WinCreatorOwnerSid) != FALSE ? Trustee::CreatorOwner : Trustee::Other;
}

// The entries as the rule sees them, and each one's SID for the message.
// Any allow entry, object and callback ones too, counts as allowing.
void ReadEntries(PACL dacl, PSID tester, std::vector<AccessEntry>& entries,
                 std::vector<PSID>& sids) {
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (GetAce(dacl, i, &ace) == FALSE) {
      continue;
    }
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    const bool allows = header->AceType == ACCESS_ALLOWED_ACE_TYPE ||
                        header->AceType == ACCESS_ALLOWED_CALLBACK_ACE_TYPE ||
                        header->AceType == ACCESS_ALLOWED_OBJECT_ACE_TYPE ||
                        header->AceType == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE;
    // Object entries put their GUIDs before the SID; their mask is where
    // the others' is, which is all an allowing one needs here.
    const bool plain =
        header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_DENIED_ACE_TYPE;
    const PSID sid = plain ? static_cast<PSID>(&allowed->SidStart) : nullptr;
    entries.push_back(
        {sid == nullptr ? Trustee::Other : TrusteeOf(sid, tester), allows, allowed->Mask});
    sids.push_back(sid);
  }
}

bool OnFixedDisk(HANDLE folder) {
  // Where the folder is, links followed: the drive the files are on.
  std::wstring path(GetFinalPathNameByHandleW(folder, nullptr, 0, VOLUME_NAME_DOS), L'\0');
  const DWORD length = GetFinalPathNameByHandleW(folder, path.data(),
                                                 static_cast<DWORD>(path.size()), VOLUME_NAME_DOS);
  if (length == 0 || length >= path.size()) {
    return false;
  }
  std::wstring root(path.size(), L'\0');
  return GetVolumePathNameW(path.c_str(), root.data(), static_cast<DWORD>(root.size())) != FALSE &&
         GetDriveTypeW(root.c_str()) == DRIVE_FIXED;
}

constexpr const wchar_t* kExtractAgain =
    L"Extract All again into a folder of your own on a local disk (your Downloads or Documents "
    L"folder, or one under %LOCALAPPDATA%)";

// Not mended in place: a file others could change may already be theirs,
// and taking their rights away would not take back what they wrote.
std::wstring ExtractAgainFromTheZip() {
  return L"\r\nDelete this folder; its files may already have been changed. " +
         std::wstring(kExtractAgain) + L", from the zip whose hash you checked.";
}

}  // namespace

winlib::Result<FolderCheck> CheckKitFolder(const std::wstring& folder) {
  winlib::UniqueToken token;
  alignas(TOKEN_USER) std::array<BYTE, 256> user{};
  DWORD size = 0;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()) == FALSE ||
      GetTokenInformation(token.get(), TokenUser, user.data(), static_cast<DWORD>(user.size()),
                          &size) == FALSE) {
    return {winlib::Status::LastError()};
  }
  const PSID tester = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
  // The folder itself, held while it is judged: it cannot be swapped for
  // another meanwhile.
  const winlib::UniqueFile handle(CreateFileW(folder.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD read = !handle
                         ? GetLastError()
                         : GetSecurityInfo(handle.get(), SE_FILE_OBJECT,
                                           OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                           &owner, nullptr, &dacl, nullptr, &descriptor);
  const std::unique_ptr<void, LocalDeleter> held(descriptor);
  if (read != ERROR_SUCCESS) {
    return {{read}};
  }
  std::vector<AccessEntry> entries;
  std::vector<PSID> sids;
  ReadEntries(dacl, tester, entries, sids);
  const FolderJudgement judged =
      JudgeKitFolder(OnFixedDisk(handle.get()), TrusteeOf(owner, tester), dacl != nullptr, entries);
  FolderCheck check{judged.verdict, L""};
  if (judged.verdict == FolderVerdict::OwnedByOther) {
    check.who = SidName(owner);
  } else if (judged.verdict == FolderVerdict::WritableByOthers) {
    const PSID sid = sids[judged.entry];
    check.who = sid == nullptr ? L"an object entry" : SidName(sid);
  }
  return {{}, check};
}

std::wstring FolderRefusal(const std::wstring& folder, const winlib::Result<FolderCheck>& check) {
  const std::wstring head = L"refusing to run from \"" + folder + L"\": ";
  if (!check.ok()) {
    return head + L"cannot read who may change it: " + ErrorText(check.status);
  }
  switch (check.value.verdict) {
    case FolderVerdict::Safe:
      break;
    case FolderVerdict::NotFixedDisk:
      return head +
             L"it is not on a fixed local disk (a share, a mapped or a removable drive), whose "
             L"permissions this machine does not keep; others could change the programs this "
             L"run starts as you.\r\n" +
             kExtractAgain + L".";
    case FolderVerdict::OwnedByOther:
      return head + check.value.who +
             L" owns it, and an owner may change its permissions at any time; others could "
             L"change the programs this run starts as you.\r\n" +
             kExtractAgain + L".";
    case FolderVerdict::NoDacl:
      return head +
             L"it has no permissions set (a null DACL), so everyone may change the programs "
             L"this run starts as you." +
             ExtractAgainFromTheZip();
    case FolderVerdict::WritableByOthers:
      return head + check.value.who +
             L" may change it, and so the programs this run starts as you (and at your "
             L"logons)." +
             ExtractAgainFromTheZip();
  }
  return head + L"its permissions cannot be judged";
}

}  // namespace kit
