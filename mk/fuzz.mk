# Fuzzing with clang's libFuzzer under AddressSanitizer and UndefinedBehaviorSanitizer.
#   make fuzz                      every target for FUZZ_SECONDS (default 60) each
#   make fuzz FUZZ_SECONDS=600     a longer run
# `make test` runs every target for FUZZ_CI_SECONDS (default 30) each, so each change is
# fuzzed a little; working corpora grow in $(FUZZ_BUILD)/corpus and survive between runs.

FUZZ_BUILD      ?= build-fuzz
FUZZ_SECONDS    ?= 60
FUZZ_CI_SECONDS ?= 30

.PHONY: fuzz fuzz-build test-fuzz

fuzz-build: deps
	cmake -S fuzz -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(FUZZ_BUILD) -j $(JOBS)

fuzz: fuzz-build
	fuzz/run_fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

test-fuzz: fuzz-build
	fuzz/run_fuzz.sh $(FUZZ_BUILD) $(FUZZ_CI_SECONDS)

TEST_STEPS += test-fuzz
