# Thin wrapper over CMake. `make test` is what CI runs.
JOBS      ?= $(shell nproc 2>/dev/null || echo 2)
GENERATOR := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")
WERROR    ?= OFF
CTEST_ARGS ?=
FUZZ_SECONDS ?= 60

DEBUG_DIR   := build/debug
RELEASE_DIR := build/release

.PHONY: all test build demo bench fuzz clean prereqs format

all: build

prereqs:
	@scripts/check-prereqs.sh

test: prereqs
	cmake -S . -B $(DEBUG_DIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DCDT_SANITIZE=ON -DCDT_WERROR=$(WERROR)
	cmake --build $(DEBUG_DIR) -j $(JOBS)
	cd $(DEBUG_DIR) && \
	  ctest --output-on-failure -j $(JOBS) -LE exhaustive $(CTEST_ARGS)

build: prereqs
	cmake -S . -B $(RELEASE_DIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DCDT_WERROR=$(WERROR)
	cmake --build $(RELEASE_DIR) -j $(JOBS)

demo: build
	@scripts/demo.sh $(RELEASE_DIR)

bench:
	@echo "The benchmarks are not built yet."

# Every fuzz target for FUZZ_SECONDS seconds (clang, in build/fuzz).
fuzz:
	@scripts/check-prereqs.sh --fuzz
	FUZZ_SECONDS=$(FUZZ_SECONDS) JOBS=$(JOBS) WERROR=$(WERROR) scripts/fuzz.sh

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build demo-output
