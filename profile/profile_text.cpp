#include "profile/profile_text.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>

#include "profile/text_decoding.h"

namespace profile_import {
namespace {

constexpr char16_t kLineFeed = 0x0A;
constexpr char16_t kCarriageReturn = 0x0D;
constexpr std::array<std::uint8_t, 3> kUtf8ByteOrderMark = {0xEF, 0xBB, 0xBF};
constexpr std::array<std::uint8_t, 2> kUtf16LeByteOrderMark = {0xFF, 0xFE};
constexpr std::array<std::uint8_t, 2> kUtf16BeByteOrderMark = {0xFE, 0xFF};
// The code units that the bytes after the UTF-16 mark fill.
constexpr std::size_t kUtf16ReadUnits = (kProfileReadSize - kUtf16LeByteOrderMark.size()) / 2;

// Where each field starts; only the second runs over two lines.
constexpr std::size_t kCorpLine = kHandOffFields[kCorp].first_line;
constexpr std::size_t kDataBaseLine = kHandOffFields[kDataBase].first_line;
constexpr std::size_t kAdminLine = kHandOffFields[kAdmin].first_line;
constexpr std::size_t kUserLine = kHandOffFields[kUser].first_line;
static_assert(kHandOffFields[kCorp].line_count == 1 && kHandOffFields[kDataBase].line_count == 2 &&
              kHandOffFields[kAdmin].line_count == 1 && kHandOffFields[kUser].line_count == 1);

using Bytes = std::span<const std::uint8_t>;
using Units = std::span<const char16_t>;

// The index of the first `unit` in `text`, or its size. A plain loop: the
// library's find is unrolled four times over, which costs the importer more
// bytes than these few searches of at most 512 units could ever save.
template <typename Unit>
std::size_t IndexOf(std::span<const Unit> text, Unit unit) {
  std::size_t at = 0;
  while (at < text.size() && text[at] != unit) {
    ++at;
  }
  return at;
}

template <typename Unit>
struct Line {
  std::span<const Unit> text;  // without its line end
  bool ended_by_lf{};          // false only for a last line that runs to the end of the text
};

// Cuts the next line off the front of `rest`. A CR directly before the LF is
// part of the line end; any other CR is text.
template <typename Unit>
Line<Unit> TakeLine(std::span<const Unit>& rest) {
  const std::size_t length = IndexOf(rest, Unit{kLineFeed});
  if (length == rest.size()) {
    const Line<Unit> line{rest, false};
    rest = rest.last(0);
    return line;
  }
  std::span<const Unit> text = rest.first(length);
  rest = rest.subspan(length + 1);
  if (!text.empty() && text.back() == Unit{kCarriageReturn}) {
    text = text.first(text.size() - 1);
  }
  return {text, true};
}

template <typename Unit, std::size_t N>
bool StartsWith(std::span<const Unit> text, const std::array<Unit, N>& prefix) {
  return text.size() >= N && std::equal(prefix.begin(), prefix.end(), text.begin());
}

bool IsHighSurrogate(char16_t unit) {
  return unit >= 0xD800U && unit <= 0xDBFFU;
}
bool IsLowSurrogate(char16_t unit) {
  return unit >= 0xDC00U && unit <= 0xDFFFU;
}

// Every surrogate is part of a high-low pair.
bool IsWellFormedUtf16(Units units) {
  for (std::size_t i = 0; i < units.size(); ++i) {
    if (IsHighSurrogate(units[i]) && i + 1 < units.size() && IsLowSurrogate(units[i + 1])) {
      ++i;
    } else if (IsHighSurrogate(units[i]) || IsLowSurrogate(units[i])) {
      return false;
    }
  }
  return true;
}

// Splits a text, in bytes or in UTF-16 units, into the six lines and applies
// the rules that both share. `decode(index, out)` gives line `index` as UTF-16
// (in `out` or in the text itself), or nothing when it cannot be read, which
// refuses the text as `unreadable`.
template <typename Unit, typename Decode>
ParsedProfile SplitAndCheck(ParsedProfile result, std::span<const Unit> rest,
                            bool full_read_without_end, ProfileTextVerdict unreadable,
                            Decode decode) {
  std::array<Line<Unit>, kProfileLineCount> lines{};
  std::generate(lines.begin(), lines.end(), [&rest] { return TakeLine(rest); });
  result.line_ends = static_cast<std::size_t>(std::count_if(
      lines.begin(), lines.end(), [](const Line<Unit>& line) { return line.ended_by_lf; }));
  result.ignored_after_line_six = rest.size() * sizeof(Unit);

  const auto refuse = [&result](ProfileTextVerdict verdict, std::size_t line, std::size_t length) {
    result.verdict = verdict;
    result.line = line;
    result.refused_length = length;
    return result;
  };
  if (!lines[kProfileLineCount - 2].ended_by_lf) {
    return refuse(ProfileTextVerdict::TooFewLineEnds, 0, 0);
  }
  if (!lines[kProfileLineCount - 1].ended_by_lf && full_read_without_end) {
    return refuse(ProfileTextVerdict::LastLineMayBeCut, kProfileLineCount, 0);
  }

  // The second field's two lines are decoded side by side, since they fill one value.
  std::array<char16_t, kProfileReadSize> units{};
  std::array<char16_t, kProfileReadSize> more_units{};
  std::array<std::u16string_view, kProfileLineCount> texts{};
  const auto take = [&](std::size_t index, std::span<char16_t> out) {
    const std::optional<std::u16string_view> text = decode(lines[index].text, out, result, index);
    texts[index] = text.value_or(std::u16string_view{});
    return text.has_value();
  };
  if (!take(kCorpLine, units)) {
    return refuse(unreadable, kCorpLine + 1, 0);
  }
  if (!result.profile.Corp.Append(texts[kCorpLine])) {
    return refuse(ProfileTextVerdict::CorpTooLong, kCorpLine + 1, texts[kCorpLine].size());
  }
  for (const std::size_t index : {kDataBaseLine, kDataBaseLine + 1}) {
    if (!take(index, index == kDataBaseLine ? std::span<char16_t>(units) : more_units)) {
      return refuse(unreadable, index + 1, 0);
    }
  }
  const std::size_t joined = texts[kDataBaseLine].size() + texts[kDataBaseLine + 1].size();
  if (joined > decltype(result.profile.DataBase)::kCapacity) {
    return refuse(ProfileTextVerdict::DataBaseTooLong, kDataBaseLine + 1, joined);
  }
  result.profile.DataBase.Append(texts[kDataBaseLine]);
  result.profile.DataBase.Append(texts[kDataBaseLine + 1]);
  if (!take(kAdminLine, units)) {
    return refuse(unreadable, kAdminLine + 1, 0);
  }
  if (!result.profile.Admin.Append(texts[kAdminLine])) {
    return refuse(ProfileTextVerdict::AdminTooLong, kAdminLine + 1, texts[kAdminLine].size());
  }
  if (!take(kUserLine, units)) {
    return refuse(unreadable, kUserLine + 1, 0);
  }
  if (!result.profile.User.Append(texts[kUserLine])) {
    return refuse(ProfileTextVerdict::UserTooLong, kUserLine + 1, texts[kUserLine].size());
  }
  return result;
}

// After the mark, the read holds little-endian code units; bytes the read did
// not fill count as zero, as the zero-filled buffer makes them.
ParsedProfile ParseUtf16Le(ParsedProfile result, Bytes bytes) {
  result.utf16_le = true;
  result.had_byte_order_mark = true;
  const Bytes after_mark = bytes.subspan(kUtf16LeByteOrderMark.size());
  std::array<char16_t, kUtf16ReadUnits> units{};
  const std::size_t available = std::min(units.size(), (after_mark.size() + 1) / 2);
  for (std::size_t unit = 0; unit < available; ++unit) {
    const std::size_t low = 2 * unit;
    const unsigned high = low + 1 < after_mark.size() ? after_mark[low + 1] : 0U;
    units[unit] = static_cast<char16_t>(after_mark[low] | (high << 8U));
  }
  const Units read{units.data(), available};
  const std::size_t nul = IndexOf(read, char16_t{0});
  result.ended_at_nul = nul != read.size();
  const bool full_read_without_nul = !result.ended_at_nul && bytes.size() == kProfileReadSize;
  const Units text = read.first(nul);
  result.text_bytes = kUtf16LeByteOrderMark.size() + text.size() * sizeof(char16_t);
  return SplitAndCheck(
      result, text, full_read_without_nul, ProfileTextVerdict::NotWellFormedUtf16,
      [](Units line, std::span<char16_t> /*out*/, ParsedProfile& parsed, std::size_t index) {
        parsed.encodings[index] = TextEncoding::Utf16Le;
        return IsWellFormedUtf16(line) ? std::optional<std::u16string_view>(
                                             std::u16string_view{line.data(), line.size()})
                                       : std::nullopt;
      });
}

}  // namespace

ParsedProfile ParseProfileText(Bytes bytes, platform::AnsiCodePage& code_page) {
  ParsedProfile result{};
  bytes = bytes.first(std::min(bytes.size(), kProfileReadSize));
  if (StartsWith(bytes, kUtf16LeByteOrderMark)) {
    return ParseUtf16Le(result, bytes);
  }
  if (StartsWith(bytes, kUtf16BeByteOrderMark)) {
    result.unread_utf16 = UnreadUtf16::BigEndian;
  } else if (bytes.size() >= 2 && bytes[1] == 0) {
    result.unread_utf16 = UnreadUtf16::NoByteOrderMark;
  }

  const std::size_t nul = IndexOf(bytes, std::uint8_t{0});
  result.ended_at_nul = nul != bytes.size();
  const bool full_read_without_nul = !result.ended_at_nul && bytes.size() == kProfileReadSize;
  Bytes rest = bytes.first(nul);
  result.text_bytes = rest.size();
  if (StartsWith(rest, kUtf8ByteOrderMark)) {
    result.had_byte_order_mark = true;
    rest = rest.subspan(kUtf8ByteOrderMark.size());
  }
  // One encoding for the whole file, decided by the lines that are read: a
  // name that happens to be valid UTF-8 must not be read apart from its file.
  Bytes through_line_six = rest;
  std::size_t line_ends = 0;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == kLineFeed && ++line_ends == kProfileLineCount) {
      through_line_six = rest.first(i + 1);
      break;
    }
  }
  result.utf8 = result.had_byte_order_mark || DecodeUtf8(through_line_six, {}).has_value();
  return SplitAndCheck(
      result, rest, full_read_without_nul,
      result.utf8 ? ProfileTextVerdict::NotWellFormedUtf8 : ProfileTextVerdict::NotInCodePage,
      [&code_page](Bytes line, std::span<char16_t> out, ParsedProfile& parsed, std::size_t index) {
        const DecodedLine decoded = DecodeLine(line, out, parsed.utf8, code_page);
        parsed.encodings[index] = decoded.encoding;
        return decoded.text;
      });
}

}  // namespace profile_import
