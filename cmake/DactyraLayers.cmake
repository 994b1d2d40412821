# The declared layering of the source tree, in one place.
#
# Folders, bottom up: platform <- support <- imaging, templates, bridge <-
# matching (over templates) <- capture <- scanning <- database. Plug-ins see
# only platform/ and plugins/interface/. sim/ sees platform/, the plug-in
# interface, and the wire formats a stand-in shares with the plug-in it
# faces, declared once for both sides: the UCBioBSP records, the V100
# records, packet and command catalogue, the usbcb, device-service and
# XMODEM framing; never a plug-in's own logic. tools/, bench/ and fuzz/ sit
# on top. Nothing includes upward.
#
# Two things hold a folder to it:
# - usage requirements: no target sees the repository root. Each target
#   sees the folder of the CMakeLists.txt that defines it, and the folders
#   of the libraries it links (their usage requirements), so a header of a
#   library it does not link is not found;
# - the include check (CheckLayers.cmake, a ctest test labelled "layering"):
#   every #include "a/b.h" must name the source's own folder or one that
#   DACTYRA_MAY_INCLUDE_<folder> below allows it.

# Which folders the sources of a folder may include besides their own. An
# entry names a layer, a folder below one, or a single header.
set(DACTYRA_MAY_INCLUDE_platform "")
set(DACTYRA_MAY_INCLUDE_support platform)
set(DACTYRA_MAY_INCLUDE_bridge platform support)
set(DACTYRA_MAY_INCLUDE_imaging platform support bridge)
set(DACTYRA_MAY_INCLUDE_templates platform support bridge imaging)
set(DACTYRA_MAY_INCLUDE_matching platform support templates)
set(DACTYRA_MAY_INCLUDE_capture
  platform support bridge imaging templates matching plugins/interface)
set(DACTYRA_MAY_INCLUDE_scanning
  platform support bridge imaging templates matching capture plugins/interface)
set(DACTYRA_MAY_INCLUDE_database
  platform support bridge imaging templates matching capture scanning plugins/interface)
set(DACTYRA_MAY_INCLUDE_plugins platform plugins/interface)
set(DACTYRA_MAY_INCLUDE_sim platform plugins/interface sim
  plugins/virdi/ucbiobsp.h
  plugins/lumidigm/v100/records.h plugins/lumidigm/v100/packet.h plugins/lumidigm/v100/catalogue.h
  plugins/lumidigm/transport/usbcb.h plugins/lumidigm/transport/service_messages.h
  plugins/lumidigm/transport/xmodem.h)
set(DACTYRA_MAY_INCLUDE_tools
  platform support bridge imaging templates matching capture scanning database sim)
set(DACTYRA_MAY_INCLUDE_bench
  platform support bridge imaging templates matching capture scanning database plugins sim)
set(DACTYRA_MAY_INCLUDE_fuzz
  platform support bridge imaging templates matching capture scanning database plugins sim)
# What tests and benchmarks (sources under a tests/ or bench/ folder) may
# include besides: the stand-ins, and for a plug-in the library side that
# loads it (the capture modules, and the scanner component over them).
foreach(layer support bridge imaging templates matching capture scanning database)
  set(DACTYRA_TESTS_MAY_INCLUDE_${layer} sim)
endforeach()
set(DACTYRA_TESTS_MAY_INCLUDE_plugins sim support capture scanning)
# Private to platform/: the back ends and their entry points.
set(DACTYRA_PLATFORM_PRIVATE platform/posix platform/win32 platform/backend.h)

# dactyra_folder_includes(FOLDER OUT)
#   A folder of the build tree through which exactly FOLDER (a path from the
#   repository root) is seen under its own name: <OUT>/<FOLDER> links to it.
function(dactyra_folder_includes folder out)
  string(REPLACE "/" "_" key "${folder}")
  set(root "${CMAKE_BINARY_DIR}/include/${key}")
  if(NOT EXISTS "${root}/${folder}")
    get_filename_component(parent "${root}/${folder}" DIRECTORY)
    file(MAKE_DIRECTORY "${parent}")
    file(CREATE_LINK "${CMAKE_SOURCE_DIR}/${folder}" "${root}/${folder}" SYMBOLIC)
  endif()
  set(${out} "${root}" PARENT_SCOPE)
endfunction()

# dactyra_attach_folder_includes(DIR)
#   Gives every target defined in DIR and below the folder it is defined in:
#   PUBLIC for libraries (their users see it), PRIVATE for programs and
#   modules, INTERFACE for header-only libraries. A target that sets
#   DACTYRA_OWN_INCLUDES declares its own instead.
function(dactyra_attach_folder_includes dir)
  file(RELATIVE_PATH folder "${CMAKE_SOURCE_DIR}" "${dir}")
  get_property(targets DIRECTORY "${dir}" PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    get_target_property(own ${target} DACTYRA_OWN_INCLUDES)
    if(own OR type STREQUAL "UTILITY" OR folder STREQUAL "")
      continue()
    endif()
    dactyra_folder_includes("${folder}" include_dir)
    if(type STREQUAL "INTERFACE_LIBRARY")
      target_include_directories(${target} INTERFACE "${include_dir}")
    elseif(type MATCHES "^(STATIC|SHARED|OBJECT)_LIBRARY$")
      target_include_directories(${target} PUBLIC "${include_dir}")
    else()
      target_include_directories(${target} PRIVATE "${include_dir}")
    endif()
  endforeach()
  get_property(subdirs DIRECTORY "${dir}" PROPERTY SUBDIRECTORIES)
  foreach(subdir IN LISTS subdirs)
    dactyra_attach_folder_includes("${subdir}")
  endforeach()
endfunction()

# dactyra_check_subsystems(FOLDER...)
#   Fails the configure when a listed folder has no CMakeLists.txt (a
#   misspelt name would otherwise drop a subsystem without a word), and
#   when a folder with one is not listed.
function(dactyra_check_subsystems)
  foreach(dir IN LISTS ARGN)
    if(NOT EXISTS "${CMAKE_SOURCE_DIR}/${dir}/CMakeLists.txt")
      message(FATAL_ERROR "subsystem folder '${dir}' has no CMakeLists.txt")
    endif()
  endforeach()
  file(GLOB candidates RELATIVE "${CMAKE_SOURCE_DIR}"
    "${CMAKE_SOURCE_DIR}/*/CMakeLists.txt" "${CMAKE_SOURCE_DIR}/plugins/*/CMakeLists.txt")
  foreach(candidate IN LISTS candidates)
    get_filename_component(dir "${candidate}" DIRECTORY)
    if(NOT dir IN_LIST ARGN AND NOT dir STREQUAL "build")
      message(FATAL_ERROR "folder '${dir}' has a CMakeLists.txt but is not a listed subsystem")
    endif()
  endforeach()
endfunction()
