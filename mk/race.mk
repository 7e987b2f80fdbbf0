# The race test again in a ThreadSanitizer build: only that test, since the rest of the suite
# has no threads of its own that the plain and AddressSanitizer runs do not already cover.
# Suppressions (tests/race/tsan.supp) cover the toolkit's uninstrumented libraries only.

TSAN_BUILD ?= build-tsan

.PHONY: test-race

test-race: deps
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARNEL_WERROR=ON \
	    -DQUARNEL_SANITIZE=thread
	@if cmake --build $(TSAN_BUILD) --target help | grep -q race_test; then \
	    cmake --build $(TSAN_BUILD) -j $(JOBS) --target race_test && \
	    cd $(TSAN_BUILD) && $(XVFB) $(CTEST) -R '^race$$'; \
	else \
	    echo "race test not built here (no window toolkit): skipped"; \
	fi

TEST_STEPS += test-race
