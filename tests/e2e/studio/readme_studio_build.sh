#!/usr/bin/env bash
# The README's studio build, run as written in a copy of the source tree: the launcher it
# configures asks the studio's hosts on port 80, and a shipping configure without the
# hosts stops and names what is missing.
set -u
src=$VELGRIM_SOURCE_DIR
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The command is the first one under the README's "A studio's build".
command=$(awk '/^### A studio.s build/ { on = 1 } on && /^cmake --preset studio-win64 / { print; exit }' "$src/README.md")
[ -n "$command" ] || { echo "FAIL: the README has no studio build command"; exit 1; }
echo "README: $command"

tree=$work/tree
mkdir "$tree"
tar -C "$src" --exclude=./build --exclude=./.git -cf - . | tar -C "$tree" -xf -

(cd "$tree" && eval "$command") >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; fail "the README's command does not configure"; }
config=$tree/build/studio-win64/generated/velgrim_config.h
grep -qx '#define VELGRIM_WEB_PORT 80' "$config" || fail "the studio launcher does not ask port 80: $(grep PORT "$config")"
grep -qx '#define VELGRIM_WEB_HOST "updates.example.com"' "$config" || fail "web host not taken"
grep -qx '#define VELGRIM_FALLBACK_SERVER "patch1.example.com"' "$config" || fail "fallback server not taken"

# Each shipping preset refuses to configure without the hosts, naming the one missing.
# | preset | given | the message names |
while read -r preset given missing; do
  args=()
  [ "$given" != "-" ] && args=("-D$given")
  if (cd "$tree" && cmake --preset "$preset" -B "$work/$preset-$missing" "${args[@]}") >"$work/out" 2>&1; then
    fail "$preset with ${given} configured without $missing"
  elif ! grep -q "A shipping build needs $missing" "$work/out"; then
    cat "$work/out"; fail "$preset: no message naming $missing"
  fi
done <<'CASES'
studio-win64 - VELGRIM_WEB_HOST
studio-win32 VELGRIM_WEB_HOST=updates.example.com VELGRIM_FALLBACK_SERVER
studio-linux VELGRIM_FALLBACK_SERVER=patch1.example.com VELGRIM_WEB_HOST
CASES

# The tests' presets keep their loopback values.
(cd "$tree" && cmake --preset native -B "$work/native" -DVELGRIM_TESTS=OFF) >"$work/out" 2>&1 || { cat "$work/out"; fail "native preset"; }
grep -qx '#define VELGRIM_WEB_PORT 18465' "$work/native/generated/velgrim_config.h" || fail "the tests' preset lost its port"

[ "$failures" -eq 0 ] && echo "studio build: all cases passed"
exit $((failures != 0))
