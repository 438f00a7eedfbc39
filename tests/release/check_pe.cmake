# Checks the release executable as shipped: GUI subsystem, only the DLLs that
# every Windows has, within the size budget, and carrying its manifest and
# version. Run as: cmake -DEXE=... -DOBJDUMP=... -DMAX_BYTES=... -DVERSION=... -P
cmake_minimum_required(VERSION 3.25)
foreach(var EXE OBJDUMP MAX_BYTES VERSION)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()

set(failures "")

file(SIZE "${EXE}" size)
if(size GREATER MAX_BYTES)
  list(APPEND failures "size ${size} bytes is over the budget of ${MAX_BYTES}")
endif()

execute_process(COMMAND "${OBJDUMP}" -p "${EXE}" OUTPUT_VARIABLE headers RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p failed on ${EXE}")
endif()
if(NOT headers MATCHES "Subsystem[ \t]+00000002[ \t]+\\(Windows GUI\\)")
  list(APPEND failures "subsystem is not Windows GUI")
endif()

set(allowed_dlls kernel32.dll advapi32.dll msvcrt.dll)
string(REGEX MATCHALL "DLL Name: [^\r\n]+" dll_lines "${headers}")
set(dlls "")
foreach(line IN LISTS dll_lines)
  string(REPLACE "DLL Name: " "" dll "${line}")
  string(TOLOWER "${dll}" dll)
  list(APPEND dlls "${dll}")
  if(NOT dll IN_LIST allowed_dlls)
    list(APPEND failures "imports ${dll}")
  endif()
endforeach()

# The manifest is stored as UTF-8 text, the version strings as UTF-16.
file(STRINGS "${EXE}" manifest_lines REGEX "asInvoker|supportedOS")
set(os_ids 35138b9a-5d96-4fbd-8e2d-a2440225f93a 4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38
  1f676c76-80e1-4239-95bb-83d0f6d0da78 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a)
string(JOIN "\n" manifest "${manifest_lines}")
if(NOT manifest MATCHES "requestedExecutionLevel level=\"asInvoker\"")
  list(APPEND failures "no asInvoker manifest")
endif()
foreach(id IN LISTS os_ids)
  if(NOT manifest MATCHES "${id}")
    list(APPEND failures "manifest lacks supportedOS ${id}")
  endif()
endforeach()
# Each name is followed by its value, so they are looked for as pairs.
file(STRINGS "${EXE}" version_strings ENCODING UTF-16LE)
foreach(pair "ProductName;profile-import" "FileVersion;${VERSION}" "ProductVersion;${VERSION}"
    "FileDescription;Imports the site profile")
  string(FIND "${version_strings}" "${pair}" at)
  if(at EQUAL -1)
    list(APPEND failures "version resource lacks \"${pair}\"")
  endif()
endforeach()

message(STATUS "${EXE}: ${size} bytes, imports ${dlls}")
if(failures)
  string(JOIN "\n  " report ${failures})
  message(FATAL_ERROR "release check failed:\n  ${report}")
endif()
