#pragma once

#include <array>
#include <string_view>

namespace profile_import::publish {

// profile-publish's exit codes: the one table, which the help text prints.
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
    {PublishStatus::Done, "done: every master named is as the users file says"},
    {PublishStatus::Refused,
     "refused, nothing written: a row, the users file, the --only list or ROOT, or another run "
     "on ROOT"},
    {PublishStatus::SomeFailed, "written, some accounts failed (named above): run apply again"},
    {PublishStatus::Usage, "usage: an unknown command or option, or an argument missing"},
}};

}  // namespace profile_import::publish
