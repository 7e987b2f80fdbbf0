# `make bench`: the scan benchmark. Not part of `make test`: it needs a quiet machine and some
# minutes (the literal engine's check of 100,000 patterns alone takes a few; BENCH_SKIP_LITERAL=1
# leaves it out), about 1 GB of generated files under BENCH_TOOLS, and reports figures rather
# than passing or failing on them.
BENCH_TOOLS ?= $(BUILD)/bench

.PHONY: bench

bench: build
	mkdir -p $(BENCH_TOOLS)
	$(CXX) -O2 -std=c++20 -o $(BENCH_TOOLS)/gen_elf bench/gen_elf.cpp
	$(CXX) -O2 -std=c++20 -I. -o $(BENCH_TOOLS)/engine_bench bench/engine_bench.cpp \
	    $(BUILD)/core/libquarnel_core.a -lpthread
	python3 bench/run_bench.py $(BUILD) $(BENCH_TOOLS)
