# Cross build for 64-bit Windows with Debian's MinGW-w64 (the -posix variant,
# whose libstdc++ has std::thread and std::mutex). Programs link statically so
# that each .exe runs alone; tests run under Wine.
#
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_triplet x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${_triplet}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# -O2: this compiler's -O3 raises false -Wstringop-overflow errors in the engine.
# Release programs are stripped.
set(CMAKE_C_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "Flags of Release builds")
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "Flags of Release builds")
set(CMAKE_EXE_LINKER_FLAGS_RELEASE "-s" CACHE STRING "Link flags of Release builds")
# Debian's libz-mingw-w64-dev has both libz.a and the import library libz.dll.a.
set(ZLIB_USE_STATIC_LIBS ON)

# The Qt window is Linux-only here; Windows gets its own front end (src/win32).
set(PARVANE_GUI OFF CACHE BOOL "Build the Qt window")
set(PARVANE_FUZZ OFF CACHE BOOL "Build the libFuzzer targets")
set(PARVANE_BENCH OFF CACHE BOOL "Build the benchmarks")

# Test programs run under Wine in a prefix of the build folder's own; without
# its add-on installers and without its debugger, so a crash fails at once.
find_program(PARVANE_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(PARVANE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR
    /usr/bin/env WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix WINEDEBUG=-all
    "WINEDLLOVERRIDES=mscoree,mshtml,winedbg.exe=d" ${PARVANE_WINE})
endif()

# GoogleTest is built from Debian's sources (libgtest-dev) once the project
# starts, and find_package(GTest) is pointed at those targets.
set(CMAKE_PROJECT_Parvane_INCLUDE ${CMAKE_CURRENT_LIST_DIR}/mingw-w64-googletest.cmake)
