#!/usr/bin/env bash
# The fleet installs itself: cmake --install into a temporary prefix puts the programs,
# the units (checked by systemd-analyze verify), the user and folders (made for real by
# systemd-sysusers and systemd-tmpfiles in a temporary root) and the examples where the
# README says; then a release reaches an installed update-server the README's way: rsync
# of the release directory, then a reload.
set -u
work=$(mktemp -d)
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

prefix=$work/prefix
cmake --install "$VELGRIM_BUILD_DIR" --prefix "$prefix" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; echo "FAIL: cmake --install"; exit 1; }

# | installed file | what it is |
while read -r file what; do
  [ -s "$prefix/$file" ] || fail "$file ($what) is not installed"
done <<'FILES'
bin/updater                                 the console launcher
bin/update-server                           the update server
bin/rxpack                                  the package tool
bin/serverlist                              the list publisher
lib/systemd/system/velgrim-update-server.service  a unit
lib/systemd/system/velgrim-serverlist.service     a unit
lib/sysusers.d/velgrim.conf                 the user
lib/tmpfiles.d/velgrim.conf                 the folders
share/velgrim/nginx/velgrim.conf            the nginx snippet
share/velgrim/fleet.txt                     the fleet example
share/velgrim/default/velgrim-update-server an environment file example
share/velgrim/default/velgrim-serverlist    an environment file example
FILES

# The units start the programs of this prefix, read their environment file, and
# update-server's takes the manifest option.
units=$prefix/lib/systemd/system
for unit in velgrim-update-server velgrim-serverlist; do
  program=${unit#velgrim-}
  grep -q "^ExecStart=$prefix/bin/$program " "$units/$unit.service" || fail "$unit: ExecStart does not name $prefix/bin/$program"
  grep -q "^EnvironmentFile=-/etc/default/$unit\$" "$units/$unit.service" || fail "$unit: no environment file"
  grep -q '\$MANIFEST_OPTION' "$units/$unit.service" || fail "$unit: no manifest option"
  # Every setting of the example is one the unit uses.
  for name in $(sed -n 's/^#\{0,1\}\([A-Z_]*\)=.*/\1/p' "$prefix/share/velgrim/default/$unit"); do
    grep -q "\${\{0,1\}$name" "$units/$unit.service" || fail "$unit: the example sets $name, which the unit does not use"
  done
done

# systemd reads the units as written (syntax, the programs exist and run).
if ! SYSTEMD_LOG_LEVEL=notice systemd-analyze verify --man=no "$units"/*.service >"$work/verify.log" 2>&1; then
  cat "$work/verify.log"; fail "systemd-analyze verify refuses the units"
elif grep -v "^$" "$work/verify.log" | grep -qv "Failed to .*journal\|Cannot add dependency job\|network-online\|nginx.service"; then
  cat "$work/verify.log"; fail "systemd-analyze verify warns"
fi

# The user and folders, made for real inside a temporary root.
root=$work/root
mkdir -p "$root/etc"
systemd-sysusers --root="$root" "$prefix/lib/sysusers.d/velgrim.conf" >"$work/sysusers.log" 2>&1 ||
  { cat "$work/sysusers.log"; fail "systemd-sysusers refuses velgrim.conf"; }
uid=$(awk -F: '$1 == "velgrim" { print $3 }' "$root/etc/passwd" 2>/dev/null)
[ -n "$uid" ] || fail "no velgrim user was made"
grep -q "^velgrim:" "$root/etc/group" 2>/dev/null || fail "no velgrim group was made"
systemd-tmpfiles --root="$root" --create "$prefix/lib/tmpfiles.d/velgrim.conf" >"$work/tmpfiles.log" 2>&1 ||
  { cat "$work/tmpfiles.log"; fail "systemd-tmpfiles refuses velgrim.conf"; }
for dir in var/lib/velgrim/www var/lib/velgrim/release; do
  [ -d "$root/$dir" ] || { fail "/$dir was not made"; continue; }
  [ "$(stat -c %u "$root/$dir")" = "$uid" ] || fail "/$dir is not velgrim's"
done
# serverlist's unit may write where tmpfiles made a folder for it.
grep -q "^ReadWritePaths=/var/lib/velgrim/www$" "$units/velgrim-serverlist.service" || fail "serverlist cannot write the list"

# A release reaches a running, installed update-server: rsync, then reload.
make_release() { # DIR VERSION
  mkdir -p "$1/content"
  printf 'Velgrim %s\n' "$2" >"$1/content/readme.txt"
  "$prefix/bin/rxpack" create "$1/release/Velgrim_patch.rxpack" "$1/content" >/dev/null || fail "rxpack create"
  printf 'game_version = %s\n' "$2" >"$1/release/release.conf"
}
mkdir -p "$work/v1/release" "$work/v2/release"
make_release "$work/v1" 1
make_release "$work/v2" 2
served=$work/host/var/lib/velgrim/release
mkdir -p "$served"
rsync -a --delete "$work/v1/release/" "$served/" || fail "rsync"
"$prefix/bin/update-server" --listen 127.0.0.1 --port 0 --status-listen 127.0.0.1:0 "$served" 2>"$work/server.log" &
server_pid=$!
wait_for() { # TEXT: the server's log says it, within 15 s
  for _ in $(seq 150); do grep -q "$1" "$work/server.log" && return 0; sleep 0.1; done
  cat "$work/server.log"; fail "update-server did not log '$1'"; return 1
}
wait_for "serving .*: game version 1,"
# --checksum: a release.conf of the same size made within the same second as the old one
# would pass rsync's size-and-time check unsent (as here: "game_version = 1" and "= 2").
rsync -a --checksum --delete --delay-updates "$work/v2/release/" "$served/" || fail "rsync"
kill -HUP "$server_pid"
wait_for "reloaded .*: game version 2," || fail "the rsynced release was not taken"

# The installed programs say what they were built with.
for program in updater update-server rxpack serverlist; do
  "$prefix/bin/$program" --version >"$work/version" 2>&1 || fail "$program --version failed"
  grep -q "^web host: " "$work/version" || fail "$program --version: $(cat "$work/version")"
done

[ "$failures" -eq 0 ] && echo "fleet install: all checks passed"
exit $((failures != 0))
