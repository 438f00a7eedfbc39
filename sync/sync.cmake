# profile-sync.exe: the importer's core under another shell, built the way the
# importer is: its own entry, no C runtime, kernel32.dll and ntdll.dll only at
# load (advapi32.dll is loaded only to write an event), stripped.

# Its run over the same core: portable, so the unit tests run it too.
add_library(sync_core STATIC sync/command_line.cpp sync/iso_time.cpp sync/master_path.cpp
  sync/master_search.cpp sync/policy.cpp sync/run_sync.cpp sync/stored_profile.cpp sync/sync_main.cpp
  sync/sync_record.cpp sync/user_lock.cpp)
target_link_libraries(sync_core PUBLIC profile_core PRIVATE product_options)
# Its large buffers are zero until the run fills them: in .bss, not in the
# file, which MinGW's GCC does only without a section per variable.
set_source_files_properties(sync/run_sync.cpp sync/sync_main.cpp sync/sync_record.cpp sync/user_lock.cpp
  PROPERTIES
  COMPILE_OPTIONS -fno-data-sections)
if(NOT WIN32)
  return()
endif()

# Its kernel32.dll calls are the importer's and its own.
set(SYNC_KERNEL32_DEF ${CMAKE_CURRENT_BINARY_DIR}/sync_kernel32_imports.def)
set(SYNC_OWN_DEF ${CMAKE_CURRENT_SOURCE_DIR}/platform/sync_kernel32_imports.def)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${SYNC_OWN_DEF})
file(READ ${KERNEL32_DEF} importer_calls)
file(READ ${SYNC_OWN_DEF} sync_calls)
file(CONFIGURE OUTPUT ${SYNC_KERNEL32_DEF} CONTENT "${importer_calls}${sync_calls}" @ONLY)
set(SYNC_KERNEL32_IMPORTS ${CMAKE_CURRENT_BINARY_DIR}/libsync_kernel32_imports.a)
add_import_library(${SYNC_KERNEL32_DEF} ${SYNC_KERNEL32_IMPORTS})
add_custom_target(sync_kernel32_imports DEPENDS ${SYNC_KERNEL32_IMPORTS})

# The event messages: a message table made by binutils' windmc, whose output
# is the same for every architecture.
find_program(WINDMC NAMES x86_64-w64-mingw32-windmc i686-w64-mingw32-windmc REQUIRED)
set(messages_dir ${CMAKE_CURRENT_BINARY_DIR}/generated/sync)
set(messages_mc ${CMAKE_CURRENT_SOURCE_DIR}/sync/resources/messages.mc)
add_custom_command(OUTPUT ${messages_dir}/messages.rc ${messages_dir}/MSG00409.bin ${messages_dir}/messages.h
  COMMAND ${CMAKE_COMMAND} -E make_directory ${messages_dir}
  COMMAND ${WINDMC} -U -r ${messages_dir} -h ${messages_dir} ${messages_mc}
  DEPENDS ${messages_mc} VERBATIM)
# Named, so that the lint can make the header before it reads the entry.
add_custom_target(sync_messages DEPENDS ${messages_dir}/messages.h)

set(PROGRAM_NAME profile-sync)
set(PRODUCT_DESCRIPTION "Keeps the user's site profile in line with its master copy")
set(MESSAGE_TABLE "#include \"messages.rc\"")
configure_file(app/resources/profile-import.rc.in ${CMAKE_CURRENT_BINARY_DIR}/profile-sync.rc @ONLY)
set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/profile-sync.rc PROPERTIES
  OBJECT_DEPENDS "${MANIFEST_FILE};${messages_dir}/messages.rc;${messages_dir}/MSG00409.bin")

set(sync_architectures "x86_64;x64" "x86;x86" "ARM64;arm64")
list(FIND sync_architectures "${CMAKE_SYSTEM_PROCESSOR}" at)
math(EXPR at "${at} + 1")
list(GET sync_architectures ${at} SYNC_ARCHITECTURE)

entry_symbol(sync_entry SyncEntry)
add_executable(profile-sync WIN32
  sync/main_windows.cpp
  platform/compiler_support.cpp
  platform/windows_sync_port.cpp
  ${CMAKE_CURRENT_BINARY_DIR}/profile-sync.rc)
# The entry names the header sync/messages.h; the resource script includes messages.rc.
target_include_directories(profile-sync PRIVATE ${messages_dir} ${CMAKE_CURRENT_BINARY_DIR}/generated)
# The entry checks the event IDs in code against the message compiler's header.
set_source_files_properties(sync/main_windows.cpp PROPERTIES OBJECT_DEPENDS ${messages_dir}/messages.h)
target_compile_definitions(profile-sync PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN
  PROFILE_SYNC_VERSION="${PROJECT_VERSION}" PROFILE_SYNC_ARCHITECTURE="${SYNC_ARCHITECTURE}")
target_link_options(profile-sync PRIVATE -nostdlib -nostartfiles -Wl,--entry=${sync_entry} -s
  -Wl,--gc-sections)
add_dependencies(profile-sync sync_kernel32_imports kernel32_imports sync_messages)
# 32-bit x86 divides 64-bit numbers (times, counts) with libgcc's helpers,
# linked in statically: no DLL.
target_link_libraries(profile-sync PRIVATE windows_port sync_core product_options ${SYNC_KERNEL32_IMPORTS}
  ${NTDLL_IMPORTS} $<$<AND:$<EQUAL:${CMAKE_SIZEOF_VOID_P},4>,$<CXX_COMPILER_ID:GNU>>:gcc>)
run_from_swap(profile-sync)
