# Skiffa: build, test, demo and benchmarks. Every target installs what a fresh
# Debian machine lacks first (scripts/install-deps; the benchmarks' own needs
# from scripts/install-bench-deps).
JOBS ?= $(shell nproc)
SKIFFA_WERROR ?= OFF
CMAKE_FLAGS = -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSKIFFA_WERROR=$(SKIFFA_WERROR)
SAN_ENV = ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
          LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 \
          UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
          TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

.PHONY: all deps bench-deps configure build test test-plain test-asan test-tsan demo bench clean

all: build

deps:
	@scripts/install-deps

bench-deps: deps
	@scripts/install-bench-deps

configure: deps
	@cmake -S . -B build $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build build -j $(JOBS)

test: test-plain test-asan test-tsan

test-plain: build
	cd build && ctest -j $(JOBS) --output-on-failure

test-asan: deps
	@cmake -S . -B build-asan $(CMAKE_FLAGS) -DSKIFFA_SANITIZE=address >/dev/null
	@cmake --build build-asan -j $(JOBS)
	cd build-asan && $(SAN_ENV) ctest -j $(JOBS) --output-on-failure

test-tsan: deps
	@cmake -S . -B build-tsan $(CMAKE_FLAGS) -DSKIFFA_SANITIZE=thread >/dev/null
	@cmake --build build-tsan -j $(JOBS)
	cd build-tsan && $(SAN_ENV) ctest -j $(JOBS) --output-on-failure

# The demo builds only the two programs it runs.
demo: configure
	@cmake --build build -j $(JOBS) --target skiffa demohost
	@tools/demo.sh

bench: bench-deps build
	@tools/bench.sh

clean:
	rm -rf build build-asan build-tsan
