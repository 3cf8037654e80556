# Thin wrapper round CMake for the everyday commands:
#   make demo    set up, build and run the light show
#   make test    set up (with the test-only packages), build and run the whole test suite
#   make test SANITIZE=1   the same under AddressSanitizer + UBSan (build-asan/)
#   make fuzz    build the libFuzzer targets with clang (build-fuzz/) and run each briefly
#   make bench   build and run the benchmarks
#   make install [DESTDIR=...] [PREFIX=/usr/local]   build and install
#   make package build a Debian package (hallway-lights_*.deb in the build folder)
SANITIZE ?= 0
ifeq ($(SANITIZE),1)
BUILD ?= build-asan
CMAKE_FLAGS += -DSANITIZE=ON
else
BUILD ?= build
endif
JOBS ?= 2
PREFIX ?= /usr/local
FUZZ_SECONDS ?= 20

export ASAN_OPTIONS ?= detect_leaks=1:abort_on_error=0
export LSAN_OPTIONS ?= suppressions=$(CURDIR)/tests/support/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS ?= print_stacktrace=1:halt_on_error=1

.PHONY: all deps test-deps configure build test demo install package fuzz bench clean

all: build

deps:
	@sh scripts/deps.sh deps/*.txt

# What only the tests need comes on top (deps/test/).
test-deps:
	@sh scripts/deps.sh deps/*.txt deps/test/*.txt

configure: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: test-deps build
	cd $(BUILD) && ctest -j $(JOBS) --output-on-failure --timeout 120

demo: build
	sh scripts/demo.sh $(BUILD)

# DESTDIR (a staging folder) comes from the command line or the environment.
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

package: build
	cd $(BUILD) && cpack

fuzz:
	@sh scripts/deps.sh deps/*.txt scripts/fuzz-deps.txt
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -DFUZZ=ON
	cmake --build build-fuzz -j $(JOBS)
	sh scripts/run-fuzzers.sh build-fuzz $(FUZZ_SECONDS)

bench: build
	sh scripts/run-benches.sh $(BUILD)

clean:
	rm -rf build build-asan build-fuzz
