# Thin wrapper over CMake.
#   make         build the programs into build/bin
#   make demo    list and extract the bundled demo image, and write it into a
#                file that stands for a diskette drive
#   make test    install what the tests need (Debian), build, run every test
#                (also with the sanitizers: make test-sanitized; fuzz smoke runs: make test-fuzz)
#   make demo-image  rebuild samples/demo.img
BUILD ?= build
JOBS ?= 2
PACKAGES = cmake g++ make libgtest-dev dosfstools mtools

.PHONY: all build demo demo-image test test-sanitized test-fuzz deps clean

all: build

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(BUILD) -j$(JOBS) --target imgextract dskwrite selfdisk mkselfdisk

deps:
	@bash tools/install-packages.sh $(PACKAGES)

demo: deps build
	@bash tools/demo.sh $(BUILD)/bin

test: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DWARNINGS_AS_ERRORS=ON >/dev/null
	cmake --build $(BUILD) -j$(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)
	$(MAKE) test-sanitized
	$(MAKE) test-fuzz

# The whole suite again with ASan and UBSan; any report fails the run. The
# test that limits the address space is left out: the sanitizers' own
# mappings do not fit under its limit.
ASAN_BUILD ?= build-asan
SANITIZER_OPTIONS = ASAN_OPTIONS=detect_leaks=1:halt_on_error=1 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
test-sanitized: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSANITIZE=ON >/dev/null
	cmake --build $(ASAN_BUILD) -j$(JOBS)
	cd $(ASAN_BUILD) && $(SANITIZER_OPTIONS) ctest --output-on-failure -j$(JOBS) \
		-E 'ReportsNotEnoughMemoryWhenTheBufferCannotBeHad'

# The fuzz targets, built with clang and libFuzzer, each run briefly from its
# seeds with a fixed seed. Long runs: fuzz/run.sh SECONDS.
FUZZ_BUILD ?= build-fuzz
FUZZ_PACKAGES = clang libclang-rt-14-dev
test-fuzz: deps
	@bash tools/install-packages.sh $(FUZZ_PACKAGES)
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DFUZZING=ON -DBUILD_TESTING=OFF >/dev/null
	cmake --build $(FUZZ_BUILD) -j$(JOBS)
	cd $(FUZZ_BUILD) && ctest --output-on-failure -j$(JOBS)

# Rebuilds samples/demo.img with the tests' image builder.
demo-image: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(BUILD) -j$(JOBS) --target make_demo_image
	$(BUILD)/bin/make_demo_image samples/demo.img

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) demo-out
