"""Pieces of the launcher's end-to-end runs: a game directory, the web host (nginx) with the
server list, the real update-server, a scripted update server for the faults a real one
never commits, and the launcher itself, natively or under Wine on a virtual display.

Everything here is bounded in time and stops what it started.
"""
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

ENV = os.environ
WINDOWS = ENV.get("VELGRIM_TARGET") == "windows"
BUILD = ENV.get("VELGRIM_BUILD_DIR", "")
SOURCE = ENV.get("VELGRIM_SOURCE_DIR", "")
WEB_HOST = ENV.get("VELGRIM_WEB_HOST", "")
WEB_PORT = int(ENV.get("VELGRIM_WEB_PORT", "0"))
FALLBACK = ENV.get("VELGRIM_FALLBACK_SERVER", "")
FALLBACK_PORT = 6527

UPDATER = ENV.get("VELGRIM_UPDATER", "")          # Updater.exe or the Linux updater
# The same launcher built with its own updater versions 2000 and 2001 (hand-over tests).
UPDATER_V2000 = ENV.get("VELGRIM_UPDATER_V2000", "")
UPDATER_V2001 = ENV.get("VELGRIM_UPDATER_V2001", "")
# The same launcher with a hook that kills it at a step of an update (VELGRIM_TEST_CRASH_AT).
UPDATER_CRASH = ENV.get("VELGRIM_UPDATER_CRASH", "")
# The launcher built with the tests' release key, and that key's private half.
UPDATER_SIGNED = ENV.get("VELGRIM_UPDATER_SIGNED", "")
SIGNING_KEY = ENV.get("VELGRIM_RELEASE_SIGNING_KEY", "")
STANDIN = ENV.get("VELGRIM_STANDIN", "")          # the stand-in game of the same target
UPDATE_SERVER = ENV.get("VELGRIM_UPDATE_SERVER", "")  # native tools
RXPACK = ENV.get("VELGRIM_RXPACK", "")
SERVERLIST = ENV.get("VELGRIM_SERVERLIST", "")

PATCH = "Velgrim_patch.rxpack"
MANIFEST = "velgrim_release.txt"


class E2EError(Exception):
    pass


def check(condition, message):
    if not condition:
        raise E2EError(message)


class Scenarios:
    """The scenarios of one script, each one ctest test: `@scenario` adds a function, and
    main runs the one named on the command line (`--list` names them all)."""

    def __init__(self):
        self.table = {}

    def __call__(self, fn):
        self.table[fn.__name__] = fn
        return fn

    def main(self, argv, doc):
        if len(argv) == 2 and argv[1] == "--list":
            print("\n".join(self.table))
            return 0
        if len(argv) != 2 or argv[1] not in self.table:
            print(doc, file=sys.stderr)
            return 2
        self.table[argv[1]]()
        print(f"{argv[1]}: passed")
        return 0


def wait_until(predicate, timeout, what, step=0.05):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    raise E2EError(f"{what}: not within {timeout} s")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def read(path, mode="rb"):
    with open(path, mode) as f:
        return f.read()


def stop_process(proc):
    """SIGTERM, and SIGKILL when that is not enough within 10 s."""
    if proc is not None and proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def write(path, data):
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with open(path, "wb" if isinstance(data, bytes) else "w") as f:
        f.write(data)


# ---------------------------------------------------------------------------- game directory

class Game:
    """A game directory: the launcher as Updater.exe beside the stand-in Velgrim.exe."""

    def __init__(self, root, version=None, updater=None):
        self.dir = os.path.join(root, "game")
        os.makedirs(self.dir)
        shutil.copy2(updater or UPDATER, self.path("Updater.exe"))
        shutil.copy2(STANDIN, self.path("Velgrim.exe"))
        if version is not None:
            write(self.path("version.txt"), version)

    def path(self, name):
        return os.path.join(self.dir, name)

    def exists(self, name):
        return os.path.exists(self.path(name))

    def version(self):
        return read(self.path("version.txt")).decode() if self.exists("version.txt") else None

    def starts(self):
        """The stand-in's recorded starts: one list of argv per start."""
        if not self.exists("game-started.txt"):
            return []
        return [line.split("|") for line in read(self.path("game-started.txt")).decode().splitlines() if line]

    def wait_game_started(self, timeout=60):
        return wait_until(self.starts, timeout, "the game to be started")


