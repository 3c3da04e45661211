# Cross-builds for 64-bit Windows with Debian's MinGW-w64 compilers.
#
# The posix thread model: the win32 one has no std::mutex or std::thread.
# The C and C++ runtimes and winpthread are linked statically, so the .exe
# imports only the system's own DLLs and runs from a folder or a zip alone.
#
# The libraries the program needs beyond the compiler's own (libpng, libjpeg,
# hidapi, zlib) come from the sysroot that tools/build-windows.sh builds from
# Debian's source packages; TRB_WINDOWS_SYSROOT names it (by default
# build/windows-sysroot beside this project's sources).

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TRB_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TRB_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TRB_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TRB_MINGW_TRIPLET}-windres)

if(NOT TRB_WINDOWS_SYSROOT)
    get_filename_component(TRB_WINDOWS_SYSROOT "${CMAKE_CURRENT_LIST_DIR}/../build/windows-sysroot" ABSOLUTE)
endif()
# Passed on to the try_compile projects, which read this file again.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TRB_WINDOWS_SYSROOT)

set(CMAKE_FIND_ROOT_PATH "${TRB_WINDOWS_SYSROOT}" /usr/${TRB_MINGW_TRIPLET})
# Programs run on the build machine (the framework's juceaide among them);
# libraries and headers are the target's only.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The framework's CMake package is the build machine's: it holds no target
# code, only the module sources and the juceaide helper, which runs here.
if(NOT JUCE_DIR)
    file(GLOB TRB_HOST_JUCE_DIRS /usr/lib/x86_64-linux-gnu/cmake/JUCE-*)
    list(GET TRB_HOST_JUCE_DIRS 0 TRB_HOST_JUCE_DIR)
    set(JUCE_DIR "${TRB_HOST_JUCE_DIR}" CACHE PATH "The framework's CMake package (the build machine's)")
endif()

# pkg-config must describe the sysroot's libraries, never the build machine's.
set(ENV{PKG_CONFIG_LIBDIR} "${TRB_WINDOWS_SYSROOT}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
