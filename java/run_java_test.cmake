# Runs JUnit test classes in a VM with -Xcheck:jni and fails on a failed or
# empty run and on any warning the VM prints about JNI use.
# Variables: JAVA LAUNCHER CLASS_PATH LIBRARY_PATH CLASSES (comma-separated)
# REPORT_DIR; optionally JVM_ARGS (comma-separated) and STAGE_DIR with
# STAGE_FILES (comma-separated "source|name" pairs): STAGE_DIR is made
# afresh with those files copied in under those names before the VM starts.
string(REPLACE "," ";" classes "${CLASSES}")
string(REPLACE "," ";" jvm_args "${JVM_ARGS}")
if(STAGE_DIR)
  file(REMOVE_RECURSE "${STAGE_DIR}")
  file(MAKE_DIRECTORY "${STAGE_DIR}")
  string(REPLACE "," ";" stage_files "${STAGE_FILES}")
  foreach(pair IN LISTS stage_files)
    string(REPLACE "|" ";" pair "${pair}")
    list(GET pair 0 source)
    list(GET pair 1 name)
    file(COPY_FILE "${source}" "${STAGE_DIR}/${name}")
  endforeach()
endif()
set(select)
foreach(c IN LISTS classes)
  list(APPEND select --select-class ${c})
endforeach()
execute_process(
  COMMAND ${JAVA} -Xcheck:jni -Djava.library.path=${LIBRARY_PATH} ${jvm_args}
    -jar ${LAUNCHER} --disable-banner --details=tree --fail-if-no-tests
    --reports-dir=${REPORT_DIR} --class-path ${CLASS_PATH} ${select}
  RESULT_VARIABLE result
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err)
message("${out}")
message("${err}")
if(NOT result EQUAL 0)
  message(FATAL_ERROR "JUnit run failed (exit ${result})")
endif()
# -Xcheck:jni reports misuse as "WARNING in native method: ..." or
# "WARNING: JNI ..." lines, and fatal misuse as "FATAL ERROR in native method".
foreach(stream IN ITEMS out err)
  if("${${stream}}" MATCHES "(WARNING[^\n]*)" OR "${${stream}}" MATCHES "(FATAL ERROR[^\n]*)")
    message(FATAL_ERROR "The VM reported: ${CMAKE_MATCH_1}")
  endif()
endforeach()
if(NOT "${out}" MATCHES "\\[ *([1-9][0-9]*) tests successful")
  message(FATAL_ERROR "No test ran")
endif()
