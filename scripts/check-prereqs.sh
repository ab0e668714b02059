#!/usr/bin/env bash
# Checks that the tools and libraries the build needs are installed. As root it
# installs what is missing with apt-get; otherwise it prints the command to run.
set -euo pipefail

need_bench=0
need_fuzz=0
need_memcheck=0
need_clients=0
need_duckdb=0
need_python=0
need_browser=0
need_install=0
need_windows=0
# The Parquet clients' npm packages (tools/clients/node) live outside the tree.
node_modules=${CDT_NODE_MODULES:-${XDG_CACHE_HOME:-$HOME/.cache}/cdt-clients/node_modules}
for option in "$@"; do
  case "$option" in
    --bench) need_bench=1 ;;
    --fuzz) need_fuzz=1 ;;
    --memcheck) need_memcheck=1 ;;
    --clients) need_clients=1 ;;
    # DuckDB from npm alone, for scripts/duckdb-query.sh.
    --duckdb) need_duckdb=1 ;;
    --python) need_python=1 ;;
    --browser) need_browser=1 ;;
    --install) need_install=1 ;;
    --windows) need_windows=1 ;;
    # Where the clients tests find DuckDB and hyparquet.
    --node-modules) echo "$node_modules"; exit 0 ;;
  esac
done

missing=()
command -v cmake >/dev/null 2>&1 || missing+=(cmake)
command -v make >/dev/null 2>&1 || missing+=(make)
# Every CMake preset (CMakePresets.json) generates for Ninja.
command -v ninja >/dev/null 2>&1 || missing+=(ninja-build)
command -v g++ >/dev/null 2>&1 || command -v c++ >/dev/null 2>&1 || missing+=(g++)
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
[ -f /usr/include/gmock/gmock.h ] || missing+=(libgmock-dev)
# cdt export's MATLAB (level 5 with zlib, version 7.3 through HDF5; the tests
# read them back with matio), netCDF files and Parquet pages compressed with
# zlib or libzstd (found through pkg-config).
command -v pkg-config >/dev/null 2>&1 || missing+=(pkg-config)
[ -f /usr/include/zlib.h ] || missing+=(zlib1g-dev)
[ -f /usr/include/zstd.h ] || missing+=(libzstd-dev)
[ -f /usr/include/matio.h ] || missing+=(libmatio-dev)
[ -f /usr/include/hdf5/serial/hdf5.h ] || missing+=(libhdf5-dev)
[ -f /usr/include/netcdf.h ] || missing+=(libnetcdf-dev)
# Eigen (header-only): the analysis's linear algebra and least squares.
[ -f /usr/include/eigen3/Eigen/Dense ] || missing+=(libeigen3-dev)
if [ "$need_bench" = 1 ]; then
  [ -f /usr/include/benchmark/benchmark.h ] || missing+=(libbenchmark-dev)
fi
if [ "$need_fuzz" = 1 ]; then
  # libFuzzer and the sanitizer runtimes come with clang's runtime package.
  command -v clang++ >/dev/null 2>&1 || missing+=(clang)
  resource_dir=$(clang -print-resource-dir 2>/dev/null || true)
  fuzzer_runtime=$resource_dir/lib/linux/libclang_rt.fuzzer-$(uname -m).a
  [ -f "$fuzzer_runtime" ] || missing+=(libclang-rt-14-dev)
fi
if [ "$need_memcheck" = 1 ]; then
  # The memcheck tests run the programs under it; without it they do not exist.
  command -v valgrind >/dev/null 2>&1 || missing+=(valgrind)
fi

if [ "$need_windows" = 1 ]; then
  # The cross-compiler with POSIX threads (std::thread), Wine to run what it
  # builds, GoogleTest's sources to build the tests for Windows, and zlib for
  # Windows (linked statically: GZIP pages of Parquet files).
  command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 || missing+=(g++-mingw-w64-x86-64-posix)
  [ -f /usr/x86_64-w64-mingw32/lib/libz.a ] || missing+=(libz-mingw-w64-dev)
  command -v wine >/dev/null 2>&1 || missing+=(wine)
  [ -x /usr/lib/wine/wine64 ] || missing+=(wine64)
  [ -f /usr/src/googletest/CMakeLists.txt ] || missing+=(googletest)
