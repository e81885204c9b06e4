# The two set-up commands: `make demo` (the main job against the bundled CLI
# simulator) and `make check` (build and run every test).

BUILD ?= build
JOBS ?= 2
CMAKE_FLAGS ?=
CTEST_FLAGS ?= --output-on-failure

.PHONY: all deps configure build check demo lint clean

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

clean:
	rm -rf $(BUILD)
