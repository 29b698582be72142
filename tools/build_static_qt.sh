#!/bin/bash
# Builds Debian's own qt6-base source package, the version this machine's release ships, as
# static libraries holding only what the Linux program uses, and installs it into PREFIX. A
# PREFIX whose stamp names VERSION is kept as it is. Needs root for apt (deb-src line, source).
#
#   tools/build_static_qt.sh PREFIX VERSION WORKDIR
#
# WORKDIR takes the unpacked source and the build tree; it is removed once PREFIX is complete.
set -euo pipefail

prefix=$1
version=$2
work=$3
stamp="$prefix/salvatrix-qt-version"

if [ -z "$version" ]; then
  echo "build_static_qt: no qt6-base version given (is qt6-base-dev installed?)" >&2
  exit 1
fi
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$version" ]; then
  echo "Static Qt $version is in $prefix"
  exit 0
fi

# apt-get source needs a deb-src line for the suites the machine installs from. Debian 12 lists
# them in a deb822 file; older set-ups in sources.list.
if ! apt-cache showsrc qt6-base 2>/dev/null | grep -qx "Version: $version"; then
  src_list=/etc/apt/sources.list.d/salvatrix-deb-src
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources >"$src_list.sources"
  else
    grep -E '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' >"$src_list.list"
  fi
  apt-get update -qq
fi

rm -rf "$work"
mkdir -p "$work"
cd "$work"
apt-get source -qq "qt6-base=$version"
src=$(find . -maxdepth 1 -type d -name 'qt6-base-*' | head -n 1)
mkdir build
cd build

# Only Core, Gui, Widgets, D-Bus (for the accessibility bridge) and the xcb platform plugin.
# The small libraries Qt bundles (zlib, PCRE2, libpng, HarfBuzz, double-conversion, BLAKE2,
# XInput) are compiled in, so that the program needs no more of the system than X11 itself,
# fontconfig, FreeType and D-Bus.
start=$(date +%s)
"../$src/configure" -prefix "$prefix" -static -release -opensource -confirm-license \
  -nomake tests -nomake examples \
  -xcb -xcb-xlib -bundled-xcb-xinput -xkbcommon -fontconfig -system-freetype -dbus-linked \
  -accessibility \
  -qt-zlib -qt-pcre -qt-libpng -qt-harfbuzz -qt-doubleconversion -no-libjpeg -no-gif \
  -no-opengl -no-egl -no-vulkan -no-eglfs -no-linuxfb -no-kms -no-gbm -no-directfb \
  -no-libudev -no-evdev -no-libinput -no-mtdev -no-tslib \
  -no-icu -no-glib -no-gtk -no-cups -no-zstd -no-openssl -no-libproxy -no-journald \
  -no-feature-sql -no-feature-network -no-feature-printsupport -no-feature-testlib \
  -no-feature-concurrent -no-feature-xml -no-feature-sessionmanager \
  -- -DFEATURE_system_libb2=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_EXAMPLES=OFF
cmake --build . --parallel "${JOBS:-$(nproc)}"
rm -rf "$prefix"
cmake --install .
echo "$version" >"$stamp"
echo "Static Qt $version built in $(($(date +%s) - start)) s, installed in $prefix"

cd /
rm -rf "$work"
