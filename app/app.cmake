# profile-import.exe: the importer. Its run is portable, so the unit tests
# run it on the fake port too.
add_library(import_run STATIC app/run_import.cpp)
target_link_libraries(import_run PUBLIC profile_core PRIVATE product_options)
if(NOT WIN32)
  return()
endif()

set(PRODUCT_DESCRIPTION "Imports the site profile from sysfile.cfg into the current user's registry")
set(MANIFEST_FILE ${CMAKE_CURRENT_BINARY_DIR}/profile-import.manifest)
# The manifest names the architecture of the build that carries it.
set(manifest_architectures "x86_64;amd64" "x86;x86" "ARM64;arm64")
list(FIND manifest_architectures "${CMAKE_SYSTEM_PROCESSOR}" at)
math(EXPR at "${at} + 1")
list(GET manifest_architectures ${at} MANIFEST_ARCHITECTURE)
# The template's comments are for its readers; the embedded copy goes without.
set(MANIFEST_TEMPLATE ${CMAKE_CURRENT_SOURCE_DIR}/app/resources/profile-import.manifest.in)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${MANIFEST_TEMPLATE})
file(READ ${MANIFEST_TEMPLATE} manifest)
string(REGEX REPLACE "[ \t]*<!--[^\n]*-->\n" "" manifest "${manifest}")
file(CONFIGURE OUTPUT ${MANIFEST_FILE} CONTENT "${manifest}" @ONLY)
set(PROGRAM_NAME profile-import)
set(MESSAGE_TABLE "")
configure_file(app/resources/profile-import.rc.in ${CMAKE_CURRENT_BINARY_DIR}/profile-import.rc @ONLY)

# No C runtime: its own entry point, only kernel32.dll and ntdll.dll, and of
# the compiler's helpers only what platform/compiler_support.cpp provides.
# Stripped, and unused code dropped, to keep the release small.
entry_symbol(import_entry ImportEntry)
set(NO_RUNTIME_LINK -nostdlib -nostartfiles -Wl,--entry=${import_entry} -s -Wl,--gc-sections)
add_executable(profile-import WIN32
  app/main_windows.cpp
  platform/compiler_support.cpp
  ${CMAKE_CURRENT_BINARY_DIR}/profile-import.rc)
set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/profile-import.rc PROPERTIES
  OBJECT_DEPENDS ${MANIFEST_FILE})
target_compile_definitions(profile-import PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN)
target_link_options(profile-import PRIVATE ${NO_RUNTIME_LINK})
add_dependencies(profile-import kernel32_imports)
target_link_libraries(profile-import PRIVATE windows_port import_run profile_core product_options
  ${KERNEL32_IMPORTS} ${NTDLL_IMPORTS})
run_from_swap(profile-import)

