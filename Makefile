# The two set-up commands: `make demo` (the main job against the bundled CLI
# simulator) and `make check` (build and run every test). `make bench` runs
# the benchmarks (never part of `make check`).

BUILD ?= build
JOBS ?= 2
CMAKE_FLAGS ?=
CTEST_FLAGS ?= --output-on-failure
BENCH_BUILD ?= build-bench
BENCH_FLAGS ?=

.PHONY: all deps configure build check demo lint bench-build bench bench-smoke clean

all: build

deps:
	bash scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -DZUBDM_BUILD_TESTS=ON $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j$(JOBS)

check: build
	cd $(BUILD) && ctest -j$(JOBS) $(CTEST_FLAGS)

demo: build
	bash scripts/demo.sh $(BUILD)

lint: configure
	bash scripts/lint.sh $(BUILD)

# Benchmarks: an optimised build of their own (library, simulator, floor
# program, Google Benchmark driver), then bench/run_bench.py, which also runs
# Tcl Expect and Python pexpect and prints one table. Uses the machine's CLI
# user table and /tmp/clPipe*: do not run it while the test suite runs.
bench-build:
	ZUBDM_BENCH_DEPS=1 bash scripts/install-deps.sh
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release \
	  -DZUBDM_BUILD_BENCHMARKS=ON -DZUBDM_BUILD_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build $(BENCH_BUILD) -j$(JOBS) --target bench_library bench_floor cli

bench: bench-build
	python3 bench/run_bench.py --build $(BENCH_BUILD) $(BENCH_FLAGS)

# One short round: checks that every benchmark still runs.
bench-smoke: bench-build
	python3 bench/run_bench.py --build $(BENCH_BUILD) --quick $(BENCH_FLAGS)

clean:
	rm -rf $(BUILD) $(BENCH_BUILD)
