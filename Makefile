# Thin wrapper over CMake's presets (CMakePresets.json: each build's options,
# its tests' selection; preset NAME builds in build/NAME). `make test` is what
# CI runs.
JOBS      ?= $(shell nproc 2>/dev/null || echo 2)
WERROR    ?= OFF
CTEST_ARGS ?=
FUZZ_SECONDS ?= 60
# The Linux build whose programs make windows-test compares with.
LINUX_PRESET ?= release

RELEASE_DIR := build/release
BENCH_BUILD_DIR := build/release-bench
WINDOWS_DIR := build/windows
WINDOWS_TESTS_DIR := build/windows-tests
LINUX_BUILD_DIR := build/$(LINUX_PRESET)

.PHONY: all test build demo bench exhaustive fuzz clean prereqs format package windows windows-test windows-package

all: build

prereqs:
	@scripts/check-prereqs.sh

test: prereqs
	@scripts/check-prereqs.sh --python
	cmake --preset debug -DCDT_WERROR=$(WERROR)
	cmake --build --preset debug -j $(JOBS)
	ctest --preset debug -j $(JOBS) $(CTEST_ARGS)

build: prereqs
	cmake --preset release -DCDT_WERROR=$(WERROR)
	cmake --build --preset release -j $(JOBS)

# Builds only the programs the demo runs, not the tests, and the Python
# package for the sample's report page. As root it installs what the page
# needs first, as make test does; otherwise it names the packages and the
# demo goes on without the page.
demo: prereqs
	@scripts/check-prereqs.sh --python || echo "The demo goes on without the sample's report page."
	cmake --preset release -DCDT_WERROR=$(WERROR)
	cmake --build --preset release -j $(JOBS) --target cdt2csv cdt \
	  $$(cmake --build $(RELEASE_DIR) --target help 2>/dev/null | grep -qw cdt_python && echo cdt_python)
	@scripts/demo.sh $(RELEASE_DIR)

# A Release build with the benchmarks: the number formatters' micro-benchmarks,
# then cdt2csv end to end against the fprintf reference and dd on recordings of
# 100 MB and 1 GB in build/bench (bench/run_bench.sh says which variables it reads),
# then the Python package on 200 MB and 1 GB recordings (bench/python_bench.py),
# then cdt export's formats and --jobs (bench/export_bench.sh), then a
# recording set of three hosts against its three files (bench/set_bench.sh),
# then following a recording while it is written (bench/follow_bench.sh),
# then the tip-timing analysis against to_pandas() (bench/analysis_bench.sh).
bench:
	@scripts/check-prereqs.sh --bench --python
	cmake --preset release-bench -DCDT_WERROR=$(WERROR)
	cmake --build --preset release-bench -j $(JOBS) --target cdt cdt2csv cdt2csv_reference number_format_bench float_format_bench cdt_python cdt_window_seek
	$(BENCH_BUILD_DIR)/bench/number_format_bench
	$(BENCH_BUILD_DIR)/bench/float_format_bench
	bench/run_bench.sh $(BENCH_BUILD_DIR)
	$$(sed -n "s/^CDT_PYTHON_EXECUTABLE:FILEPATH=//p" $(BENCH_BUILD_DIR)/CMakeCache.txt) \
	  bench/python_bench.py $(BENCH_BUILD_DIR)
	bench/export_bench.sh $(BENCH_BUILD_DIR)
	bench/set_bench.sh $(BENCH_BUILD_DIR)
	bench/follow_bench.sh $(BENCH_BUILD_DIR)
	bench/analysis_bench.sh $(BENCH_BUILD_DIR)

# The Debian package $(RELEASE_DIR)/package/cdt_VERSION_ARCH.deb: both programs,
# libcdt with its headers, CMake package and pkg-config file, the man pages,
# the bash completion and the Python package. scripts/check-deb.sh shows it.
package:
	@scripts/check-prereqs.sh --install --python
	cmake --preset release -DCDT_WERROR=$(WERROR) -DCDT_PYTHON=ON
	cmake --build --preset release -j $(JOBS) --target cdt cdt2csv cdt_libcdt cdt_docs cdt_python
	cd $(RELEASE_DIR) && cpack -G DEB

# The tests labelled exhaustive (every float bit pattern against printf), in
# Release; they take many minutes.
exhaustive: prereqs
	cmake --preset release -DCDT_WERROR=$(WERROR)
	cmake --build --preset release -j $(JOBS)
	ctest --preset exhaustive $(CTEST_ARGS)

# Every fuzz target for FUZZ_SECONDS seconds (clang, in build/fuzz).
fuzz:
	@scripts/check-prereqs.sh --fuzz
	FUZZ_SECONDS=$(FUZZ_SECONDS) JOBS=$(JOBS) WERROR=$(WERROR) scripts/fuzz.sh

# cdt2csv.exe and cdt.exe for 64-bit Windows, cross-built with MinGW-w64 and
# linked statically; scripts/check-windows-exe.sh makes sure they import
# nothing but Windows' own DLLs.
windows:
	@scripts/check-prereqs.sh --windows
	cmake --preset windows -DCDT_WERROR=$(WERROR)
	cmake --build --preset windows -j $(JOBS) --target cdt2csv cdt
	scripts/check-windows-exe.sh $(WINDOWS_DIR)/driver/cdt2csv.exe $(WINDOWS_DIR)/tools/cdt.exe

# The test suites cross-built (GoogleTest from Debian's source package) and
# run under Wine, in a Wine prefix of their own in $(WINDOWS_TESTS_DIR), then
# the programs against the Linux ones of preset $(LINUX_PRESET)
# (scripts/windows-end-to-end.sh). The cases that cannot run under Wine skip
# themselves and say why.
windows-test:
	@scripts/check-prereqs.sh --windows
	cmake --preset windows-tests -DCDT_WERROR=$(WERROR)
	cmake --build --preset windows-tests -j $(JOBS)
	ctest --preset windows-tests -j $(JOBS) $(CTEST_ARGS)
	cmake --preset $(LINUX_PRESET) -DCDT_WERROR=$(WERROR)
	cmake --build --preset $(LINUX_PRESET) -j $(JOBS) --target cdt2csv cdt
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
