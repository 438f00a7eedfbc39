#include "sync/master_search.h"

#include <algorithm>
#include <span>
#include <string_view>

#include "platform/port_owner.h"
#include "sync/text_builder.h"

namespace profile_import::sync {
namespace {

using platform::PlatformError;
using platform::SyncPort;

// How the failed open of one master's place reads.
enum class OpenClass : std::uint8_t {
  Absent,
  PathMissing,
  Unreachable,
  Refused,
  Locked,
  Unopenable
};

// Four bytes a row: every error here fits in 16 bits.
struct OpenError {
  std::uint16_t error;
  // cppcheck-suppress unusedStructMember ; read through ClassOf's find_if
  OpenClass kind;
};

// The open's errors that say something of the place, not of the file: the
// network and the server (not there now: tried again at the next run), and
// the user's logon, its credentials and the domain's trust (refused until
// someone acts).
constexpr std::array kOpenErrors = {
    // clang-format off
    OpenError{platform::kErrorFileNotFound, OpenClass::Absent},  // the folder answers, no file
    OpenError{platform::kErrorPathNotFound, OpenClass::PathMissing},  // the folder, or the server
    OpenError{platform::kErrorSharingViolation, OpenClass::Locked},
    OpenError{platform::kErrorLockViolation, OpenClass::Locked},
    OpenError{platform::kErrorDeletePending, OpenClass::Locked},  // being replaced
    OpenError{platform::kErrorNotReady, OpenClass::Unreachable},
    OpenError{platform::kErrorRemNotList, OpenClass::Unreachable},
    OpenError{platform::kErrorBadNetPath, OpenClass::Unreachable},
    OpenError{platform::kErrorNetworkBusy, OpenClass::Unreachable},
    OpenError{platform::kErrorDevNotExist, OpenClass::Unreachable},
    OpenError{platform::kErrorAdapHdwErr, OpenClass::Unreachable},
    OpenError{platform::kErrorBadNetResp, OpenClass::Unreachable},
    OpenError{platform::kErrorUnexpNetErr, OpenClass::Unreachable},
    OpenError{platform::kErrorBadRemAdap, OpenClass::Unreachable},
    OpenError{platform::kErrorNetnameDeleted, OpenClass::Unreachable},
    OpenError{platform::kErrorBadNetName, OpenClass::Unreachable},  // the share, not there now
    OpenError{platform::kErrorTooManySess, OpenClass::Unreachable},
    OpenError{platform::kErrorSharingPaused, OpenClass::Unreachable},
    OpenError{platform::kErrorReqNotAccep, OpenClass::Unreachable},
    OpenError{platform::kErrorRedirPaused, OpenClass::Unreachable},
    OpenError{platform::kErrorNetWriteFault, OpenClass::Unreachable},
    OpenError{platform::kErrorSemTimeout, OpenClass::Unreachable},
    OpenError{platform::kErrorVcDisconnected, OpenClass::Unreachable},
    OpenError{platform::kErrorOperationAborted, OpenClass::Unreachable},  // cancelled
    OpenError{platform::kErrorNotEnoughServerMemory, OpenClass::Unreachable},
    OpenError{platform::kErrorConnectionUnavail, OpenClass::Unreachable},
    OpenError{platform::kErrorNoNetOrBadPath, OpenClass::Unreachable},
    OpenError{platform::kErrorNoNetwork, OpenClass::Unreachable},
    OpenError{platform::kErrorGracefulDisconnect, OpenClass::Unreachable},
    OpenError{platform::kErrorConnectionInvalid, OpenClass::Unreachable},
    OpenError{platform::kErrorNetworkUnreachable, OpenClass::Unreachable},
    OpenError{platform::kErrorHostUnreachable, OpenClass::Unreachable},
    OpenError{platform::kErrorPortUnreachable, OpenClass::Unreachable},
    OpenError{platform::kErrorRequestAborted, OpenClass::Unreachable},
    OpenError{platform::kErrorConnectionAborted, OpenClass::Unreachable},
    OpenError{platform::kErrorRetry, OpenClass::Unreachable},
    OpenError{platform::kErrorConnectionCountLimit, OpenClass::Unreachable},
    OpenError{platform::kErrorServerShutdownInProgress, OpenClass::Unreachable},
    OpenError{platform::kErrorNoLogonServers, OpenClass::Unreachable},
    OpenError{platform::kErrorCantAccessDomainInfo, OpenClass::Unreachable},
    OpenError{platform::kErrorNoSuchDomain, OpenClass::Unreachable},
    OpenError{platform::kErrorTimeout, OpenClass::Unreachable},
    OpenError{platform::kRpcServerUnavailable, OpenClass::Unreachable},
    OpenError{platform::kRpcCallFailedDne, OpenClass::Unreachable},
    OpenError{platform::kErrorNetlogonNotStarted, OpenClass::Unreachable},
    OpenError{platform::kErrorDomainControllerNotFound, OpenClass::Unreachable},
    OpenError{platform::kErrorNotConnected, OpenClass::Unreachable},  // a mapped drive
    OpenError{platform::kErrorNetworkAccessDenied, OpenClass::Refused},
    OpenError{platform::kErrorInvalidPassword, OpenClass::Refused},
    OpenError{platform::kErrorSessionCredentialConflict, OpenClass::Refused},
    OpenError{platform::kErrorConnectionRefused, OpenClass::Refused},
    OpenError{platform::kErrorLoginTimeRestriction, OpenClass::Refused},
    OpenError{platform::kErrorLoginWkstaRestriction, OpenClass::Refused},
    OpenError{platform::kErrorNotAuthenticated, OpenClass::Refused},
    OpenError{platform::kErrorDowngradeDetected, OpenClass::Refused},
    OpenError{platform::kErrorNoSuchLogonSession, OpenClass::Refused},
    OpenError{platform::kErrorNoSuchUser, OpenClass::Refused},
    OpenError{platform::kErrorWrongPassword, OpenClass::Refused},
    OpenError{platform::kErrorLogonFailure, OpenClass::Refused},
    OpenError{platform::kErrorAccountRestriction, OpenClass::Refused},
    OpenError{platform::kErrorInvalidLogonHours, OpenClass::Refused},
    OpenError{platform::kErrorInvalidWorkstation, OpenClass::Refused},
    OpenError{platform::kErrorPasswordExpired, OpenClass::Refused},
    OpenError{platform::kErrorAccountDisabled, OpenClass::Refused},
    OpenError{platform::kErrorLogonTypeNotGranted, OpenClass::Refused},
    OpenError{platform::kErrorNoUserSessionKey, OpenClass::Refused},
    OpenError{platform::kErrorWrongTargetName, OpenClass::Refused},  // Kerberos: the server's name
    OpenError{platform::kErrorTimeSkew, OpenClass::Refused},         // Kerberos: the clock
    OpenError{platform::kErrorNoTrustLsaSecret, OpenClass::Refused},
    OpenError{platform::kErrorNoTrustSamAccount, OpenClass::Refused},
    OpenError{platform::kErrorTrustedDomainFailure, OpenClass::Refused},
    OpenError{platform::kErrorTrustedRelationshipFailure, OpenClass::Refused},
    OpenError{platform::kErrorTrustFailure, OpenClass::Refused},
    OpenError{platform::kErrorAccountExpired, OpenClass::Refused},
    OpenError{platform::kErrorDomainTrustInconsistent, OpenClass::Refused},
    OpenError{platform::kErrorPasswordMustChange, OpenClass::Refused},
    OpenError{platform::kErrorAccountLockedOut, OpenClass::Refused},
    OpenError{platform::kErrorContextExpired, OpenClass::Refused},
    OpenError{platform::kErrorAuthenticationFirewallFailed, OpenClass::Refused},
    // clang-format on
};

// Access refused, a folder of that name, and any error not named above: the
// master is there, or may be, and cannot be opened. Never "no master". A
// file whose deletion is pending (a master being replaced) is refused with
// ERROR_ACCESS_DENIED, told apart by its NT status.
OpenClass ClassOf(const platform::FileResult& opened) {
  if (opened.status == platform::kStatusDeletePending) {
    return OpenClass::Locked;
  }
  const PlatformError error = opened.error;
  const auto* known = std::find_if(kOpenErrors.begin(), kOpenErrors.end(),
                                   [error](const OpenError& open) { return open.error == error; });
  return known == kOpenErrors.end() ? OpenClass::Unopenable : known->kind;
}

// The folder above the master's own (\\server\share\ for
// \\server\share\<user>\sysfile.cfg), with its trailing backslash, which a
// share's root needs.
std::u16string_view ParentOfFolder(std::u16string_view path) {
  std::size_t end = path.rfind(u'\\');
  if (end == std::u16string_view::npos || end == 0) {
    return {};
  }
  end = path.rfind(u'\\', end - 1);
  return end == std::u16string_view::npos ? std::u16string_view{}
                                          : std::u16string_view{path.data(), end + 1};
}

// Whether the place above the user's folder answers: it does when it can be
// read or when it refuses this user, and then the user simply has no master.
bool ParentAnswers(SyncPort& port, std::u16string_view path, MasterPath& scratch) {
  const std::u16string_view parent = ParentOfFolder(path);
  if (parent.empty()) {
    return false;
  }
  TextBuilder<char16_t>{scratch}.Add(parent).Put(u'\0');
  const platform::AttributesResult found = port.getFileAttributes(scratch.data());
  return found.error == platform::kSuccess || found.error == platform::kErrorAccessDenied;
}

void Settle(MasterFound& found, SyncStatus status, const platform::FileResult& opened,
            std::size_t index, const char* detail) {
  found.status = status;
  found.error = opened.error;
  found.nt_status = opened.status;
  found.used = index;
  found.detail = detail;
}

const char* Unopenable(SyncPort& port, const char16_t* path, const platform::FileResult& opened) {
  const platform::AttributesResult found = port.getFileAttributes(path);
  if (found.error == platform::kSuccess &&
      (found.attributes & platform::kFileAttributeDirectory) != 0) {
    return "a folder of that name";
  }
  if (ClassOf(opened) == OpenClass::Locked) {
    return "held open by another program, or being replaced";
  }
  return opened.error == platform::kErrorAccessDenied ? "access refused" : "cannot be opened";
}

Channel ChannelOf(const platform::RemoteProtocol& protocol) {
  constexpr std::uint32_t kSigned =
      platform::kRemoteProtocolPrivacy | platform::kRemoteProtocolIntegrity;
  if (protocol.error != platform::kSuccess) {
    return Channel::NotKnown;
  }
  return (protocol.flags & kSigned) != 0 &&
                 (protocol.flags & platform::kRemoteProtocolMutualAuth) != 0
             ? Channel::Protected
             : Channel::Unprotected;
}

void Search(void* context) {
  auto& search = *static_cast<MasterSearch*>(context);
  SyncPort& port = *search.port;
  MasterFound& found = search.found;
  for (std::size_t i = 0; i < search.path_count && !search.given_up; ++i) {
    const char16_t* path = (*search.paths)[i].data();
    platform::FileResult opened = port.createFileForSharedReading(path);
    for (int retry = 0;
         opened.file == platform::kInvalidFile && ClassOf(opened) == OpenClass::Locked &&
         retry < kSharingRetries && !search.given_up;
         ++retry) {
      port.sleep(kSharingRetryMilliseconds);
      opened = port.createFileForSharedReading(path);
    }
    if (opened.file == platform::kInvalidFile) {
      switch (ClassOf(opened)) {
        // Only a master that is not there passes the search on: one that
        // cannot be reached now may be there, and a later master (a site
        // default) would then overwrite the user's own until it answers.
        case OpenClass::Absent:
        case OpenClass::PathMissing: {
          const bool file = ClassOf(opened) == OpenClass::Absent;
          if (!file && !ParentAnswers(port, path, search.scratch)) {
            Settle(found, SyncStatus::Unreachable, opened, i,
                   "the place above the folder does not answer");
            return;
          }
          if (i == search.imported_from && i + 1 < search.path_count) {
            // Gone for a moment, as a master replaced by delete and copy
            // is, or for good: either way not the later master's to replace.
            Settle(found, SyncStatus::NoMaster, opened, i,
                   "the master imported from is gone: no later one used");
            return;
          }
          if (i == 0) {
            Settle(found, SyncStatus::NoMaster, opened, i, file ? "no file" : "no folder");
          }
          continue;
        }
        case OpenClass::Unreachable:
          Settle(found, SyncStatus::Unreachable, opened, i, "cannot be reached");
          return;
        case OpenClass::Refused:
          Settle(found, SyncStatus::Refused, opened, i, "connection or credentials refused");
          return;
        case OpenClass::Locked:
        case OpenClass::Unopenable:
          break;
      }
      // There, but not to be opened: the first master that exists is this one.
      Settle(found, SyncStatus::MasterUnopenable, opened, i, Unopenable(port, path, opened));
      return;
    }
    const platform::PortOwnedFile file{port, opened.file};
    found.channel = (search.on_own_disk >> i & 1U) != 0
                        ? Channel::OwnDisk
                        : ChannelOf(port.getRemoteProtocolInfo(file.get()));
    std::size_t read = 0;
    const PlatformError error = port.readFileCounted(file.get(), found.bytes, read);
    found.used = i;
    found.error = error;
    found.nt_status = platform::kStatusSuccess;
    found.status = error == platform::kSuccess ? SyncStatus::InPlace : SyncStatus::MasterUnreadable;
    found.detail = error == platform::kSuccess ? nullptr : "the read failed";
    return;
  }
}

// A master on a disk of the machine's own answers at once or fails at once;
// a share, a drive mapped to one, a link on the way to one, or a file a
// tiering driver fetches from elsewhere may not answer for minutes. Each part of the path that
// exists is looked at itself, as GetFileAttributesW does with a link, before the path is followed
// through it.
bool OnLocalDisk(SyncPort& port, std::u16string_view path, MasterPath& scratch) {
  if (path.size() < 3 || path[1] != u':' || path[2] != u'\\' || path.size() > kMasterPathUnits) {
    return false;
  }
  const std::array<char16_t, 4> root = {path[0], u':', u'\\', u'\0'};
  const std::uint32_t type = port.getDriveType(root.data());
  if (type != platform::kDriveFixed && type != platform::kDriveRamDisk) {
    return false;
  }
  for (std::size_t at = 0; at < path.size(); ++at) {
    scratch[at] = path[at];
  }
  for (std::size_t end = 3; end <= path.size(); ++end) {
    if (end < path.size() && path[end] != u'\\') {
      continue;
    }
    scratch[end] = u'\0';
    const platform::AttributesResult part = port.getFileAttributes(scratch.data());
    if (end < path.size()) {
      scratch[end] = path[end];
    }
    if (part.error != platform::kSuccess) {
      return true;  // not there: the open fails at once
    }
    if ((part.attributes & (platform::kFileAttributeReparsePoint | platform::kFileAttributeOffline |
                            platform::kFileAttributeRecall)) != 0) {
      return false;
    }
  }
  return true;
}

}  // namespace

Deadline SearchMasters(SyncPort& port, MasterSearch& search) {
  // The deadline's thread only where a master may not answer: starting one
  // is most of what a run in line costs under Wine.
  search.on_own_disk = 0;
  for (std::size_t i = 0; i < search.path_count; ++i) {
    if (OnLocalDisk(port, (*search.paths)[i].data(), search.scratch)) {
      search.on_own_disk |= 1U << i;
    }
  }
  if (search.on_own_disk == (1U << search.path_count) - 1) {
    Search(&search);
    return Deadline::Met;
  }
  const platform::PortOwnedThread worker{port, port.createThread(Search, &search)};
  if (!worker) {
    return Deadline::NoThread;
  }
  if (port.waitForThread(worker.get(), kDeadlineMilliseconds)) {
    return Deadline::Met;
  }
  // A thread blocked in the network redirector would keep the process, and
  // whoever waits on it, from ending: its open or read is cancelled.
  search.given_up = true;
  for (int attempt = 0; attempt < kCancelAttempts; ++attempt) {
    port.cancelSynchronousIo(worker.get());
    if (port.waitForThread(worker.get(), kCancelWaitMilliseconds)) {
      return Deadline::Missed;
    }
  }
  return Deadline::Stuck;
}

}  // namespace profile_import::sync
