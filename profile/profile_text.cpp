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

}  // namespace

ParsedProfile ParseProfileText(Bytes bytes) {
  ParsedProfile result{};
  bytes = bytes.first(std::min(bytes.size(), kProfileReadSize));
  const auto nul = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
  result.ended_at_nul = nul != bytes.end();
  const bool full_read_without_nul = !result.ended_at_nul && bytes.size() == kProfileReadSize;
  Bytes rest = bytes.first(static_cast<std::size_t>(nul - bytes.begin()));
  result.text_bytes = rest.size();
  if (rest.size() >= kUtf8ByteOrderMark.size() &&
      std::equal(kUtf8ByteOrderMark.begin(), kUtf8ByteOrderMark.end(), rest.begin())) {
    result.had_byte_order_mark = true;
    rest = rest.subspan(kUtf8ByteOrderMark.size());
  }

  std::array<Line, kProfileLineCount> lines{};
  std::generate(lines.begin(), lines.end(), [&rest] { return TakeLine(rest); });
  result.line_ends = static_cast<std::size_t>(
      std::count_if(lines.begin(), lines.end(), [](const Line& line) { return line.ended_by_lf; }));
  result.ignored_after_line_six = rest.size();

  const auto refuse = [&result](ProfileTextVerdict verdict, std::size_t line, std::size_t length) {
    result.verdict = verdict;
    result.line = line;
    result.refused_length = length;
    return result;
  };
  if (!lines[4].ended_by_lf) {
    return refuse(ProfileTextVerdict::TooFewLineEnds, 0, 0);
  }
  if (!lines[5].ended_by_lf && full_read_without_nul) {
    return refuse(ProfileTextVerdict::LastLineMayBeCut, 6, 0);
  }

  // Lines 2 and 3 are decoded side by side, since they fill one field.
  std::array<char16_t, kProfileReadSize> units{};
  std::array<char16_t, kProfileReadSize> more_units{};
  const auto decode = [&lines, &result](std::size_t index, std::span<char16_t> out) {
    const DecodedLine decoded = DecodeLine(lines.at(index).text, out);
    result.encodings.at(index) = decoded.encoding;
    return decoded.text;
  };
  const std::u16string_view corp = decode(0, units);
  if (!result.profile.Corp.Append(corp)) {
    return refuse(ProfileTextVerdict::CorpTooLong, 1, corp.size());
  }
  const std::u16string_view line2 = decode(1, units);
  const std::u16string_view line3 = decode(2, more_units);
  if (line2.size() + line3.size() > kDataBaseCapacity) {
    return refuse(ProfileTextVerdict::DataBaseTooLong, 2, line2.size() + line3.size());
  }
  result.profile.DataBase.Append(line2);
  result.profile.DataBase.Append(line3);
  const std::u16string_view admin = decode(4, units);
  if (!result.profile.Admin.Append(admin)) {
    return refuse(ProfileTextVerdict::AdminTooLong, 5, admin.size());
  }
  const std::u16string_view user = decode(5, units);
  if (!result.profile.User.Append(user)) {
    return refuse(ProfileTextVerdict::UserTooLong, 6, user.size());
  }
  return result;
}

}  // namespace profile_import
