# profile-publish: every user's master written from one list. Its portable
# core, over the importer's format table and parser, which the unit tests take too.
add_library(publish_core STATIC publish/account.cpp publish/command_line.cpp publish/folder_acl.cpp publish/history.cpp
  publish/master_store.cpp publish/master_text.cpp
  publish/plan.cpp publish/run_publish.cpp publish/users_csv.cpp)
target_link_libraries(publish_core PUBLIC profile_core sync_core PRIVATE product_options)
if(NOT WIN32)
  return()
endif()

# The console program, for an administrator's machine or a file server: the
# C runtime and winlib, linked in, and system DLLs alone at load.
# The importer's manifest under its own name: asInvoker keeps the 32-bit build
# out of UAC's file virtualization, which would write the masters elsewhere.
function(add_publish_resources)
  file(READ ${MANIFEST_FILE} manifest)
  string(REPLACE "name=\"profile-import\"" "name=\"profile-publish\"" manifest "${manifest}")
  set(PROGRAM_NAME profile-publish)
  set(PRODUCT_DESCRIPTION "Writes every user's master copy of the site profile")
  string(REGEX REPLACE "<description>[^<]*</description>"
    "<description>${PRODUCT_DESCRIPTION}</description>" manifest "${manifest}")
  set(MANIFEST_FILE ${CMAKE_CURRENT_BINARY_DIR}/profile-publish.manifest)
  file(CONFIGURE OUTPUT ${MANIFEST_FILE} CONTENT "${manifest}")
  set(MESSAGE_TABLE "")
  configure_file(app/resources/profile-import.rc.in ${CMAKE_CURRENT_BINARY_DIR}/profile-publish.rc @ONLY)
  set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/profile-publish.rc PROPERTIES
    OBJECT_DEPENDS ${MANIFEST_FILE})
endfunction()
add_publish_resources()
add_executable(profile-publish publish/main_windows.cpp platform/windows_publish_port.cpp
  ${CMAKE_CURRENT_BINARY_DIR}/profile-publish.rc)
target_compile_definitions(profile-publish PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN)
target_link_options(profile-publish PRIVATE -municode -static -s -Wl,--gc-sections)
target_link_libraries(profile-publish PRIVATE publish_core winlib product_options advapi32)
