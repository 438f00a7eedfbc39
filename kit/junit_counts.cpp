#include "kit/junit_counts.h"

#include <cstdlib>

namespace kit {

namespace {

// The reader knows as much XML as a gtest report needs: start tags and their
// attributes, in double or single quotes; comments, CDATA sections (where a
// failure message goes, which may hold any text, "<testsuite " included),
// processing instructions and the declaration are skipped whole. Entities
// are not decoded: only the count attributes are read, and they are digits.
class Markup {
 public:
  explicit Markup(std::string_view xml) : xml_(xml) {}

  // The next start tag's name and its text up to its '>'; false at the end.
  bool NextStartTag(std::string_view& name, std::string_view& tag) {
    for (std::size_t at = xml_.find('<', at_); at != std::string_view::npos;
         at = xml_.find('<', at_)) {
      const std::string_view rest = xml_.substr(at);
      if (Skip(rest, "<!--", "-->", at) || Skip(rest, "<![CDATA[", "]]>", at) ||
          Skip(rest, "<?", "?>", at) || Skip(rest, "<!", ">", at) || Skip(rest, "</", ">", at)) {
        continue;
      }
      const std::size_t end = TagEnd(at);
      const std::size_t name_end = xml_.find_first_of(" \t\r\n/>", at + 1);
      name = xml_.substr(at + 1, name_end - at - 1);
      tag = xml_.substr(at, end - at);
      at_ = end;
      return true;
    }
    return false;
  }

 private:
  bool Skip(std::string_view rest, std::string_view open, std::string_view close, std::size_t at) {
    if (!rest.starts_with(open)) {
      return false;
    }
    const std::size_t end = xml_.find(close, at + open.size());
    at_ = end == std::string_view::npos ? xml_.size() : end + close.size();
    return true;
  }

  // Past the tag's '>', which may also stand unescaped inside a quoted value.
  std::size_t TagEnd(std::size_t at) const {
    char quote = '\0';
    for (std::size_t i = at + 1; i < xml_.size(); ++i) {
      const char c = xml_[i];
      if (quote != '\0') {
        quote = c == quote ? '\0' : quote;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '>') {
        return i + 1;
      }
    }
    return xml_.size();
  }

  std::string_view xml_;
  std::size_t at_ = 0;
};

// An attribute's value as a number; 0 when the tag lacks it.
long Attribute(std::string_view tag, std::string_view name) {
  for (std::size_t at = tag.find(name); at != std::string_view::npos; at = tag.find(name, at + 1)) {
    const std::string_view after = tag.substr(at + name.size());
    const bool whole = at > 0 && (tag[at - 1] == ' ' || tag[at - 1] == '\t' ||
                                  tag[at - 1] == '\r' || tag[at - 1] == '\n');
    if (whole && after.size() > 2 && after[0] == '=' && (after[1] == '"' || after[1] == '\'')) {
      return std::strtol(std::string(after.substr(2, after.find(after[1], 2) - 2)).c_str(), nullptr,
                         10);
    }
  }
  return 0;
}

void Replace(std::string& text, std::string_view from, std::string_view to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

}  // namespace

Report ReadReport(std::string_view xml) {
  Report report;
  Markup markup(xml);
  std::string_view name;
  std::string_view tag;
  while (markup.NextStartTag(name, tag)) {
    if (name == "testsuites") {
      report.complete = true;
    } else if (name == "testsuite") {
      const long failed = Attribute(tag, "failures") + Attribute(tag, "errors");
      const long skipped = Attribute(tag, "skipped") + Attribute(tag, "disabled");
      report.counts.failed += failed;
      report.counts.skipped += skipped;
      report.counts.passed += Attribute(tag, "tests") - failed - skipped;
    }
  }
  return report;
}

void NameApart(std::string& xml, std::string_view suite) {
  const std::string prefix = std::string(suite) + ".";
  Replace(xml, "name=\"AllTests\"", "name=\"" + std::string(suite) + "\"");
  Replace(xml, "<testsuite name=\"", "<testsuite name=\"" + prefix);
  Replace(xml, " classname=\"", " classname=\"" + prefix);
}

}  // namespace kit
