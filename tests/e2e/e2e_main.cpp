// The end-to-end suite deletes HKCU\Software\Tessavo in every test, so it
// runs only when something that backs the key up started it: the kit's
// runner, or CTest in a throwaway Wine prefix. Listing the tests touches
// nothing. A wide main, so arguments outside the ANSI code page survive.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>

#include "winlib/key_guard_variable.h"
#include "winlib/process.h"

int wmain(int argc, wchar_t** argv) {
  if (!winlib::SearchSystem32Only()) {
    static_cast<void>(std::fputs("e2e_tests: cannot keep DLLs to System32\n", stderr));
    return 2;
  }
  testing::InitGoogleTest(&argc, argv);
  if (!GTEST_FLAG_GET(list_tests) && !winlib::KeyGuarded()) {
    static_cast<void>(std::fputs(
        "e2e_tests: refusing to run: every test deletes HKCU\\Software\\Tessavo; run "
        "run-tests.cmd instead, which backs the key up first and puts it back afterwards\n",
        stderr));
    return 2;
  }
  return RUN_ALL_TESTS();
}
