# What a Windows build (cmake/mingw-w64.cmake) needs besides the sources:
# GoogleTest built for the target from Debian's sources, and Wine to run
# the test programs.

# GoogleTest: Debian ships it built for the build machine only, and its
# sources in /usr/src/googletest (package googletest).
set(DACTYRA_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH
  "GoogleTest's sources, built for the Windows target")
if(NOT EXISTS "${DACTYRA_GOOGLETEST_SOURCE}/CMakeLists.txt")
  message(FATAL_ERROR "GoogleTest's sources are not in ${DACTYRA_GOOGLETEST_SOURCE} "
    "(Debian package googletest)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_SHARED_LIBS OFF)
# Built before the project's own warning flags apply, and never warns the
# build to a halt: it is not our code.
add_subdirectory("${DACTYRA_GOOGLETEST_SOURCE}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
foreach(target gtest gtest_main gmock gmock_main)
  target_compile_options(${target} PRIVATE -w)
  if(NOT TARGET GTest::${target})
    add_library(GTest::${target} ALIAS ${target})
  endif()
endforeach()

# The test programs run under Wine (64-bit builds only: these machines run
# no 32-bit code), each in the build's own Wine prefix, never ~/.wine.
set(DACTYRA_WINE_PREFIX "${CMAKE_BINARY_DIR}/wine" CACHE PATH
  "The Wine prefix the tests of this build run in")
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(CMAKE_CROSSCOMPILING_EMULATOR
    "${CMAKE_SOURCE_DIR}/tools/wine-run;--prefix;${DACTYRA_WINE_PREFIX}")
  set(DACTYRA_RUNS_TESTS ON)
else()
  set(DACTYRA_RUNS_TESTS OFF)
endif()
