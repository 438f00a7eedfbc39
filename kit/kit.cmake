# The test kit's runner: the suites and the benchmark, with the profile key
# backed up around them. Shipped in the kit for x64 and x86.
add_executable(kit-runner
  kit/kit_runner.cpp
  kit/junit_counts.cpp
  kit/folder_access.cpp
  kit/key_guard.cpp
  kit/kit_folder.cpp
  kit/kit_text.cpp
  kit/registry_tree.cpp
  kit/run_arguments.cpp
  kit/run_control.cpp
  kit/user_lock.cpp
  kit/work_folders.cpp)
target_compile_definitions(kit-runner PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN)
target_link_options(kit-runner PRIVATE -municode -static -s)
target_link_libraries(kit-runner PRIVATE winlib profile_core project_warnings advapi32 shell32)

# The importer's manifest, which keeps a 32-bit runner out of UAC's file
# virtualization (its results would go elsewhere), with long paths allowed:
# a kit may be unpacked deep in a user's folders.
function(add_kit_runner_resources)
  file(READ ${MANIFEST_FILE} manifest)
  string(REPLACE "name=\"profile-import\"" "name=\"kit-runner\"" manifest "${manifest}")
  string(REPLACE "</assembly>" [[
  <application xmlns="urn:schemas-microsoft-com:asm.v3">
    <windowsSettings>
      <longPathAware xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">true</longPathAware>
    </windowsSettings>
  </application>
</assembly>]] manifest "${manifest}")
  set(MANIFEST_FILE ${CMAKE_CURRENT_BINARY_DIR}/kit-runner.manifest)
  file(CONFIGURE OUTPUT ${MANIFEST_FILE} CONTENT "${manifest}")
  set(PROGRAM_NAME kit-runner)
  set(PRODUCT_DESCRIPTION "Runs the profile-import test kit with the profile key backed up")
  set(MESSAGE_TABLE "")
  configure_file(app/resources/profile-import.rc.in ${CMAKE_CURRENT_BINARY_DIR}/kit-runner.rc @ONLY)
  set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/kit-runner.rc PROPERTIES
    OBJECT_DEPENDS ${MANIFEST_FILE})
  target_sources(kit-runner PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/kit-runner.rc)
endfunction()
add_kit_runner_resources()

# The two commands administrators type, one template: each finds the runner
# and hands it its verb and their arguments.
function(add_kit_launcher COMMAND VERB USAGE)
  configure_file(kit/launcher.cmd.in ${CMAKE_CURRENT_BINARY_DIR}/${COMMAND}.cmd @ONLY
    NEWLINE_STYLE CRLF)
endfunction()
add_kit_launcher(run-tests tests
  "run-tests.cmd [--gtest_filter=...] ...   options passed on to every suite")
add_kit_launcher(run-bench bench
  "run-bench.cmd [ROUNDS] [--seed N]    200 rounds by default, about a minute")
