#include "app/run_import.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_port.h"

namespace profile_import {
namespace {

using testing::FailingCall;
using testing::FakePort;

const std::string kValidFile = "Acme\r\nsrv\\\r\nmain\r\nskip\r\n\r\njdoe\r\n";
const std::vector<std::u16string> kAllFour = {u"RegCorp", u"RegDataBase", u"RegAdmin", u"RegUser"};

struct RunCase {
  std::string name;
  FailingCall failing;
  ImportStatus status;
  std::vector<std::u16string> written;
  bool file_deleted;
  bool file_present = true;
  std::string file_text = kValidFile;
  bool key_exists = true;
};

std::vector<RunCase> Cases() {
  const auto first = [](std::size_t n) {
    return std::vector<std::u16string>(kAllFour.begin(), kAllFour.begin() + static_cast<long>(n));
  };
  return {
      {"Imports", FailingCall::None, ImportStatus::ImportOk, kAllFour, true},
      {"CreatesMissingKey", FailingCall::None, ImportStatus::ImportOk, kAllFour, true, true,
       kValidFile, false},
      {"NoFile", FailingCall::None, ImportStatus::NoProfileFile, {}, false, false},
      {"OpenFails", FailingCall::CreateFile, ImportStatus::NoProfileFile, {}, false},
      {"ReadFails", FailingCall::ReadFile, ImportStatus::ReadFailed, {}, false},
      {"TextRejected",
       FailingCall::None,
       ImportStatus::ProfileRejected,
       {},
       false,
       true,
       "only\nfour\nline\nends\n"},
      {"KeyOpenFailsCreateOpens", FailingCall::RegOpenKey, ImportStatus::ImportOk, kAllFour, true},
      {"KeyMissingAndCreateFails",
       FailingCall::RegCreateKey,
       ImportStatus::KeyUnavailable,
       {},
       false,
       true,
       kValidFile,
       false},
      {"FirstWriteFails", FailingCall::FirstWrite, ImportStatus::WriteFailed, first(0), false},
      {"SecondWriteFails", FailingCall::SecondWrite, ImportStatus::WriteFailed, first(1), false},
      {"ThirdWriteFails", FailingCall::ThirdWrite, ImportStatus::WriteFailed, first(2), false},
      {"FourthWriteFails", FailingCall::FourthWrite, ImportStatus::WriteFailed, first(3), false},
      {"DeleteFailsStillOk", FailingCall::DeleteFile, ImportStatus::ImportOk, kAllFour, false},
  };
}

void PrintTo(const RunCase& c, std::ostream* out) {
  *out << c.name;
}

class RunImportTest : public ::testing::TestWithParam<RunCase> {};

TEST_P(RunImportTest, OutcomeWritesDeletionAndHandles) {
  const RunCase& c = GetParam();
  FakePort port;
  if (c.file_present) {
    port.file = c.file_text;
  }
  port.key_exists = c.key_exists;
  port.failing = c.failing;

  EXPECT_EQ(RunImport(port), c.status);
  EXPECT_EQ(port.written, c.written);
  EXPECT_EQ(port.file_deleted, c.file_deleted);
  EXPECT_EQ(port.OpenHandles(), 0U) << "a handle was leaked";
  EXPECT_EQ(port.bad_closes, 0) << "a handle was closed twice or never obtained";
  EXPECT_FALSE(port.registry_touched_with_file_open);
  const bool profile_taken_in = c.status == ImportStatus::ImportOk ||
                                c.status == ImportStatus::KeyUnavailable ||
                                c.status == ImportStatus::WriteFailed;
  EXPECT_EQ(port.registry_touched, profile_taken_in);
}

INSTANTIATE_TEST_SUITE_P(Rows, RunImportTest, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return info.param.name; });

TEST(RunImportValues, StoredAsNulTerminatedStringsBesideOtherValues) {
  FakePort port;
  port.file = kValidFile;
  port.key_exists = true;
  port.values[u"RegAdmin"] = {platform::kRegSz, std::vector<std::byte>(8, std::byte{0x41})};
  port.values[u"Other"] = {4, {std::byte{7}, std::byte{0}, std::byte{0}, std::byte{0}}};

  ASSERT_EQ(RunImport(port), ImportStatus::ImportOk);

  const std::vector<std::pair<std::u16string, std::u16string>> expected = {
      {u"RegCorp", std::u16string(u"Acme", 5)},
      {u"RegDataBase", std::u16string(u"srv\\main", 9)},
      {u"RegAdmin", std::u16string(1, u'\0')},  // an empty field is two bytes, not zero
      {u"RegUser", std::u16string(u"jdoe", 5)},
  };
  for (const auto& [name, units] : expected) {
    const testing::StoredValue& value = port.values.at(name);
    EXPECT_EQ(value.type, platform::kRegSz) << std::string(name.begin(), name.end());
    EXPECT_EQ(value.data.size(), units.size() * 2) << std::string(name.begin(), name.end());
    EXPECT_EQ(value.Units(), units) << std::string(name.begin(), name.end());
  }
  EXPECT_EQ(port.values.at(u"Other").type, 4U);
  EXPECT_EQ(port.values.size(), 5U);
}

}  // namespace
}  // namespace profile_import
