#pragma once
// What a suite's JUnit XML (as gtest writes it) says ran, read by a minimal
// reader of XML's markup rather than by searching its text.
#include <string>
#include <string_view>

namespace kit {

struct Counts {
  long passed = 0;
  long failed = 0;
  long skipped = 0;
  long incomplete = 0;
};

struct Report {
  bool complete = false;  // it has its <testsuites> element
  Counts counts;          // passed, failed, skipped; incomplete stays 0
};

Report ReadReport(std::string_view xml);
// The suite's name before every test suite and class in the XML: two runs of
// one suite (against two importers) stay apart in a viewer.
void NameApart(std::string& xml, std::string_view suite);

}  // namespace kit
