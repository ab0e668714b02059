# GoogleTest built from Debian's source package (googletest, in
# /usr/src/googletest) with the cross-compiler: the installed libraries are
# built for the host. Its own CMake files give the same GTest:: targets as
# find_package(GTest).
set(CDT_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources to build for the target")
if(NOT EXISTS ${CDT_GTEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest sources in ${CDT_GTEST_SOURCE}: install googletest")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${CDT_GTEST_SOURCE} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(library gtest gtest_main gmock gmock_main)
  # Not our code: its warnings are not ours to fix.
  target_compile_options(${library} PRIVATE -w)
endforeach()
