#!/usr/bin/env bash
# tls-origin.sh start DIR | stop DIR
# An HTTPS origin on a free port of 127.0.0.1 for the Windows client's tests, its
# certificate (for IP 127.0.0.1) from a test authority made here, DIR/ca.pem, which only
# the test itself trusts. "/" is "secure bytes\n" 1000 times; "/down" redirects to http.
# "start" leaves it running in the background and writes DIR/port; "stop" ends it.
set -u
dir=$2

stop_origin() {
  [ -f "$dir/pid" ] || return 0
  local pid
  pid=$(cat "$dir/pid")
  rm -f "$dir/pid" "$dir/port"
  case "$(ps -o args= -p "$pid" 2>/dev/null)" in
    *"$dir/origin.py"*) kill "$pid" 2>/dev/null || true ;;
  esac
}

case "$1" in
  start)
    stop_origin
    rm -rf "$dir"
    mkdir -p "$dir"
    cd "$dir" || exit 1
    ec="-newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes"
    openssl req -x509 $ec -keyout ca.key -out ca.pem -days 7 -subj "/CN=Velgrim test authority" \
      -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign" 2>/dev/null &&
    openssl req $ec -keyout server.key -out server.csr -subj "/CN=127.0.0.1" 2>/dev/null &&
    printf 'subjectAltName=IP:127.0.0.1\nextendedKeyUsage=serverAuth\n' >ext.cnf &&
    openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 7 \
      -extfile ext.cnf 2>/dev/null || { echo "openssl could not make the test certificates" >&2; exit 1; }
    cat >origin.py <<'PY'
import http.server, os, ssl, sys
class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    def do_GET(self):
        body = b"" if self.path == "/down" else b"secure bytes\n" * 1000
        self.send_response(302 if self.path == "/down" else 200)
        if self.path == "/down":
            self.send_header("Location", "http://127.0.0.1:1/a")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *args):
        pass
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
tls.load_cert_chain("server.pem", "server.key")
tls.maximum_version = ssl.TLSVersion.TLSv1_2
server.socket = tls.wrap_socket(server.socket, server_side=True)
with open("port.tmp", "w") as f:
    f.write(str(server.server_address[1]))
os.rename("port.tmp", "port")
server.serve_forever()
PY
    # Detached from the test's output, so that ctest does not wait on it.
    setsid python3 "$dir/origin.py" </dev/null >"$dir/origin.log" 2>&1 &
    echo $! >"$dir/pid"
    for _ in $(seq 1 100); do
      [ -f "$dir/port" ] && { echo "HTTPS origin on 127.0.0.1:$(cat "$dir/port")"; exit 0; }
      sleep 0.1
    done
    echo "the HTTPS origin did not start: $(cat "$dir/origin.log")" >&2
    stop_origin
    exit 1
    ;;
  stop)
    stop_origin
    ;;
  *)
    echo "usage: $0 start|stop DIR" >&2
    exit 2
    ;;
esac
