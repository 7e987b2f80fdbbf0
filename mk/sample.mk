# The bundled sample on the command line: `make run` shows it when there is no window.
# The sample is the one built from samples/sample.s, or the committed copy without binutils.

# Which one is asked when the recipe runs: the build, which makes it, comes first.
SAMPLE_ELF = $$([ -f $(BUILD)/samples/sample.elf ] && echo $(BUILD)/samples/sample.elf || echo samples/sample.elf)
SAMPLE_CLI = $(BUILD)/quarnel-cli --search samples/search.txt --replace samples/replace.txt

.PHONY: run-cli measure-cli

# Exit status 1 (no match) is a result too; only 2 is a failure.
run-cli: build
	@elf=$(SAMPLE_ELF); \
	echo "== Where the sample patterns are found:"; \
	echo "quarnel-cli --format address --search samples/search.txt $$elf"; \
	$(SAMPLE_CLI) --format address $$elf; [ $$? -le 1 ] || exit 1; \
	echo "== The PNACH lines that write samples/replace.txt over them:"; \
	echo "quarnel-cli --search samples/search.txt --replace samples/replace.txt $$elf"; \
	$(SAMPLE_CLI) $$elf; [ $$? -le 1 ]

# Speed of the command line on a generated 64 MiB ELF: 100 patterns of 8 bytes at word
# alignment, and a search that yields a million matches.
MEASURE_DIR = $(BUILD)/measure
measure-cli: build
	@mkdir -p $(MEASURE_DIR)
	python3 bench/make_big_elf.py $(MEASURE_DIR)
	@echo "== 100 patterns of 8 bytes over 64 MiB, word alignment:"
	@bash -c 'time $(BUILD)/quarnel-cli --endian big --format address \
	    --search $(MEASURE_DIR)/patterns100.txt $(MEASURE_DIR)/big.elf | grep -c //'
	@echo "== a million matches:"
	@bash -c 'time $(BUILD)/quarnel-cli --endian big --format address \
	    --search $(MEASURE_DIR)/million.txt $(MEASURE_DIR)/big.elf | grep -c //'
