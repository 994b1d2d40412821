# Fails unless FILE's dynamic symbol table defines exactly the six exports
# of the Virdi plug-in (no VXR_ShutdownDevice, no command pair, nothing of
# its own).
find_program(NM nm REQUIRED)
execute_process(COMMAND ${NM} -D --defined-only --format=posix ${FILE}
  OUTPUT_VARIABLE out RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm failed on ${FILE}")
endif()
string(REPLACE "\n" ";" lines "${out}")
set(names)
foreach(line IN LISTS lines)
  if(line MATCHES "^([^ ]+) [TtDdBbRrWwVvi]")
    list(APPEND names ${CMAKE_MATCH_1})
  endif()
endforeach()
list(SORT names)
set(expected VXR_CloseDevice VXR_GetDeviceList VXR_GetImage VXR_GetMaxSize VXR_GetPrefix VXR_OpenDevice)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "exports of ${FILE}: ${names}; expected ${expected}")
endif()
