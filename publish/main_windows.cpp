// profile-publish.exe: the administrator's console program that writes every
// user's master copy. All it does is in the portable run; this hands it the
// command line and the Windows calls.
#include <windows.h>

#include <string>
#include <vector>

#include "platform/windows_publish_port.h"
#include "publish/run_publish.h"
#include "winlib/process.h"

int wmain(int argc, wchar_t** argv) {
  // Its static imports are KnownDLLs, loaded from System32 before this line;
  // this keeps the ones the account and security calls load later there too.
  // It fails only where Windows has neither call, which still takes the
  // current folder out of the search.
  static_cast<void>(winlib::SearchSystem32Only());
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    args.push_back(
        profile_import::platform::Utf8FromWide(argv[i]));  // NOLINT(*-pointer-arithmetic)
  }
  profile_import::platform::WindowsPublishPort port;
  return profile_import::publish::RunPublish(port, args);
}
