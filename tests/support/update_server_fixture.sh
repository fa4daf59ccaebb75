#!/usr/bin/env bash
# Update servers for the downloader tests, on 127.0.0.1 at free ports.
#
#   update_server_fixture.sh start SERVER_PROGRAM DIR   release dirs, servers, DIR/servers.txt
#   update_server_fixture.sh stop DIR                   stops the servers started in DIR
#
# DIR/servers.txt has one line per server: "NAME PORT". Each server NAME serves DIR/NAME
# and logs to DIR/NAME.log:
#   main   game 1207, updater 1100 (UpdaterNew.exe 1000000 bytes), info_word 77 (accepted, not sent), info.txt,
#          a patch of 3 MiB + 123 bytes
#   empty  game 5, updater 1024 (an empty UpdaterNew.exe), a patch of 48 bytes, no info.txt
#   idle   game 9, no updater, a patch of 16 MiB, clients silent for 1 s are dropped
# The patches are packages without entries (48 zero bytes) with random bytes after them:
# update-server serves only what checks as a package.
# Each server also stops by itself after 30 minutes, should nobody stop it.
set -eu

start() {
  local program=$1 dir=$2
  rm -rf "$dir"
  mkdir -p "$dir/main" "$dir/empty" "$dir/idle"

  printf '# test release\ngame_version = 1207\nupdater_version = 1100\ninfo_word = 77\n' >"$dir/main/release.conf"
  printf 'Patch 1207 is out.\r\nEnjoy!' >"$dir/main/info.txt"
  { head -c 48 /dev/zero; head -c $((3 * 1024 * 1024 + 123 - 48)) /dev/urandom; } >"$dir/main/Velgrim_patch.rxpack"
  head -c 1000000 /dev/urandom >"$dir/main/UpdaterNew.exe"

  printf 'game_version = 5\nupdater_version = 1024\n' >"$dir/empty/release.conf"
  head -c 48 /dev/zero >"$dir/empty/Velgrim_patch.rxpack"
  : >"$dir/empty/UpdaterNew.exe"

  printf 'game_version = 9\n' >"$dir/idle/release.conf"
  { head -c 48 /dev/zero; head -c $((16 * 1024 * 1024 - 48)) /dev/urandom; } >"$dir/idle/Velgrim_patch.rxpack"

  : >"$dir/servers.txt"
  : >"$dir/pids"
  local name
  for name in main empty idle; do
    local extra=()
    [ "$name" = idle ] && extra=(--idle-timeout 1)
    setsid timeout --signal=TERM 1800 "$program" --listen 127.0.0.1 --port 0 "${extra[@]}" "$dir/$name" \
      </dev/null >/dev/null 2>"$dir/$name.log" &
    echo $! >>"$dir/pids"
  done
  for name in main empty idle; do
    local port="" tries=0
    while [ -z "$port" ]; do
      port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\),.*/\1/p' "$dir/$name.log" | head -n 1)
      if [ -z "$port" ]; then
        tries=$((tries + 1))
        if [ $tries -gt 100 ]; then
          echo "update server '$name' did not start:" >&2
          cat "$dir/$name.log" >&2
          stop "$dir"
          exit 1
        fi
        sleep 0.1
      fi
    done
    echo "$name $port" >>"$dir/servers.txt"
  done
  cat "$dir/servers.txt"
}

stop() {
  local dir=$1
  [ -f "$dir/pids" ] || return 0
  # Each pid leads a process group of its own (setsid): timeout, the server and anything
  # the server's exit starts (the sanitizer's leak checker) go together, so that no
  # server is left behind when timeout is killed first.
  local pid
  while read -r pid; do
    kill -TERM -- "-$pid" 2>/dev/null || true
  done <"$dir/pids"
  while read -r pid; do
    for _ in $(seq 50); do
      kill -0 -- "-$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL -- "-$pid" 2>/dev/null || true
  done <"$dir/pids"
  rm -f "$dir/pids"
}

case "${1:-}" in
  start) start "$2" "$3" ;;
  stop) stop "$2" ;;
  *) echo "usage: $0 start SERVER_PROGRAM DIR | stop DIR" >&2; exit 2 ;;
esac
