# Salvatrix: set-up, build, run and test in two commands (see README.md).
SHELL := /bin/bash
.DEFAULT_GOAL := run

JOBS ?= $(shell nproc 2>/dev/null || echo 2)
FOLDER ?=

# Debian packages the build and the tests need.
DEPS := cmake ninja-build g++ pkg-config qt6-base-dev libudev-dev libgtest-dev libgmock-dev \
        clang-format xvfb xauth exfatprogs exfat-fuse e2fsprogs \
        g++-mingw-w64-x86-64-posix mingw-w64-tools googletest wine64 wine clang libclang-rt-14-dev \
        udev udisks2 dbus libsystemd-dev \
        fontconfig fonts-dejavu-core fonts-liberation2 rsync strace libxcb1-dev libxcb-xtest0-dev \
        x11-utils systemd at-spi2-core

# make portable: Debian's own qt6-base source, the version the machine has, built static once
# into QT_STATIC_PREFIX (outside the build folder, kept by make clean), with the -dev packages
# it builds against. QT_STATIC_PREFIX may be set to any folder.
QT_STATIC_VERSION = $(shell dpkg-query -W -f='$${source:Version}' libqt6core6 2>/dev/null)
QT_STATIC_PREFIX ?= /var/cache/salvatrix/qt6-static-$(QT_STATIC_VERSION)
QT_STATIC_STAMP = $(QT_STATIC_PREFIX)/salvatrix-qt-version
PORTABLE_DEPS := dpkg-dev libdbus-1-dev libfontconfig-dev libfreetype-dev libx11-dev \
        libx11-xcb-dev libxcb1-dev libxcb-icccm4-dev libxcb-image0-dev libxcb-keysyms1-dev \
        libxcb-randr0-dev libxcb-render0-dev libxcb-render-util0-dev libxcb-shape0-dev \
        libxcb-shm0-dev libxcb-sync-dev libxcb-util-dev libxcb-xfixes0-dev libxcb-xkb-dev \
        libxkbcommon-dev libxkbcommon-x11-dev libatspi2.0-dev

.PHONY: deps configure build release run portable portable-program test test-dev test-asan \
        windows test-windows fuzz-build fuzz test-fuzz bench format format-check clean icon \
        screenshots

deps:
	@missing=""; \
	for p in $(DEPS); do \
	  dpkg-query -W -f='$${Status}' "$$p" 2>/dev/null | grep -q "ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "Installing:$$missing"; \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $$missing; \
	  else \
	    echo "Missing build dependencies. Install them with:"; \
	    echo "  sudo apt-get install -y$$missing"; \
	    exit 1; \
	  fi; \
	fi

configure: deps
	cmake --preset dev

build: deps configure
	cmake --build --preset dev -j $(JOBS)

# The optimised program (RelWithDebInfo) that make run starts; the tests use the Debug build.
release: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS)

# make run                 starts the program from the build folder
# make run FOLDER=some/dir copies the program into some/dir and starts it there
run: release
	@if [ -n "$(FOLDER)" ]; then \
	  mkdir -p "$(FOLDER)" && cp build/release/salvatrix "$(FOLDER)/salvatrix" && \
	  cd "$(FOLDER)" && exec ./salvatrix; \
	else \
	  exec build/release/salvatrix; \
	fi

# build/portable/salvatrix: the Linux program in one file, Qt linked in. The first run builds
# the static Qt (about 20 minutes on 2 cores, as root); later runs only link the program.
portable: deps
	@if [ "$$(id -u)" != 0 ] && [ "$$(cat "$(QT_STATIC_STAMP)" 2>/dev/null)" != "$(QT_STATIC_VERSION)" ]; then \
	  echo "make portable: the static Qt is built as root (apt-get source, its -dev packages)"; \
	  exit 1; \
	fi
	@$(MAKE) --no-print-directory deps DEPS="$(PORTABLE_DEPS)"
	JOBS=$(JOBS) nice tools/build_static_qt.sh "$(QT_STATIC_PREFIX)" "$(QT_STATIC_VERSION)" \
	  build/qt6-static-src
	@$(MAKE) --no-print-directory portable-program

# Links build/portable/salvatrix against the static Qt when it is there (make test and make
# bench use it then; they never build the static Qt).
portable-program:
	@if [ "$$(cat "$(QT_STATIC_STAMP)" 2>/dev/null)" = "$(QT_STATIC_VERSION)" ]; then \
	  cmake --preset portable -DCMAKE_PREFIX_PATH="$(QT_STATIC_PREFIX)" >/dev/null && \
	  cmake --build --preset portable -j $(JOBS) $(PORTABLE_TARGETS); \
	else \
	  echo "No static Qt in $(QT_STATIC_PREFIX) ('make portable' builds it): the portable program's test and bench skip"; \
	fi

