# Kestrelmap: `make demo` builds and runs the program, `make test` builds and tests it.
# Both install the Debian packages they need first (nothing when all are present): the demo
# only what building kestrelmap and kestrel-sim and a run without a display need, the tests
# everything.

# The program and the simulator (rsvg-convert renders the window icon), and the headless run
# of scripts/demo.sh (Xvfb, xdotool, ImageMagick's import).
DEMO_PACKAGES := build-essential cmake ninja-build pkg-config qt6-base-dev qt6-serialport-dev \
                 qt6-websockets-dev nlohmann-json3-dev libsqlite3-dev libjs-leaflet libqrencode-dev \
                 libgeographiclib-dev libmosquitto-dev libssl-dev \
                 librsvg2-bin xvfb xdotool imagemagick
# The tests, the fuzz smoke runs (clang's libFuzzer), the map files read back by GDAL, the
# decimal-comma locale, the package check (lintian), the real daemons of the instrument and team
# tests (gpsd and gpsfake, mosquitto, openssl for a throwaway CA), the accessibility bus, the
# benchmarks, formatting and lint; the shared map's network namespaces (iproute2), curl in them,
# and zbarimg reading its QR code.
PACKAGES := $(DEMO_PACKAGES) libgtest-dev libgmock-dev libbenchmark-dev clang-format \
            clang-tidy locales clang libclang-rt-14-dev gdal-bin lintian \
            gpsd gpsd-clients mosquitto openssl dbus at-spi2-core python3-pyatspi \
            chromium chromium-driver python3-selenium slowhttptest gpsbabel zbar-tools iproute2 curl
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
JOBS ?= $(shell nproc)
# The normal tree's tests mostly wait (on the designed 10-second freshness, the simulator's
# pace, a browser): one test more than there are cores keeps both busy. The sanitizer tree's
# tests use the processor, so they run one a core.
TEST_JOBS ?= $(shell echo $$(( $$(nproc) + 1 )))
BUILD ?= build
ASAN_BUILD ?= build-asan
CMAKE_COMMON := -G Ninja -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
BENCH_CONFIGURE := cmake -S . -B build-bench $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=Release -DKESTREL_BENCH=ON

.PHONY: all deps demo-deps configure build build-asan test test-fast demo bench fuzz soak package lint \
        format format-check clean

all: build

# Installs the packages of $(1) that are missing.
define install_missing
	@missing=""; for p in $(1); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing; \
	fi
endef

deps:
	$(call install_missing,$(PACKAGES))

demo-deps:
	$(call install_missing,$(DEMO_PACKAGES))

# Configured again each time with the tests, so that `make test` after a `make demo` that left
# them out (no GoogleTest then) builds them.
configure: deps
	cmake -S . -B $(BUILD) $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTREL_TESTS=ON

$(ASAN_BUILD)/build.ninja:
	cmake -S . -B $(ASAN_BUILD) $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=Debug -DKESTREL_SANITIZE=ON \
	  -DKESTREL_TESTS=ON

build: configure
	cmake --build $(BUILD) -j $(JOBS)

build-asan: deps $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD) -j $(JOBS)

# The whole suite, then the whole suite again under AddressSanitizer and UBSan; a tree that
# holds no test fails.
test: build build-asan
	cd $(BUILD) && ctest --output-on-failure --no-tests=error -j $(TEST_JOBS)
	cd $(ASAN_BUILD) && LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	  ctest --output-on-failure --no-tests=error -j $(JOBS) -LE no-sanitizer

# The normal build's tests only, for quick turns while working.
test-fast: build
	cd $(BUILD) && ctest --output-on-failure -j $(TEST_JOBS)

# Only the programs (kestrel-estimate prints the fix at the end): no test packages, no tests
# built (the tree leaves the tests out when GoogleTest is missing, and keeps them when
# `make test` configured it before). `make demo DF=kraken` takes the bearings from the
# simulator's KrakenSDR on the network instead of the serial line (scripts/demo.sh reads DF).
demo: demo-deps
	cmake -S . -B $(BUILD) $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS) --target kestrelmap kestrel-sim kestrel-estimate
	scripts/demo.sh $(BUILD)

bench: deps
	$(BENCH_CONFIGURE)
	cmake --build build-bench -j $(JOBS) --target kestrel_bench kestrel_estimate_montecarlo \
	  kestrel_gate_montecarlo
	build-bench/bench/kestrel_bench
	build-bench/bench/kestrel_estimate_montecarlo
	build-bench/bench/kestrel_gate_montecarlo
	cmake --build build-bench -j $(JOBS) --target kestrelmap kestrel-sim kestrel_map_load \
	  kestrel_map_hunt_server kestrel_map_latency
	bench/live_map/run_live_map_bench.sh build-bench

fuzz: deps
	scripts/fuzz.sh

soak: build
	$(BUILD)/tests/kestrel_soak --hours=24

package: build
	cd $(BUILD) && cpack -G DEB

# clang-tidy (the checks in .clang-tidy) over every source file: the benchmark tree is only
# configured, for its compile database.
lint: build
	$(BENCH_CONFIGURE)
	scripts/lint.sh $(BUILD) build-bench

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

format-check:
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) build-bench build-fuzz
