# Included at the end of project() in the MinGW-w64 cross build (see
# mingw-w64-x86_64.cmake): builds GoogleTest from Debian's sources and makes
# find_package(GTest) answer with those targets.
if(TARGET GTest::gtest OR NOT EXISTS /usr/src/googletest/CMakeLists.txt)
  return()
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/_googletest EXCLUDE_FROM_ALL)
# (its CMakeLists.txt defines the GTest:: aliases itself)
file(WRITE ${CMAKE_FIND_PACKAGE_REDIRECTS_DIR}/gtest-config.cmake
  "# GoogleTest from the sources, built in this tree.\nset(GTest_FOUND TRUE)\n")
file(WRITE ${CMAKE_FIND_PACKAGE_REDIRECTS_DIR}/gtest-config-version.cmake
  "set(PACKAGE_VERSION 1.12.1)\nset(PACKAGE_VERSION_COMPATIBLE TRUE)\n")
