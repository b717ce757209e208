# The two commands of the README:
#   make run   installs what is missing, builds the console (and only what it
#              links: no tests, no benchmarks), starts it
#   make test  installs what is missing, checks the formatting, builds, runs
#              every suite (default build, then the unit suites under
#              ASan+UBSan, the MQTT suites under TSan, and a bounded run of
#              every fuzz target). This is what CI runs.
# And for the inner loop:
#   make check   builds the libraries and the unit suites only, runs them
#   make format  formats every C++ file with the repository's .clang-format

JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 30

.PHONY: all deps build run check format check-format test test-default test-asan test-tsan test-fuzz clean

all: build

deps:
	@scripts/install-deps

build: deps
	cmake --preset default
	cmake --build --preset default -j $(JOBS)

run: deps
	cmake --preset default
	cmake --build --preset default --target tessiva -j $(JOBS)
	scripts/run-console

check: deps
	cmake --preset default
	cmake --build --preset default -j $(JOBS) --target unit_tests
	ctest --preset default -j $(JOBS) -L unit

format:
	scripts/format

check-format:
	scripts/format --check

test: check-format test-default test-asan test-tsan test-fuzz

test-default: build
	ctest --preset default -j $(JOBS)

test-asan: deps
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

test-tsan: deps
	cmake --preset tsan
	cmake --build --preset tsan -j $(JOBS)
	ctest --preset tsan -j $(JOBS)

test-fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	scripts/run-fuzzers build/fuzz/fuzz $(FUZZ_SECONDS)

clean:
	rm -rf build
