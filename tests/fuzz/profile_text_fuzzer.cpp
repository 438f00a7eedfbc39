// Feeds any byte string to the hand-off file reader, exactly as the one read
// feeds it, and checks properties that must hold whatever the bytes are.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "profile/profile_file.h"
#include "profile/profile_text.h"
#include "unit/fake_port.h"

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

// Where a file's text starts and how wide its code units are: bytes, or
// little-endian 16-bit units after the UTF-16 LE mark.
struct Layout {
  std::size_t start;
  std::size_t unit;
};

Layout LayoutOf(std::string_view bytes) {
  return bytes.substr(0, 2) == "\xFF\xFE" ? Layout{2, 2} : Layout{0, 1};
}

// The bytes with the zero fill that completes a last, odd unit.
std::string Padded(const std::string& bytes, Layout layout) {
  return (bytes.size() - layout.start) % layout.unit == 0 ? bytes : bytes + '\0';
}

bool IsUnit(std::string_view bytes, std::size_t at, Layout layout, char value) {
  return bytes[at] == value && (layout.unit == 1 || bytes[at + 1] == '\0');
}

// Byte offsets of the LF units in `bytes`, up to `limit` of them; with
// `text_only`, only those before the end of the text that the reader sees.
std::vector<std::size_t> LineFeeds(std::string_view bytes, Layout layout, std::size_t limit,
                                   bool text_only) {
  std::vector<std::size_t> found;
  for (std::size_t at = layout.start; at + layout.unit <= bytes.size() && found.size() < limit;
       at += layout.unit) {
    if (text_only && (at >= kProfileReadSize || IsUnit(bytes, at, layout, '\0'))) {
      break;
    }
    if (IsUnit(bytes, at, layout, kLineFeed)) {
      found.push_back(at);
    }
  }
  return found;
}

// Whether the reader took a byte file as UTF-8 rather than in the code page.
bool ReadAsUtf8(const std::string& bytes) {
  testing::FakePort port;
  return ParseProfileText({reinterpret_cast<const std::uint8_t*>(bytes.data()),
                           std::min(bytes.size(), kProfileReadSize)},
                          port)
      .utf8;
}

// A line's text as a field, found by placing its bytes where Admin is read in
// a file of the same layout and encoding: a byte file read as UTF-8 gets the
// UTF-8 mark, one read in the code page a line 4 that is not UTF-8.
std::u16string AsAdmin(std::string_view line, Layout layout, bool utf8) {
  const auto encode = [layout](std::string_view ascii) {
    std::string out;
    for (const char c : ascii) {
      out += c;
      out += layout.unit == 2 ? std::string(1, '\0') : "";
    }
    return out;
  };
  const bool bytes = layout.unit == 1;
  const std::string mark = bytes ? (utf8 ? "\xEF\xBB\xBF" : "") : "\xFF\xFE";
  const std::string line4 = bytes && !utf8 ? "\xFF" : "";
  const std::string file =
      mark + encode("x\n\n\n") + line4 + encode("\n") + std::string(line) + encode("\n\n");
  const ProfileFileResult probe = ReadThroughPort(file);
  Check(probe.outcome == ProfileFileResult::Read, "a line that fits DataBase fits Admin");
  return std::u16string(probe.profile.Admin.View());
}

void CheckDataBaseJoinsLinesTwoAndThree(const std::string& bytes, const SiteProfile& profile) {
  const Layout layout = LayoutOf(bytes);
  const std::string padded = Padded(bytes, layout);
  const std::vector<std::size_t> lf = LineFeeds(padded, layout, 3, true);
  Check(lf.size() == 3, "an accepted text has its line ends");
  const std::string_view text = padded;
  const std::size_t u = layout.unit;
  const bool utf8 = layout.unit == 1 && ReadAsUtf8(bytes);
  const std::u16string joined = AsAdmin(text.substr(lf[0] + u, lf[1] - lf[0] - u), layout, utf8) +
                                AsAdmin(text.substr(lf[1] + u, lf[2] - lf[1] - u), layout, utf8);
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
  const Layout layout = LayoutOf(bytes);
  const std::string padded = Padded(bytes, layout);
  const std::vector<std::size_t> lf = LineFeeds(padded, layout, 6, false);
  if (lf.size() < 6) {
    return;
  }
  const std::size_t tail_start = lf[5] + layout.unit;
  std::string tail = padded.substr(tail_start);
  std::reverse(tail.begin(), tail.end());
  const std::string replaced = padded.substr(0, tail_start) + tail + "tail\n";
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
