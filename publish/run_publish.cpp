#include "publish/run_publish.h"

namespace profile_import::publish {

int RunPublish(platform::PublishPort& port, std::span<const std::string> arguments) {
  port.Print("usage");
  return arguments.empty() ? 64 : 64;
}

}  // namespace profile_import::publish
