#include "profile/profile_text.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "profile/text_decoding.h"

namespace profile_import {
namespace {

constexpr std::uint8_t kLineFeed = 0x0A;
constexpr std::uint8_t kCarriageReturn = 0x0D;
constexpr std::array<std::uint8_t, 3> kUtf8ByteOrderMark = {0xEF, 0xBB, 0xBF};
constexpr std::size_t kLineCount = 6;

using Bytes = std::span<const std::uint8_t>;

struct Line {
  Bytes text;          // without its line end
  bool ended_by_lf{};  // false only for a last line that runs to the end of the text
};

// Cuts the next line off the front of `rest`. A CR directly before the LF is
// part of the line end; any other CR is text.
Line TakeLine(Bytes& rest) {
  const auto lf = std::find(rest.begin(), rest.end(), kLineFeed);
  if (lf == rest.end()) {
    const Line line{rest, false};
    rest = rest.last(0);
    return line;
  }
  auto length = static_cast<std::size_t>(lf - rest.begin());
  Bytes text = rest.first(length);
  rest = rest.subspan(length + 1);
  if (!text.empty() && text.back() == kCarriageReturn) {
    text = text.first(text.size() - 1);
  }
  return {text, true};
}

template <std::size_t Capacity>
bool AppendLine(Bytes line, FixedText<Capacity>& field) {
  std::array<char16_t, kProfileReadSize> decoded{};
  return field.Append(DecodeLine(line, decoded));
}

}  // namespace

ParsedProfile ParseProfileText(Bytes bytes) {
  ParsedProfile result{ProfileTextVerdict::Accepted, {}};
  bytes = bytes.first(std::min(bytes.size(), kProfileReadSize));
  const auto nul = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
  const bool full_read_without_nul = nul == bytes.end() && bytes.size() == kProfileReadSize;
  Bytes rest = bytes.first(static_cast<std::size_t>(nul - bytes.begin()));
  if (rest.size() >= kUtf8ByteOrderMark.size() &&
      std::equal(kUtf8ByteOrderMark.begin(), kUtf8ByteOrderMark.end(), rest.begin())) {
    rest = rest.subspan(kUtf8ByteOrderMark.size());
  }

  std::array<Line, kLineCount> lines{};
  std::generate(lines.begin(), lines.end(), [&rest] { return TakeLine(rest); });
  const bool five_line_ends = lines[4].ended_by_lf;
  if (!five_line_ends) {
    result.verdict = ProfileTextVerdict::TooFewLineEnds;
  } else if (!lines[5].ended_by_lf && full_read_without_nul) {
    result.verdict = ProfileTextVerdict::LastLineMayBeCut;
  } else if (!AppendLine(lines[0].text, result.profile.Corp)) {
    result.verdict = ProfileTextVerdict::CorpTooLong;
  } else if (!AppendLine(lines[1].text, result.profile.DataBase) ||
             !AppendLine(lines[2].text, result.profile.DataBase)) {
    result.verdict = ProfileTextVerdict::DataBaseTooLong;
  } else if (!AppendLine(lines[4].text, result.profile.Admin)) {
    result.verdict = ProfileTextVerdict::AdminTooLong;
  } else if (!AppendLine(lines[5].text, result.profile.User)) {
    result.verdict = ProfileTextVerdict::UserTooLong;
  }
  return result;
}

}  // namespace profile_import
