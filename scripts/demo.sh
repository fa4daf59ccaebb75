#!/usr/bin/env bash
# The main job: builds the product and shows what exists so far.
set -eu
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release
echo
echo "Built (Linux, release):"
find build/release -maxdepth 3 -type f -perm -u+x -not -path '*/CMakeFiles/*' | sort
