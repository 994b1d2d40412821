# The include check: cmake -DSOURCE_DIR=<repository> -P CheckLayers.cmake
#
# Reads every C and C++ source and header of the layered folders and fails,
# naming each offence, when one
# - includes a header of a folder its own may not include (an upward or
#   sideways include against DACTYRA_MAY_INCLUDE_<folder>),
# - includes a private part of platform/ from outside platform/,
# - includes an operating-system header outside platform/ (programs that
#   stand in for the outside world, tests, benchmarks and fuzzers aside).
cmake_minimum_required(VERSION 3.25)
include("${CMAKE_CURRENT_LIST_DIR}/DactyraLayers.cmake")

if(NOT SOURCE_DIR)
  message(FATAL_ERROR "usage: cmake -DSOURCE_DIR=<repository> -P CheckLayers.cmake")
endif()

# The folder a path belongs to: plugins/<name> for plug-ins, else its first
# component.
function(folder_of path out)
  if(path MATCHES "^plugins/([^/]+)/")
    set(${out} "plugins/${CMAKE_MATCH_1}" PARENT_SCOPE)
  elseif(path MATCHES "^([^/]+)/")
    set(${out} "${CMAKE_MATCH_1}" PARENT_SCOPE)
  else()
    set(${out} "" PARENT_SCOPE)
  endif()
endfunction()

set(os_headers "unistd|dlfcn|fcntl|pthread|dirent|poll|spawn|signal|termios|windows|winbase|link|elf")
set(layered platform support bridge imaging templates matching capture scanning database plugins
  sim tools bench fuzz)
set(offences "")
set(checked 0)
foreach(top IN LISTS layered)
  file(GLOB_RECURSE sources RELATIVE "${SOURCE_DIR}"
    "${SOURCE_DIR}/${top}/*.c" "${SOURCE_DIR}/${top}/*.cc" "${SOURCE_DIR}/${top}/*.h")
  foreach(source IN LISTS sources)
    math(EXPR checked "${checked} + 1")
    folder_of("${source}" own)
    string(REGEX REPLACE "/.*" "" layer "${own}")
    set(allowed ${DACTYRA_MAY_INCLUDE_${layer}})
    # Tests and benchmarks drive their code against the stand-ins; a
    # plug-in's also load it the way the library does.
    if(source MATCHES "/(tests|bench)/")
      list(APPEND allowed ${DACTYRA_TESTS_MAY_INCLUDE_${layer}})
    endif()
    file(STRINGS "${SOURCE_DIR}/${source}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
    foreach(line IN LISTS lines)
      if(line MATCHES "#[ \t]*include[ \t]*\"([^\"]+)\"")
        set(header "${CMAKE_MATCH_1}")
        folder_of("${header}" target)
        if(target STREQUAL "" OR target STREQUAL own)
          continue()
        endif()
        string(REGEX REPLACE "/.*" "" target_layer "${target}")
        set(private FALSE)
        foreach(part IN LISTS DACTYRA_PLATFORM_PRIVATE)
          if(NOT layer STREQUAL "platform" AND (header STREQUAL part OR header MATCHES "^${part}/"))
            set(private TRUE)
          endif()
        endforeach()
        set(permitted FALSE)
        if(target IN_LIST allowed OR target_layer IN_LIST allowed)
          set(permitted TRUE)
        endif()
        foreach(entry IN LISTS allowed)
          string(FIND "${header}/" "${entry}/" at)
          if(at EQUAL 0)
            set(permitted TRUE)
          endif()
        endforeach()
        if(private)
          list(APPEND offences "${source}: ${header} is private to platform/")
        elseif(NOT permitted)
          list(APPEND offences "${source}: ${own}/ may not include ${header}")
        endif()
      elseif(line MATCHES "#[ \t]*include[ \t]*<(sys/[^>]+|(${os_headers})\\.h)>")
        # Only the library's own code is held to this.
        if(NOT layer MATCHES "^(platform|sim|tools|bench|fuzz)$" AND NOT source MATCHES "/tests/")
          list(APPEND offences "${source}: operating-system header <${CMAKE_MATCH_1}> outside platform/")
        endif()
      endif()
    endforeach()
  endforeach()
endforeach()

if(offences)
  list(LENGTH offences count)
  list(JOIN offences "\n  " text)
  message(FATAL_ERROR "${count} include(s) against the declared layering:\n  ${text}")
endif()
message(STATUS "layering: ${checked} files follow the declared includes")
