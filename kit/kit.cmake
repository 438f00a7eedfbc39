# The test kit's runner: the suites and the benchmark, with the profile key
# backed up around them. Shipped in the kit for x64 and x86.
add_executable(kit-runner kit/kit_runner.cpp kit/key_guard.cpp)
target_compile_definitions(kit-runner PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN)
target_link_options(kit-runner PRIVATE -municode -static -s)
target_link_libraries(kit-runner PRIVATE project_warnings advapi32 shell32)
