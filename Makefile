# The two commands of the README: `make demo` and `make test`.
BUILD      ?= build
BUILD_SAN  ?= build-san
BUILD_FUZZ ?= build-fuzz
BUILD_REL  ?= build-release
BUILD_PKG  ?= build-package
FUZZ_SECONDS ?= 300
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_ARGS ?=

# System packages (Debian names): the programs alone need these ...
PROGRAM_PACKAGES = cmake g++ make libsqlite3-dev libpugixml-dev nlohmann-json3-dev libcli11-dev
# ... the tests and benchmarks these on top,
TEST_PACKAGES = libgtest-dev libgmock-dev libbenchmark-dev tcl sqlite3 valgrind jq \
                python3-jsonschema
# the Debian package and the comparison of `make bench` these,
PACKAGE_PACKAGES = dpkg-dev
BENCH_PACKAGES = fityk python3-lmfit python3-scipy
# the Python module (make python, make test) these,
PYTHON_PACKAGES = pybind11-dev python3-dev python3-numpy
# the fuzz targets these,
FUZZ_PACKAGES = clang libclang-rt-14-dev
# and the one-node cluster of test-slurm these.
SLURM_PACKAGES = slurm-wlm munge
PACKAGES = $(PROGRAM_PACKAGES) $(TEST_PACKAGES)
# The picture tests need this (without it they are skipped outside CI).
RENDER_PACKAGES = chromium

PROGRAMS = tavrick tavrick-sketch tavrick-store

.PHONY: all build demo programs test test-release test-san deps deps-programs bench fuzz \
        fuzz-build test-fuzz package clean python python-deps format

all: build

# Installs the packages of $(PACKAGES) that are missing (as root), or names them.
deps:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "installing:$$missing"; \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	  else \
	    echo "missing system packages:$$missing (install them with apt-get as root)"; exit 1; \
	  fi; \
	fi

deps-programs:
	@$(MAKE) --no-print-directory deps PACKAGES="$(PROGRAM_PACKAGES)"

# The programs only: no tests, no benchmarks, none of their packages. A
# fresh build folder gets optimised code without debug information (-O2: as
# fast as -O3 here and quicker to compile); an existing one keeps its type.
PROGRAMS_CMAKE_ARGS = -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG"
programs: deps-programs
	@test -f $(BUILD)/CMakeCache.txt || \
	  { echo "cmake -S . -B $(BUILD) $(PROGRAMS_CMAKE_ARGS) $(CMAKE_ARGS)"; \
	    cmake -S . -B $(BUILD) $(PROGRAMS_CMAKE_ARGS) $(CMAKE_ARGS); }
	cmake --build $(BUILD) -j $(JOBS) --target $(PROGRAMS)

# Developer build: everything, warnings as errors.
build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRICK_WERROR=ON $(CMAKE_ARGS)
	cmake --build $(BUILD) -j $(JOBS)

# The Python module: its packages installed when missing, then switched on.
python-deps:
	@$(MAKE) --no-print-directory deps PACKAGES="$(PYTHON_PACKAGES)"

python: deps python-deps
	cmake -S . -B $(BUILD) -DTAVRICK_PYTHON=ON $(CMAKE_ARGS)
	cmake --build $(BUILD) -j $(JOBS) --target tavrick_python

test: python-deps build
	-@$(MAKE) --no-print-directory deps PACKAGES="$(RENDER_PACKAGES)"
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 600

# The optimised build (-O3) as a user makes it, and the reference cases on it.
test-release: deps
	cmake -S . -B $(BUILD_REL) -DCMAKE_BUILD_TYPE=Release -DTAVRICK_WERROR=ON -DTAVRICK_BENCH=OFF $(CMAKE_ARGS)
	cmake --build $(BUILD_REL) -j $(JOBS) --target golden_test
	cd $(BUILD_REL) && ctest -L golden --output-on-failure -j $(JOBS) --timeout 600

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer.
test-san: deps
	cmake -S . -B $(BUILD_SAN) -DCMAKE_BUILD_TYPE=Debug -DTAVRICK_SANITIZE=ON -DTAVRICK_BENCH=OFF \
	  -DTAVRICK_WERROR=ON $(CMAKE_ARGS)
	cmake --build $(BUILD_SAN) -j $(JOBS)
	cd $(BUILD_SAN) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS) --timeout 900

