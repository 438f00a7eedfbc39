#pragma once

#include <array>
#include <string_view>

namespace profile_import::publish {

// profile-publish's exit codes: the one table, which the help text prints
// and the administrator's guide shows (scripts/check-docs.sh holds them equal).
enum class PublishStatus : int {
  Done = 0,
  Refused = 1,     // nothing written
  SomeFailed = 2,  // written, some accounts failed
  Usage = 64,
};

struct PublishExitCode {
  PublishStatus status;
  std::string_view meaning;
};

inline constexpr std::array<PublishExitCode, 4> kPublishExitCodes = {{
    {PublishStatus::Done,
     "done: every master named is as the users file says (plan: every master read; rollback: every "
     "master put back), or --help"},
    {PublishStatus::Refused,
     "refused, nothing written: a row (its line number printed), the users file or the --only list "
     "unreadable or refused, ROOT unreadable, or another apply or rollback running on ROOT"},
    {PublishStatus::SomeFailed,
     "some accounts failed, each named in the summary and the report: the rest were written "
     "(running apply again finishes), put back, or read (plan); or the report could not be "
     "written"},
    {PublishStatus::Usage,
     "usage: an unknown command or option, an argument missing or one too many"},
}};

}  // namespace profile_import::publish
