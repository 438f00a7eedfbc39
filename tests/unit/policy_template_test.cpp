// The Group Policy templates shipped in deploy/policy, held to the program: a
// setting that writes a key or value profile-sync never reads does nothing, and
// a reference the editor cannot resolve keeps the whole file from loading.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "policy_templates.h"
#include "sync/command_line.h"
#include "sync/policy.h"

namespace profile_import::sync::templates {
namespace {

// Every text between `open` and the next `close`, in order.
std::vector<std::string> Between(std::string_view xml, std::string_view open,
                                 std::string_view close) {
  std::vector<std::string> found;
  for (std::size_t at = xml.find(open); at != std::string_view::npos; at = xml.find(open, at)) {
    at += open.size();
    found.emplace_back(xml.substr(at, xml.find(close, at) - at));
  }
  return found;
}

std::set<std::string> Set(const std::vector<std::string>& texts) {
  return {texts.begin(), texts.end()};
}

std::string Ascii(std::u16string_view text) {
  return {text.begin(), text.end()};
}

TEST(AdmxTemplates, EveryReferenceResolves) {
  const std::vector<std::string> strings = Between(kAdmlText, "<string id=\"", "\"");
  const std::vector<std::string> presentations = Between(kAdmlText, "<presentation id=\"", "\"");
  EXPECT_EQ(Set(strings).size(), strings.size()) << "a string defined twice";
  EXPECT_EQ(Set(presentations).size(), presentations.size()) << "a presentation defined twice";
  struct Row {
    const char* what;
    std::vector<std::string> references;
    std::set<std::string> defined;
  };
  const std::array<Row, 4> rows = {{
      {"ADMX $(string.)", Between(kAdmxText, "$(string.", ")"), Set(strings)},
      {"ADMX $(presentation.)", Between(kAdmxText, "$(presentation.", ")"), Set(presentations)},
      {"ADML refId", Between(kAdmlText, " refId=\"", "\""),
       Set(Between(kAdmxText, " id=\"", "\""))},
      // An element without its control cannot be set in the editor.
      {"ADMX element id", Between(kAdmxText, " id=\"", "\""),
       Set(Between(kAdmlText, " refId=\"", "\""))},
  }};
  for (const Row& row : rows) {
    EXPECT_FALSE(row.references.empty()) << row.what;
    for (const std::string& reference : row.references) {
      EXPECT_TRUE(row.defined.contains(reference)) << row.what << " " << reference;
    }
  }
}

TEST(AdmxTemplates, SetOnlyWhatTheProgramReads) {
  // The program reads the machine's key alone: a User policy would land in HKCU.
  for (const std::string& policy_class : Between(kAdmxText, " class=\"", "\"")) {
    EXPECT_EQ(policy_class, "Machine");
  }
  const std::vector<std::string> keys = Between(kAdmxText, " key=\"", "\"");
  EXPECT_FALSE(keys.empty());
  for (const std::string& key : keys) {
    EXPECT_EQ(key, Ascii(kPolicyKeyPath));
  }
  std::set<std::string> read;
  for (const char16_t* name : kPolicyValueNames) {
    read.insert(Ascii(name));
  }
  EXPECT_EQ(Set(Between(kAdmxText, " valueName=\"", "\"")), read);
}

TEST(AdmxTemplates, NumbersAreTheProgramsOwn) {
  struct Row {
    const char* what;
    std::string_view xml;
    const char* at;    // the first `open` after this
    const char* open;  // up to the next quote
    std::string number;
  };
  const std::array<Row, 6> rows = {{
      {"Mode Off", kAdmxText, "$(string.Mode_Off)", "<decimal value=\"", std::to_string(kModeOff)},
      {"Mode Check only", kAdmxText, "$(string.Mode_CheckOnly)", "<decimal value=\"",
       std::to_string(kModeCheck)},
      // As is any number but those two.
      {"Mode Normal", kAdmxText, "$(string.Mode_Normal)", "<decimal value=\"", "2"},
      {"StaleDays least", kAdmxText, "<decimal id=\"StaleDays\"", " minValue=\"", "1"},
      {"StaleDays most", kAdmxText, "<decimal id=\"StaleDays\"", " maxValue=\"",
       std::to_string(kMaxStaleDays)},
      {"StaleDays shown", kAdmlText, " refId=\"StaleDays\"", " defaultValue=\"",
       std::to_string(kDefaultStaleDays)},
  }};
  for (const Row& row : rows) {
    const std::vector<std::string> found =
        Between(row.xml.substr(std::min(row.xml.find(row.at), row.xml.size())), row.open, "\"");
    EXPECT_EQ(found.empty() ? "" : found.front(), row.number) << row.what;
  }
}

}  // namespace
}  // namespace profile_import::sync::templates
