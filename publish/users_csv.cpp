#include "publish/users_csv.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <unordered_set>

#include "profile/text_decoding.h"

namespace profile_import::publish {
namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::size_t kAccountIndex = kFieldCount;  // the columns: the values', then the account
constexpr std::size_t kNoColumn = kFieldCount + 1;

struct Record {
  CsvVerdict verdict = CsvVerdict::Read;
  std::vector<std::string> fields;
};

// One record from `at`, which it leaves after the record's line end.
Record ReadRecord(std::string_view text, std::size_t& at) {
  Record record;
  std::string field;
  bool quoted = false;
  bool after_quote = false;
  while (at < text.size()) {
    const char c = text[at++];
    if (quoted) {
      if (c == '"' && at < text.size() && text[at] == '"') {
        field += '"';
        ++at;
      } else if (c == '"') {
        quoted = false;
        after_quote = true;
      } else if (c == '\r' || c == '\n') {
        record.verdict = CsvVerdict::NewlineInField;
        return record;
      } else {
        field += c;
      }
    } else if (c == ',') {
      record.fields.push_back(std::move(field));
      field.clear();
      after_quote = false;
    } else if (c == '\n' || (c == '\r' && at < text.size() && text[at] == '\n')) {
      at += c == '\r' ? 1 : 0;
      break;
    } else if (c == '"' && field.empty() && !after_quote) {
      quoted = true;
    } else if (c == '"' || after_quote) {
      record.verdict = CsvVerdict::BadQuoting;
      return record;
    } else {
      field += c;
    }
  }
  if (quoted) {
    record.verdict = CsvVerdict::BadQuoting;
  }
  record.fields.push_back(std::move(field));
  return record;
}

std::size_t ColumnOf(std::string_view name) {
  if (name == kAccountColumn) {
    return kAccountIndex;
  }
  for (std::size_t field = 0; field < kFieldCount; ++field) {
    const std::u16string_view value_name = kHandOffFields[field].value_name;
    if (std::equal(name.begin(), name.end(), value_name.begin(), value_name.end(),
                   [](char a, char16_t b) { return static_cast<char16_t>(a) == b; })) {
      return field;
    }
  }
  return kNoColumn;
}

std::optional<std::u16string> Utf16Of(std::string_view utf8) {
  const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(utf8.data()),
                                            utf8.size());
  std::u16string text(utf8.size(), u'\0');
  const std::optional<std::size_t> units = DecodeUtf8(bytes, text);
  if (!units) {
    return std::nullopt;
  }
  text.resize(*units);
  return text;
}

std::string AsciiLower(std::string text) {
  std::ranges::transform(text, text.begin(), [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  });
  return text;
}

UsersCsv Refused(CsvVerdict verdict, std::size_t line) {
  UsersCsv csv;
  csv.verdict = verdict;
  csv.line = line;
  return csv;
}

}  // namespace

UsersCsv ReadUsersCsv(std::string_view text) {
  if (text.starts_with(kUtf8Mark)) {
    text.remove_prefix(kUtf8Mark.size());
  }
  std::size_t at = 0;
  std::size_t line = 1;
  if (text.empty()) {
    return Refused(CsvVerdict::NoHeader, line);
  }
  const Record header = ReadRecord(text, at);
  if (header.verdict != CsvVerdict::Read) {
    return Refused(header.verdict, line);
  }
  std::vector<std::size_t> columns;
  std::array<bool, kFieldCount + 1> named{};
  for (const std::string& name : header.fields) {
    const std::size_t column = ColumnOf(name);
    if (column == kNoColumn) {
      return Refused(CsvVerdict::UnknownColumn, line);
    }
    if (named[column]) {
      return Refused(CsvVerdict::ColumnTwice, line);
    }
    named[column] = true;
    columns.push_back(column);
  }
  if (!std::ranges::all_of(named, [](bool n) { return n; })) {
    return Refused(CsvVerdict::MissingColumn, line);
  }
  UsersCsv csv;
  std::unordered_set<std::string> accounts;
  while (at < text.size()) {
    ++line;
    Record record = ReadRecord(text, at);
    if (record.verdict != CsvVerdict::Read) {
      return Refused(record.verdict, line);
    }
    // A blank line (a spreadsheet's last) is no row.
    if (record.fields.size() == 1 && record.fields[0].empty()) {
      continue;
    }
    if (record.fields.size() != columns.size()) {
      return Refused(CsvVerdict::WrongFieldCount, line);
    }
    UserRow row;
    row.line = line;
    for (std::size_t i = 0; i < columns.size(); ++i) {
      if (columns[i] == kAccountIndex) {
        row.account = std::move(record.fields[i]);
        continue;
      }
      std::optional<std::u16string> value = Utf16Of(record.fields[i]);
      if (!value) {
        return Refused(CsvVerdict::NotUtf8, line);
      }
      row.values[columns[i]] = std::move(*value);
    }
    if (row.account.empty()) {
      return Refused(CsvVerdict::EmptyAccount, line);
    }
    if (!accounts.insert(AsciiLower(row.account)).second) {
      return Refused(CsvVerdict::AccountTwice, line);
    }
    csv.rows.push_back(std::move(row));
  }
  csv.verdict = CsvVerdict::Read;
  return csv;
}

}  // namespace profile_import::publish
