# Thin wrapper over CMake: `make demo` and `make test` are the two set-up
# commands of the README.  Both install the Debian packages first.
BUILD ?= build
ASAN_BUILD ?= build-asan
JOBS ?= $(shell nproc)
CMAKE_OPTIONS ?=

.PHONY: all deps build demo test asan test-asan bench fuzz clean

all: build

deps:
	@tools/install-deps.sh

build: deps
	@cmake -S . -B $(BUILD) -G Ninja -DMIPFORGE_WERROR=ON $(CMAKE_OPTIONS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

demo: build
	@tools/demo.sh $(BUILD)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

asan: deps
	@cmake -S . -B $(ASAN_BUILD) -G Ninja -DMIPFORGE_WERROR=ON -DMIPFORGE_SANITIZE=ON $(CMAKE_OPTIONS) >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)

test-asan: asan
	@cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
