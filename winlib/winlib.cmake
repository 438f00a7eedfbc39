# winlib: the Windows helpers the tools share (not the importer, which keeps
# its own port and owners for size): handle owners, process start, paths,
# whole files and error texts, all reporting a winlib::Status. One static
# library per architecture's build; every header says what it offers.
add_library(winlib STATIC winlib/error_text.cpp winlib/files.cpp winlib/machine_policy.cpp
  winlib/paths.cpp winlib/process.cpp)
target_include_directories(winlib PUBLIC ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_ENV_DIR})
target_compile_definitions(winlib PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN)
target_link_libraries(winlib PUBLIC advapi32 PRIVATE product_options)
