# The Debian package (`make package`, or cpack -G DEB in a build folder):
# cdt_VERSION_ARCH.deb with the programs, the library, the man pages, the
# completion and the Python package, its dependencies found by dpkg-shlibdeps
# from what the binaries actually link.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME cdt)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "cdt2csv developers <cdt2csv@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "convert and inspect blade monitoring recordings (cdt2csv, cdt, libcdt)")
set(CPACK_PACKAGE_DESCRIPTION
  "cdt2csv converts the recordings of an engine's blade monitoring installation
(binary .cdt data files) into CSV files. The cdt tool shows what is inside them,
recovers damaged ones, cuts time windows and makes synthetic recordings. libcdt
is the C++ library under both (find_package(cdt) or pkg-config cdt), and the
Python package cdt reads recordings as numpy arrays and pandas frames.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The prefix CPACK_INSTALL_SCRIPTS see, under the staging folder.
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(BUILD_SHARED_LIBS)
  # libcdt.so: a shlibs file for packages that link it, and ldconfig on install.
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
endif()
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
# Only the components of CdtInstall.cmake: the Python package's own install
# rule puts it where the build's interpreter looks for packages installed
# locally (/usr/local/...), which is no place for a package's files.
set(CPACK_INSTALL_CMAKE_PROJECTS
  "${PROJECT_BINARY_DIR};cdt;runtime;/"
  "${PROJECT_BINARY_DIR};cdt;development;/")

if(CDT_BUILD_PYTHON)
  # In the package, the Python files go where the system's interpreter finds
  # packages installed by dpkg (Debian: /usr/lib/python3/dist-packages), and
  # the package depends on that interpreter's version and NumPy: the
  # extension module is built for exactly that version.
  execute_process(COMMAND ${Python3_EXECUTABLE} -c
    "import sysconfig; scheme = 'deb_system' if 'deb_system' in sysconfig.get_scheme_names() else 'posix_prefix'; print(sysconfig.get_path('platlib', scheme, vars={'base': '/usr', 'platbase': '/usr'}))"
    OUTPUT_VARIABLE cdt_package_python_dir OUTPUT_STRIP_TRAILING_WHITESPACE)
  string(REGEX REPLACE "^/usr/" "" cdt_package_python_dir "${cdt_package_python_dir}")
  set(CDT_PACKAGE_PYTHON_SOURCE ${PROJECT_BINARY_DIR}/python/cdt)
  set(CDT_PACKAGE_PYTHON_DIR ${cdt_package_python_dir})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/CdtPackagePython.cmake.in
    ${PROJECT_BINARY_DIR}/package/CdtPackagePython.cmake @ONLY)
  set(CPACK_INSTALL_SCRIPTS ${PROJECT_BINARY_DIR}/package/CdtPackagePython.cmake)
  math(EXPR cdt_next_minor "${Python3_VERSION_MINOR} + 1")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "python3 (>= ${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR}), python3 (<< ${Python3_VERSION_MAJOR}.${cdt_next_minor}), python3-numpy")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3-pandas")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-dask, python3-distributed")
endif()
include(CPack)
