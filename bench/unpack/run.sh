#!/usr/bin/env bash
# Unpack benchmark, two cases:
#   large: 1 GiB in about 1,000 files
#   small: 10,000 files of 1 KiB (where per-file flushes and folder look-ups cost most)
# For each: the launcher's unpacker, the launcher's apply (checked, staged, flushed,
# swapped, durable when it returns) and, in the same run, the same files extracted by
# tar -xf. Best of ROUNDS for each; times without and with the final flush of the file
# system that holds the work folder (sync -f, not a system-wide sync).
#   bash bench/unpack/run.sh [BUILD_DIR (build/release)] [WORK_DIR (BUILD_DIR/bench-unpack)] [ROUNDS (3)] [CASES ("large small")]
# With STRACE=1, the apply of each case is also run once under strace -c -f, and its
# counts of flush, mkdir, stat and rename calls are printed.
set -eu
cd "$(dirname "$0")/../.."
build=${1:-build/release}
work=${2:-$build/bench-unpack}
rounds=${3:-3}
cases=${4:-large small}
rxpack=$build/tools/rxpack/rxpack
bench=$build/bench/unpack/unpack_bench
[ -x "$rxpack" ] && [ -x "$bench" ] || { echo "build first: cmake --preset release && cmake --build --preset release"; exit 1; }

rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
now() { date +%s.%N; }
flush() { sync -f "$work"; }
less() { echo "$1 $2 $3" | awk '{d=$1-$2; print (d<$3)?d:$3}'; }

# make_tree FILES TOTAL: sizes from 1/4 to 7/4 of the mean (all equal when SAME=1); the
# last file takes what is left.
make_tree() {
  local files=$1 total=$2 left=$2 mean=$(($2 / $1)) size dir
  rm -rf "$work/tree"; mkdir -p "$work/tree"
  for i in $(seq 1 "$files"); do
    dir="$work/tree/dir$((i % 10))/sub$((i % 7))"
    mkdir -p "$dir"
    if [ "$i" -eq "$files" ]; then size=$left
    elif [ "${SAME:-0}" = 1 ]; then size=$mean
    else size=$((mean / 4 + (i * 7919 % 1000) * mean * 3 / 2 / 1000)); fi
    [ "$size" -gt "$left" ] && size=$left
    head -c "$size" /dev/urandom >"$dir/file$i.bin"
    left=$((left - size))
  done
}

run_case() {
  local name=$1 files=$2 total=$3
  echo "== $name: making $files files, $total bytes, in $work"
  make_tree "$files" "$total"
  "$rxpack" create "$work/bench.rxpack" "$work/tree" >/dev/null
  tar -cf "$work/bench.tar" -C "$work/tree" .
  echo "package $(stat -c %s "$work/bench.rxpack") bytes, tar $(stat -c %s "$work/bench.tar") bytes"
  local bu=999999 bus=999999 bt=999999 bts=999999 ba=999999 t0 t1 t2
  for round in $(seq 1 "$rounds"); do
    rm -rf "$work/out"; flush
    t0=$(now); "$bench" "$work/bench.rxpack" "$work/out" >"$work/bench.log"; t1=$(now); flush; t2=$(now)
    [ "$round" -eq 1 ] && { diff -r "$work/tree" "$work/out" >/dev/null || { echo "unpacked files differ"; exit 1; }; }
    bu=$(less "$t1" "$t0" "$bu"); bus=$(less "$t2" "$t0" "$bus")

    rm -rf "$work/out"; mkdir -p "$work/out"
    ln "$work/bench.rxpack" "$work/out/Velgrim_patch.rxpack"; flush
    t0=$(now); "$bench" --apply "$work/out/Velgrim_patch.rxpack" "$work/out" >"$work/apply.log"; t1=$(now)
    [ "$round" -eq 1 ] && { diff -r "$work/tree" "$work/out" >/dev/null || { echo "applied files differ"; exit 1; }; }
    ba=$(less "$t1" "$t0" "$ba")

    rm -rf "$work/out"; mkdir -p "$work/out"; flush
    t0=$(now); tar -xf "$work/bench.tar" -C "$work/out"; t1=$(now); flush; t2=$(now)
    bt=$(less "$t1" "$t0" "$bt"); bts=$(less "$t2" "$t0" "$bts")
    echo "round $round: $(cat "$work/bench.log")"
  done
  awk -v b="$total" -v u="$bu" -v us="$bus" -v t="$bt" -v ts="$bts" -v a="$ba" -v n="$name" 'BEGIN {
    printf "%-26s %10s %10s\n", n, "seconds", "MB/s"
    printf "%-26s %10.3f %10.1f\n", "Unpack", u, b / u / 1e6
    printf "%-26s %10.3f %10.1f\n", "tar -xf", t, b / t / 1e6
    printf "%-26s %10.3f %10.1f\n", "Unpack + sync -f", us, b / us / 1e6
    printf "%-26s %10.3f %10.1f\n", "tar -xf + sync -f", ts, b / ts / 1e6
    printf "%-26s %10.3f %10.1f\n", "Apply (durable)", a, b / a / 1e6
    printf "ratio Unpack/tar (speed): %.2f without sync, %.2f with sync -f\n", t / u, ts / us
    printf "ratio Apply/(tar -xf + sync -f) (speed): %.2f\n", ts / a
  }'
  if [ "${STRACE:-0}" = 1 ] && command -v strace >/dev/null; then
    rm -rf "$work/out"; mkdir -p "$work/out"; ln "$work/bench.rxpack" "$work/out/Velgrim_patch.rxpack"
    strace -f -c -o "$work/strace.txt" "$bench" --apply "$work/out/Velgrim_patch.rxpack" "$work/out" >/dev/null
    echo "system calls of one apply:"
    awk '$NF ~ /^(fsync|fdatasync|syncfs|sync_file_range|mkdir|mkdirat|stat|lstat|newfstatat|statx|rename|renameat|renameat2|openat)$/ { printf "  %-16s %8s calls %8s errors\n", $NF, $4, (NF == 6 ? $5 : 0) }' "$work/strace.txt"
  fi
  rm -rf "$work/tree" "$work/out" "$work/bench.rxpack" "$work/bench.tar"
}

for c in $cases; do
  case $c in
    large) run_case "large (1 GiB, 1,000 files)" 1000 $((1024 * 1024 * 1024)) ;;
    small) SAME=1 run_case "small (10,000 files of 1 KiB)" 10000 $((10000 * 1024)) ;;
    *) echo "unknown case $c (large, small)"; exit 2 ;;
  esac
done
