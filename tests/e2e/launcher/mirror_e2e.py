"""Packages from mirrors: rxpack release writes the store's CDN tree and signs its mirrors
into the manifest; nginx serves the tree as the origin and Varnish caches it as the edge,
both on loopback; the signed launcher takes its package from the mirrors in order and
from the update servers when none serves it.

    mirror_e2e.py SCENARIO     runs one scenario (each is one ctest test)
    mirror_e2e.py --list       names them
"""
import hashlib
import http.server
import os
import re
import shutil
import socket
import subprocess
import sys
import threading

from velgrim_e2e import (RXPACK, SIGNING_KEY, UPDATER_SIGNED, E2EError, Game, Scenarios, Scene, UpdateServer,
                         check, free_port, read, resign, stop_process, wait_until, write)

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
from fault_relay import FaultRelay  # noqa: E402

scenario = Scenarios()

MIB = 1024 * 1024
VERSIONS = {"1": {"data/config.txt": b"cfg 1\n", "maps/world.map": os.urandom(3 * MIB)}}
VERSIONS["2"] = {"data/config.txt": b"cfg 2\n", "maps/world.map": os.urandom(3 * MIB),
                 "sounds/bells.ogg": os.urandom(200000)}
MANIFESTS = ("velgrim_release.txt", "velgrim_release2.txt", "velgrim_release3.txt")
CACHE_FOREVER = "public, max-age=31536000, immutable"
PREFIX = "/velgrim/"  # where the origin serves the CDN tree


def wait_port(port, proc, what):
    def up():
        if proc.poll() is not None:
            raise E2EError(f"{what} ended")
        try:
            socket.create_connection(("127.0.0.1", port), 0.2).close()
            return True
        except OSError:
            return False
    wait_until(up, 30, f"{what} on 127.0.0.1:{port}")


