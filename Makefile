# The two commands a newcomer needs:  make run   and   make test
# Both install the dependencies from Debian's packages first (scripts/setup-deps).

BUILD      ?= build
SAN_BUILD  ?= build-sanitize
FUZZ_BUILD ?= build-fuzz
JOBS       ?= $(shell nproc)
CMAKE_FLAGS ?=
FUZZ_SECONDS ?= 60

.PHONY: deps configure build run test test-sanitize fuzz bench install package clean

deps:
	@scripts/setup-deps

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/bin/vesperine

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 600

# The headless core under AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize: deps
	@cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DVESPERINE_SANITIZE=ON \
	    -DVESPERINE_INTERFACE=OFF -DVESPERINE_BENCHMARKS=OFF >/dev/null
	@cmake --build $(SAN_BUILD) -j $(JOBS)
	@cd $(SAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	    ctest --output-on-failure -j $(JOBS) --timeout 600

fuzz: deps
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DVESPERINE_INTERFACE=OFF \
	    -DVESPERINE_TESTS=OFF -DVESPERINE_BENCHMARKS=OFF -DVESPERINE_FUZZ=ON >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_command_line fuzz_key_file_store
	@mkdir -p $(FUZZ_BUILD)/corpus && cp -n fuzz/corpus/* $(FUZZ_BUILD)/corpus/ 2>/dev/null || true
	@mkdir -p $(FUZZ_BUILD)/corpus-store && cp -n fuzz/corpus-store/* $(FUZZ_BUILD)/corpus-store/ 2>/dev/null || true
	$(FUZZ_BUILD)/bin/fuzz_command_line -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 $(FUZZ_BUILD)/corpus
	$(FUZZ_BUILD)/bin/fuzz_key_file_store -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 $(FUZZ_BUILD)/corpus-store

bench: build
	@bench/run-all

install: build
	cmake --install $(BUILD) $(if $(PREFIX),--prefix $(PREFIX),)

package: build
	@cd $(BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(FUZZ_BUILD)
