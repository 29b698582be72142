#!/bin/bash
# Writes OUT with wine's own description of its plug-and-play service's RPC interface
# (include/wine/plugplay.idl), taken from the Debian source of the wine that is installed: the
# Windows tests inject device arrivals through that service (wine_plugplay_arrival.cpp), and
# the interface changes between wine versions.
#
#   fetch_plugplay_idl.sh OUT
#
# Needs a deb-src line for Debian's suites; as root it adds one (beside the deb lines it
# mirrors) when there is none.
set -euo pipefail

out=$1
version=$(dpkg-query -W -f='${source:Version}' wine 2>/dev/null || true)
[ -n "$version" ] || { echo "wine is not installed"; exit 1; }

if ! apt-get source --print-uris --tar-only "wine=$version" >/dev/null 2>&1; then
  if [ "$(id -u)" != 0 ]; then
    echo "wine's source needs a deb-src line for Debian's suites; as root: make windows"
    exit 1
  fi
  sources=/etc/apt/sources.list.d/debian.sources
  [ -f "$sources" ] || { echo "no $sources to take the deb-src suites from"; exit 1; }
  echo "adding deb-src lines for $sources"
  sed 's/^Types: deb$/Types: deb-src/' "$sources" >/etc/apt/sources.list.d/salvatrix-deb-src.sources
  apt-get update -qq
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The upstream tarball alone (--tar-only): the Debian packaging is of no use here.
(cd "$work" && apt-get source -qq --download-only --tar-only "wine=$version" 2>&1 |
  grep -v 'unsandboxed as root' || true)
tarball=$(find "$work" -name 'wine_*.orig.tar.*' | head -n 1)
[ -n "$tarball" ] || { echo "apt-get source fetched no wine tarball"; exit 1; }
mkdir -p "$(dirname "$out")"
tar -xOf "$tarball" --wildcards '*/include/wine/plugplay.idl' >"$out.part"
grep -q 'interface plugplay' "$out.part" || { echo "no plugplay interface in $tarball"; exit 1; }
mv "$out.part" "$out"
echo "wrote $out (wine $version)"
