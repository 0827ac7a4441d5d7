# The two commands of the README: `make demo` and `make test`.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)

.PHONY: all deps configure build test package demo asan-test tsan-test fuzz windows-check clean

all: build

deps:
	@./scripts/install-deps.sh

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

configure: deps $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) --timeout 300

# The libraries without a display, their tests and the kovra tool under ASan/UBSan.
asan-test: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKOVRA_GUI=OFF -DKOVRA_SANITIZE=ON -DKOVRA_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS) --timeout 600

# Every fuzz target of tests/fuzz under libFuzzer (clang, ASan, UBSan) for
# FUZZ_SECONDS each, from the seed corpus of the repository; what it learns
# grows in $(FUZZ_BUILD)/corpus, an input that fails lands in $(FUZZ_BUILD)/findings.
FUZZ_BUILD   ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS  = settings ini formula sums log_export

fuzz:
	@./scripts/install-deps.sh fuzz
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
	  -DCMAKE_CXX_COMPILER=clang++ -DKOVRA_FUZZ=ON -DKOVRA_GUI=OFF -DKOVRA_BENCH=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_targets
	@set -e; for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ_BUILD)/corpus/$$t $(FUZZ_BUILD)/findings/$$t; \
	  echo "fuzz: $$t for $(FUZZ_SECONDS) s"; \
	  ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	    $(FUZZ_BUILD)/tests/fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -max_len=4096 -timeout=10 \
	    -print_final_stats=1 -artifact_prefix=$(FUZZ_BUILD)/findings/$$t/ \
	    $(FUZZ_BUILD)/corpus/$$t tests/fuzz/corpus/$$t 2>$(FUZZ_BUILD)/findings/$$t/log.txt \
	  || { tail -n 40 $(FUZZ_BUILD)/findings/$$t/log.txt; echo "fuzz: $$t failed; the input is in $(FUZZ_BUILD)/findings/$$t"; exit 1; }; \
	  grep -h "stat::number_of_executed_units\|stat::peak_rss" $(FUZZ_BUILD)/findings/$$t/log.txt || true; \
	done

# The core without Qt (src/platform, src/formcomp and their tests) built for
# 64-bit Windows with MinGW-w64 and tested under wine, in a wine prefix of
# its own inside $(WINDOWS_BUILD).
WINDOWS_BUILD ?= build-windows

windows-check:
	@./scripts/install-deps.sh windows
	cmake -S . -B $(WINDOWS_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DKOVRA_CORE_ONLY=ON
	cmake --build $(WINDOWS_BUILD) -j $(JOBS)
	ctest --test-dir $(WINDOWS_BUILD) --output-on-failure -j $(JOBS) --timeout 600

# The link's tests (the worker thread against the simulated ECU) under
# ThreadSanitizer; only what they need is built.
TSAN_BUILD ?= build-tsan
TSAN_TARGETS = link_test_comm_thread link_test_quiet_plan link_test_serial_fast_path link_test_poll_protocol link_test_sim link_test_port_name \
  cli_test_link_tools

tsan-test: deps
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKOVRA_GUI=OFF -DKOVRA_BENCH=OFF \
	  "-DCMAKE_CXX_FLAGS=-fsanitize=thread -fno-omit-frame-pointer" "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread"
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target $(TSAN_TARGETS)
	TSAN_OPTIONS="suppressions=$(CURDIR)/tests/link/tsan.supp halt_on_error=1 second_deadlock_stack=1" \
	  ctest --test-dir $(TSAN_BUILD)/tests/link --output-on-failure -j $(JOBS) --timeout 600
	TSAN_OPTIONS="suppressions=$(CURDIR)/tests/link/tsan.supp halt_on_error=1 second_deadlock_stack=1" \
	  ctest --test-dir $(TSAN_BUILD)/tests/cli -R '^LinkToolsTest\.' --output-on-failure -j $(JOBS) --timeout 600

# A Debian package of the programs, the example configuration, the desktop
# entry and the udev rule (CPack).
package: build
	cd $(BUILD) && cpack -G DEB

demo: build
	@./scripts/demo.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(WINDOWS_BUILD) $(TSAN_BUILD)
