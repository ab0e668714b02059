# What `cmake --install` and `make package` deliver, included once every
# folder has been added:
#
#   bin/cdt2csv, bin/cdt
#   lib/libcdt.a (libcdt.so.0.1 with -DBUILD_SHARED_LIBS=ON): the core folders'
#     libraries as one, and include/cdt/FOLDER/*.h, included as
#     <cdt/datafile/data_file.h>
#   lib/cmake/cdt (find_package(cdt) -> cdt::cdt) and lib/pkgconfig/cdt.pc
#   share/man/man1 and share/bash-completion/completions/cdt, made at build
#     time from the programs' help (cmake/CdtDocs.cmake)
#   the Python package, by python/CMakeLists.txt, where its interpreter looks
#
# and the programs' version: project()'s, with `git describe` in a checkout
# (cmake/CdtVersion.cmake).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The folders that make libcdt: those whose cdt_library call says CORE.
get_property(CDT_CORE_LIBRARIES GLOBAL PROPERTY CDT_CORE_LIBRARIES)

# ---- Version ----------------------------------------------------------------
set(cdt_generated ${PROJECT_BINARY_DIR}/generated)
add_custom_target(cdt_version_sources
  COMMAND ${CMAKE_COMMAND} -DCDT_VERSION=${PROJECT_VERSION} -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
    -DOUTPUT_DIR=${cdt_generated} -P ${PROJECT_SOURCE_DIR}/cmake/CdtVersion.cmake
  BYPRODUCTS ${cdt_generated}/cdt_version.cpp ${cdt_generated}/cdt2csv_version.cpp
    ${cdt_generated}/version.txt
  COMMENT "Version from project() and git describe"
  VERBATIM)
if(TARGET cdt_tools)
  target_sources(cdt_tools PRIVATE ${cdt_generated}/cdt_version.cpp)
  add_dependencies(cdt_tools cdt_version_sources)
endif()
if(TARGET cdt2csv)
  target_sources(cdt2csv PRIVATE ${cdt_generated}/cdt2csv_version.cpp)
  add_dependencies(cdt2csv cdt_version_sources)
endif()

# ---- libcdt -----------------------------------------------------------------
# Made from the objects of the folders' own libraries, so nothing is compiled
# twice; a shared libcdt needs them position-independent.
set(cdt_objects "")
foreach(library IN LISTS CDT_CORE_LIBRARIES)
  get_target_property(type ${library} TYPE)
  if(type STREQUAL "STATIC_LIBRARY")
    list(APPEND cdt_objects $<TARGET_OBJECTS:${library}>)
    if(BUILD_SHARED_LIBS)
      set_property(TARGET ${library} PROPERTY POSITION_INDEPENDENT_CODE ON)
    endif()
  endif()
endforeach()
# SONAME: libcdt.so.MAJOR, or libcdt.so.0.MINOR while the major version is 0
# and every minor version may change the interface.
if(PROJECT_VERSION_MAJOR EQUAL 0)
  set(cdt_soversion 0.${PROJECT_VERSION_MINOR})
else()
  set(cdt_soversion ${PROJECT_VERSION_MAJOR})
endif()
find_package(Threads REQUIRED)
add_library(cdt_libcdt ${cdt_objects})
add_library(cdt::cdt ALIAS cdt_libcdt)
set_target_properties(cdt_libcdt PROPERTIES
  OUTPUT_NAME cdt
  EXPORT_NAME cdt
  VERSION ${PROJECT_VERSION}
  SOVERSION ${cdt_soversion}
  ARCHIVE_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/lib
  LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/lib
  RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/lib)
