# The two commands of the README: `make demo` and `make test`.
BUILD      ?= build
BUILD_SAN  ?= build-san
BUILD_FUZZ ?= build-fuzz
FUZZ_SECONDS ?= 300
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_ARGS ?=

# System packages the build needs (Debian names).
PACKAGES = cmake g++ make libsqlite3-dev libgtest-dev libgmock-dev libbenchmark-dev \
           libpugixml-dev tcl sqlite3 valgrind libcli11-dev \
           nlohmann-json3-dev jq python3-jsonschema
# and for the fuzz targets
FUZZ_PACKAGES = clang libclang-rt-14-dev
# and for the one-node cluster of test-slurm
SLURM_PACKAGES = slurm-wlm munge

.PHONY: all build demo test test-san deps bench fuzz fuzz-build test-fuzz test-slurm bench-batch clean

all: build

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

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 600

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer.
test-san: deps
	cmake -S . -B $(BUILD_SAN) -DCMAKE_BUILD_TYPE=Debug -DTAVRICK_SANITIZE=ON -DTAVRICK_BENCH=OFF $(CMAKE_ARGS)
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
	  -DTAVRICK_FUZZ=ON -DTAVRICK_TESTS=OFF -DTAVRICK_BENCH=OFF $(CMAKE_ARGS)
	cmake --build $(BUILD_FUZZ) -j $(JOBS) --target fuzz_targets

test-fuzz: fuzz-build
	cd $(BUILD_FUZZ) && { ctest -L fuzz -j $(JOBS) --timeout 300 --output-on-failure; s=$$?; \
	  cat tests/fuzz/*/summary.txt; exit $$s; }

fuzz: fuzz-build
	cd $(BUILD_FUZZ) && { TAVRICK_FUZZ_SECONDS=$(FUZZ_SECONDS) ctest -L fuzz -j $(JOBS) \
	  --timeout $$(( $(FUZZ_SECONDS) + 300 )) --output-on-failure; s=$$?; \
	  cat tests/fuzz/*/summary.txt; exit $$s; }

demo: build
	@./scripts/demo.sh $(BUILD)

bench: build
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
	rm -rf $(BUILD) $(BUILD_SAN) $(BUILD_FUZZ)
