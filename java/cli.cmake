# The command-line tool `dactyra`: the launcher script, its library folder in the build tree,
# its install rule and its tests.
#
# The build writes build/<preset>/tools/dactyra, which runs dactyra-cli.jar and dactyra.jar of the
# build tree with build/<preset>/tools/lib: libdactyra.so with, beside it, what an installation
# holds there (the reader plug-ins and the open extraction engine VxExtract.so). The installed
# copy (bin/dactyra) finds the jars and the library relative to itself (share/java/, lib/).
set(DACTYRA_CLI_JAVA ${Java_JAVA_EXECUTABLE})
set(DACTYRA_CLI_CLASS_PATH ${DACTYRA_CLI_JAR}:${DACTYRA_JAR})
set(tool_lib ${CMAKE_BINARY_DIR}/tools/lib)
set(DACTYRA_CLI_LIBDIR ${tool_lib})
set(DACTYRA_CLI ${CMAKE_BINARY_DIR}/tools/dactyra)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/dactyra.in ${DACTYRA_CLI} @ONLY
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                   WORLD_READ WORLD_EXECUTE)
set(DACTYRA_CLI_CLASS_PATH "\${here}/../share/java/dactyra-cli.jar:\${here}/../share/java/dactyra.jar")
set(DACTYRA_CLI_LIBDIR "\${here}/../lib")
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/dactyra.in
  ${CMAKE_CURRENT_BINARY_DIR}/install/dactyra @ONLY)

# Copies, not links: the library looks for the engine beside the file it was loaded from.
set(tool_modules dactyra VxExtract vxr_lumidigm vxr_virdi)
set(copies)
foreach(module IN LISTS tool_modules)
  list(APPEND copies COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${module}>
    ${tool_lib}/)
endforeach()
add_custom_target(dactyra_cli ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory ${tool_lib}
  ${copies}
  DEPENDS ${tool_modules} dactyra_jar dactyra_cli_jar
  VERBATIM)

include(GNUInstallDirs)
install(PROGRAMS ${CMAKE_CURRENT_BINARY_DIR}/install/dactyra DESTINATION bin)
install(FILES ${DACTYRA_JAR} ${DACTYRA_CLI_JAR} ${DACTYRA_SOURCES_JAR} ${DACTYRA_JAVADOC_JAR}
  DESTINATION share/java)
install(TARGETS dactyra LIBRARY DESTINATION lib)
install(TARGETS vxr_lumidigm vxr_virdi VxExtract LIBRARY DESTINATION lib)

# The tests run the launcher of the build tree against a folder holding a copy of the library
# and, beside it, the stand-ins: the test plug-in (as vxr_test.so), the Virdi plug-in with the
# UCBioBSP stand-in and the open extraction engine. The launcher is pointed at that folder with
# DACTYRA_LIBRARY_DIR; the JUnit VM uses the same folder to check the tool's results.
set(cli_dir ${CMAKE_CURRENT_BINARY_DIR}/stage/cli)
dactyra_java_test(NAME cli CLASSES br.com.tessiva.cli.DactyraToolTest br.com.tessiva.cli.BaseCommandsTest
  LIBRARY_PATH ${cli_dir} STAGE_DIR ${cli_dir}
  STAGE_FILES "$<TARGET_FILE:dactyra>|libdactyra.so" "$<TARGET_FILE:vxr_test_plugin>|vxr_test.so"
              "$<TARGET_FILE:vxr_virdi>|vxr_virdi.so" "$<TARGET_FILE:ucbiobsp_sim>|UCBioBSP.so"
              "$<TARGET_FILE:VxExtract>|VxExtract.so"
  JVM_ARGS -Ddactyra.cli.launcher=${DACTYRA_CLI} -Ddactyra.cli.libdir=${cli_dir}
           -Ddactyra.cli.bare=${CMAKE_BINARY_DIR}/bridge
           -Ddactyra.test.fingers=${CMAKE_CURRENT_BINARY_DIR}/stage/finger-images
           -Ddactyra.test.impressions=${impressions_dir})
set_tests_properties(java.cli PROPERTIES FIXTURES_REQUIRED "finger_images;impressions"
  ENVIRONMENT "DACTYRA_REGISTRY=${cli_dir}/registry")

# The built tool as a new user runs it: from another folder, with nothing set, a picture to a
# template and the template shown.
add_test(NAME java.cli.built_tool
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/tests/built_tool_test.sh ${DACTYRA_CLI}
    ${CMAKE_CURRENT_BINARY_DIR}/stage/finger-images/finger0.bmp
    ${CMAKE_CURRENT_BINARY_DIR}/stage/built-tool)
set_tests_properties(java.cli.built_tool PROPERTIES LABELS java TIMEOUT 120
  FIXTURES_REQUIRED finger_images ENVIRONMENT "DACTYRA_REGISTRY=${CMAKE_CURRENT_BINARY_DIR}/stage/built-tool/registry")

# What ships beside the jar: the API jar holds no tool class and names its module, the tool's
# jar runs with `java -jar` beside it, the sources and the documentation are there.
add_test(NAME java.jars
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/tests/jars_test.sh ${Java_JAR_EXECUTABLE}
    ${Java_JAVA_EXECUTABLE} ${DACTYRA_JAR} ${DACTYRA_CLI_JAR} ${DACTYRA_SOURCES_JAR}
    ${DACTYRA_JAVADOC_JAR})
set_tests_properties(java.jars PROPERTIES LABELS java TIMEOUT 120)
