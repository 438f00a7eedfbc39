#include "publish/command_line.h"

#include <algorithm>
#include <string_view>
#include <vector>

namespace profile_import::publish {

bool ParsePublishArguments(std::span<const std::string> arguments, PublishArguments& parsed) {
  if (arguments.empty()) {
    return false;
  }
  const std::string_view command = arguments[0];
  if (command == "--help" || command == "/?") {
    parsed.command = PublishCommand::Help;
    return arguments.size() == 1;
  }
  if (command == "plan") {
    parsed.command = PublishCommand::Plan;
  } else if (command == "apply") {
    parsed.command = PublishCommand::Apply;
  } else if (command == "rollback") {
    parsed.command = PublishCommand::Rollback;
  } else {
    return false;
  }
  std::vector<std::string> positional;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string_view argument = arguments[i];
    std::string* option = nullptr;
    if (argument == "--only") {
      option = &parsed.only;
    } else if (argument == "--report" && parsed.command == PublishCommand::Apply) {
      option = &parsed.report;
    } else if (argument.starts_with("--")) {
      return false;
    } else {
      positional.push_back(arguments[i]);
      continue;
    }
    if (i + 1 == arguments.size() || arguments[i + 1].empty() || !option->empty()) {
      return false;
    }
    *option = arguments[++i];
  }
  const std::size_t wanted = parsed.command == PublishCommand::Rollback ? 1 : 2;
  if (positional.size() != wanted ||
      std::ranges::any_of(positional, [](const std::string& p) { return p.empty(); })) {
    return false;
  }
  if (wanted == 2) {
    parsed.users = positional[0];
  }
  parsed.root = positional.back();
  return true;
}

}  // namespace profile_import::publish
