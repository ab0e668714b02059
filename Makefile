# Thin wrapper over CMake. `make test` is what CI runs.
JOBS      ?= $(shell nproc 2>/dev/null || echo 2)
GENERATOR := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")
WERROR    ?= OFF
CTEST_ARGS ?=
FUZZ_SECONDS ?= 60

DEBUG_DIR   := build/debug
RELEASE_DIR := build/release
BENCH_BUILD_DIR := build/release-bench
WINDOWS_DIR := build/windows
WINDOWS_TESTS_DIR := build/windows-tests
WINDOWS_TOOLCHAIN := cmake/mingw-w64-x86_64.cmake
LINUX_BUILD_DIR ?= $(RELEASE_DIR)

.PHONY: all test build demo bench exhaustive fuzz clean prereqs format package windows windows-test windows-package

all: build

prereqs:
	@scripts/check-prereqs.sh

test: prereqs
	@scripts/check-prereqs.sh --python
	cmake -S . -B $(DEBUG_DIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DCDT_SANITIZE=ON -DCDT_WERROR=$(WERROR) -DCDT_PYTHON=ON
	cmake --build $(DEBUG_DIR) -j $(JOBS)
	cd $(DEBUG_DIR) && \
	  ctest --output-on-failure -j $(JOBS) -LE exhaustive $(CTEST_ARGS)

build: prereqs
	cmake -S . -B $(RELEASE_DIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DCDT_WERROR=$(WERROR)
	cmake --build $(RELEASE_DIR) -j $(JOBS)

# Builds only the programs the demo runs, not the tests, and the Python
# package for the sample's report page when this build has it.
demo: prereqs
	cmake -S . -B $(RELEASE_DIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DCDT_WERROR=$(WERROR)
	cmake --build $(RELEASE_DIR) -j $(JOBS) --target cdt2csv cdt \
	  $$(cmake --build $(RELEASE_DIR) --target help 2>/dev/null | grep -qw cdt_python && echo cdt_python)
	@scripts/demo.sh $(RELEASE_DIR)

# A Release build with the benchmarks: the number formatters' micro-benchmarks,
# then cdt2csv end to end against the fprintf reference and dd on recordings of
# 100 MB and 1 GB in build/bench (bench/run_bench.sh says which variables it reads),
# then the Python package on 200 MB and 1 GB recordings (bench/python_bench.py),
# then cdt export's formats and --jobs (bench/export_bench.sh).
bench:
	@scripts/check-prereqs.sh --bench --python
	cmake -S . -B $(BENCH_BUILD_DIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DCDT_BENCH=ON -DCDT_WERROR=$(WERROR) -DCDT_PYTHON=ON
	cmake --build $(BENCH_BUILD_DIR) -j $(JOBS) --target cdt cdt2csv cdt2csv_reference number_format_bench float_format_bench cdt_python cdt_window_seek
	$(BENCH_BUILD_DIR)/bench/number_format_bench
	$(BENCH_BUILD_DIR)/bench/float_format_bench
	bench/run_bench.sh $(BENCH_BUILD_DIR)
	$$(sed -n "s/^CDT_PYTHON_EXECUTABLE:FILEPATH=//p" $(BENCH_BUILD_DIR)/CMakeCache.txt) \
	  bench/python_bench.py $(BENCH_BUILD_DIR)
	bench/export_bench.sh $(BENCH_BUILD_DIR)

# The Debian package $(RELEASE_DIR)/package/cdt_VERSION_ARCH.deb: both programs,
# libcdt with its headers, CMake package and pkg-config file, the man pages,
# the bash completion and the Python package. scripts/check-deb.sh shows it.
package:
	@scripts/check-prereqs.sh --install --python
	cmake -S . -B $(RELEASE_DIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DCDT_WERROR=$(WERROR) -DCDT_PYTHON=ON
	cmake --build $(RELEASE_DIR) -j $(JOBS) --target cdt cdt2csv cdt_libcdt cdt_docs cdt_python
	cd $(RELEASE_DIR) && cpack -G DEB

# The tests labelled exhaustive (every float bit pattern against printf), in
# Release; they take many minutes.
exhaustive: prereqs
	cmake -S . -B $(RELEASE_DIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DCDT_WERROR=$(WERROR)
	cmake --build $(RELEASE_DIR) -j $(JOBS)
	cd $(RELEASE_DIR) && CDT_EXHAUSTIVE=1 ctest --output-on-failure -L exhaustive $(CTEST_ARGS)

# Every fuzz target for FUZZ_SECONDS seconds (clang, in build/fuzz).
fuzz:
	@scripts/check-prereqs.sh --fuzz
	FUZZ_SECONDS=$(FUZZ_SECONDS) JOBS=$(JOBS) WERROR=$(WERROR) scripts/fuzz.sh

# cdt2csv.exe and cdt.exe for 64-bit Windows, cross-built with MinGW-w64 and
# linked statically; scripts/check-windows-exe.sh makes sure they import
# nothing but Windows' own DLLs.
windows:
	@scripts/check-prereqs.sh --windows
	cmake -S . -B $(WINDOWS_DIR) $(GENERATOR) -DCMAKE_TOOLCHAIN_FILE=$(WINDOWS_TOOLCHAIN) \
	  -DCMAKE_BUILD_TYPE=Release -DCDT_TESTS=OFF -DCDT_WERROR=$(WERROR)
	cmake --build $(WINDOWS_DIR) -j $(JOBS) --target cdt2csv cdt
	scripts/check-windows-exe.sh $(WINDOWS_DIR)/driver/cdt2csv.exe $(WINDOWS_DIR)/tools/cdt.exe

# The test suites cross-built (GoogleTest from Debian's source package) and
# run under Wine, in a Wine prefix of their own in $(WINDOWS_TESTS_DIR), then
# the programs against the Linux ones of $(LINUX_BUILD_DIR)
# (scripts/windows-end-to-end.sh).
# The test cases left out under Wine, and why: cmake/CdtTargets.cmake.
windows-test:
	@scripts/check-prereqs.sh --windows
	cmake -S . -B $(WINDOWS_TESTS_DIR) $(GENERATOR) -DCMAKE_TOOLCHAIN_FILE=$(WINDOWS_TOOLCHAIN) \
	  -DCMAKE_BUILD_TYPE=Release -DCDT_WERROR=$(WERROR)
	cmake --build $(WINDOWS_TESTS_DIR) -j $(JOBS)
	cd $(WINDOWS_TESTS_DIR) && WINEDEBUG=-all WINEPREFIX=$(CURDIR)/$(WINDOWS_TESTS_DIR)/wineprefix \
	  ctest --output-on-failure -j $(JOBS) -LE exhaustive $(CTEST_ARGS)
	cmake -S . -B $(LINUX_BUILD_DIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DCDT_WERROR=$(WERROR)
	cmake --build $(LINUX_BUILD_DIR) -j $(JOBS) --target cdt2csv cdt
	scripts/windows-end-to-end.sh $(WINDOWS_TESTS_DIR) $(LINUX_BUILD_DIR)/driver/cdt2csv

# build/cdt-windows.zip: both programs, the README and the sample recording.
windows-package: windows
	rm -rf $(WINDOWS_DIR)/package && mkdir -p $(WINDOWS_DIR)/package/cdt-windows
	cp $(WINDOWS_DIR)/driver/cdt2csv.exe $(WINDOWS_DIR)/tools/cdt.exe README.md examples/sample.cdt \
	  $(WINDOWS_DIR)/package/cdt-windows/
	rm -f build/cdt-windows.zip
	cd $(WINDOWS_DIR)/package && cmake -E tar cf ../../cdt-windows.zip --format=zip cdt-windows
	@echo "build/cdt-windows.zip"

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build demo-output
