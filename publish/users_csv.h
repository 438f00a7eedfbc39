#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "publish/master_text.h"

namespace profile_import::publish {

// The account column's name; the others are the values' own names.
inline constexpr std::string_view kAccountColumn = "account";

enum class CsvVerdict {
  Read,
  NoHeader,
  UnknownColumn,
  ColumnTwice,
  MissingColumn,
  WrongFieldCount,  // a row with more or fewer fields than the header
  BadQuoting,      // a quote inside an unquoted field, text after a closing quote, no closing quote
  NewlineInField,  // a quoted CR or LF: no value can hold one
  NotUtf8,
  AccountTwice,
  EmptyAccount,
};

struct UserRow {
  std::size_t line{};  // 1-based, in the file
  std::string account;
  MasterValues values;
};

struct UsersCsv {
  CsvVerdict verdict{};
  std::size_t line{};  // where a refusal is
  std::vector<UserRow> rows;
};

// Reads a users file: UTF-8 with or without its mark, RFC 4180 fields, a
// header naming the account column and every value's column in any order.
// An account is the same as another when they differ only in ASCII case.
UsersCsv ReadUsersCsv(std::string_view text);

}  // namespace profile_import::publish
