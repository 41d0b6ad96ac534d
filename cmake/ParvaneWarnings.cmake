# Warnings are errors for our own targets; call parvane_warnings(target) on each.
function(parvane_warnings target)
  get_target_property(kind ${target} TYPE)
  if(kind STREQUAL "INTERFACE_LIBRARY")
    return()
  endif()
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /WX)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow
      -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Woverloaded-virtual
      -Wconversion -Wsign-conversion -Wimplicit-fallthrough -Werror)
  endif()
endfunction()

# A GoogleTest executable registered with CTest: parvane_test(name SOURCES... LIBS...)
function(parvane_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  parvane_warnings(${name})
  target_compile_definitions(${name} PRIVATE
    PARVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    PARVANE_SHARED_DIR="${PROJECT_SOURCE_DIR}/../shared")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

# Adds every subfolder of the current folder that has a CMakeLists.txt, in name
# order; only the outermost such folder, which adds its own children. Folders
# named after EXCEPT are left to whoever adds them. For tests, benchmarks,
# fuzzers and tools: a new folder of them joins the build by being there.
function(parvane_add_child_folders)
  cmake_parse_arguments(A "" "" "EXCEPT" ${ARGN})
  file(GLOB_RECURSE _lists RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*/CMakeLists.txt)
  list(SORT _lists)
  foreach(_list IN LISTS _lists)
    get_filename_component(_dir ${_list} DIRECTORY)
    set(_nested FALSE)
    foreach(_other IN LISTS _lists)
      get_filename_component(_odir ${_other} DIRECTORY)
      if(NOT _odir STREQUAL _dir AND _dir MATCHES "^${_odir}/")
        set(_nested TRUE)
      endif()
    endforeach()
    if(NOT _nested AND NOT _dir IN_LIST A_EXCEPT)
      add_subdirectory(${_dir})
    endif()
  endforeach()
endfunction()