class Origin:
    """nginx serving DIR/cdn under /velgrim/ with the README's headers (and over TLS with
    the test authority's certificate when tls is given: (cert, key))."""

    def __init__(self, root, cdn, tls=None):
        self.dir = os.path.join(root, "origin")
        os.makedirs(os.path.join(self.dir, "tmp"))
        self.port = free_port()
        self.tls_port = free_port() if tls else None
        user = "user root;" if os.geteuid() == 0 else ""
        location = (f'location {PREFIX} {{ alias {cdn}/; add_header Cache-Control "{CACHE_FOREVER}"; }}\n'
                    # https -> http, which the launcher never follows
                    f'location /down-to-http/ {{ return 302 http://127.0.0.1:{self.port}/refused$request_uri; }}\n')
        tls_server = ""
        if tls:
            tls_server = (f"server {{ listen 127.0.0.1:{self.tls_port} ssl; ssl_certificate {tls[0]}; "
                          f"ssl_certificate_key {tls[1]}; {location} }}")
        d = self.dir
        write(os.path.join(d, "nginx.conf"), f"""daemon off;
master_process off;
worker_processes 1;
{user}
pid {d}/nginx.pid;
error_log {d}/error.log warn;
events {{ worker_connections 64; }}
http {{
  log_format range '$request_uri $http_range $status $body_bytes_sent';
  access_log {d}/access.log range;
  client_body_temp_path {d}/tmp/client;
  proxy_temp_path {d}/tmp/proxy;
  fastcgi_temp_path {d}/tmp/fastcgi;
  uwsgi_temp_path {d}/tmp/uwsgi;
  scgi_temp_path {d}/tmp/scgi;
  default_type application/octet-stream;
  server {{ listen 127.0.0.1:{self.port}; {location} }}
  {tls_server}
}}
""")
        nginx = shutil.which("nginx") or "/usr/sbin/nginx"
        self.proc = subprocess.Popen([nginx, "-p", d, "-e", f"{d}/error.log", "-c", f"{d}/nginx.conf"],
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_port(self.port, self.proc, "the origin")

    def requests(self):
        path = os.path.join(self.dir, "access.log")
        return read(path).decode("utf-8", "replace").splitlines() if os.path.exists(path) else []

    def stop(self):
        stop_process(self.proc)


class Varnish:
    """Varnish in front of the origin, its working directory in the test's own."""

    def __init__(self, root, origin_port):
        self.dir = os.path.join(root, "varnish")
        os.makedirs(self.dir)
        self.port = free_port()
        varnishd = shutil.which("varnishd") or "/usr/sbin/varnishd"
        self.log = open(os.path.join(root, "varnish.log"), "wb")
        self.proc = subprocess.Popen([varnishd, "-F", "-j", "none", "-n", self.dir, "-a", f"127.0.0.1:{self.port}",
                                      "-b", f"127.0.0.1:{origin_port}", "-s", "malloc,64m"],
                                     stdin=subprocess.DEVNULL, stdout=self.log, stderr=subprocess.STDOUT,
                                     start_new_session=True)
        wait_port(self.port, self.proc, "varnishd")

    def url(self):
        return f"http://127.0.0.1:{self.port}{PREFIX}"

    def stop(self):
        stop_process(self.proc)


class BadMirror:
    """A mirror that misbehaves one way: "other" (other bytes of the right length),
    "ignore-range" (cut at half the first time, then the whole file with 200 to a range),
    "slow" (half the file, then nothing until stopped),
    "redirect" (302 to target). Records each request's path and Range."""

    def __init__(self, mode, package=b"", target=""):
        self.requests = []
        self.stalled = threading.Event()  # "slow": set to let the held answer end
        bad = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def do_GET(self):
                bad.requests.append((self.path, self.headers.get("Range")))
                if mode == "redirect":
                    self.send_response(302)
                    self.send_header("Location", target + self.path.split("/objects/")[1])
                    self.send_header("Content-Length", "0")
                    self.end_headers()
                    return
                body = os.urandom(len(package)) if mode == "other" else package
                self.send_response(200)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                if mode == "slow":
                    self.wfile.write(body[:len(body) // 2])
                    self.wfile.flush()
                    bad.stalled.wait(60)
                    return
                if mode == "ignore-range" and len(bad.requests) == 1:
                    self.wfile.write(body[:len(body) // 2])
                    self.close_connection = True
                    return
                self.wfile.write(body)

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.port = self.server.server_address[1]
        self.thread = threading.Thread(target=self.server.serve_forever, args=(0.1,), daemon=True)
        self.thread.start()

    def url(self):
        return f"http://127.0.0.1:{self.port}/bad/"

    def stop(self):
        self.stalled.set()
        self.server.shutdown()
        self.server.server_close()


def rxpack(*args):
    done = subprocess.run([RXPACK, *args], stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
    if done.returncode != 0:
        raise E2EError(f"rxpack {' '.join(args)}: {done.stderr.decode('utf-8', 'replace')}")
    return done.stdout.decode()


def with_mirrors(manifest, mirrors):
    """Format 3's text with its mirror lines replaced, signed again."""
    def edit(body):
        lines = [line for line in body.decode().splitlines(True) if not line.startswith("mirror ")]
        at = next(i for i, line in enumerate(lines) if line.startswith("expires "))
        return "".join(lines[:at] + [f"mirror {m}\n" for m in mirrors] + lines[at:]).encode()
    return resign(manifest, edit)


class Release:
    """Versions 1 and 2 in a store, signed, with mirrors; the package a player at 1 takes."""

    def __init__(self, root, mirrors):
        self.store = os.path.join(root, "store")
        for version, files in VERSIONS.items():
            tree = os.path.join(root, "v" + version)
            for name, data in files.items():
                write(os.path.join(tree, name), data)
            args = [f"--mirror={m}" for m in mirrors]
            rxpack("release", "--store", self.store, "--version", version, "--key", SIGNING_KEY,
                   "--expires-days", "30", *args, tree)
        self.serve = os.path.join(self.store, "serve")
        self.cdn = os.path.join(self.store, "cdn")
        self.manifest3 = read(os.path.join(self.serve, MANIFESTS[2]))
        found = re.search(rb"^package from 1 plain (\d+) ([0-9a-f]{64})$", self.manifest3, re.M)
        check(found, "format 3 names no plain package from 1:\n" + self.manifest3.decode())
        self.size, self.sha = int(found.group(1)), found.group(2).decode()
        self.package = read(os.path.join(self.cdn, "objects", self.sha))
        check(hashlib.sha256(self.package).hexdigest() == self.sha, "the CDN object is not its name's bytes")

    def publish(self, web, mirrors=None):
        for name in MANIFESTS:
            data = read(os.path.join(self.serve, name))
            if name == MANIFESTS[2] and mirrors is not None:
                data = with_mirrors(data, mirrors)
            write(web.www(name), data)


def player(s, version="1", env=None):
    """A player at version 1 runs the signed launcher; its game must end at version 2."""
    game = Game(s.root, version=version, updater=UPDATER_SIGNED)
    for name, data in VERSIONS[version].items():
        write(game.path(name), data)
    code = s.launcher.run(game, env=env, timeout=120)
    check(code == 0, f"the launcher ended with {code}:\n{s.launcher.output()}")
    game.wait_game_started()
    check(game.version() == "2", f"version.txt is {game.version()!r}:\n{s.launcher.output()}")
    for name, data in VERSIONS["2"].items():
        check(read(game.path(name)) == data, f"{name} is not version 2's")
    return game


def served_files(server):
    return server.log().count("asked for kind 1002")


class CdnScene(Scene):
    """The release on nginx + Varnish, the update server up (fleet=False: down) and the web host."""

    def __init__(self, fleet=True, tls=None):
        super().__init__()
        self.tls = tls
        self.fleet = fleet

    def build(self, mirrors_for):
        """mirrors_for(varnish_url): the mirrors rxpack release signs."""
        varnish_port = free_port()
        self.release = Release(self.root, mirrors_for(f"http://127.0.0.1:{varnish_port}{PREFIX}"))
        self.origin = self.serve(Origin(self.root, self.release.cdn, self.tls))
        self.varnish = self.serve(Varnish(self.root, self.origin.port))
        if self.fleet:
            self.server = self.serve(UpdateServer(self.release.serve))
            self.web.publish_servers([("127.0.0.1", self.server.port, 10, 0)])
        else:
            self.web.publish_servers([("127.0.0.1", free_port(), 10, 0)])
        self.web.start()
        return self

    def republish(self, mirrors):
        self.release.publish(self.web, mirrors)


@scenario
def through_varnish():
    """The package comes through the edge cache, not from the update server; a second
    player's comes from the cache."""
    with CdnScene() as s:
        s.build(lambda varnish: [varnish])
        s.republish([s.varnish.url()])
        player(s)
        object_path = f"{PREFIX}objects/{s.release.sha}"
        hits = [line for line in s.origin.requests() if line.startswith(object_path)]
        check(len(hits) == 1, f"the origin served the package {len(hits)} times: {s.origin.requests()}")
        check(served_files(s.server) == 0, "the update server sent the package")
        shutil.rmtree(os.path.join(s.root, "game"))
        player(s)
        hits = [line for line in s.origin.requests() if line.startswith(object_path)]
        check(len(hits) == 1, "the second player's package did not come from the cache")


@scenario
def cut_and_resume():
    """Cut at half the package: the launcher goes on with a Range from the byte it holds,
    and no more than 1.05 times the package reaches it."""
    with CdnScene() as s:
        s.build(lambda varnish: [varnish])
        half = s.release.size // 2
        relay = s.serve(FaultRelay(s.varnish.port, lambda i, r: ("cut", half) if i == 0 else ("pass", None)))
        s.republish([f"http://127.0.0.1:{relay.port}{PREFIX}"])
        player(s)
        check(relay.connections == 2, f"{relay.connections} connections to the mirror")
        check(relay.server_bytes <= 1.05 * s.release.size,
              f"{relay.server_bytes} bytes reached the launcher for a {s.release.size}-byte package")
        check(served_files(s.server) == 0, "the update server sent the package")


# Each row: the first mirror misbehaves, the right package comes from the next source.
BAD_MIRRORS = [
    ("other bytes", "other"),
    ("200 to a range", "ignore-range"),
    ("down", "down"),
    ("redirect", "redirect"),
    ("no mirror serves it: the update server", "alone-down"),
]


@scenario
def bad_mirrors():
    with CdnScene() as s:
        s.build(lambda varnish: [varnish])
        for name, mode in BAD_MIRRORS:
            print(f"row: {name}")
            package = s.release.package
            bad = None
            if mode in ("other", "ignore-range", "redirect"):
                bad = BadMirror(mode, package, s.varnish.url() + "objects/")
                first = bad.url()
            else:
                first = f"http://127.0.0.1:{free_port()}/gone/"
            mirrors = [first] if mode == "alone-down" else [first, s.varnish.url()]
            s.republish(mirrors)
            before = served_files(s.server)
            try:
                player(s)
            finally:
                if bad is not None:
                    bad.stop()
            from_server = served_files(s.server) - before
            check(from_server == (1 if mode == "alone-down" else 0),
                  f"{name}: the update server sent the package {from_server} times")
            if mode == "ignore-range":
                ranges = [r for _, r in bad.requests]
                check(ranges == [None, f"bytes={len(package) // 2}-"],
                      f"{name}: the requests asked {ranges}")
            shutil.rmtree(os.path.join(s.root, "game"))


def make_test_authority(root):
    """A certificate authority of the test's own and a certificate for 127.0.0.1 it signed."""
    d = os.path.join(root, "tls")
    os.makedirs(d)

    def openssl(*args):
        subprocess.run(["openssl", *args], cwd=d, stdin=subprocess.DEVNULL, capture_output=True, check=True,
                       timeout=60)
    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    openssl("req", "-x509", *ec, "-keyout", "ca.key", "-out", "ca.pem", "-days", "2", "-subj", "/CN=Velgrim test CA")
    openssl("req", *ec, "-keyout", "mirror.key", "-out", "mirror.csr", "-subj", "/CN=127.0.0.1")
    write(os.path.join(d, "san.ext"), "subjectAltName=IP:127.0.0.1\n")
    openssl("x509", "-req", "-in", "mirror.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
            "-out", "mirror.pem", "-days", "2", "-extfile", "san.ext")
    return os.path.join(d, "ca.pem"), (os.path.join(d, "mirror.pem"), os.path.join(d, "mirror.key"))


@scenario
def https_mirror():
    """HTTPS checked against the test's authority alone: with it the package comes over
    TLS; a redirect from https to http is refused; without the authority (the machine's
    roots only) the mirror is passed over for the update server."""
    root_ca = {}
    with CdnScene() as s:
        ca, tls = make_test_authority(s.root)
        s.tls = tls
        root_ca["VELGRIM_TEST_MIRROR_CA"] = ca
        s.build(lambda varnish: [varnish])
        https = f"https://127.0.0.1:{s.origin.tls_port}"
        rows = [
            ("over TLS", [f"{https}{PREFIX}"], root_ca, 0),
            ("https to http refused", [f"{https}/down-to-http/", f"{https}{PREFIX}"], root_ca, 0),
            ("not the machine's roots", [f"{https}{PREFIX}"], {}, 1),
        ]
        for name, mirrors, env, from_server in rows:
            print(f"row: {name}")
            s.republish(mirrors)
            before = served_files(s.server)
            player(s, env=env)
            check(served_files(s.server) - before == from_server, f"{name}: the update server's part is wrong")
            shutil.rmtree(os.path.join(s.root, "game"))
        check(not any(line.startswith("/refused") for line in s.origin.requests()),
              "the redirect from https to http was followed")


@scenario
def cancel_on_a_mirror():
    """Cancel while a mirror holds the transfer: the launcher ends at once, the game starts
    at the installed version, and the part stays to go on with."""
    with CdnScene() as s:
        s.build(lambda varnish: [varnish])
        slow = BadMirror("slow", s.release.package)
        try:
            s.republish([slow.url()])
            game = Game(s.root, version="1", updater=UPDATER_SIGNED)
            for name, data in VERSIONS["1"].items():
                write(game.path(name), data)
            s.launcher.start(game)
            part = game.path("Velgrim_patch.rxpack.part")
            wait_until(lambda: os.path.exists(part) and os.path.getsize(part) >= s.release.size // 2, 60,
                       "half the package in the part")
            s.launcher.cancel()
            code = s.launcher.wait(15)
            check(code == 0, f"the launcher ended with {code}:\n{s.launcher.output()}")
            game.wait_game_started()
            check(game.version() == "1", f"version.txt is {game.version()!r}")
            check(os.path.getsize(part) == s.release.size // 2, "the part is not what came")
            check(os.path.exists(game.path("Velgrim_patch.rxpack.resume")), "the part has no record")
        finally:
            slow.stop()


@scenario
def fleet_outage():
    """Every update server down: the signed release on the mirrors still updates the player."""
    with CdnScene(fleet=False) as s:
        s.build(lambda varnish: [varnish])
        s.republish([s.varnish.url()])
        player(s)


if __name__ == "__main__":
    sys.exit(scenario.main(sys.argv, __doc__))
