#!/usr/bin/env bash
# run.sh BUILD_DIR [LEVEL]: unpacks the two corpus pairs (../shared/corpus beside the
# repository), and for every changed file reports our deltas (delta_bench) beside
# `zstd -19 --long`, `zstd --patch-from`, `xdelta3 -9` and `bsdiff`, each with its CPU time.
set -eu
build=$1 level=${2:-19}
here=$(cd "$(dirname "$0")" && pwd)
corpus=$(cd "$here/../../.." && pwd)/shared/corpus
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$corpus" && sha256sum -c --quiet SHA256SUMS)
cpu() { /usr/bin/time -f "%U %S" "$@" 2> "$work/t" > /dev/null; awk '{printf "%.2f", $1 + $2}' "$work/t"; }
for pair in "freedoom_0.12.1-2_all freedoom_0.13.0-2_all" \
            "libreoffice-core_4_7.4.7-1+deb12u13_amd64 libreoffice-core_4_7.4.7-1+deb12u14_amd64"; do
  set -- $pair
  dpkg-deb -x "$corpus/$1.deb" "$work/a"
  dpkg-deb -x "$corpus/$2.deb" "$work/b"
  echo "== $1 -> $2"
  "$build/bench/patch/delta_bench" "$work/a" "$work/b" "$level"
  (cd "$work/b" && find . -type f) | while read -r f; do
    old="$work/a/$f" new="$work/b/$f"
    [ -f "$old" ] && ! cmp -s "$old" "$new" || continue
    t1=$(cpu zstd -19 --long=27 -q -f "$new" -o "$work/o.zst")
    t2=$(cpu zstd -19 -q -f --patch-from="$old" "$new" -o "$work/o.pf")
    t3=$(cpu xdelta3 -9 -f -e -s "$old" "$new" "$work/o.xd")
    t4=$(cpu bsdiff "$old" "$new" "$work/o.bs")
    printf '%s: zstd %d (%ss), patch-from %d (%ss), xdelta3 %d (%ss), bsdiff %d (%ss)\n' "$f" \
      "$(stat -c %s "$work/o.zst")" "$t1" "$(stat -c %s "$work/o.pf")" "$t2" \
      "$(stat -c %s "$work/o.xd")" "$t3" "$(stat -c %s "$work/o.bs")" "$t4"
  done
  rm -rf "$work/a" "$work/b"
done
