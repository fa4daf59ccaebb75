#!/usr/bin/env bash
# The main job: a complete local update, end to end. Builds the Linux release programs,
# packs a patch, serves it with update-server behind a server list on nginx, and lets the
# launcher update a game directory from version 1 to 2 and start the game.
set -eu
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target updater update-server rxpack serverlist velgrim_standin
exec /usr/bin/python3 scripts/demo_update.py build/release
