#pragma once

#include <string>
#include <string_view>

namespace profile_import::check {

// UTF-16 as UTF-8, by EncodeUtf8: a lone surrogate becomes U+FFFD.
std::string Utf8(std::u16string_view text);

// A field's text for a terminal: UTF-8, with quotes, backslashes and control
// characters escaped (\r, \t, \x01, \u0085), so nothing in it can hide.
std::string EscapeForDisplay(std::u16string_view text);

// The same text as the body of a JSON string.
std::string EscapeForJson(std::u16string_view text);

}  // namespace profile_import::check
