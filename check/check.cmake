# The hand-off file checker, for whoever prepares the file: a console program
# on both platforms, built on the same reader as the importer.
add_library(check_report STATIC check/code_page.cpp check/escaping.cpp check/findings.cpp
  check/help_text.cpp check/json_report.cpp check/text_report.cpp)
target_link_libraries(check_report PUBLIC profile_core PRIVATE project_warnings)
# GCC 12 at -O2 reports overlaps inside std::string's operator+ that cannot
# happen (a known false positive of -Wrestrict).
target_compile_options(check_report PRIVATE $<$<CXX_COMPILER_ID:GNU>:-Wno-restrict>)
add_executable(profile-check check/check_main.cpp)
target_link_libraries(profile-check PRIVATE check_report project_warnings)
if(WIN32)
  # It opens the file, and tells the account, through the importer's own calls.
  target_compile_definitions(profile-check PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN)
  target_link_options(profile-check PRIVATE -municode -static -s)
  target_link_libraries(profile-check PRIVATE windows_port winlib ntdll)
endif()
