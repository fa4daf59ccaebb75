#!/usr/bin/env bash
# nginx-fixture.sh start DIR WWW | stop DIR
# A static web host for the HTTP tests: nginx on a free port of 127.0.0.1, everything it
# writes inside DIR. "start" leaves it running in the background and writes DIR/port;
# without nginx it writes no port (the tests that need it skip). "stop" ends it.
#
# Two sites on the one port: any Host gets the files of WWW (plus fetch.txt, made here),
# and below /chunked/ the same files as a script's output comes, with a chunked body (SSI
# drops the length); the Host "localhost" gets an empty site, so every path is a 404 page.
set -u
action=$1
dir=$2

# Gone or a zombie (its parent reaps it in its own time) counts as ended.
running() {
  case "$(ps -o stat= -p "$1" 2>/dev/null)" in
    "" | Z*) return 1 ;;
  esac
  return 0
}

stop_nginx() {
  [ -f "$dir/fixture.pid" ] || return 0
  local pid
  pid=$(cat "$dir/fixture.pid")
  rm -f "$dir/fixture.pid" "$dir/port"
  # Only the nginx of this directory (a stale pid may have been reused since).
  case "$(ps -o args= -p "$pid" 2>/dev/null)" in
    *"$dir/nginx.conf"*) ;;
    *) return 0 ;;
  esac
  kill "$pid" 2>/dev/null || return 0
  for _ in $(seq 1 50); do
    running "$pid" || return 0
    sleep 0.1
  done
  kill -9 "$pid" 2>/dev/null || true
}

case "$action" in
  start)
    www=$3
    stop_nginx
    rm -rf "$dir"
    mkdir -p "$dir/www" "$dir/empty" "$dir/tmp"
    nginx=$(command -v nginx || echo /usr/sbin/nginx)
    if [ ! -x "$nginx" ]; then
      echo "nginx is not installed: the tests that need it are skipped"
      exit 0
    fi
    cp "$www"/* "$dir/www/"
    seq 1 3000 >"$dir/www/fetch.txt"
    user=""
    [ "$(id -u)" -eq 0 ] && user="user root;"
    for _ in 1 2 3 4 5; do
      port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
      cat >"$dir/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
$user
pid $dir/nginx.pid;
error_log $dir/error.log warn;
events { worker_connections 64; }
http {
  access_log $dir/access.log;
  client_body_temp_path $dir/tmp/client;
  proxy_temp_path $dir/tmp/proxy;
  fastcgi_temp_path $dir/tmp/fastcgi;
  uwsgi_temp_path $dir/tmp/uwsgi;
  scgi_temp_path $dir/tmp/scgi;
  default_type text/plain;
  server {
    listen 127.0.0.1:$port default_server; server_name _; root $dir/www;
    location /chunked/ { alias $dir/www/; ssi on; ssi_types *; }
  }
  server { listen 127.0.0.1:$port; server_name localhost; root $dir/empty; }
}
CONF
      # Detached from the test's output, so that ctest does not wait on it.
      "$nginx" -p "$dir" -e "$dir/error.log" -c "$dir/nginx.conf" </dev/null >"$dir/nginx.out" 2>&1 &
      pid=$!
      for _ in $(seq 1 50); do
        if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
          echo "$pid" >"$dir/fixture.pid"
          echo "$port" >"$dir/port"
          echo "nginx on 127.0.0.1:$port"
          exit 0
        fi
        running "$pid" || break
        sleep 0.1
      done
      kill "$pid" 2>/dev/null
      wait "$pid" 2>/dev/null
    done
    echo "nginx did not start" >&2
    cat "$dir/nginx.out" "$dir/error.log" >&2 2>/dev/null
    exit 1
    ;;
  stop)
    stop_nginx
    ;;
  *)
    echo "usage: $0 start DIR WWW | stop DIR" >&2
    exit 2
    ;;
esac
