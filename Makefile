# Everyday entry points; the build itself is CMake presets (CMakePresets.json).
#   make run                     build the tool and show its demo
#   make test [PRESET=sanitize]  build and run the test suite
#   make lint                    clang-format and clang-tidy, as CI runs them
#   make bench [BENCH_ARGS=...]  build and run every benchmark program
#   make bench-cli               the quorvel tool against the standard tools
#   make fuzz [FUZZ_SECONDS=N]   build and run every fuzz target for N seconds
#   make format                  clang-format the C and C++ sources
#   make clean                   remove the preset build directories
# Each target first installs missing Debian packages when run as root, and
# otherwise names the apt-get line to run.

PRESET ?= default
# CI builds with WERROR=ON: a new compiler warning fails the run.
WERROR ?= OFF
FUZZ_SECONDS ?= 60
BENCH_ARGS ?=
JOBS ?= 2
ENSURE := scripts/ensure-packages.sh
FORMAT_DIRS := $(wildcard include src tests bench fuzz tools python)

.DEFAULT_GOAL := help
.PHONY: help run test lint bench bench-cli fuzz format clean

help:
	@sed -n '2,11s/^# \{0,1\}//p' Makefile

run:
	@$(ENSURE) build python
	cmake --preset default
	cmake --build --preset default -j$(JOBS) --target quorvel_tool
	build/default/bin/quorvel demo

test:
	@$(ENSURE) build python
	cmake --preset $(PRESET) -DQUORVEL_WERROR=$(WERROR)
	cmake --build --preset $(PRESET) -j$(JOBS)
	ctest --preset $(PRESET) -j$(JOBS)

lint:
	@$(ENSURE) build python lint
	cmake --preset default -DQUORVEL_WERROR=$(WERROR)
	scripts/lint.sh build/default

bench:
	@$(ENSURE) build python bench
	cmake --preset bench
	cmake --build --preset bench -j$(JOBS)
	@found=0; status=0; \
	for b in build/bench/bench/*_bench; do \
	  [ -x "$$b" ] || continue; found=1; \
	  echo "== $$b"; "$$b" $(BENCH_ARGS) || status=1; \
	done; \
	[ $$found = 1 ] || echo "make bench: no benchmark programs (bench/*_bench.cpp)"; \
	exit $$status

bench-cli:
	@$(ENSURE) build python bench
	cmake --preset bench
	cmake --build --preset bench -j$(JOBS) --target quorvel_tool
	bench/cli_bench.sh build/bench/bin/quorvel

fuzz:
	@$(ENSURE) build fuzz
	cmake --preset fuzz
	cmake --build --preset fuzz -j$(JOBS)
	@FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/run-fuzz.sh

format:
	@$(ENSURE) lint
	find $(FORMAT_DIRS) \( -name '*.h' -o -name '*.c' -o -name '*.cpp' \) -print0 | \
	  xargs -0 -r clang-format -i

clean:
	rm -rf build/default build/sanitize build/bench build/fuzz
