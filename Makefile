# Thin wrapper around CMake.  `make test` and `make demo` do all the set-up.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

.PHONY: all configure build test demo bench sanitize tsan clean

all: build

configure:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo: build
	bash examples/demo.sh $(BUILD)

bench: build
	$(BUILD)/bench/foldquest_bench

# AddressSanitizer + UndefinedBehaviorSanitizer build of every test.
sanitize:
	$(MAKE) test BUILD=build-asan CMAKE_FLAGS="-DSANITIZERS='address;undefined' -DFOLDQUEST_BENCH=OFF $(CMAKE_FLAGS)"

# ThreadSanitizer build of every test.
tsan:
	$(MAKE) test BUILD=build-tsan CMAKE_FLAGS="-DSANITIZERS=thread -DFOLDQUEST_BENCH=OFF $(CMAKE_FLAGS)"

clean:
	rm -rf build build-asan build-tsan
