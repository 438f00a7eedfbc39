#pragma once

#include <span>
#include <string>

namespace profile_import::publish {

enum class PublishCommand { Plan, Apply, Rollback, Help };

struct PublishArguments {
  PublishCommand command{};
  std::string users;   // USERS.csv; none for rollback
  std::string root;    // ROOT, the folder of every user's folder
  std::string only;    // --only ACCOUNTS.txt; empty: every account
  std::string report;  // --report REPORT.csv, apply's alone
};

// The command line after the program's name; false for a usage error.
bool ParsePublishArguments(std::span<const std::string> arguments, PublishArguments& parsed);

}  // namespace profile_import::publish
