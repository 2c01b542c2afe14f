# Front door for the README's commands. CMake does the building; this file
# installs what is missing, builds every configuration and runs the tests.
.PHONY: all deps build native windows fuzz-build test run run-build bench bench-host bench-quality bench-ui fuzz clean install dist deb

BUILD := $(CURDIR)/build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
IN ?=
OUT ?= $(BUILD)/out.wav
RUN_PRESET ?= Streaming -16
FUZZ_SECONDS ?= 600
PREFIX ?= /usr/local
DESTDIR ?=
NATIVE_CONFIGURE = cmake --preset native -DREDOZER_WIN32_DIR=$(BUILD)/win32 -DREDOZER_WIN64_DIR=$(BUILD)/win64 \
    -DREDOZER_FUZZ_DIR=$(BUILD)/fuzz

all: build

deps:
	@mkdir -p $(BUILD)
	@bash scripts/install-deps.sh

native: deps
	@$(NATIVE_CONFIGURE) > $(BUILD)/native-configure.log 2>&1 || { cat $(BUILD)/native-configure.log; exit 1; }
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

# `make run` installs and builds only what it runs: the minimal package set,
# then dsphost, the plug-in library and the sample in build/run.
run-build:
	@mkdir -p $(BUILD)
	@bash scripts/install-deps.sh minimal
	@cmake --preset run > $(BUILD)/run-configure.log 2>&1 || { cat $(BUILD)/run-configure.log; exit 1; }
	@cmake --build $(BUILD)/run -j $(JOBS) --target dsphost sample

# The product's main job on the sample (or IN): the streaming preset, the
# delay taken out, and the loudness table before and after.
run: run-build
	@if [ -n "$(IN)" ]; then in="$(IN)"; else in="$(BUILD)/run/sample.wav"; fi; \
	if [ -n "$(RUN_PRESET)" ]; then \
	    echo "dsphost --preset \"$(RUN_PRESET)\" --two-pass: $$in -> $(OUT)"; \
	    $(BUILD)/run/bin/dsphost --preset "$(RUN_PRESET)" --two-pass --delay remove --loudness "$$in" "$(OUT)" || exit 1; \
	else \
	    $(BUILD)/run/bin/dsphost --delay remove --loudness "$$in" "$(OUT)" || exit 1; \
	fi; \
	if [ -n "$(IN)" ]; then echo "Output: $(OUT)"; else echo "Output: $(OUT) (from the generated sample $$in)"; fi

bench: native
	@$(BUILD)/native/bin/redozer_bench --benchmark_counters_tabular=true
	@LV2_PATH=$(BUILD)/native/lv2:/usr/lib/lv2 $(BUILD)/native/bin/redozer_lv2_bench
	@if [ -x $(BUILD)/native/bin/redozer_obs_bench ]; then \
	    $(BUILD)/native/bin/redozer_obs_bench $(BUILD)/native/lv2/dsp_redozer.lv2/dsp_redozer_lv2.so; fi

# dsphost against sox, ffmpeg's mcompand and itself with the loudness report,
# on a generated 10-minute recording; prints the times and their ratios.
bench-host: native
	@bash bench/bench_host.sh $(BUILD)/native/bin $(BUILD)/bench-host

# Sound quality: THD+N, IMD and pumping on steady signals, and loudness
# spread, loudness range kept, true peak and clipping on music played as one
# stream, for the built-in presets with the output stage, modes 0/1/2 and the
# Debian peers; prints two Markdown tables (bench/bench_quality.sh).
bench-quality:
	@mkdir -p $(BUILD)
	@bash scripts/install-deps.sh bench
	@$(NATIVE_CONFIGURE) > $(BUILD)/native-configure.log 2>&1 || { cat $(BUILD)/native-configure.log; exit 1; }
	@cmake --build $(BUILD)/native -j $(JOBS) --target dsphost bench_quality
	@bash bench/bench_quality.sh $(BUILD)/native/bin $(BUILD)/bench-quality

# The LV2 plug-in UI: first frame and CPU, beside x42's dpl in jalv.
bench-ui: native
	@bash bench/ui_bench.sh $(BUILD)/native/bin $(BUILD)/native/lv2 $(BUILD)/bench-ui

fuzz: fuzz-build
	@$(BUILD)/fuzz/tests/fuzz/run-fuzzers.sh $(FUZZ_SECONDS)

# Installs dsphost, the plug-in library, the man page and the documents under
# PREFIX (default /usr/local), staged under DESTDIR when given.
install: deps
	@$(NATIVE_CONFIGURE) > $(BUILD)/native-configure.log 2>&1 || { cat $(BUILD)/native-configure.log; exit 1; }
	@cmake --build $(BUILD)/native --target installables -j $(JOBS)
	@DESTDIR="$(DESTDIR)" cmake --install $(BUILD)/native --prefix "$(PREFIX)"

# The Windows installer and zip: build/dist/dsp_redozer-VERSION-setup.exe, -win32.zip.
dist: deps
	@cmake --preset win32 > $(BUILD)/win32-configure.log 2>&1 || { cat $(BUILD)/win32-configure.log; exit 1; }
	@cmake --build $(BUILD)/win32 --target dist -j $(JOBS)
	@ls -l $(BUILD)/dist/*setup.exe $(BUILD)/dist/*win32.zip

# The Debian package: build/dist/dsp-redozer_VERSION_ARCH.deb.
deb: deps
	@$(NATIVE_CONFIGURE) > $(BUILD)/native-configure.log 2>&1 || { cat $(BUILD)/native-configure.log; exit 1; }
	@cmake --build $(BUILD)/native --target installables -j $(JOBS)
	@cd $(BUILD)/native && cpack -G DEB
	@ls -l $(BUILD)/dist/*.deb

clean:
	rm -rf $(BUILD)
