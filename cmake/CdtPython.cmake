# Decides whether the Python package is built (CDT_BUILD_PYTHON) and for
# which interpreter. The interpreter is chosen on purpose: the one named by
# CDT_PYTHON_EXECUTABLE, else the system's /usr/bin/python3, else python3 on
# PATH, taking the first that can import NumPy, since the package is of no
# use to an interpreter without it (an interpreter first on PATH may not see
# the system's Python packages). Fuzzing and cross builds leave it out.
set(CDT_BUILD_PYTHON OFF)
if(CDT_PYTHON STREQUAL "OFF" OR CDT_FUZZ OR CMAKE_CROSSCOMPILING)
  return()
endif()

find_program(cdt_path_python3 python3)
if(CDT_PYTHON_EXECUTABLE)
  # One named that cannot import NumPy would fail later, in find_package,
  # without saying which interpreter can.
  execute_process(COMMAND ${CDT_PYTHON_EXECUTABLE} -c "import numpy"
    RESULT_VARIABLE imports OUTPUT_QUIET ERROR_QUIET)
  if(NOT imports EQUAL 0)
    set(cdt_python_lacking "CDT_PYTHON_EXECUTABLE ${CDT_PYTHON_EXECUTABLE} cannot import NumPy")
    execute_process(COMMAND /usr/bin/python3 -c "import numpy"
      RESULT_VARIABLE imports OUTPUT_QUIET ERROR_QUIET)
    if(imports EQUAL 0)
      string(APPEND cdt_python_lacking "; /usr/bin/python3 can: "
        "configure with -DCDT_PYTHON_EXECUTABLE=/usr/bin/python3")
    endif()
  endif()
else()
  foreach(candidate /usr/bin/python3 ${cdt_path_python3})
    if(EXISTS ${candidate})
      execute_process(COMMAND ${candidate} -c "import numpy"
        RESULT_VARIABLE imports OUTPUT_QUIET ERROR_QUIET)
      if(imports EQUAL 0)
        set(CDT_PYTHON_EXECUTABLE ${candidate} CACHE FILEPATH
          "The Python interpreter the cdt package is built for")
        break()
      endif()
    endif()
  endforeach()
endif()

set(cdt_python_missing "")
if(cdt_python_lacking)
  set(cdt_python_missing "${cdt_python_lacking}")
elseif(CDT_PYTHON_EXECUTABLE)
  set(Python3_EXECUTABLE ${CDT_PYTHON_EXECUTABLE})
  find_package(Python3 COMPONENTS Interpreter Development.Module NumPy)
  if(Python3_FOUND AND Python3_NumPy_FOUND)
    find_package(pybind11 CONFIG QUIET)
    if(NOT pybind11_FOUND)
      set(cdt_python_missing "pybind11 (pybind11-dev) was not found")
    endif()
  else()
    set(cdt_python_missing "Python's headers or NumPy (python3-dev, python3-numpy) were not found "
      "for ${CDT_PYTHON_EXECUTABLE}")
  endif()
else()
  set(cdt_python_missing "no python3 can import NumPy (python3-numpy for /usr/bin/python3")
  if(cdt_path_python3 AND NOT cdt_path_python3 STREQUAL "/usr/bin/python3")
    string(APPEND cdt_python_missing "; ${cdt_path_python3}, first on PATH, cannot either")
  endif()
  string(APPEND cdt_python_missing ")")
endif()

if(cdt_python_missing)
  if(CDT_PYTHON STREQUAL "ON")
    message(FATAL_ERROR "CDT_PYTHON is ON but ${cdt_python_missing} "
      "(scripts/check-prereqs.sh --python installs what the package needs)")
  endif()
  message(STATUS "Python package not built: ${cdt_python_missing}")
  return()
endif()

set(CDT_BUILD_PYTHON ON)
# The extension links the static libraries into a shared module.
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
message(STATUS "Python package for ${Python3_EXECUTABLE} (Python ${Python3_VERSION})")
