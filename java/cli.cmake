# The command-line tool `dactyra`: the launcher script, its install rule and its tests.
#
# The build writes build/<preset>/tools/dactyra, which runs dactyra.jar of the build tree with
# the library's build folder; the installed copy (bin/dactyra) finds the jar and the library
# relative to itself (share/java/dactyra.jar, lib/libdactyra.so).
get_target_property(dactyra_cli_built_jar dactyra_jar JAR_FILE)
set(DACTYRA_CLI_JAVA ${Java_JAVA_EXECUTABLE})
set(DACTYRA_CLI_JAR ${dactyra_cli_built_jar})
set(DACTYRA_CLI_LIBDIR ${CMAKE_BINARY_DIR}/bridge)
set(DACTYRA_CLI ${CMAKE_BINARY_DIR}/tools/dactyra)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/dactyra.in ${DACTYRA_CLI} @ONLY
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                   WORLD_READ WORLD_EXECUTE)
set(DACTYRA_CLI_JAR "\${here}/../share/java/dactyra.jar")
set(DACTYRA_CLI_LIBDIR "\${here}/../lib")
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/dactyra.in
  ${CMAKE_CURRENT_BINARY_DIR}/install/dactyra @ONLY)
# Building the tool builds what the launcher runs.
add_custom_target(dactyra_cli ALL DEPENDS dactyra dactyra_jar)

include(GNUInstallDirs)
install(PROGRAMS ${CMAKE_CURRENT_BINARY_DIR}/install/dactyra DESTINATION bin)
install(FILES ${dactyra_cli_built_jar} DESTINATION share/java)
install(TARGETS dactyra LIBRARY DESTINATION lib)
install(TARGETS vxr_lumidigm vxr_virdi LIBRARY DESTINATION lib)

# The tests run the launcher of the build tree against a folder holding a copy of the library
# and, beside it, the stand-ins: the test plug-in (as vxr_test.so), the Virdi plug-in with the
# UCBioBSP stand-in and the open extraction engine. The launcher is pointed at that folder with
# DACTYRA_LIBRARY_DIR; the JUnit VM uses the same folder to check the tool's results.
set(cli_dir ${CMAKE_CURRENT_BINARY_DIR}/stage/cli)
dactyra_java_test(NAME cli CLASSES br.com.tessiva.cli.DactyraToolTest
  LIBRARY_PATH ${cli_dir} STAGE_DIR ${cli_dir}
  STAGE_FILES "$<TARGET_FILE:dactyra>|libdactyra.so" "$<TARGET_FILE:vxr_test_plugin>|vxr_test.so"
              "$<TARGET_FILE:vxr_virdi>|vxr_virdi.so" "$<TARGET_FILE:ucbiobsp_sim>|UCBioBSP.so"
              "$<TARGET_FILE:VxExtract>|VxExtract.so"
  JVM_ARGS -Ddactyra.cli.launcher=${DACTYRA_CLI} -Ddactyra.cli.libdir=${cli_dir}
           -Ddactyra.cli.bare=${CMAKE_BINARY_DIR}/bridge
           -Ddactyra.test.fingers=${CMAKE_CURRENT_BINARY_DIR}/stage/finger-images)
set_tests_properties(java.cli PROPERTIES FIXTURES_REQUIRED finger_images
  ENVIRONMENT "DACTYRA_REGISTRY=${cli_dir}/registry")
