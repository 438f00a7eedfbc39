# Checks the release executable as shipped: built for MACHINE (x86_64, x86 or
# ARM64), GUI subsystem, kernel32.dll and ntdll.dll as its only DLLs and exactly
# the functions of the import lists (IMPORTS_DEF, comma-separated), ASLR (64-bit
# on 64-bit builds), DEP and Terminal Server aware, within the size budget, and
# carrying its version and its manifest, which names the build's architecture
# (MANIFEST_ARCHITECTURE). Every other program the release ships (SHIPPED,
# comma-separated) must be Terminal Server aware too. DESCRIPTION is the start
# of its version resource's FileDescription (the importer's by default).
# Run as: cmake -DEXE=... -DOBJDUMP=... -DMAX_BYTES=... -DVERSION=... -DIMPORTS_DEF=...
#   -DMACHINE=... -DMANIFEST_ARCHITECTURE=... [-DSHIPPED=...] -P
cmake_minimum_required(VERSION 3.25)
foreach(var EXE OBJDUMP MAX_BYTES VERSION IMPORTS_DEF MACHINE MANIFEST_ARCHITECTURE)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()

set(failures "")

file(SIZE "${EXE}" size)
if(size GREATER MAX_BYTES)
  list(APPEND failures "size ${size} bytes is over the budget of ${MAX_BYTES}")
endif()

# The COFF header's machine field, at the offset e_lfanew (0x3c) gives, after "PE\0\0".
set(machine_codes "x86_64;8664" "x86;014c" "ARM64;aa64")
file(READ "${EXE}" lfanew OFFSET 60 LIMIT 4 HEX)
string(REGEX REPLACE "(..)(..)(..)(..)" "0x\\4\\3\\2\\1" lfanew "${lfanew}")
math(EXPR machine_at "${lfanew} + 4")
file(READ "${EXE}" machine OFFSET ${machine_at} LIMIT 2 HEX)
string(REGEX REPLACE "(..)(..)" "\\2\\1" machine "${machine}")
list(FIND machine_codes "${MACHINE}" at)
math(EXPR at "${at} + 1")
list(GET machine_codes ${at} expected_machine)
if(NOT machine STREQUAL expected_machine)
  list(APPEND failures "machine type 0x${machine}, not 0x${expected_machine} (${MACHINE})")
endif()

