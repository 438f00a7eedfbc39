# The importer's import libraries, each made from its list of one DLL's calls.
# 32-bit x86 code calls each function by its stdcall name (CreateFileW@28), so
# there the list is written out again with each name's argument bytes, taken
# from MinGW's own import libraries, and dlltool --kill-at keeps the names in
# the import table plain, as kernel32.dll exports them.

# The linker's name for a WINAPI function without arguments, such as an entry point.
function(entry_symbol out name)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(${out} _${name}@0 PARENT_SCOPE)
  else()
    set(${out} ${name} PARENT_SCOPE)
  endif()
endfunction()

function(add_import_library def lib)
  set(dlltool ${CMAKE_DLLTOOL})
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "ARM64")
    list(APPEND dlltool -m arm64)
  elseif(CMAKE_SIZEOF_VOID_P EQUAL 4)
    file(STRINGS ${def} lines)
    # Read once per configure: nm takes seconds over these libraries.
    get_property(symbols GLOBAL PROPERTY mingw_stdcall_symbols)
    if(NOT symbols)
      find_library(mingw_kernel32 kernel32 REQUIRED)
      find_library(mingw_advapi32 advapi32 REQUIRED)
      find_library(mingw_ntdll ntdll REQUIRED)
      execute_process(COMMAND ${CMAKE_NM} ${mingw_kernel32} ${mingw_advapi32} ${mingw_ntdll}
        COMMAND grep -oE "__imp__[A-Za-z0-9_]+@[0-9]+"
        OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
      set_property(GLOBAL PROPERTY mingw_stdcall_symbols "${symbols}")
    endif()
    set(decorated "")
    foreach(line IN LISTS lines)
      if(line MATCHES "^[A-Za-z0-9_]+$" AND NOT line STREQUAL "EXPORTS")
        if(NOT symbols MATCHES "__imp__${line}(@[0-9]+)")
          message(FATAL_ERROR "no stdcall name for ${line} in MinGW's import libraries")
        endif()
        set(line ${line}${CMAKE_MATCH_1})
      endif()
      string(APPEND decorated "${line}\n")
    endforeach()
    get_filename_component(name ${def} NAME_WE)
    set(def ${CMAKE_CURRENT_BINARY_DIR}/${name}_stdcall.def)
    file(CONFIGURE OUTPUT ${def} CONTENT "${decorated}" @ONLY)
    list(APPEND dlltool --kill-at)
  endif()
  add_custom_command(OUTPUT ${lib}
    COMMAND ${dlltool} --input-def ${def} --output-lib ${lib}
    DEPENDS ${def} VERBATIM)
endfunction()
