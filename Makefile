# Thin wrapper over CMake.
#   make         build the programs into build/bin
#   make demo    list and extract the bundled demo image
#   make test    install what the tests need (Debian), build, run every test
#   make demo-image  rebuild samples/demo.img
BUILD ?= build
JOBS ?= 2
PACKAGES = cmake g++ make libgtest-dev dosfstools mtools

.PHONY: all build demo demo-image test deps clean

all: build

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(BUILD) -j$(JOBS) --target imgextract

deps:
	@bash tools/install-packages.sh $(PACKAGES)

demo: deps build
	@bash tools/demo.sh $(BUILD)/bin/imgextract

test: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DWARNINGS_AS_ERRORS=ON >/dev/null
	cmake --build $(BUILD) -j$(JOBS) --target imgextract
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

# Rebuilds samples/demo.img with the tests' image builder.
demo-image: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(BUILD) -j$(JOBS) --target make_demo_image
	$(BUILD)/bin/make_demo_image samples/demo.img

clean:
	rm -rf $(BUILD) demo-out
