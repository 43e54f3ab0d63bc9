# The whole set-up: `make run` and `make test`. Both install missing Debian
# packages first, then build with CMake.
BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
JOBS       ?= $(shell nproc)
WERROR     ?= ON

.PHONY: all deps build run test test-main test-asan test-tsan test-fuzz bench clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVIK_WERROR=$(WERROR)
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@scripts/run-editor.sh $(BUILD)

# Every test: a short run of every fuzz target over its seeds, the TSan build
# of the threaded code, the ASan+UBSan build of the libraries without a
# window, and last the normal build (with the window) and all its tests.
test: deps
	$(MAKE) --no-print-directory test-fuzz test-tsan test-asan test-main

test-main:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVIK_WERROR=$(WERROR)
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan:
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DMORVIK_WERROR=$(WERROR) \
	      -DMORVIK_GUI=OFF -DMORVIK_SANITIZE=address
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS) -LE slow

test-tsan:
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DMORVIK_WERROR=$(WERROR) \
	      -DMORVIK_GUI=OFF -DMORVIK_SANITIZE=thread
	cmake --build $(TSAN_BUILD) -j $(JOBS)
	cd $(TSAN_BUILD) && ctest --output-on-failure -j $(JOBS) -L threads

test-fuzz:
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	      -DMORVIK_WERROR=$(WERROR) -DMORVIK_GUI=OFF -DMORVIK_FUZZ=ON -DMORVIK_TESTS=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	scripts/run-fuzzers.sh $(FUZZ_BUILD)

bench: build
	@scripts/run-benchmarks.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD)
