# `make bench`: the scan benchmark. Not part of `make test`: it needs a quiet machine and a
# minute, and reports figures rather than passing or failing on them.
BENCH_TOOLS ?= $(BUILD)/bench

.PHONY: bench

bench: build
	mkdir -p $(BENCH_TOOLS)
	$(CXX) -O2 -std=c++20 -o $(BENCH_TOOLS)/gen_elf bench/gen_elf.cpp
	$(CXX) -O2 -std=c++20 -I. -o $(BENCH_TOOLS)/engine_bench bench/engine_bench.cpp \
	    $(BUILD)/core/libquarnel_core.a -lpthread
	python3 bench/run_bench.py $(BUILD) $(BENCH_TOOLS)
