# Windows-side tests, run by CTest through Wine (the cross-compiling emulator)
# in the prefix the wine fixture brings up; the end-to-end cases share the
# profile key and a working directory, so they run one at a time.

add_executable(e2e_tests
  e2e/check_agreement_e2e_test.cpp
  e2e/e2e_main.cpp
  e2e/e2e_support.cpp
  e2e/import_e2e_test.cpp
  e2e/publish_e2e_test.cpp
  e2e/robustness_e2e_test.cpp
  e2e/sync_e2e_test.cpp
  e2e/winlib_test.cpp
  support/hand_off_files.cpp)
target_compile_definitions(e2e_tests PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN)
target_include_directories(e2e_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(e2e_tests PRIVATE check_report publish_core windows_port profile_core winlib project_warnings
  GTest::gtest advapi32 ntdll)
target_link_options(e2e_tests PRIVATE -municode -static)
add_dependencies(e2e_tests profile-import profile-check profile-sync profile-publish)

# The end-to-end suite runs only where the key is backed up or throwaway, as
# in this build's own Wine prefix, where it may set the machine's policy too.
set(key_guard ${key_guard_variable}=ctest ${machine_policy_variable}=1)

# Each suite runs whole, in one Wine start: a start costs Wine far more than
# most cases take, and the test kit runs them so on Windows. To run part of a
# suite, pass --gtest_filter to it.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(suite_prefix x86)
else()
  set(suite_prefix windows)
endif()
add_test(NAME ${suite_prefix}.unit_tests COMMAND unit_tests)
add_test(NAME ${suite_prefix}.e2e_tests COMMAND e2e_tests)
set_tests_properties(${suite_prefix}.unit_tests PROPERTIES
  FIXTURES_REQUIRED wine LABELS "${WINE_LOADER_LABELS}")
set_tests_properties(${suite_prefix}.e2e_tests PROPERTIES ENVIRONMENT "${key_guard}"
  FIXTURES_REQUIRED wine RESOURCE_LOCK profile_key_and_workdir LABELS "${WINE_LOADER_LABELS}")
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  return()
endif()

# On a machine of another ANSI code page the checker and the importer still
# agree: Wine gives a process the code page of its Unix locale (ru_RU: 1251).
add_test(NAME e2e.checker_agrees_in_code_page_1251
  COMMAND e2e_tests
    --gtest_filter=Files/CheckerAgreesWithImporter.SameExitCodeAndSameTexts/sample_cp1251)
set_tests_properties(e2e.checker_agrees_in_code_page_1251 PROPERTIES
  ENVIRONMENT "LC_ALL=ru_RU.UTF-8;${key_guard}"
  PASS_REGULAR_EXPRESSION "\\[  PASSED  \\] 1 test\\."
  FIXTURES_REQUIRED wine RESOURCE_LOCK profile_key_and_workdir)
