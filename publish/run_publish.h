#pragma once

#include <span>
#include <string>

#include "platform/publish_port.h"

namespace profile_import::publish {

// One run of profile-publish: `arguments` are the command line's, after the
// program's name, in UTF-8. Gives the exit code.
int RunPublish(platform::PublishPort& port, std::span<const std::string> arguments);

}  // namespace profile_import::publish