fi

if [ "$need_install" = 1 ]; then
  # Man pages, the Debian package (dpkg-shlibdeps, and file for CPack) and
  # the install test (man -l, pkg-config, strings).
  command -v help2man >/dev/null 2>&1 || missing+=(help2man)
  command -v man >/dev/null 2>&1 || missing+=(man-db)
  command -v dpkg-shlibdeps >/dev/null 2>&1 || missing+=(dpkg-dev)
  command -v file >/dev/null 2>&1 || missing+=(file)
  command -v pkg-config >/dev/null 2>&1 || missing+=(pkg-config)
  command -v strings >/dev/null 2>&1 || missing+=(binutils)
fi

if [ "$need_python" = 1 ]; then
  # The Python package is built and tested with the system interpreter,
  # which is the one that sees the python3-* packages below.
  compgen -G "/usr/include/python3*/Python.h" >/dev/null || missing+=(python3-dev)
  [ -f /usr/include/pybind11/pybind11.h ] || missing+=(pybind11-dev)
  for module in numpy:python3-numpy pandas:python3-pandas pytest:python3-pytest \
                dask.dataframe:python3-dask distributed:python3-distributed \
                matplotlib:python3-matplotlib scipy.optimize:python3-scipy; do
    /usr/bin/python3 -c "import ${module%%:*}" >/dev/null 2>&1 || missing+=("${module#*:}")
  done
  # pip install . and python -m build (pyproject.toml's backend needs nothing more);
  # a virtual environment gets pip from ensurepip. -I: a folder named build in the
  # current directory would pass for the module.
  for module in ensurepip:python3-venv build:python3-build; do
    /usr/bin/python3 -I -c "import ${module%%:*}" >/dev/null 2>&1 || missing+=("${module#*:}")
  done
fi

if [ "$need_clients" = 1 ]; then
  # Real clients of cdt export's files: GNU Octave and xarray (with netCDF4).
  command -v octave >/dev/null 2>&1 || missing+=(octave)
  /usr/bin/python3 -c "import xarray" >/dev/null 2>&1 || missing+=(python3-xarray)
  /usr/bin/python3 -c "import netCDF4" >/dev/null 2>&1 || missing+=(python3-netcdf4)
fi
if [ "$need_clients" = 1 ] || [ "$need_duckdb" = 1 ]; then
  # Parquet's: DuckDB and hyparquet from npm, run with Node.js.
  command -v node >/dev/null 2>&1 || missing+=(nodejs)
  command -v npm >/dev/null 2>&1 || missing+=(npm)
fi

if [ "$need_browser" = 1 ]; then
  # The report page's browser test opens it in headless Chromium.
  command -v chromium >/dev/null 2>&1 || missing+=(chromium)
fi

# The npm packages of tools/clients/node at the versions its lock file names,
# installed (again) when that lock file changed. A registry out of reach only
# warns: the tests that need them skip and say so.
install_node_modules() {
  local dir lock
  dir=$(dirname "$node_modules")
  lock=$(dirname "$0")/../tools/clients/node/package-lock.json
  if [ -d "$node_modules" ] && cmp -s "$lock" "$dir/package-lock.json"; then
    return 0
  fi
  mkdir -p "$dir"
  cp "$(dirname "$lock")/package.json" "$lock" "$dir/"
  if ! (cd "$dir" && npm ci --no-audit --no-fund --loglevel=error >/dev/null); then
    echo "warning: npm could not install the Parquet clients into $dir" >&2
    rm -f "$dir/package-lock.json"
  fi
}

if [ ${#missing[@]} -eq 0 ]; then
  if [ "$need_clients" = 1 ] || [ "$need_duckdb" = 1 ]; then install_node_modules; fi
  exit 0
fi

if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
  echo "Installing missing prerequisites: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
  if [ "$need_clients" = 1 ] || [ "$need_duckdb" = 1 ]; then install_node_modules; fi
else
  echo "Missing prerequisites: ${missing[*]}" >&2
  echo "Install them with:  sudo apt-get install ${missing[*]}" >&2
  exit 1
fi
