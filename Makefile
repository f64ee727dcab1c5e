# The two commands of the README: `make demo` and `make test`.
BUILD      ?= build
BUILD_SAN  ?= build-san
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_ARGS ?=

# System packages the build needs (Debian names).
PACKAGES = cmake g++ make libsqlite3-dev libgtest-dev libgmock-dev libbenchmark-dev \
           libpugixml-dev tcl sqlite3

.PHONY: all build demo test test-san deps bench fuzz clean

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

demo: build
	@./scripts/demo.sh $(BUILD)

bench: build
	@./scripts/bench.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(BUILD_SAN)
