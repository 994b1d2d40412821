# Cross-compiling for Windows with Debian's MinGW-w64 compilers (the posix
# thread model, whose std::thread and std::mutex the code relies on).
# DACTYRA_MINGW_ARCH chooses the target: x86_64 (run here under Wine) or
# i686 (the 32-bit ABI of the deployed system; built and inspected only).
#
# Every program and DLL links the C and C++ run-times and winpthreads
# statically, so it needs nothing beyond Windows' own DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 10.0)

if(NOT DEFINED DACTYRA_MINGW_ARCH)
  set(DACTYRA_MINGW_ARCH x86_64)
endif()
if(NOT DACTYRA_MINGW_ARCH MATCHES "^(x86_64|i686)$")
  message(FATAL_ERROR "DACTYRA_MINGW_ARCH must be x86_64 or i686, not '${DACTYRA_MINGW_ARCH}'")
endif()
# try_compile projects see the same choice.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES DACTYRA_MINGW_ARCH)

set(CMAKE_SYSTEM_PROCESSOR ${DACTYRA_MINGW_ARCH})
set(DACTYRA_MINGW_TRIPLE ${DACTYRA_MINGW_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER ${DACTYRA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${DACTYRA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${DACTYRA_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${DACTYRA_MINGW_TRIPLE})
# Programs (javac, the host's tools) come from the build machine; headers
# and libraries only from the target's root, except where a find names
# another place outright (the JDK's jni.h, GoogleTest's sources).
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