# libFuzzer targets (clang): the option phase, the format interpreter, the
# spectrum readers, the store library, the import path and the engine. `make test-fuzz` runs each for 20 s (the CTest entries
# labelled "fuzz"), `make fuzz` for FUZZ_SECONDS each; both print the corpus
# size and the executions per second.
fuzz-build: deps
	@$(MAKE) --no-print-directory deps PACKAGES="$(FUZZ_PACKAGES)"
	@command -v clang >/dev/null && command -v clang++ >/dev/null || \
	  { echo "fuzzing needs clang and clang++ (with libclang-rt-dev)"; exit 1; }
	CC=clang CXX=clang++ cmake -S . -B $(BUILD_FUZZ) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DTAVRICK_FUZZ=ON -DTAVRICK_TESTS=OFF -DTAVRICK_BENCH=OFF -DTAVRICK_WERROR=ON $(CMAKE_ARGS)
	cmake --build $(BUILD_FUZZ) -j $(JOBS) --target fuzz_targets

test-fuzz: fuzz-build
	cd $(BUILD_FUZZ) && { ctest -L fuzz -j $(JOBS) --timeout 300 --output-on-failure; s=$$?; \
	  cat tests/fuzz/*/summary.txt; exit $$s; }

fuzz: fuzz-build
	cd $(BUILD_FUZZ) && { TAVRICK_FUZZ_SECONDS=$(FUZZ_SECONDS) ctest -L fuzz -j $(JOBS) \
	  --timeout $$(( $(FUZZ_SECONDS) + 300 )) --output-on-failure; s=$$?; \
	  cat tests/fuzz/*/summary.txt; exit $$s; }

demo: programs
	@./scripts/demo.sh $(BUILD)

# The Debian package of the programs and the Python module, from an optimised
# build without tests and benchmarks.
package: deps-programs python-deps
	@$(MAKE) --no-print-directory deps PACKAGES="$(PACKAGE_PACKAGES)"
	cmake -S . -B $(BUILD_PKG) -DCMAKE_BUILD_TYPE=Release -DTAVRICK_TESTS=OFF -DTAVRICK_BENCH=OFF \
	  -DTAVRICK_PYTHON=ON $(CMAKE_ARGS)
	cmake --build $(BUILD_PKG) -j $(JOBS)
	cd $(BUILD_PKG) && cpack -G DEB
	@ls $(BUILD_PKG)/*.deb

bench: deps
	@$(MAKE) --no-print-directory deps PACKAGES="$(BENCH_PACKAGES)"
	cmake -S . -B $(BUILD) $(CMAKE_ARGS)
	@$(MAKE) --no-print-directory python-deps
	cmake -S . -B $(BUILD) -DTAVRICK_PYTHON=ON $(CMAKE_ARGS)
	cmake --build $(BUILD) -j $(JOBS) --target $(PROGRAMS) tavrick_bench bench_tools tavrick_python
	@./scripts/bench.sh $(BUILD)

# tavrick-batch as a Slurm array job of 4 shards on a one-node cluster started
# (and stopped) on this machine; as root.
test-slurm: build
	@$(MAKE) --no-print-directory deps PACKAGES="$(SLURM_PACKAGES)"
	./scripts/slurm/test-slurm.sh $(BUILD)

# tavrick-batch's fits per second on 1 and 2 worker threads.
bench-batch: build
	$(BUILD)/bench/tavrick_batch_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

clean:
	rm -rf $(BUILD) $(BUILD_SAN) $(BUILD_FUZZ) $(BUILD_REL) $(BUILD_PKG)

# Lays out every C++ file by .clang-format (clang-format from Debian's clang-format).
format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')
