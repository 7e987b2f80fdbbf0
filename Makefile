# Quarnel's two set-up commands: `make run` and `make test` work on a fresh Debian 12 machine.
# Parts of the build that need more (the Windows cross-build, benchmarks, fuzzing) live in mk/*.mk
# and add their steps to TEST_STEPS.

BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=Release -DQUARNEL_WERROR=ON
# Nothing here is decided before `deps` has run: on a fresh machine the packages come with the
# first `make test`, so whether xvfb-run exists is asked by the recipe, when it runs.
# Window tests get a virtual display (tools/with_display.sh).
XVFB       := $(CURDIR)/tools/with_display.sh
# A failing test shows at most 200 lines of what it printed, not a runaway log.
CTEST      := $(CURDIR)/tools/ctest_capped.sh --timeout 600

TEST_STEPS := test-native test-asan

.PHONY: all deps build run test test-native test-asan install clean

all: build

deps:
	@bash tools/install_deps.sh

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

test-native: build
	cd $(BUILD) && $(XVFB) $(CTEST)

# The whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DQUARNEL_WERROR=ON \
	    -DQUARNEL_SANITIZE=address,undefined
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	    $(XVFB) $(CTEST)

-include mk/*.mk

test: $(TEST_STEPS)

run: build
	@if [ -x $(BUILD)/quarnel ] && [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
	    $(BUILD)/quarnel; \
	elif [ -x $(BUILD)/quarnel ]; then \
	    echo "No display here: Quarnel's window needs one. The same search from the command line:"; \
	    $(MAKE) --no-print-directory run-cli; \
	else \
	    $(MAKE) --no-print-directory run-cli; \
	fi

# Installs under PREFIX (default /usr/local): the two programs, their manual pages, the bash
# completion, readme.txt, the desktop entry, the AppStream metadata and the icons. The build is
# configured for PREFIX first: the window reads readme.txt from the data folder it was built for.
PREFIX ?= /usr/local
install: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS) -DCMAKE_INSTALL_PREFIX=$(PREFIX)
	cmake --build $(BUILD) -j $(JOBS)
	cmake --install $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) build-* dist
