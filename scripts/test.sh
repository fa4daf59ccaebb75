#!/usr/bin/env bash
# Builds every target and runs every test: native (ASan + UBSan), Windows x86_64 under
# wine64, Windows i686 under Wine's 32-bit side, and the fuzz harnesses (clang).
# Pass ctest arguments after the script name, e.g. "-L unit".
set -u
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh || exit 1

failed=()
skipped=()
started=$SECONDS
build() {
  local preset=$1
  echo "=== configure and build: $preset ($((SECONDS - started)) s)"
  cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" || { failed+=("build:$preset"); return 1; }
}
run() {
  local preset=$1; shift
  echo "=== tests: $preset ($((SECONDS - started)) s)"
  ctest --preset "$preset" "$@" || failed+=("tests:$preset")
}

build native && run native "$@"
build win64 && run win64 "$@"
# The i686 launcher runs under Wine's 32-bit side, which needs a machine that executes
# 32-bit programs. Where it cannot, the build and the checks that run nothing (size,
# stripped, no stream machinery) still count; the runs are skipped, and said.
no32=$(bash scripts/probe-32bit.sh)
probe=$?
if build win32; then
  case $probe in
    0) run win32 "$@" ;;
    1) line="win32: the tests under Wine are skipped: this machine cannot execute 32-bit programs ($no32)"
       echo "=== $line"
       skipped+=("$line")
       run win32 -L static "$@" ;;
    *) failed+=("probe:32-bit") ;;
  esac
fi
if [ -e /usr/lib/llvm-14/lib/clang/14.0.6/lib/linux/libclang_rt.fuzzer-x86_64.a ] || \
   ls /usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
  build fuzz && run fuzz "$@"
else
  echo "=== fuzz: skipped (libFuzzer not installed)"
fi

echo
echo "=== done after $((SECONDS - started)) s"
for line in "${skipped[@]}"; do
  echo "SKIPPED: $line"
done
if [ ${#failed[@]} -ne 0 ]; then
  echo "FAILED: ${failed[*]}"
  exit 1
fi
echo "All builds and tests passed."
