# Salvatrix: set-up, build, run and test in two commands (see README.md).
SHELL := /bin/bash
.DEFAULT_GOAL := run

JOBS ?= $(shell nproc 2>/dev/null || echo 2)
FOLDER ?=

# Debian packages the build and the tests need.
DEPS := cmake ninja-build g++ pkg-config qt6-base-dev libudev-dev libgtest-dev libgmock-dev \
        clang-format xvfb xauth exfatprogs exfat-fuse e2fsprogs \
        g++-mingw-w64-x86-64-posix googletest wine64 wine

.PHONY: deps configure build run test test-dev test-asan windows test-windows format \
        format-check clean

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

# make run                 starts the program from the build folder
# make run FOLDER=some/dir copies the program into some/dir and starts it there
run: build
	@if [ -n "$(FOLDER)" ]; then \
	  mkdir -p "$(FOLDER)" && cp build/dev/salvatrix "$(FOLDER)/salvatrix" && \
	  cd "$(FOLDER)" && exec ./salvatrix; \
	else \
	  exec build/dev/salvatrix; \
	fi

test: test-dev test-asan test-windows

test-dev: build
	ctest --preset dev -j $(JOBS)

test-asan: deps
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

# The Windows program, cross-built with mingw-w64: build/windows/salvatrix.exe. The option is
# named so that a build folder once configured without the window gets it back.
windows: deps
	cmake --preset windows -DSALVATRIX_NO_WIN32UI=OFF
	cmake --build --preset windows -j $(JOBS)

# Its tests run under wine, one program at a time; the window tests need a display.
test-windows: windows
	WINEDEBUG=-all xvfb-run -a ctest --preset windows

SOURCES = $(shell git ls-files '*.cpp' '*.h' 2>/dev/null)

format:
	clang-format -i $(SOURCES)

format-check:
	clang-format --dry-run -Werror $(SOURCES)

clean:
	rm -rf build
