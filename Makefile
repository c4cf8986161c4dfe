# The two commands a newcomer needs:  make run   and   make test
# Each installs what it needs from Debian's packages first (scripts/setup-deps):
# make run only what building and running the program takes, make test also the
# test tools, make bench and make fuzz also the benchmark and fuzzing tools.

BUILD      ?= build
SAN_BUILD  ?= build-sanitize
FUZZ_BUILD ?= build-fuzz
JOBS       ?= $(shell nproc)
CMAKE_FLAGS ?=
FUZZ_SECONDS ?= 60

.PHONY: deps configure build run test test-sanitize fuzz bench install package clean

# What the build folder holds besides the program, set per command below.
LEVEL ?= test
LEVEL_FLAGS ?= -DVESPERINE_TESTS=ON -DVESPERINE_BENCHMARKS=OFF
deps:
	@scripts/setup-deps $(LEVEL)

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(LEVEL_FLAGS) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# Only the program: no test or benchmark is built, no test tool installed.
run: LEVEL = run
run: LEVEL_FLAGS = -DVESPERINE_TESTS=OFF -DVESPERINE_BENCHMARKS=OFF
run: build
	$(BUILD)/bin/vesperine

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 600

# The headless core under AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize:
	@scripts/setup-deps test
	@cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DVESPERINE_SANITIZE=ON \
	    -DVESPERINE_INTERFACE=OFF -DVESPERINE_BENCHMARKS=OFF >/dev/null
	@cmake --build $(SAN_BUILD) -j $(JOBS)
	@cd $(SAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	    ctest --output-on-failure -j $(JOBS) --timeout 600

fuzz:
	@scripts/setup-deps bench
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DVESPERINE_INTERFACE=OFF \
	    -DVESPERINE_TESTS=OFF -DVESPERINE_BENCHMARKS=OFF -DVESPERINE_FUZZ=ON >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_command_line fuzz_key_file_store
	@mkdir -p $(FUZZ_BUILD)/corpus && cp -n fuzz/corpus/* $(FUZZ_BUILD)/corpus/ 2>/dev/null || true
	@mkdir -p $(FUZZ_BUILD)/corpus-store && cp -n fuzz/corpus-store/* $(FUZZ_BUILD)/corpus-store/ 2>/dev/null || true
	$(FUZZ_BUILD)/bin/fuzz_command_line -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 $(FUZZ_BUILD)/corpus
	$(FUZZ_BUILD)/bin/fuzz_key_file_store -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 $(FUZZ_BUILD)/corpus-store

bench: LEVEL = bench
bench: LEVEL_FLAGS = -DVESPERINE_TESTS=ON -DVESPERINE_BENCHMARKS=ON
bench: build
	@bench/run-all

install: build
	cmake --install $(BUILD) $(if $(PREFIX),--prefix $(PREFIX),)

package: build
	@cd $(BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(FUZZ_BUILD)
