# Front door for the README's commands. CMake does the building; this file
# installs what is missing, builds every configuration and runs the tests.
.PHONY: all deps build native windows fuzz-build test run bench bench-host fuzz clean

BUILD := $(CURDIR)/build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
IN ?=
OUT ?= $(BUILD)/out.wav
FUZZ_SECONDS ?= 600

all: build

deps:
	@mkdir -p $(BUILD)
	@bash scripts/install-deps.sh

native: deps
	@cmake --preset native -DREDOZER_WIN32_DIR=$(BUILD)/win32 -DREDOZER_WIN64_DIR=$(BUILD)/win64 \
	    -DREDOZER_FUZZ_DIR=$(BUILD)/fuzz > $(BUILD)/native-configure.log 2>&1 || \
	    { cat $(BUILD)/native-configure.log; exit 1; }
	@cmake --build $(BUILD)/native -j $(JOBS)

windows: deps
	@for p in win32 win64; do \
	    cmake --preset $$p > $(BUILD)/$$p-configure.log 2>&1 || { cat $(BUILD)/$$p-configure.log; exit 1; }; \
	    cmake --build $(BUILD)/$$p -j $(JOBS) || exit 1; \
	done

fuzz-build: deps
	@cmake --preset fuzz > $(BUILD)/fuzz-configure.log 2>&1 || { cat $(BUILD)/fuzz-configure.log; exit 1; }
	@cmake --build $(BUILD)/fuzz -j $(JOBS)

build: native windows fuzz-build

test: build
	@cd $(BUILD)/native && ctest --output-on-failure -j $(JOBS) --timeout 900

run: native
	@if [ -n "$(IN)" ]; then \
	    $(BUILD)/native/bin/dsphost "$(IN)" "$(OUT)" && echo "Output: $(OUT)"; \
	else \
	    $(BUILD)/native/bin/dsphost $(BUILD)/native/sample.wav "$(OUT)" && echo "Output: $(OUT) (from the generated sample $(BUILD)/native/sample.wav)"; \
	fi

bench: native
	@$(BUILD)/native/bin/redozer_bench --benchmark_counters_tabular=true

# dsphost against sox, ffmpeg's mcompand and itself with the loudness report,
# on a generated 10-minute recording; prints the times and their ratios.
bench-host: native
	@bash bench/bench_host.sh $(BUILD)/native/bin $(BUILD)/bench-host

fuzz: fuzz-build
	@$(BUILD)/fuzz/tests/fuzz/run-fuzzers.sh $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD)