execute_process(COMMAND "${OBJDUMP}" -p "${EXE}" OUTPUT_VARIABLE headers RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p failed on ${EXE}")
endif()
if(NOT headers MATCHES "Subsystem[ \t]+00000002[ \t]+\\(Windows GUI\\)")
  list(APPEND failures "subsystem is not Windows GUI")
endif()

# Without it a Remote Desktop host runs the program as a legacy one, with its
# per-user folders, INI files and registry remapped.
set(ts_aware 0x8000)  # IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE
function(dll_characteristics exe out)
  execute_process(COMMAND "${OBJDUMP}" -p "${exe}" OUTPUT_VARIABLE pe RESULT_VARIABLE status)
  string(REGEX MATCH "DllCharacteristics[ \t]+([0-9a-fA-F]+)" _ "${pe}")
  if(NOT status EQUAL 0 OR CMAKE_MATCH_1 STREQUAL "")
    message(FATAL_ERROR "${OBJDUMP} -p failed on ${exe}")
  endif()
  math(EXPR value "0x${CMAKE_MATCH_1}")
  set(${out} ${value} PARENT_SCOPE)
endfunction()
string(REPLACE "," ";" shipped "${SHIPPED}")
foreach(program IN LISTS shipped)
  dll_characteristics("${program}" flags)
  math(EXPR set "${flags} & ${ts_aware}")
  math(EXPR shown "${flags}" OUTPUT_FORMAT HEXADECIMAL)
  message(STATUS "${program}: DllCharacteristics ${shown}")
  if(set EQUAL 0)
    list(APPEND failures "${program} is not Terminal Server aware")
  endif()
endforeach()

dll_characteristics("${EXE}" characteristics)
set(high_entropy "HIGH_ENTROPY_VA;0x20")
if(MACHINE STREQUAL "x86")
  set(high_entropy "")  # a 32-bit address space has no high entropy to give
endif()
foreach(flag "DYNAMIC_BASE;0x40" "NX_COMPAT;0x100" "TERMINAL_SERVER_AWARE;${ts_aware}" "${high_entropy}")
  if(flag STREQUAL "")
    continue()
  endif()
  list(GET flag 0 name)
  list(GET flag 1 bit)
  math(EXPR set "${characteristics} & ${bit}")
  if(set EQUAL 0)
    list(APPEND failures "DllCharacteristics lacks ${name}")
  endif()
endforeach()

set(allowed_dlls kernel32.dll ntdll.dll)
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

# Import table rows: "<tab>vma<tab>  hint  Name" (GNU objdump) or "  hint  Name"
# (llvm-objdump, for ARM64, which GNU's does not read).
string(REGEX MATCHALL "(\t[0-9a-f]+\t| ) +[0-9]+  [A-Za-z0-9_]+" import_rows "${headers}")
set(functions "")
foreach(row IN LISTS import_rows)
  string(REGEX REPLACE ".* " "" name "${row}")
  list(APPEND functions "${name}")
endforeach()
list(SORT functions)
set(listed "")
string(REPLACE "," ";" defs "${IMPORTS_DEF}")
foreach(def IN LISTS defs)
  file(STRINGS "${def}" names REGEX "^[A-Za-z0-9_]+$")
  list(APPEND listed ${names})
endforeach()
list(REMOVE_ITEM listed EXPORTS)
list(SORT listed)
if(NOT functions STREQUAL listed)
  list(APPEND failures "imports ${functions}, the import list has ${listed}")
endif()

# The manifest is stored as UTF-8 text, the version strings as UTF-16.
file(STRINGS "${EXE}" manifest_lines REGEX "asInvoker|supportedOS|processorArchitecture")
set(os_ids 35138b9a-5d96-4fbd-8e2d-a2440225f93a 4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38
  1f676c76-80e1-4239-95bb-83d0f6d0da78 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a)
string(JOIN "\n" manifest "${manifest_lines}")
if(NOT manifest MATCHES "requestedExecutionLevel level=\"asInvoker\"")
  list(APPEND failures "no asInvoker manifest")
endif()
if(NOT manifest MATCHES "processorArchitecture=\"${MANIFEST_ARCHITECTURE}\"")
  list(APPEND failures "manifest does not name processorArchitecture ${MANIFEST_ARCHITECTURE}")
endif()
foreach(id IN LISTS os_ids)
  if(NOT manifest MATCHES "${id}")
    list(APPEND failures "manifest lacks supportedOS ${id}")
  endif()
endforeach()
# Each name is followed by its value, so they are looked for as pairs.
file(STRINGS "${EXE}" version_strings ENCODING UTF-16LE)
if(NOT DEFINED DESCRIPTION)
  set(DESCRIPTION "Imports the site profile")
endif()
foreach(pair "CompanyName;Tessavo" "ProductName;profile-import" "FileVersion;${VERSION}" "ProductVersion;${VERSION}"
    "FileDescription;${DESCRIPTION}")
  string(FIND "${version_strings}" "${pair}" at)
  if(at EQUAL -1)
    list(APPEND failures "version resource lacks \"${pair}\"")
  endif()
endforeach()

list(LENGTH functions function_count)
string(JOIN ", " function_names ${functions})
math(EXPR shown "${characteristics}" OUTPUT_FORMAT HEXADECIMAL)
message(STATUS "${EXE}: ${MACHINE}, ${size} bytes, DllCharacteristics ${shown}, imports ${dlls}: ${function_count} functions: ${function_names}")
if(failures)
  string(JOIN "\n  " report ${failures})
  message(FATAL_ERROR "release check failed:\n  ${report}")
endif()
