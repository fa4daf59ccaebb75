#!/usr/bin/env bash
# Unpack benchmark: a package of 1 GiB in about 1,000 files, unpacked by the launcher's
# unpacker, applied as the launcher applies a patch (checked, staged, flushed file by
# file, swapped, durable when it returns) and, in the same run, the same files extracted
# by tar -xf. Best of ROUNDS for each; times without and with the final sync (the data on
# disk).
#   bash bench/unpack/run.sh [BUILD_DIR (build/release)] [WORK_DIR (BUILD_DIR/bench-unpack)] [ROUNDS (3)]
set -eu
cd "$(dirname "$0")/../.."
build=${1:-build/release}
work=${2:-$build/bench-unpack}
rounds=${3:-3}
rxpack=$build/tools/rxpack/rxpack
bench=$build/bench/unpack/unpack_bench
[ -x "$rxpack" ] && [ -x "$bench" ] || { echo "build first: cmake --preset release && cmake --build --preset release"; exit 1; }

rm -rf "$work"
mkdir -p "$work/tree"
trap 'rm -rf "$work"' EXIT
total=$((1024 * 1024 * 1024))
files=1000
echo "making $files files, $total bytes, in $work"
# Sizes from 1/4 to 7/4 of the mean; the last file takes what is left.
left=$total
for i in $(seq 1 $files); do
  dir="$work/tree/dir$((i % 10))/sub$((i % 7))"
  mkdir -p "$dir"
  if [ "$i" -eq "$files" ]; then size=$left; else
    mean=$((total / files)); size=$((mean / 4 + (i * 7919 % 1000) * mean * 3 / 2 / 1000))
    [ "$size" -gt "$left" ] && size=$left
  fi
  head -c "$size" /dev/urandom >"$dir/file$i.bin"
  left=$((left - size))
done
"$rxpack" create "$work/bench.rxpack" "$work/tree" >/dev/null
tar -cf "$work/bench.tar" -C "$work/tree" .
echo "package $(stat -c %s "$work/bench.rxpack") bytes, tar $(stat -c %s "$work/bench.tar") bytes"

now() { date +%s.%N; }
best_unpack=999999 best_unpack_sync=999999 best_tar=999999 best_tar_sync=999999 best_apply=999999
for round in $(seq 1 "$rounds"); do
  rm -rf "$work/out"; sync
  t0=$(now)
  "$bench" "$work/bench.rxpack" "$work/out" >"$work/bench.log"
  t1=$(now); sync; t2=$(now)
  [ "$round" -eq 1 ] && { diff -r "$work/tree" "$work/out" >/dev/null || { echo "unpacked files differ"; exit 1; }; }
  best_unpack=$(echo "$t1 $t0 $best_unpack" | awk '{d=$1-$2; print (d<$3)?d:$3}')
  best_unpack_sync=$(echo "$t2 $t0 $best_unpack_sync" | awk '{d=$1-$2; print (d<$3)?d:$3}')

  rm -rf "$work/out"; mkdir -p "$work/out"
  ln "$work/bench.rxpack" "$work/out/Velgrim_patch.rxpack"; sync
  t0=$(now)
  "$bench" --apply "$work/out/Velgrim_patch.rxpack" "$work/out" >"$work/apply.log"
  t1=$(now)
  [ "$round" -eq 1 ] && { diff -r "$work/tree" "$work/out" >/dev/null || { echo "applied files differ"; exit 1; }; }
  best_apply=$(echo "$t1 $t0 $best_apply" | awk '{d=$1-$2; print (d<$3)?d:$3}')

  rm -rf "$work/out"; mkdir -p "$work/out"; sync
  t0=$(now)
  tar -xf "$work/bench.tar" -C "$work/out"
  t1=$(now); sync; t2=$(now)
  best_tar=$(echo "$t1 $t0 $best_tar" | awk '{d=$1-$2; print (d<$3)?d:$3}')
  best_tar_sync=$(echo "$t2 $t0 $best_tar_sync" | awk '{d=$1-$2; print (d<$3)?d:$3}')
  echo "round $round: $(cat "$work/bench.log")"
done

awk -v b="$total" -v u="$best_unpack" -v us="$best_unpack_sync" -v t="$best_tar" -v ts="$best_tar_sync" -v a="$best_apply" 'BEGIN {
  printf "%-26s %10s %10s\n", "", "seconds", "MB/s"
  printf "%-26s %10.3f %10.1f\n", "Unpack", u, b / u / 1e6
  printf "%-26s %10.3f %10.1f\n", "tar -xf", t, b / t / 1e6
  printf "%-26s %10.3f %10.1f\n", "Unpack + sync", us, b / us / 1e6
  printf "%-26s %10.3f %10.1f\n", "tar -xf + sync", ts, b / ts / 1e6
  printf "%-26s %10.3f %10.1f\n", "Apply (durable)", a, b / a / 1e6
  printf "ratio Unpack/tar (MB/s): %.2f without sync, %.2f with sync\n", t / u, ts / us
  printf "ratio Apply/(tar -xf + sync) (MB/s): %.2f\n", ts / a
}'
