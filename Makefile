# Thin wrapper over the CMake presets. `make run` and `make test` set up a
# fresh machine first (scripts/install-deps installs missing Debian packages).
JOBS ?= $(shell nproc)
CTEST_ARGS ?=

.PHONY: deps build run test sanitize-test tsan-test bench fuzz format clean install uninstall package cross-windows cross-windows-test package-windows

PREFIX ?= /usr/local

deps:
	@scripts/install-deps

build: deps
	cmake --preset default
	cmake --build build -j $(JOBS)

# Only the program and what it links, not the tests, tools and fuzzers. It says
# on the terminal that it runs in the tray and where its log is.
run: deps
	cmake --preset default
	cmake --build build -j $(JOBS) --target fotoimport
	./build/fotoimport

test: build
	ctest --test-dir build --output-on-failure -j $(JOBS) $(CTEST_ARGS)

sanitize-test: deps
	cmake --preset sanitize
	cmake --build build-sanitize -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
		ctest --test-dir build-sanitize --output-on-failure -j $(JOBS) -LE e2e $(CTEST_ARGS)

# The Qt-free areas and their tests under ThreadSanitizer (Qt is not
# instrumented, so the front end stays out). A Debug build: it compiles in
# half the time of an optimised one, and the tests take no longer.
tsan-test: deps
	cmake --preset tsan
	cmake --build build-tsan -j $(JOBS)
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
		ctest --test-dir build-tsan --output-on-failure -j $(JOBS) -LE e2e $(CTEST_ARGS)

bench: deps
	cmake --preset bench
	cmake --build build-bench -j $(JOBS)
	@for b in build-bench/bench/bench_*; do [ -x "$$b" ] && "$$b" || exit 1; done

fuzz: deps
	cmake --preset fuzz
	cmake --build build-fuzz -j $(JOBS)
	@echo "Fuzzers are in build-fuzz/fuzz/ (for example: build-fuzz/fuzz/fuzz_exif -max_total_time=600 fuzz/corpus/fuzz_exif)"

# `make install` honours PREFIX (default /usr/local) and DESTDIR (staging).
install: deps
	cmake --preset default -DCMAKE_INSTALL_PREFIX=$(PREFIX)
	cmake --build build -j $(JOBS) --target fotoimport
	cmake --install build --strip

uninstall:
	cmake --build build --target uninstall

# A Debian package (build/fotoimport_<version>_<arch>.deb).
package: build
	cd build && cpack -G DEB

# Windows: the program (fotoimport.exe, the Win32 front end over the core),
# the tools and every test that is not Linux's alone, cross-compiled with
# MinGW-w64 against a libjpeg-turbo built from Debian's sources;
# package-windows builds the installer (NSIS); cross-windows-test runs the
# tests under Wine, the installer's and the end-to-end test among them (the
# latter compares with the Linux build's tools, so it wants `make build`).
cross-windows: deps
	cmake --preset cross-windows
	nice cmake --build build-mingw -j $(JOBS)

package-windows: cross-windows
	cmake --build build-mingw --target package-windows

cross-windows-test: package-windows
	ctest --test-dir build-mingw --output-on-failure -j $(JOBS) $(CTEST_ARGS)

format:
	cmake --build build --target format

clean:
	rm -rf build build-sanitize build-tsan build-bench build-fuzz build-mingw
