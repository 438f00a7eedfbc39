# Windows-side tests, run by CTest through Wine (the cross-compiling emulator)
# in the prefix the wine fixture brings up; the end-to-end cases share the
# profile key and a working directory, so they run one at a time.

add_executable(e2e_tests
  e2e/check_agreement_e2e_test.cpp
  e2e/e2e_main.cpp
  e2e/e2e_support.cpp
  e2e/import_e2e_test.cpp
  e2e/robustness_e2e_test.cpp
  e2e/sync_e2e_test.cpp
  e2e/winlib_test.cpp
  support/hand_off_files.cpp)
target_compile_definitions(e2e_tests PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN)
target_include_directories(e2e_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(e2e_tests PRIVATE check_report windows_port profile_core winlib project_warnings
  GTest::gtest advapi32 ntdll)
target_link_options(e2e_tests PRIVATE -municode -static)
add_dependencies(e2e_tests profile-import profile-check profile-sync)

# The end-to-end suite runs only where the key is backed up or throwaway, as
# in this build's own Wine prefix.
file(STRINGS ${PROJECT_SOURCE_DIR}/winlib/key_guard_variable.h guard_line REGEX "kKeyGuardVariable")
string(REGEX REPLACE ".*L\"([A-Z_]+)\".*" "\\1" guard_variable "${guard_line}")
set(key_guard ${guard_variable}=ctest)

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # The 32-bit suites run whole, one Wine start each: the x64 build already
  # runs every case on its own, and the test kit runs these again.
  add_test(NAME x86.unit_tests COMMAND unit_tests)
  add_test(NAME x86.e2e_tests COMMAND e2e_tests)
  set_tests_properties(x86.unit_tests PROPERTIES
    FIXTURES_REQUIRED wine LABELS "${WINE_LOADER_LABELS}")
  set_tests_properties(x86.e2e_tests PROPERTIES ENVIRONMENT ${key_guard}
    FIXTURES_REQUIRED wine RESOURCE_LOCK profile_key_and_workdir LABELS "${WINE_LOADER_LABELS}")
  return()
endif()

# Listing the tests happens before any test runs: it starts Wine cold, and
# may create the prefix, which takes far longer than the default 5 s.
# profile-sync's tables run whole, one Wine start each: every row is a
# second or so of Wine start-up for a few milliseconds of test, and a failing
# row is named in the output all the same.
set(sync_unit_rows "Rows/RunSyncTest.*")
set(sync_checker_rows "Files/CheckerAgreesWithImporter.SyncStoresWhatTheCheckerShows/*")
gtest_discover_tests(unit_tests
  DISCOVERY_MODE PRE_TEST
  NO_PRETTY_VALUES
  DISCOVERY_TIMEOUT 300
  TEST_PREFIX "windows."
  TEST_FILTER "-${sync_unit_rows}"
  PROPERTIES FIXTURES_REQUIRED wine)
gtest_discover_tests(e2e_tests
  DISCOVERY_MODE PRE_TEST
  NO_PRETTY_VALUES
  DISCOVERY_TIMEOUT 300
  TEST_PREFIX "e2e."
  TEST_FILTER "-${sync_checker_rows}"
  PROPERTIES ENVIRONMENT ${key_guard} FIXTURES_REQUIRED wine RESOURCE_LOCK profile_key_and_workdir)
add_test(NAME windows.sync_rows COMMAND unit_tests --gtest_filter=${sync_unit_rows})
set_tests_properties(windows.sync_rows PROPERTIES FIXTURES_REQUIRED wine)
add_test(NAME e2e.sync_stores_what_the_checker_shows
  COMMAND e2e_tests --gtest_filter=${sync_checker_rows})
set_tests_properties(e2e.sync_stores_what_the_checker_shows PROPERTIES ENVIRONMENT ${key_guard}
  FIXTURES_REQUIRED wine RESOURCE_LOCK profile_key_and_workdir)

# On a machine of another ANSI code page the checker and the importer still
# agree: Wine gives a process the code page of its Unix locale (ru_RU: 1251).
add_test(NAME e2e.checker_agrees_in_code_page_1251
  COMMAND e2e_tests
    --gtest_filter=Files/CheckerAgreesWithImporter.SameExitCodeAndSameTexts/sample_cp1251)
set_tests_properties(e2e.checker_agrees_in_code_page_1251 PROPERTIES
  ENVIRONMENT "LC_ALL=ru_RU.UTF-8;${key_guard}"
  PASS_REGULAR_EXPRESSION "\\[  PASSED  \\] 1 test\\."
  FIXTURES_REQUIRED wine RESOURCE_LOCK profile_key_and_workdir)
