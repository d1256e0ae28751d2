# Thin wrapper over CMake.
#   make         build the programs into build/bin
#   make demo    list and extract the bundled demo image, and write it into a
#                file that stands for a diskette drive
#   make test    install what the tests need (Debian), build for Linux and for
#                Windows, run every test (the Windows programs under wine; also
#                with the sanitizers: make test-sanitized; fuzz smoke runs: make test-fuzz)
#   make windows the Windows programs, cross-built with mingw-w64, into build-windows/bin
#   make dist    the release files, statically linked: dist/linux/ and dist/windows/
#   make demo-image  rebuild samples/demo.img
#   make install     the programs, manual pages, README and license under PREFIX
#                    (default /usr/local), below DESTDIR if given; make uninstall
#   make deb         a Debian package of the static programs, into dist/
BUILD ?= build
JOBS ?= 2
# What the programs need to build, and what the tests need besides.
BUILD_PACKAGES = cmake g++ make
PACKAGES = $(BUILD_PACKAGES) libgtest-dev dosfstools mtools strace lintian mandoc
# The cross compiler (its "-posix" thread model) and wine for the Windows tests.
WINDOWS_PACKAGES = g++-mingw-w64-x86-64-posix wine wine64
WINDOWS_BUILD ?= build-windows
WINDOWS_TOOLCHAIN = cmake/mingw-w64-x86_64.cmake

.PHONY: all build demo demo-image test test-sanitized test-fuzz deps build-deps windows windows-deps \
	dist install uninstall deb test-package clean

all: build

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(BUILD) -j$(JOBS) --target imgextract dskwrite dskread selfdisk mkselfdisk

deps:
	@bash tools/install-packages.sh $(PACKAGES)

build-deps:
	@bash tools/install-packages.sh $(BUILD_PACKAGES)

demo: build-deps build
	@bash tools/demo.sh $(BUILD)/bin

windows-deps:
	@bash tools/install-packages.sh $(WINDOWS_PACKAGES)

windows: deps windows-deps
	cmake -S . -B $(WINDOWS_BUILD) -DCMAKE_TOOLCHAIN_FILE=$(WINDOWS_TOOLCHAIN) \
		-DCMAKE_BUILD_TYPE=Release -DWARNINGS_AS_ERRORS=ON >/dev/null
	cmake --build $(WINDOWS_BUILD) -j$(JOBS)

# The Linux tests include the Windows programs' under wine (tests/windows),
# whose prefix is made in $(BUILD)/wine-prefix at the first run. Where
# mingw-w64 or wine cannot be installed (no network), the Windows programs
# are not built and their tests are skipped.
test: deps
	@if bash tools/install-packages.sh $(WINDOWS_PACKAGES); then $(MAKE) windows; \
	else echo "mingw-w64 or wine could not be installed: the wine tests are skipped."; fi
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DWARNINGS_AS_ERRORS=ON \
		-DWINDOWS_PROGRAMS=$(CURDIR)/$(WINDOWS_BUILD)/bin >/dev/null
	cmake --build $(BUILD) -j$(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS); status=$$?; \
		WINEPREFIX=$(CURDIR)/$(BUILD)/wine-prefix wineserver -k >/dev/null 2>&1; exit $$status
	$(MAKE) test-package
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

# The five programs for Linux and for Windows, linked statically, without
# tests: the Linux ones need no library of the machine they run on, the
# Windows ones no DLL beside them.
DIST_BUILD ?= build-dist
DIST_PROGRAMS = imgextract dskwrite dskread selfdisk mkselfdisk
dist: deps windows
	cmake -S . -B $(DIST_BUILD) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
		-DCMAKE_EXE_LINKER_FLAGS=-static >/dev/null
	cmake --build $(DIST_BUILD) -j$(JOBS) --target $(DIST_PROGRAMS)
	rm -rf dist && mkdir -p dist/linux dist/windows
	for program in $(DIST_PROGRAMS); do \
		cp $(DIST_BUILD)/bin/$$program dist/linux/ && \
		cp $(WINDOWS_BUILD)/bin/$$program.exe dist/windows/ || exit 1; \
	done
	@ls -l dist/linux dist/windows

# Installing and uninstalling: PREFIX and DESTDIR as usual. The paths below
# are those of the install rules in CMakeLists.txt.
PREFIX ?= /usr/local
PACKAGE = diskette-image-tools
install: build-deps build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

uninstall:
	for program in $(DIST_PROGRAMS); do \
		rm -f "$(DESTDIR)$(PREFIX)/bin/$$program" "$(DESTDIR)$(PREFIX)/share/man/man1/$$program.1"; \
	done
	rm -rf "$(DESTDIR)$(PREFIX)/share/doc/$(PACKAGE)"

# The Debian package: make dist's static programs, their manual pages, README
# and license under /usr (tools/make-deb.sh), into dist/.
deb: build-deps
	cmake -S . -B $(DIST_BUILD) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
		-DCMAKE_EXE_LINKER_FLAGS=-static >/dev/null
	cmake --build $(DIST_BUILD) -j$(JOBS) --target $(DIST_PROGRAMS)
	bash tools/make-deb.sh $(DIST_BUILD) dist

# The package as a user gets it (tools/check-package.sh); then make install
# and make uninstall into a scratch directory, which must end up empty.
INSTALL_CHECK = $(BUILD)/install-check
test-package: deps deb
	bash tools/check-package.sh dist/$(PACKAGE)_*.deb $(DIST_PROGRAMS)
	rm -rf $(INSTALL_CHECK)
	$(MAKE) install DESTDIR=$(CURDIR)/$(INSTALL_CHECK) >/dev/null
	$(MAKE) uninstall DESTDIR=$(CURDIR)/$(INSTALL_CHECK) >/dev/null
	@test -s $(BUILD)/install_manifest.txt && ! find $(INSTALL_CHECK) -type f | grep . || \
		{ echo "FAILED: make install put nothing, or make uninstall left the files above"; exit 1; }

# Rebuilds samples/demo.img with the tests' image builder.
demo-image: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(BUILD) -j$(JOBS) --target make_demo_image
	$(BUILD)/bin/make_demo_image samples/demo.img

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(WINDOWS_BUILD) $(DIST_BUILD) dist demo-out
