# The two set-up commands: `make demo` (the main job against the bundled CLI
# simulator) and `make check` (build and run every test, under the
# sanitizers too, lint, and a short fuzzing pass). `make soak` and `make fuzz`
# run the long versions; `make bench` runs the benchmarks (never part of
# `make check`).

BUILD ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
JOBS ?= 2
CMAKE_FLAGS ?=
CTEST_FLAGS ?= --output-on-failure
# The test programs that hold *Concurrency suites, the only ones that
# ThreadSanitizer builds and runs.
TSAN_TARGETS := $(sort $(foreach f,$(shell grep -lE 'Concurrency, [A-Z]' tests/*/*.cpp),test_$(notdir $(patsubst %/,%,$(dir $(f))))))
# Runs per fuzz target in `make check`, and seconds per target in `make fuzz`.
FUZZ_CHECK_RUNS ?= 2000
FUZZ_SECONDS ?= 60
BENCH_BUILD ?= build-bench
BENCH_FLAGS ?=

# Test suites share the machine's CLI user table and /tmp/clPipe* names, so
# two test runs must never overlap, whatever -j make is given.
.NOTPARALLEL:

.PHONY: all deps configure build check test lint demo clean \
	check-asan check-tsan check-fuzz fuzz-build fuzz soak memcheck \
	bench-build bench bench-smoke

all: build

deps:
	bash scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -DZUBDM_BUILD_TESTS=ON $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j$(JOBS)

# Everything CI runs.
check: test lint check-asan check-tsan check-fuzz

test: build
	cd $(BUILD) && ctest -j$(JOBS) -LE soak $(CTEST_FLAGS)

lint: configure
	bash scripts/lint.sh $(BUILD)

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer.
check-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DZUBDM_BUILD_TESTS=ON \
	  -DZUBDM_SANITIZE=address,undefined $(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD) -j$(JOBS)
	bash scripts/sanitized-ctest.sh $(ASAN_BUILD) -j$(JOBS) -LE soak $(CTEST_FLAGS)

# The tests of concurrent use under ThreadSanitizer.
check-tsan: deps
	cmake -S . -B $(TSAN_BUILD) -DZUBDM_BUILD_TESTS=ON \
	  -DZUBDM_SANITIZE=thread $(CMAKE_FLAGS)
	cmake --build $(TSAN_BUILD) -j$(JOBS) --target $(TSAN_TARGETS)
	bash scripts/sanitized-ctest.sh $(TSAN_BUILD) -j$(JOBS) -L concurrency $(CTEST_FLAGS)

fuzz-build: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DZUBDM_FUZZ=ON \
	  -DZUBDM_SANITIZE=address,undefined -DZUBDM_BUILD_TESTS=OFF \
	  -DZUBDM_BUILD_TOOLS=OFF $(CMAKE_FLAGS)
	cmake --build $(FUZZ_BUILD) -j$(JOBS)

# A short, reproducible pass of every fuzz target over its seeds.
check-fuzz: fuzz-build
	bash scripts/fuzz.sh $(FUZZ_BUILD) -runs=$(FUZZ_CHECK_RUNS) -seed=1

# Every fuzz target for FUZZ_SECONDS, one after the other.
fuzz: fuzz-build
	bash scripts/fuzz.sh $(FUZZ_BUILD) -max_total_time=$(FUZZ_SECONDS)

# The long soak: 1000 connect/disconnect cycles and 10000 commands.
soak: build
	cd $(BUILD) && ctest -L soak --verbose $(CTEST_FLAGS)

# valgrind memcheck over the integration suites (CLI children not traced).
memcheck: build
	bash scripts/memcheck.sh $(BUILD)

demo: build
	bash scripts/demo.sh $(BUILD)

# Benchmarks: an optimised build of their own (library, simulator, floor
# program, library driver), then bench/run_bench.py, which also runs Tcl
# Expect and Python pexpect and prints one table (bench/README.md). Uses the
# machine's CLI user table and /tmp/clPipe*: do not run it while the test
# suite runs. The real CLI's rows start FRR's daemons for the run (root and
# network namespaces; skipped elsewhere).
bench-build:
	ZUBDM_BENCH_DEPS=1 bash scripts/install-deps.sh
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release \
	  -DZUBDM_BUILD_BENCHMARKS=ON -DZUBDM_BUILD_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build $(BENCH_BUILD) -j$(JOBS) --target bench_library bench_floor cli zubdm_tool

bench: bench-build
	python3 bench/run_bench.py --build $(BENCH_BUILD) $(BENCH_FLAGS)

# One short round: checks that every benchmark still runs.
bench-smoke: bench-build
	python3 bench/run_bench.py --build $(BENCH_BUILD) --quick $(BENCH_FLAGS)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD) $(BENCH_BUILD)
