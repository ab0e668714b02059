# GCC 12 warns of overlapping copies inside std::string concatenation that
# cannot happen (GCC bug 105651); only the MinGW build's inlining shows it.
if(MINGW)
  add_compile_options(-Wno-restrict)
endif()

# Platform code sits in name_posix.* and name_windows.* behind one header;
# a build uses its own platform's files (sources, tests, installed headers)
# and leaves out the other's.
if(WIN32)
  set(CDT_PLATFORM windows)
  set(CDT_OTHER_PLATFORM posix)
else()
  set(CDT_PLATFORM posix)
  set(CDT_OTHER_PLATFORM windows)
endif()

# One static library per folder, built from every .cpp in it except tests and
# program entry points, and the folder's tests (cdt_tests).
#
#   cdt_library(NAME [CORE] [DEPS lib...] [EXCLUDE file.cpp...]
#               [TEST_DEPS lib...] [END_TO_END name_test...])
#
# CORE: one of the folders that make libcdt (cmake/CdtInstall.cmake reads the
# list from the global property CDT_CORE_LIBRARIES). DEPS: what it links.
# EXCLUDE: sources left out (a sink's stub or its real source). TEST_DEPS:
# what its tests link besides it. END_TO_END: see cdt_tests.
function(cdt_library name)
  cmake_parse_arguments(ARG "CORE" "" "DEPS;EXCLUDE;TEST_DEPS;END_TO_END" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(FILTER sources EXCLUDE REGEX "_test\\.cpp$")
  list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
  list(FILTER sources EXCLUDE REGEX "_${CDT_OTHER_PLATFORM}\\.cpp$")
  foreach(ex IN LISTS ARG_EXCLUDE)
    list(FILTER sources EXCLUDE REGEX "/${ex}$")
  endforeach()
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  else()
    # A folder whose code is all in headers so far.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
  if(ARG_CORE)
    set_property(GLOBAL APPEND PROPERTY CDT_CORE_LIBRARIES ${name})
  endif()
  cdt_tests(LINK ${name} ${ARG_TEST_DEPS} END_TO_END ${ARG_END_TO_END})
endfunction()

find_program(CDT_MEMCHECK_PROGRAM valgrind)

# Test files built on POSIX only: what they check, or how, needs POSIX
# throughout. The Windows build leaves them out.
set(CDT_POSIX_ONLY_TESTS
  # fork, resource limits, signals, supplementary groups
  test/fault_injection_test.cpp
  # in-process runs over open_memstream and SIGALRM, pwrite into files
  test/corruption_sweep_test.cpp
  test/resource_bounds_test.cpp
  tools/resource_bounds_test.cpp
  # pseudo-terminals
  tools/progress_test.cpp
  # setenv, symbolic links, pwrite, geteuid and 0777 directories throughout
  datafile/data_file_test.cpp
  tools/cut_test.cpp
  tools/sets_test.cpp
  tools/synth/synth_test.cpp
  # symbolic links
  foundation/staged_output_test.cpp)

# One test executable per *_test.cpp of the calling folder, linked with LINK,
# its cases registered with CTest.
#
#   cdt_tests(LINK lib... [END_TO_END name_test...])
#
# END_TO_END names the folder's test files that run the built programs
# (runProgram: cdt2csv, cdt): they are built after the programs and, in a
# build with Valgrind and without the sanitizers, registered once more with
# the programs under memcheck (label memcheck).
#
# A case that cannot run under Wine, or needs POSIX, skips itself there
# (GTEST_SKIP with the reason); a file that cannot even be built for Windows
# is in CDT_POSIX_ONLY_TESTS above.
function(cdt_tests)
  if(NOT CDT_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "LINK;END_TO_END" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  # A name in END_TO_END that is no test here is a list gone stale.
  foreach(end_to_end IN LISTS ARG_END_TO_END)
    if(NOT EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${end_to_end}.cpp)
      message(FATAL_ERROR "END_TO_END names ${end_to_end}, which is not a test file of "
                          "${CMAKE_CURRENT_SOURCE_DIR}")
    endif()
  endforeach()
  list(FILTER tests EXCLUDE REGEX "_${CDT_OTHER_PLATFORM}_test\\.cpp$")
  if(WIN32)
    foreach(posix_only IN LISTS CDT_POSIX_ONLY_TESTS)
      list(FILTER tests EXCLUDE REGEX "/${posix_only}$")
    endforeach()
  endif()
  foreach(test_source IN LISTS tests)
    get_filename_component(test_name ${test_source} NAME_WE)
    # The top folder names the test, also for a test in a subfolder of it
    # (tools/synth/synth_test.cpp gives tools_synth_test).
    file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
    string(REGEX REPLACE "/.*" "" folder "${folder}")
    set(target ${folder}_${test_name})
    add_executable(${target} ${test_source})
    set(end_to_end OFF)
    if(test_name IN_LIST ARG_END_TO_END)
      set(end_to_end ON)
      set_property(GLOBAL APPEND PROPERTY CDT_END_TO_END_TEST_TARGETS ${target})
    endif()
    target_link_libraries(${target} PRIVATE ${ARG_LINK} cdt_testing GTest::gtest_main GTest::gmock)
    # *_exhaustive_test.cpp runs for many minutes: label it so that the
    # everyday runs can leave it out (ctest -LE exhaustive).
    set(label_properties "")
    if(test_name MATCHES "_exhaustive_test$")
      set(label_properties LABELS exhaustive)
    endif()
    if(CMAKE_CROSSCOMPILING)
      # Under an emulator (Wine) each test program runs once, as one CTest
      # test: starting the emulator for every test case would cost more than
      # the tests themselves.
      add_test(NAME ${target} COMMAND ${target} WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
      set_tests_properties(${target} PROPERTIES
        ENVIRONMENT "CDT_BUILD_DIR=${PROJECT_BINARY_DIR}" ${label_properties})
    else()
      gtest_discover_tests(${target} DISCOVERY_TIMEOUT 120
        WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
        PROPERTIES ENVIRONMENT "CDT_BUILD_DIR=${PROJECT_BINARY_DIR}" ${label_properties})
    endif()
    # The end-to-end tests once more, the programs now under Valgrind's
    # memcheck (runProgram adds it when CDT_VALGRIND is 1): label memcheck,
    # names prefixed "memcheck.". Only in a build without the sanitizers,
    # which do not work under Valgrind.
    if(end_to_end AND CDT_MEMCHECK_PROGRAM AND NOT CDT_SANITIZE AND NOT CDT_FUZZ AND NOT WIN32)
      gtest_discover_tests(${target} DISCOVERY_TIMEOUT 120 TEST_PREFIX memcheck.
        WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
        PROPERTIES LABELS memcheck ENVIRONMENT "CDT_BUILD_DIR=${PROJECT_BINARY_DIR}"
          # One value per property: a list would not survive the discovery.
          ENVIRONMENT_MODIFICATION "CDT_VALGRIND=set:1")
    endif()
  endforeach()
endfunction()
