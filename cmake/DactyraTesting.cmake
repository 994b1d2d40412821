# dactyra_test(NAME LABEL SOURCES... LIBS... [PROPERTIES name value...])
#   A GoogleTest executable registered with ctest under LABEL; PROPERTIES
#   are given to each of its cases.
function(dactyra_test name)
  cmake_parse_arguments(T "" "LABEL" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  if(WIN32)
    # setenv, unsetenv and mkdtemp, which MinGW's run-time lacks.
    target_compile_options(${name} PRIVATE
      "$<$<COMPILE_LANGUAGE:CXX>:SHELL:-include ${CMAKE_SOURCE_DIR}/platform/tests/mingw_shims.h>")
  endif()
  # A cross build lists the cases when ctest runs (through the emulator),
  # not while it builds.
  if(CMAKE_CROSSCOMPILING)
    set(discovery DISCOVERY_MODE PRE_TEST)
  else()
    set(discovery "")
  endif()
  gtest_discover_tests(${name}
    PROPERTIES LABELS "${T_LABEL}" TIMEOUT 120 ${T_PROPERTIES}
    DISCOVERY_TIMEOUT 60 ${discovery})
endfunction()

# dactyra_fuzzer(NAME SOURCES... LIBS... CORPUS dir [SECONDS n])
#   With DACTYRA_FUZZ (clang) the target is a libFuzzer binary and ctest runs
#   it for a few seconds starting from a copy of the stored corpus. Otherwise
#   it links a small driver that feeds each corpus file once, so the corpus
#   still runs in every build.
function(dactyra_fuzzer name)
  cmake_parse_arguments(F "" "CORPUS;SECONDS" "SOURCES;LIBS" ${ARGN})
  if(NOT F_SECONDS)
    set(F_SECONDS 10)
  endif()
  add_executable(${name} ${F_SOURCES})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  if(DACTYRA_FUZZ)
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    set(work ${CMAKE_CURRENT_BINARY_DIR}/${name}.corpus)
    add_test(NAME ${name}.run
      COMMAND ${CMAKE_COMMAND} -E env
        ${CMAKE_SOURCE_DIR}/fuzz/run_fuzzer.sh $<TARGET_FILE:${name}> ${F_CORPUS} ${work} ${F_SECONDS})
    set_tests_properties(${name}.run PROPERTIES LABELS "fuzz" TIMEOUT 300)
  else()
    target_sources(${name} PRIVATE ${CMAKE_SOURCE_DIR}/fuzz/standalone_main.cc)
    add_test(NAME ${name}.corpus COMMAND ${name} ${F_CORPUS})
    set_tests_properties(${name}.corpus PROPERTIES LABELS "fuzz" TIMEOUT 300)
  endif()
endfunction()