target_compile_features(cdt_libcdt PUBLIC cxx_std_20)
target_include_directories(cdt_libcdt PUBLIC
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
# The CSV pipeline's worker threads; sockets on Windows.
target_link_libraries(cdt_libcdt PUBLIC Threads::Threads $<$<PLATFORM_ID:Windows>:ws2_32>)

# ---- Install rules ----------------------------------------------------------
# Two components, so that the Debian package can take its Python files from
# a place of its own (below): runtime and development.
foreach(program cdt2csv cdt)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
  endif()
endforeach()

install(TARGETS cdt_libcdt EXPORT cdtTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)

# Every header of the core folders but the other platform's and the tests'
# own, as include/cdt/FOLDER/NAME.h: consumers write <cdt/FOLDER/NAME.h>, with
# only include/ on their path, so that no folder of ours (config/, platform/)
# sits directly on it. In this tree the headers include each other as
# "FOLDER/NAME.h"; the installed copies say <cdt/FOLDER/NAME.h> instead, so
# they need no more on the path either.
set(cdt_core_folders "")
foreach(library IN LISTS CDT_CORE_LIBRARIES)
  string(REGEX REPLACE "^cdt_" "" folder ${library})
  list(APPEND cdt_core_folders ${folder})
endforeach()
foreach(folder IN LISTS cdt_core_folders)
  file(GLOB headers ${PROJECT_SOURCE_DIR}/${folder}/*.h)
  list(FILTER headers EXCLUDE REGEX "_test[^/]*\\.h$")
  list(FILTER headers EXCLUDE REGEX "_${CDT_OTHER_PLATFORM}\\.h$")
  install(CODE "
    set(CDT_HEADERS \"${headers}\")
    set(CDT_HEADER_FOLDERS \"${cdt_core_folders}\")
    set(CDT_HEADER_STAGE \"${PROJECT_BINARY_DIR}/package/include/cdt/${folder}\")
    set(CDT_HEADER_DESTINATION \"${CMAKE_INSTALL_INCLUDEDIR}/cdt/${folder}\")
    include(\"${PROJECT_SOURCE_DIR}/cmake/CdtInstallHeaders.cmake\")"
    COMPONENT development)
endforeach()

set(cdt_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/cdt)
install(EXPORT cdtTargets NAMESPACE cdt:: DESTINATION ${cdt_cmake_dir} COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/cdtConfig.cmake.in
  ${PROJECT_BINARY_DIR}/package/cdtConfig.cmake INSTALL_DESTINATION ${cdt_cmake_dir})
# 0.x: a new minor version may change the interface.
if(PROJECT_VERSION_MAJOR EQUAL 0)
  set(cdt_compatibility SameMinorVersion)
else()
  set(cdt_compatibility SameMajorVersion)
endif()
write_basic_package_version_file(${PROJECT_BINARY_DIR}/package/cdtConfigVersion.cmake
  COMPATIBILITY ${cdt_compatibility})
install(FILES ${PROJECT_BINARY_DIR}/package/cdtConfig.cmake
  ${PROJECT_BINARY_DIR}/package/cdtConfigVersion.cmake
  DESTINATION ${cdt_cmake_dir} COMPONENT development)

# cdt.pc names the prefix it is installed under, known only at install time
# (cmake --install --prefix, or the package's /usr).
if(BUILD_SHARED_LIBS)
  set(cdt_pc_libs "-lcdt")
  set(cdt_pc_private "-pthread")
else()
  set(cdt_pc_libs "-lcdt -pthread")
  set(cdt_pc_private "")
endif()
set(cdt_pc_file ${PROJECT_BINARY_DIR}/package/cdt.pc)
install(CODE "
  set(CDT_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  set(CDT_PC_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(CDT_PC_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(CDT_PC_VERSION \"${PROJECT_VERSION}\")
  set(CDT_PC_LIBS \"${cdt_pc_libs}\")
  set(CDT_PC_LIBS_PRIVATE \"${cdt_pc_private}\")
  configure_file(\"${PROJECT_SOURCE_DIR}/cmake/cdt.pc.in\" \"${cdt_pc_file}\" @ONLY)"
  COMPONENT development)
install(FILES ${cdt_pc_file} DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

# ---- Man pages and bash completion ------------------------------------------
# They run the built cdt, so a cross build has none.
set(CDT_MAN_PAGES OFF)
if(TARGET cdt AND NOT CMAKE_CROSSCOMPILING)
  find_program(CDT_HELP2MAN help2man)
  if(CDT_HELP2MAN)
    set(CDT_MAN_PAGES ON)
  else()
    message(STATUS "No man pages: help2man not found (scripts/check-prereqs.sh --install)")
    # Looked for again at the next configuration, once it is installed.
    unset(CDT_HELP2MAN CACHE)
    set(CDT_HELP2MAN "")
  endif()
  set(cdt_docs ${PROJECT_BINARY_DIR}/docs)
  add_custom_command(OUTPUT ${cdt_docs}/stamp
    COMMAND ${CMAKE_COMMAND} -DCDT=$<TARGET_FILE:cdt> -DHELP2MAN=${CDT_HELP2MAN}
      -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DOUTPUT_DIR=${cdt_docs}
      -DVERSION_FILE=${cdt_generated}/version.txt -DSTAMP=${cdt_docs}/stamp
      -P ${PROJECT_SOURCE_DIR}/cmake/CdtDocs.cmake
    DEPENDS cdt ${cdt_generated}/version.txt ${PROJECT_SOURCE_DIR}/cmake/CdtDocs.cmake
      ${PROJECT_SOURCE_DIR}/man/cdt2csv.help ${PROJECT_SOURCE_DIR}/cmake/cdt-completion.bash.in
    COMMENT "Man pages and bash completion from the programs' help"
    VERBATIM)
  add_custom_target(cdt_docs ALL DEPENDS ${cdt_docs}/stamp)
  add_dependencies(cdt_docs cdt_version_sources)
  if(CDT_MAN_PAGES)
    install(DIRECTORY ${cdt_docs}/man1 DESTINATION ${CMAKE_INSTALL_MANDIR} COMPONENT runtime)
  endif()
  install(FILES ${cdt_docs}/completion/cdt
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT runtime)
endif()

include(CdtPackage)

# ---- The install test -------------------------------------------------------
# Installs this build into a temporary root and uses what it installed. Not in
# sanitizer or fuzzing builds, whose objects need their runtimes to link.
if(CDT_TESTS AND TARGET cdt2csv AND TARGET cdt AND NOT CMAKE_CROSSCOMPILING
   AND NOT CDT_SANITIZE AND NOT CDT_FUZZ)
  set(cdt_python_dir "")
  if(CDT_BUILD_PYTHON)
    set(cdt_python_dir ${CDT_PYTHON_INSTALL_DIR})
  endif()
  add_test(NAME install
    COMMAND ${PROJECT_SOURCE_DIR}/test/install/check_install.sh
      ${PROJECT_BINARY_DIR} ${CMAKE_COMMAND} ${CMAKE_CXX_COMPILER}
      "${cdt_python_dir}" "${CDT_PYTHON_EXECUTABLE}" ${CDT_MAN_PAGES})
  set_tests_properties(install PROPERTIES LABELS install TIMEOUT 300)
endif()