# ---------------------------------------------------------------------------- web host

class WebHost:
    """nginx on the deployment's web host and port, publishing the server list."""

    def __init__(self, root):
        self.dir = os.path.join(root, "web")
        os.makedirs(os.path.join(self.dir, "www"))
        os.makedirs(os.path.join(self.dir, "tmp"))
        self.proc = None

    def publish(self, text):
        write(os.path.join(self.dir, "www", "velgrim_load_servers.php"), text)

    def publish_servers(self, servers, header="1"):
        """servers: (address, port, load, state) tuples."""
        fields = [header]
        for address, port, load, state in servers:
            fields += [address, str(port), str(load), str(state), "x", "y"]
        self.publish("".join(f + ";" for f in fields))

    def publish_manifest(self, data):
        """The signed release manifest beside the list; None: none (a 404)."""
        path = os.path.join(self.dir, "www", MANIFEST)
        if data is None:
            if os.path.exists(path):
                os.remove(path)
        else:
            write(path, data)

    def requests(self):
        path = os.path.join(self.dir, "access.log")
        return read(path).decode("utf-8", "replace") if os.path.exists(path) else ""

    def www(self, name):
        return os.path.join(self.dir, "www", name)

    def start(self, site=""):
        """site: more of the server block, e.g. the deployment's snippet."""
        nginx = shutil.which("nginx") or "/usr/sbin/nginx"
        user = "user root;" if os.geteuid() == 0 else ""
        d = self.dir
        write(os.path.join(d, "nginx.conf"), f"""daemon off;
master_process off;
worker_processes 1;
{user}
pid {d}/nginx.pid;
error_log {d}/error.log warn;
events {{ worker_connections 64; }}
http {{
  access_log {d}/access.log;
  client_body_temp_path {d}/tmp/client;
  proxy_temp_path {d}/tmp/proxy;
  fastcgi_temp_path {d}/tmp/fastcgi;
  uwsgi_temp_path {d}/tmp/uwsgi;
  scgi_temp_path {d}/tmp/scgi;
  default_type text/plain;
  server {{ listen {WEB_HOST}:{WEB_PORT}; root {d}/www; {site} }}
}}
""")
        self.proc = subprocess.Popen([nginx, "-p", d, "-e", f"{d}/error.log", "-c", f"{d}/nginx.conf"],
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)

        def up():
            if self.proc.poll() is not None:
                raise E2EError("nginx ended: " + read(f"{d}/error.log", "r") if os.path.exists(f"{d}/error.log")
                               else "nginx ended")
            try:
                socket.create_connection((WEB_HOST, WEB_PORT), 0.2).close()
                return True
            except OSError:
                return False

        wait_until(up, 15, f"nginx on {WEB_HOST}:{WEB_PORT}")

    def stop(self):
        stop_process(self.proc)


# ---------------------------------------------------------------------------- update servers

def make_release(root, game_version, files=None, updater_version=0, updater_bytes=None, info="Velgrim update"):
    """A release directory for update-server; files: {name: bytes} packed into the patch."""
    release = os.path.join(root, "release")
    content = os.path.join(root, "content")
    os.makedirs(release)
    os.makedirs(content)
    for name, data in (files or {"readme.txt": b"Velgrim\n"}).items():
        write(os.path.join(content, name), data)
    subprocess.run([RXPACK, "create", os.path.join(release, PATCH), content], check=True,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, timeout=120)
    conf = f"game_version = {game_version}\nupdater_version = {updater_version}\n"
    write(os.path.join(release, "release.conf"), conf)
    write(os.path.join(release, "info.txt"), info)
    if updater_bytes is not None:
        write(os.path.join(release, "UpdaterNew.exe"), updater_bytes)
    return release


