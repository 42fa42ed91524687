# Kestrelmap: `make demo` builds and runs the program, `make test` builds and tests it.
# Both install the Debian packages they need first (nothing when all are present).

PACKAGES := build-essential cmake ninja-build pkg-config qt6-base-dev qt6-serialport-dev \
            libgtest-dev libgmock-dev libbenchmark-dev clang-format locales \
            dbus at-spi2-core python3-pyatspi \
            xvfb xauth xdotool imagemagick x11-utils clang libclang-rt-14-dev gdal-bin \
            libgeographiclib-dev libmosquitto-dev mosquitto libssl-dev openssl \
            gpsd gpsd-clients
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
JOBS ?= $(shell nproc)
BUILD ?= build
ASAN_BUILD ?= build-asan
CMAKE_COMMON := -G Ninja -DCMAKE_EXPORT_COMPILE_COMMANDS=ON

.PHONY: all deps build build-asan test test-fast demo bench fuzz soak package format format-check clean

all: build

deps:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing; \
	fi

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=RelWithDebInfo

$(ASAN_BUILD)/build.ninja:
	cmake -S . -B $(ASAN_BUILD) $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=Debug -DKESTREL_SANITIZE=ON

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

build-asan: deps $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD) -j $(JOBS)

# The whole suite, then the whole suite again under AddressSanitizer and UBSan.
test: build build-asan
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	cd $(ASAN_BUILD) && LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	  ctest --output-on-failure -j $(JOBS) -LE no-sanitizer

# The normal build's tests only, for quick turns while working.
test-fast: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo: build
	scripts/demo.sh $(BUILD)

bench: deps
	cmake -S . -B build-bench $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=Release -DKESTREL_BENCH=ON
	cmake --build build-bench -j $(JOBS) --target kestrel_bench kestrel_estimate_montecarlo
	build-bench/bench/kestrel_bench
	build-bench/bench/kestrel_estimate_montecarlo

fuzz: deps
	scripts/fuzz.sh

soak: build
	$(BUILD)/tests/kestrel_soak --hours=24

package: build
	cd $(BUILD) && cpack -G DEB

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

format-check:
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) build-bench build-fuzz
