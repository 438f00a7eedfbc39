// Feeds any byte string to the hand-off file reader, exactly as the one read
// feeds it, and checks properties that must hold whatever the bytes are.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "../unit/fake_port.h"
#include "profile/profile_file.h"
#include "profile/profile_text.h"

namespace profile_import {
namespace {

constexpr std::size_t kMaxInput = 600;
constexpr char kLineFeed = '\n';

void Check(bool holds, const char* property) {
  if (!holds) {
    static_cast<void>(std::fputs("property broken: ", stderr));
    static_cast<void>(std::fputs(property, stderr));
    std::abort();
  }
}

ProfileFileResult ReadThroughPort(const std::string& bytes) {
  testing::FakePort port;
  port.file = bytes;
  return ReadProfileFile(port);
}

template <std::size_t N>
void CheckField(const FixedText<N>& field) {
  Check(field.Length() <= N, "a field stays within its capacity");
  Check(std::u16string_view(field.CStr()).size() == field.Length(),
        "a field is NUL-terminated after its text");
  const std::u16string_view text = field.View();
  Check(text.find(u'\n') == std::u16string_view::npos, "a field holds no LF");
}

bool SameOutcome(const ProfileFileResult& a, const ProfileFileResult& b) {
  return a.outcome == b.outcome && a.profile.Corp.View() == b.profile.Corp.View() &&
         a.profile.DataBase.View() == b.profile.DataBase.View() &&
         a.profile.Admin.View() == b.profile.Admin.View() &&
         a.profile.User.View() == b.profile.User.View();
}

// The text that the reader looks at: the first read, up to its first NUL.
std::string_view ReadText(const std::string& bytes) {
  std::string_view text(bytes.data(), std::min(bytes.size(), kProfileReadSize));
  return text.substr(0, text.find('\0'));
}

// A line's text as a field, found by placing it where Admin is read.
std::u16string AsAdmin(std::string_view line) {
  const ProfileFileResult probe = ReadThroughPort("x\n\n\n\n" + std::string(line) + "\n\n");
  Check(probe.outcome == ProfileFileResult::Read, "a line that fits DataBase fits Admin");
  return std::u16string(probe.profile.Admin.View());
}

void CheckDataBaseJoinsLinesTwoAndThree(const std::string& bytes, const SiteProfile& profile) {
  const std::string_view text = ReadText(bytes);
  const std::size_t lf1 = text.find(kLineFeed);
  const std::size_t lf2 = text.find(kLineFeed, lf1 + 1);
  const std::size_t lf3 = text.find(kLineFeed, lf2 + 1);
  Check(lf3 != std::string_view::npos, "an accepted text has its line ends");
  const std::u16string joined =
      AsAdmin(text.substr(lf1 + 1, lf2 - lf1 - 1)) + AsAdmin(text.substr(lf2 + 1, lf3 - lf2 - 1));
  Check(profile.DataBase.View() == joined, "DataBase is line 2 followed by line 3");
}

void CheckOnlyTheReadCounts(const std::string& bytes, const ProfileFileResult& result) {
  if (bytes.size() <= kProfileReadSize) {
    return;
  }
  std::string changed = bytes;
  for (std::size_t i = kProfileReadSize; i < changed.size(); ++i) {
    changed[i] = static_cast<char>(~changed[i]);
  }
  Check(SameOutcome(ReadThroughPort(changed), result), "bytes past the read change nothing");
  Check(SameOutcome(ReadThroughPort(bytes.substr(0, kProfileReadSize)), result),
        "a file cut after the read reads the same");
}

void CheckTextAfterLineSixIgnored(const std::string& bytes, const ProfileFileResult& result) {
  std::size_t sixth_lf = std::string::npos;
  for (int seen = 0; seen < 6; ++seen) {
    sixth_lf = bytes.find(kLineFeed, sixth_lf + 1);
    if (sixth_lf == std::string::npos) {
      return;
    }
  }
  std::string tail = bytes.substr(sixth_lf + 1);
  std::reverse(tail.begin(), tail.end());
  const std::string replaced = bytes.substr(0, sixth_lf + 1) + tail + "tail\n";
  Check(SameOutcome(ReadThroughPort(replaced), result), "text after the sixth LF changes nothing");
}

}  // namespace
}  // namespace profile_import

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace profile_import;
  if (size > kMaxInput) {
    return 0;
  }
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const ProfileFileResult result = ReadThroughPort(bytes);
  Check(result.outcome == ProfileFileResult::Read || result.outcome == ProfileFileResult::Rejected,
        "a readable file is either taken in or refused");
  if (result.outcome == ProfileFileResult::Read) {
    CheckField(result.profile.Corp);
    CheckField(result.profile.DataBase);
    CheckField(result.profile.Admin);
    CheckField(result.profile.User);
    CheckDataBaseJoinsLinesTwoAndThree(bytes, result.profile);
  }
  CheckOnlyTheReadCounts(bytes, result);
  CheckTextAfterLineSixIgnored(bytes, result);
  return 0;
}