def sign_release(release, key=None, expires_days=None):
    """The manifest of a release directory as rxpack sign-release prints it."""
    args = [RXPACK, "sign-release", "--key", key or SIGNING_KEY]
    args += ["--expires-days", str(expires_days)] if expires_days is not None else ["--no-expiry"]
    done = subprocess.run(args + [release], stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
    if done.returncode != 0:
        raise E2EError(f"rxpack sign-release failed: {done.stderr.decode('utf-8', 'replace')}")
    return done.stdout


def resign(manifest, edit, key=None):
    """The manifest with its signed text changed by edit(bytes) and signed again (openssl)."""
    sys.path.insert(0, os.path.join(SOURCE, "tests", "support"))
    from p256_signature import to_raw
    body = edit(manifest[:manifest.rindex(b"signature ")])
    der = subprocess.run(["openssl", "dgst", "-sha256", "-sign", key or SIGNING_KEY], input=body,
                         capture_output=True, check=True, timeout=60).stdout
    return body + b"signature " + to_raw(der).encode() + b"\n"


def make_key(path):
    """A P-256 private key of the kind the studio makes."""
    subprocess.run(["openssl", "ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", path],
                   stdin=subprocess.DEVNULL, capture_output=True, check=True, timeout=60)
    return path


class UpdateServer:
    """The real update-server on 127.0.0.1 (status=True: with a status port as well)."""

    def __init__(self, release, port=None, extra=(), status=False):
        if status:
            extra = ["--status-listen", "127.0.0.1:0", *extra]
        self.release = release
        self.port = port or free_port()
        self.log_path = os.path.join(os.path.dirname(release), "update-server.log")
        self.proc = subprocess.Popen(
            [UPDATE_SERVER, "--listen", "127.0.0.1", "--port", str(self.port), *extra, release],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=open(self.log_path, "wb"))
        wait_until(lambda: "listening" in self.log(), 15, "update-server to listen")

    def log(self):
        return read(self.log_path).decode("utf-8", "replace") if os.path.exists(self.log_path) else ""

    def status_port(self):
        found = wait_until(lambda: re.search(r"status on 127\.0\.0\.1:(\d+)", self.log()), 15, "the status port")
        return int(found.group(1))

    def reload(self, **conf):
        before = self.log().count("update-server: reloaded")
        write(os.path.join(self.release, "release.conf"), "".join(f"{k} = {v}\n" for k, v in conf.items()))
        self.proc.send_signal(signal.SIGHUP)
        wait_until(lambda: self.log().count("update-server: reloaded") > before, 15, "update-server to reload")

    def stop(self):
        stop_process(self.proc)


class ServerList:
    """serverlist publishing the fleet file's hosts into the web host's list."""

    def __init__(self, root, fleet_lines, list_path, interval=1, extra=()):
        self.fleet = os.path.join(root, "fleet.txt")
        self.list_path = list_path
        self.interval = interval
        write(self.fleet, "".join(line + "\n" for line in fleet_lines))
        self.log_path = os.path.join(root, "serverlist.log")
        self.proc = subprocess.Popen([SERVERLIST, "--interval", str(interval), *extra, self.fleet, list_path],
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=open(self.log_path, "wb"))

    def log(self):
        return read(self.log_path).decode("utf-8", "replace") if os.path.exists(self.log_path) else ""

    def servers(self):
        """The published list as {(address, port): (load, state)}; {} before the first."""
        if not os.path.exists(self.list_path):
            return {}
        fields = read(self.list_path).decode().split(";")[1:-1]
        return {(fields[i], int(fields[i + 1])): (int(fields[i + 2]), int(fields[i + 3]))
                for i in range(0, len(fields) - 5, 6)}

    def stop(self):
        stop_process(self.proc)


def frame(msg_id, body=b""):
    return struct.pack("<iI", msg_id, len(body)) + body


def counted(data):
    return struct.pack("<I", len(data)) + data


class ScriptedServer:
    """An update server that follows a script, for what the real one never does.

    answer: "close" (close before the version answer) or (game_version, updater_version).
    files: {kind: callable(conn)} sending the transfer by hand (see send_file).
    """

    def __init__(self, answer, files=None):
        self.answer = answer
        self.files = files or {}
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(8)
        self.listener.settimeout(0.2)
        self.port = self.listener.getsockname()[1]
        self.requests = []
        self.bodies = []  # (id, body) of each message the launcher sent
        self.stopping = False
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        while not self.stopping:
            try:
                conn, _ = self.listener.accept()
            except OSError:
                continue
            threading.Thread(target=self._client, args=(conn,), daemon=True).start()

    @staticmethod
    def _read_exact(conn, n):
        data = b""
        while len(data) < n:
            chunk = conn.recv(n - len(data))
            if not chunk:
                raise EOFError
            data += chunk
        return data

    def _client(self, conn):
        conn.settimeout(30)
        try:
            conn.sendall(frame(2))
            while True:
                msg_id, length = struct.unpack("<iI", self._read_exact(conn, 8))
                body = self._read_exact(conn, length)
                self.requests.append(msg_id)
                self.bodies.append((msg_id, body))
                if msg_id == 262:
                    if self.answer == "close":
                        return
                    game, updater = self.answer
                    conn.sendall(frame(262, struct.pack("<II", 0, game) + counted(b"scripted\0")
                                       + struct.pack("<I", updater)))
                elif msg_id == 256:
                    kind = struct.unpack("<I", body[:4])[0]
                    self.files.get(kind, lambda c: c.sendall(frame(260)))(conn)
        except (OSError, EOFError, struct.error):
            pass
        finally:
            conn.close()

    def stop(self):
        self.stopping = True
        self.thread.join(5)
        self.listener.close()


def send_file(name, data, announced=None, chunk=4096, delay=0.0, end=True):
    """A transfer script: begin (with the announced size), chunks, then end (or nothing)."""
    def run(conn):
        size = len(data) if announced is None else announced
        conn.sendall(frame(257, counted(name.encode() + b"\0") + struct.pack("<I", size)))
        for i in range(0, len(data), chunk):
            conn.sendall(frame(258, counted(data[i:i + chunk])))
            if delay:
                time.sleep(delay)
        if end:
            conn.sendall(frame(259))
    return run


# ---------------------------------------------------------------------------- the launcher

class Launcher:
    """Runs the game directory's Updater.exe: natively, or under Wine on its own display."""

    def __init__(self, root):
        self.root = root
        self.out = os.path.join(root, "out")
        os.makedirs(self.out)
        self.gui = None
        if WINDOWS:
            sys.path.insert(0, os.path.join(SOURCE, "tests", "gui"))
            from gui_session import GuiSession
            self.gui = GuiSession(self.out, os.path.join(SOURCE, "tests", "support", "wine-prefix.sh"),
                                  ENV["VELGRIM_GUI_WINEPREFIX"])
            self.gui.__enter__()
        self.native_proc = None
        self.procs = []
        self.skin = None

    @property
    def proc(self):
        """The launcher started last (under Wine, the session's program: it may have been
        started once more)."""
        return self.gui.program if self.gui is not None else self.native_proc

    def start(self, game, program="Updater.exe", args=(), env=None, log_name="launcher.log", user=None):
        """Starts a launcher; env: variables added to its environment; user: the uid (and
        gid) it runs as, natively (root ignores file permissions)."""
        path = game.path(program)
        if WINDOWS:
            saved = dict(self.gui.env)
            self.gui.env.update(env or {})
            try:
                self.gui.start_program([ENV["VELGRIM_WINE"], path, *args], log_name=log_name, cwd=self.root)
            finally:
                self.gui.env = saved
        else:
            self.log = open(os.path.join(self.out, log_name), "wb")
            # Started from elsewhere: the launcher must find its own directory.
            as_user = [] if user is None else ["setpriv", f"--reuid={user}", f"--regid={user}", "--clear-groups"]
            self.native_proc = subprocess.Popen([*as_user, path, *args], cwd=self.root, stdin=subprocess.DEVNULL,
                                                stdout=self.log, stderr=subprocess.STDOUT, start_new_session=True,
                                                env={**os.environ, **(env or {})})
        self.procs.append(self.proc)
        return self.proc

    def wait(self, timeout=60):
        if WINDOWS:
            from gui_session import GuiError
            try:
                return self.gui.wait_for_exit(timeout)
            except GuiError:
                raise E2EError(f"the launcher still runs after {timeout} s")
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise E2EError(f"the launcher still runs after {timeout} s")

    def run(self, game, program="Updater.exe", args=(), timeout=60, env=None, log_name="launcher.log", user=None):
        self.start(game, program, args, env=env, log_name=log_name, user=user)
        return self.wait(timeout)

    def output(self):
        path = os.path.join(self.out, "launcher.log")
        return read(path).decode("utf-8", "replace") if os.path.exists(path) else ""

    def _skin(self):
        if self.skin is None:
            from window_layout import Skin
            self.skin = Skin(os.path.join(SOURCE, "res"))
        return self.skin

    def _window_in(self, state):
        """The update window once a screenshot shows it in state ("transferring" or
        "error_notice"), activated for keys."""
        win = self.gui.wait_for_window("pdater", 512, 415, timeout=60)
        self.gui.wait_for_shot(win, getattr(self._skin(), state), state.replace("_", " "), timeout=60)
        self.gui.xdotool("windowactivate", "--sync", win.wid)
        return win

    def cancel(self):
        """Cancel: Ctrl-C on the console, Escape in the window."""
        if WINDOWS:
            self._window_in("transferring")
            self.gui.key("Escape")
        else:
            os.killpg(self.proc.pid, signal.SIGINT)

    def close_error_notice(self):
        """The window waits for the player to close its error notice; the console does not."""
        if WINDOWS:
            from window_layout import CLOSE, point_at_button
            point_at_button(self.gui, self._window_in("error_notice"), self._skin(), CLOSE)
            self.gui.click()

    def hold(self, game, name, seconds):
        """Another program keeps name open (readable, not replaceable) until released."""
        args = [game.path("Velgrim.exe"), "--hold", game.path(name), str(seconds)]
        if WINDOWS:
            args = [ENV["VELGRIM_WINE"], *args]
        holder = subprocess.Popen(args, cwd=self.root, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL, env=self.gui.env if WINDOWS else None,
                                  start_new_session=True)
        wait_until(lambda: game.exists(name + ".held"), 60, f"{name} to be held")
        return holder

    def end_run(self):
        """Ends a run that is still going (a check failed), so that another can start."""
        if self.proc is not None and self.proc.poll() is None:
            try:
                os.killpg(self.proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.proc.wait(10)

    def close(self):
        for proc in self.procs:
            if proc.poll() is None:
                try:
                    os.killpg(proc.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
        if self.gui is not None:
            self.gui.close()


class Scene:
    """One end-to-end run's world, torn down whatever happens."""

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="velgrim-e2e-")
        self.web = WebHost(self.root)
        self.launcher = Launcher(self.root)
        self.servers = []

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.launcher.close()
        for s in self.servers:
            s.stop()
        self.web.stop()
        if exc[0] is None:
            shutil.rmtree(self.root, ignore_errors=True)
        else:
            print(f"kept for inspection: {self.root}", file=sys.stderr)
            print(self.launcher.output(), file=sys.stderr)
            for s in self.servers:
                if isinstance(s, (UpdateServer, ServerList)):
                    print(s.log(), file=sys.stderr)
        return False

    def serve(self, server):
        self.servers.append(server)
        return server
