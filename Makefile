# Thin wrapper over CMake.
#   make         build the programs into build/bin
#   make demo    list and extract the bundled demo image
#   make test    install what the tests need (Debian), build, run every test
BUILD ?= build
JOBS ?= 2
PACKAGES = cmake g++ make libgtest-dev dosfstools mtools

.PHONY: all build demo test deps clean

all: build

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(BUILD) -j$(JOBS)

deps:
	@bash tools/install-packages.sh $(PACKAGES)

demo: deps build
	@bash tools/demo.sh $(BUILD)/bin/imgextract

test: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DWARNINGS_AS_ERRORS=ON >/dev/null
	cmake --build $(BUILD) -j$(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

clean:
	rm -rf $(BUILD) demo-out