test: test-dev test-asan test-windows test-fuzz

test-dev: build
	@$(MAKE) --no-print-directory portable-program
	ctest --preset dev -j $(JOBS)

test-asan: deps
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

# The Windows program, cross-built with mingw-w64: build/windows/salvatrix.exe. The option is
# named so that a build folder once configured without the window gets it back. Its tests
# inject arrivals through wine's plug-and-play service, described in wine's own source.
PLUGPLAY_IDL := build/wine-plugplay/plugplay.idl

$(PLUGPLAY_IDL):
	tests/platform/win32ui/fetch_plugplay_idl.sh $@

windows: deps $(PLUGPLAY_IDL)
	cmake --preset windows -DSALVATRIX_NO_WIN32UI=OFF -DSALVATRIX_PLUGPLAY_IDL=$(CURDIR)/$(PLUGPLAY_IDL)
	cmake --build --preset windows -j $(JOBS)

# Its tests run under wine, one program at a time; the window tests need a display.
test-windows: windows
	WINEDEBUG=-all xvfb-run -a ctest --preset windows

# The Windows program's icon file, written from the program icon (a test checks that they agree).
icon: configure
	cmake --build --preset dev --target salvatrix_make_icon
	build/dev/tools/salvatrix_make_icon src/platform/win32ui/salvatrix.ico

# Pictures of both programs' main and notes windows in build/screenshots, with the machine's
# fonts and with DejaVu's only (see tools/screenshots.sh).
screenshots: configure
	cmake --build --preset dev -j $(JOBS) --target salvatrix_screenshots
	cmake --preset windows -DSALVATRIX_NO_WIN32UI=OFF
	cmake --build --preset windows -j $(JOBS) --target salvatrix salvatrix_wine_windows
	tools/screenshots.sh build/screenshots build/dev/tools/salvatrix_screenshots \
	  build/dev/tests/dejavu_only_fonts.conf build/windows/salvatrix.exe \
	  build/windows/tools/salvatrix_wine_windows.exe

# The libFuzzer targets (fuzz/), built with clang. Each run replays the committed corpus, then
# fuzzes, keeping new inputs in build/fuzz/fuzz-scratch; a finding fails and is kept there.
FUZZ_SECONDS ?= 300
FUZZ_TEST_SECONDS ?= 20

fuzz-build: deps
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)

# make fuzz                   fuzzes each target for FUZZ_SECONDS, one after the other
fuzz: fuzz-build
	FUZZ_SECONDS=$(FUZZ_SECONDS) ctest --preset fuzz -V --timeout $$(( $(FUZZ_SECONDS) + 600 ))

test-fuzz: fuzz-build
	FUZZ_SECONDS=$(FUZZ_TEST_SECONDS) ctest --preset fuzz -j $(JOBS)

# make bench          as root: the copy through the program's window against cp and rsync on
#                     ext4 and exFAT loop sticks, start-up against a minimal Qt window, idle
#                     wake-ups (the figures in README.md); about 15 minutes
# make bench QUICK=1  the same with small data and few rounds, to see that it all runs
bench:
	@if [ "$$(id -u)" != 0 ]; then \
	  echo "make bench: skipped: it needs root (loop devices and mounts in a private mount namespace)"; \
	  exit 0; \
	fi; \
	$(MAKE) --no-print-directory deps && \
	cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DSALVATRIX_TESTS=OFF \
	  -DCMAKE_CXX_FLAGS=-Wno-restrict >/dev/null && \
	cmake --build build/bench -j $(JOBS) --target salvatrix_bench && \
	$(MAKE) --no-print-directory portable-program PORTABLE_TARGETS="--target salvatrix_bench" && \
	bench/run_bench.sh build/bench/bench/salvatrix_bench $(if $(QUICK),quick,full) \
	  $$([ -x build/portable/bench/salvatrix_bench ] && echo build/portable/bench/salvatrix_bench)

SOURCES = $(shell git ls-files '*.cpp' '*.h' 2>/dev/null)

format:
	clang-format -i $(SOURCES)

format-check:
	clang-format --dry-run -Werror $(SOURCES)

clean:
	rm -rf build
