# Reads a file of NAME=VALUE lines that the scripts source too (wine.env,
# project.env) into variables of the same names; ${name} in a value is an
# earlier line's, as in bash. A change to the file reconfigures.
macro(read_env_file file)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
  file(STRINGS ${file} env_lines REGEX "^[A-Za-z0-9_]+=")
  foreach(env_line IN LISTS env_lines)
    string(REGEX MATCH "^([A-Za-z0-9_]+)=(.*)$" env_line "${env_line}")
    string(CONFIGURE "${CMAKE_MATCH_2}" env_value)
    set(${CMAKE_MATCH_1} "${env_value}")
  endforeach()
endmacro()
