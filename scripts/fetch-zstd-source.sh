#!/usr/bin/env bash
# Fetches Debian's zstd source for the Windows builds (which compile the library with
# mingw) into a cache outside the repository: ${VELGRIM_DEPS_CACHE:-$HOME/.cache/velgrim-deps}.
# The source entry it needs is derived from the machine's own Debian sources (same
# URIs and suites, Types: deb-src) and kept in a file of its own.
set -eu
cache="${VELGRIM_DEPS_CACHE:-$HOME/.cache/velgrim-deps}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if ls -d "$cache"/libzstd-*/build/single_file_libs >/dev/null 2>&1; then
  exit 0
fi
command -v dpkg-source >/dev/null || { $sudo apt-get update || true; $sudo apt-get install -y --no-install-recommends dpkg-dev; }
src_list=/etc/apt/sources.list.d/velgrim-deb-src.sources
if [ ! -f "$src_list" ]; then
  [ -f /etc/apt/sources.list.d/debian.sources ] || { echo "no /etc/apt/sources.list.d/debian.sources to derive a source entry from" >&2; exit 1; }
  sed 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources | $sudo tee "$src_list" >/dev/null
  # One index a mirror cannot serve (an i386 list mid-sync) need not stop the source's.
  $sudo apt-get update || echo "apt-get update reported errors; fetching with the lists it has" >&2
fi
mkdir -p "$cache"
# The version the Linux build links against, so both sides decode alike; when the archive
# no longer holds that one's source, the newest other version it offers.
cd "$cache"
versions=$( { dpkg-query -W -f='${Version}\n' libzstd-dev 2>/dev/null || true;
              apt-cache showsrc zstd | sed -n 's/^Version: //p' | sort -rV; } | awk 'NF && !seen[$0]++')
fetched=0
for v in $versions; do
  if apt-get source --download-only "zstd=$v"; then fetched=1; break; fi
  echo "the source of zstd $v cannot be fetched; trying the next version" >&2
done
[ $fetched -eq 1 ] || { echo "no version of zstd's source could be fetched" >&2; exit 1; }
dsc=$(ls -t libzstd_*.dsc zstd_*.dsc 2>/dev/null | head -n1)
dpkg-source --no-check -x "$dsc"
ls -d "$cache"/libzstd-*/build/single_file_libs >/dev/null
