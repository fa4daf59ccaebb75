#!/usr/bin/env bash
# run-fuzzer.sh HARNESS SEEDS_DIR WORK_CORPUS SECONDS: a bounded libFuzzer run.
set -eu
harness=$1 seeds=$2 corpus=$3 seconds=$4
mkdir -p "$corpus"
[ -d "$seeds" ] && cp -n "$seeds"/* "$corpus"/ 2>/dev/null || true
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$harness" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 -print_final_stats=1 "$corpus"
