# Fails when a file of the engine's core includes anything but the C++ standard library's
# headers and the core's own: the core works on bytes in memory, and whatever reaches the
# operating system or the file system belongs in the engine's io part.
# Usage: cmake -DFILES="a.cpp;b.h" -DSTAMP=<file> -P this
cmake_minimum_required(VERSION 3.25)

set(allowed_standard_headers
  algorithm array bit cstddef cstdint cstring functional iterator limits map memory optional span
  stdexcept string string_view utility vector)

set(violations "")
foreach(file IN LISTS FILES)
  file(STRINGS ${file} includes REGEX "^[ \t]*#[ \t]*include")
  foreach(line IN LISTS includes)
    if(line MATCHES "<([^>]+)>")
      if(NOT CMAKE_MATCH_1 IN_LIST allowed_standard_headers)
        list(APPEND violations "${file}: <${CMAKE_MATCH_1}> is not a standard header the core may use")
      endif()
    elseif(line MATCHES "\"([^\"]+)\"")
      get_filename_component(folder ${file} DIRECTORY)
      if(NOT EXISTS ${folder}/${CMAKE_MATCH_1})
        list(APPEND violations "${file}: \"${CMAKE_MATCH_1}\" is not a header of the core")
      endif()
    endif()
  endforeach()
endforeach()

if(violations)
  list(JOIN violations "\n  " text)
  message(FATAL_ERROR "The engine's core must not depend on the system or on files:\n  ${text}")
endif()
file(TOUCH ${STAMP})
