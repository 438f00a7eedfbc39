// The kit's reader of gtest's JUnit XML, where a search of the text would
// miscount: what a failure message quotes is not a suite.
#include <array>

#include <gtest/gtest.h>

#include "kit/junit_counts.h"

namespace {

struct Row {
  const char* what;
  const char* xml;
  bool complete;
  long passed;
  long failed;
  long skipped;
};

TEST(KitJunitCounts, CountsOnlyTheSuitesMarkup) {
  const std::array<Row, 4> rows = {{
      {"gtest's shape", R"(<?xml version="1.0" encoding="UTF-8"?>
<testsuites tests="5" failures="1" disabled="1" errors="0" name="AllTests">
  <testsuite name="A" tests="3" failures="1" disabled="0" skipped="1" errors="0">
  </testsuite>
  <testsuite name="B" tests="2" failures="0" disabled="1" skipped="0" errors="0"/>
</testsuites>)",
       true, 2, 1, 2},
      {"a suite quoted in a failure and a comment", R"(<testsuites tests="1">
  <testsuite name="A" tests="1" failures="1" errors="0">
    <testcase name="t"><failure><![CDATA[<testsuite tests="9" failures="9">]]></failure></testcase>
  </testsuite>
  <!-- <testsuite tests="7"> -->
</testsuites>)",
       true, 0, 1, 0},
      {"single quotes, a > in a value",
       R"(<testsuites><testsuite name='a>b' tests='2' failures='1'/>
</testsuites>)",
       true, 1, 1, 0},
      {"cut short before its end", R"(<testsuite name="A" tests="1" failures="0")", false, 1, 0, 0},
  }};
  for (const Row& row : rows) {
    const kit::Report report = kit::ReadReport(row.xml);
    EXPECT_EQ(report.complete, row.complete) << row.what;
    EXPECT_EQ(report.counts.passed, row.passed) << row.what;
    EXPECT_EQ(report.counts.failed, row.failed) << row.what;
    EXPECT_EQ(report.counts.skipped, row.skipped) << row.what;
  }
}

}  // namespace
