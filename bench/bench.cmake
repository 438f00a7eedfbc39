# The benchmark and the programs it times beside the importer: the start-up
# limit, a PE whose entry only exits, the same with the importer's manifest,
# and an empty program linked the usual way, with the C runtime. All go into
# the test kit, so that the same program measures start-up under Wine and on
# Windows.
entry_symbol(minimal_entry MinimalEntry)
# The same limit carrying the importer's own manifest, the very file embedded
# in the importer: what Windows spends on the manifest alone at each start.
set(manifest_only_rc ${CMAKE_CURRENT_BINARY_DIR}/generated/bench/manifest_only.rc)
file(CONFIGURE OUTPUT ${manifest_only_rc} CONTENT "1 24 \"@MANIFEST_FILE@\"\n" @ONLY)
set_source_files_properties(${manifest_only_rc} PROPERTIES OBJECT_DEPENDS ${MANIFEST_FILE})
add_executable(bench-minimal-pe WIN32 bench/minimal_pe.cpp)
add_executable(bench-manifest-pe WIN32 bench/minimal_pe.cpp ${manifest_only_rc})
foreach(floor IN ITEMS bench-minimal-pe bench-manifest-pe)
  target_link_options(${floor} PRIVATE -nostdlib -nostartfiles -Wl,--entry=${minimal_entry}
    -s -Wl,--gc-sections)
  target_link_libraries(${floor} PRIVATE product_options ${KERNEL32_IMPORTS})
  add_dependencies(${floor} kernel32_imports)
endforeach()
if(NO_CXX_RUNTIME)
  return()
endif()

add_executable(bench-empty-gui WIN32 bench/empty_gui.cpp)
target_compile_definitions(bench-empty-gui PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN)
target_link_options(bench-empty-gui PRIVATE -municode -static -s -Wl,--gc-sections)
target_link_libraries(bench-empty-gui PRIVATE product_options)

# The benchmark carries the hand-off file and the batch file it starts, so it
# needs nothing beside the programs it times.
set(bench_inputs ${CMAKE_CURRENT_BINARY_DIR}/generated/bench/bench_inputs.h)
set(bench_header "#pragma once\n#include <string_view>\n")
foreach(input IN ITEMS "kSampleHandOff;examples/sysfile.cfg" "kImportBatch;bench/import.bat")
  list(GET input 0 name)
  list(GET input 1 file)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
  file(READ ${file} hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\\\x\\1" escaped "${hex}")
  string(APPEND bench_header
    "inline constexpr std::string_view ${name}{\"${escaped}\", ${size}};  // ${file}\n")
endforeach()
file(CONFIGURE OUTPUT ${bench_inputs} CONTENT "${bench_header}" @ONLY)

add_executable(bench-startup bench/startup_bench.cpp bench/bench_text.cpp bench/json_text.cpp
  bench/lineup.cpp bench/local_copies.cpp bench/machine_json.cpp bench/options.cpp
  bench/report.cpp bench/timed_runs.cpp platform/windows_port.cpp)
target_include_directories(bench-startup PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/generated)
target_link_options(bench-startup PRIVATE -municode -static -s)
target_link_libraries(bench-startup PRIVATE winlib profile_core project_warnings ntdll)
