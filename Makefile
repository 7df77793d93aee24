# Thin wrapper around CMake.  `make test` and `make demo` do all the set-up.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

.PHONY: all configure build test demo bench bench-mpi sanitize tsan clean

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

# Grid search on MPI ranks against OpenMP threads (needs the MPI build).
bench-mpi: build
	bash bench/mpi_grid.sh $(BUILD)

# AddressSanitizer + UndefinedBehaviorSanitizer build of every test.
sanitize:
	$(MAKE) test BUILD=build-asan CMAKE_FLAGS="-DSANITIZERS='address;undefined' -DFOLDQUEST_BENCH=OFF $(CMAKE_FLAGS)"

# ThreadSanitizer build of the parallel methods' tests.  GCC's OpenMP
# runtime is invisible to ThreadSanitizer (every region looks like a race),
# so this build uses clang with LLVM's runtime and its Archer tool, which
# tells ThreadSanitizer about OpenMP's barriers and joins.
ARCHER ?= /usr/lib/llvm-14/lib/libarcher.so
TSAN_TESTS ?= GridSearch|MonteCarlo|Tempering|Parallel|Threads
tsan:
	$(MAKE) build BUILD=build-tsan CMAKE_FLAGS="-DCMAKE_CXX_COMPILER=clang++-14 -DSANITIZERS=thread -DFOLDQUEST_BENCH=OFF"
	cd build-tsan && OMP_TOOL_LIBRARIES=$(ARCHER) \
	  TSAN_OPTIONS="halt_on_error=1 suppressions=$(CURDIR)/tests/tsan.supp" \
	  ctest --output-on-failure -R '$(TSAN_TESTS)'

clean:
	rm -rf build build-asan build-tsan
