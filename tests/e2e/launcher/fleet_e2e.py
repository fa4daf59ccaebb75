"""End-to-end runs of a fleet: three real update-servers with status ports, serverlist
publishing their list through nginx (with the deployment's site snippet), and the native
launcher choosing among them.

    fleet_e2e.py SCENARIO     runs one scenario (each is one ctest test)
    fleet_e2e.py --list       names them
"""
import http.server
import os
import signal
import socket
import subprocess
import sys
import threading
import time
import urllib.request

from velgrim_e2e import (SERVERLIST, SOURCE, WEB_HOST, WEB_PORT, Game, Scenarios, Scene, ServerList, UpdateServer,
                         check, make_key, make_release, read, sign_release, wait_until, write)

scenario = Scenarios()
INTERVAL = 1  # seconds between serverlist's rounds
LIST_SLACK = 2.0  # room for the round that notices, on a busy machine


def site_snippet(www):
    """The deployment's nginx snippet, serving from this run's web directory."""
    text = read(os.path.join(SOURCE, "deploy", "nginx", "velgrim.conf")).decode()
    check("/var/lib/velgrim/www" in text, "the snippet no longer serves /var/lib/velgrim/www")
    return text.replace("/var/lib/velgrim/www", www)


def fetch(url):
    with urllib.request.urlopen(url, timeout=5) as answer:
        return answer.headers, answer.read().decode()


def hold_idle(port):
    """A client that connects, takes the greeting and says nothing more."""
    s = socket.create_connection(("127.0.0.1", port), 5)
    check(len(s.recv(8)) == 8, "no greeting")
    return s


def connections(server):
    return server.log().count("connection ended")


def launcher_picks(s, game, servers):
    """Runs the launcher; returns the one server it talked to."""
    before = [connections(x) for x in servers]
    check(s.launcher.run(game) == 0, "the launcher failed")
    game.wait_game_started()
    # The server logs the end of the connection as soon as the launcher has gone.
    wait_until(lambda: sum(connections(x) for x in servers) > sum(before), 10, "the launcher's connection to end")
    talked = [x for x, b in zip(servers, before) if connections(x) > b]
    check(len(talked) == 1, f"the launcher talked to {len(talked)} servers")
    return talked[0]


@scenario
def fleet_choice():
    with Scene() as s:
        servers = [s.serve(UpdateServer(make_release(os.path.join(s.root, name), 7), status=True,
                                        extra=["--capacity", "10"])) for name in "abc"]
        a, b, c = servers
        idle = [hold_idle(a.port) for _ in range(3)] + [hold_idle(b.port)]
        www = os.path.join(s.web.dir, "www")
        lister = s.serve(ServerList(s.root, [f"127.0.0.1 {x.port} 127.0.0.1:{x.status_port()} {n} 0"
                                             for x, n in zip(servers, "abc")],
                                    os.path.join(www, "velgrim_load_servers.php"), INTERVAL))
        write(os.path.join(www, "velgrim_release.txt"), "signed manifest\n")
        s.web.start(site_snippet(www))

        def listed(expected, timeout=10):
            want = {("127.0.0.1", x.port): v for x, v in expected.items()}
            return wait_until(lambda: lister.servers() == want, timeout, f"the list to show {want}: "
                              f"{lister.servers()}")

        # The fewest clients wins.
        listed({a: (300, 0), b: (100, 0), c: (0, 0)})
        for path in ("velgrim_load_servers.php", "velgrim_release.txt"):
            headers, _ = fetch(f"http://{WEB_HOST}:{WEB_PORT}/{path}")
            check(headers.get("Cache-Control") == "no-cache", f"{path} is served with {headers.get('Cache-Control')}")
        game = Game(s.root, "7")
        check(launcher_picks(s, game, servers) is c, "the launcher did not pick the idle host")

        # Draining the chosen host sends the next player elsewhere.
        c.proc.send_signal(signal.SIGUSR1)
        listed({a: (300, 0), b: (100, 0), c: (0, 15)})
        check(launcher_picks(s, game, servers) is b, "the launcher did not pick the next host")
        check(lister.log().count("draining: state 15") == 1, "draining was not logged once:\n" + lister.log())

        # A host that dies is closed within two rounds.
        a.proc.kill()
        a.proc.wait()
        died = time.monotonic()
        listed({a: (0, 15), b: (100, 0), c: (0, 15)})
        took = time.monotonic() - died
        check(took <= 2 * INTERVAL + LIST_SLACK, f"a dead host was listed open for {took:.1f} s")
        check("unreachable (connect: Connection refused)" in lister.log(), "the dead host was not logged")

        # Back from draining; a host with an older release is closed.
        c.proc.send_signal(signal.SIGUSR1)
        b.reload(game_version=6)
        listed({a: (0, 15), b: (100, 15), c: (0, 0)})
        check("lagging (game version 6 below 7)" in lister.log(), "the lagging host was not logged")
        check(launcher_picks(s, game, servers) is c, "the launcher did not pick the up-to-date host")

        # Every host down: the last good list stays.
        last = read(lister.list_path)
        for x in (b, c):
            x.stop()
        wait_until(lambda: "no host answered" in lister.log(), 10, "serverlist to notice the fleet is down")
        time.sleep(2 * INTERVAL)
        check(read(lister.list_path) == last, "the last good list was replaced")
        for sock in idle:
            sock.close()


class StatusHost:
    """A status port that answers GET /load with a fixed load line, after a delay."""

    def __init__(self, line, delay=0.0):
        line_bytes = line.encode()

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                time.sleep(delay)
                self.send_response(200)
                self.send_header("Content-Length", str(len(line_bytes)))
                self.end_headers()
                self.wfile.write(line_bytes)

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def fleet_line(self, name):
        return f"{name} 7000 127.0.0.1:{self.server.server_address[1]} 0 0"

    def stop(self):
        self.server.shutdown()
        self.server.server_close()


def public_key(key, path):
    subprocess.run(["openssl", "ec", "-in", key, "-pubout", "-out", path], stdin=subprocess.DEVNULL,
                   capture_output=True, check=True, timeout=60)
    return path


def serverlist_once(root, hosts, extra=()):
    """One round of serverlist (--once): exit status, the list as {name: state}, the log."""
    fleet = os.path.join(root, "fleet.txt")
    listed = os.path.join(root, "list.txt")
    write(fleet, "".join(h.fleet_line(name) + "\n" for name, h in hosts.items()))
    done = subprocess.run([SERVERLIST, "--once", *extra, fleet, listed], stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=60)
    fields = read(listed).decode().split(";")[1:-1] if os.path.exists(listed) else []
    states = {fields[i]: int(fields[i + 3]) for i in range(0, len(fields) - 5, 6)}
    return done.returncode, states, done.stderr.decode("utf-8", "replace")


@scenario
def fleet_release():
    """One host above the others cannot take the fleet: without a manifest the release most
    capacity serves wins, with the studio's signed manifest exactly its versions do; a
    manifest that does not check is not used; a garbled /load answer closes its host."""
    with Scene() as s:
        hosts = {"a": StatusHost("0 10 0 7 0\n"), "b": StatusHost("0 10 0 7 0\n"), "c": StatusHost("0 10 0 80 0\n"),
                 "d": StatusHost("<html>\x1b[2J</html>")}
        try:
            status, states, log = serverlist_once(s.root, hosts)
            check(status == 0, f"serverlist --once exited {status}: {log}")
            check(states == {"a": 0, "b": 0, "c": 15, "d": 15}, f"without a manifest: {states}\n{log}")
            check("not on the fleet's release (game version 80 above 7): state 15" in log, log)
            check("bad load answer (not a load line: '<html>\\x1B[2J</html>'): state 15" in log, log)

            key = make_key(os.path.join(s.root, "release.key"))
            pub = public_key(key, os.path.join(s.root, "release.pub"))
            manifest = os.path.join(s.root, "velgrim_release.txt")
            signed = sign_release(make_release(os.path.join(s.root, "r80"), 80), key=key, expires_days=30)
            write(manifest, signed)
            status, states, log = serverlist_once(s.root, hosts, ["--manifest", manifest, "--pub", pub])
            check(status == 0 and states == {"a": 15, "b": 15, "c": 0, "d": 15}, f"with the manifest: {states}\n{log}")
            check(f"manifest {manifest}: hosts must serve game version 80, updater version 0" in log, log)
            check("lagging (game version 7 below the manifest's 80): state 15" in log, log)

            write(manifest, signed.replace(b"game_version 80", b"game_version 81"))
            status, states, log = serverlist_once(s.root, hosts, ["--manifest", manifest, "--pub", pub])
            check(states == {"a": 0, "b": 0, "c": 15, "d": 15}, f"with a forged manifest: {states}\n{log}")
            check(f"manifest {manifest} is not used (bad signature)" in log, log)
        finally:
            for h in hosts.values():
                h.stop()


@scenario
def fleet_signals():
    """Signals during rounds (one host answers slowly) never publish half a list: every list
    the web host ever serves has both hosts open; SIGTERM then stops serverlist."""
    with Scene() as s:
        quick, slow = StatusHost("1 10 0 7 0\n"), StatusHost("2 10 0 7 0\n", delay=0.6)
        try:
            path = os.path.join(s.root, "list.txt")
            lister = s.serve(ServerList(s.root, [quick.fleet_line("quick"), slow.fleet_line("slow")], path, INTERVAL))
            whole = {("quick", 7000): (100, 0), ("slow", 7000): (200, 0)}
            wait_until(lambda: lister.servers() == whole, 15, f"the first list: {lister.servers()}")
            seen = set()
            started = time.monotonic()
            for i in range(12):
                lister.proc.send_signal(signal.SIGHUP if i % 2 else signal.SIGUSR1)
                until = time.monotonic() + 0.37
                while time.monotonic() < until:
                    seen.add(read(path))
                    time.sleep(0.01)
            took = time.monotonic() - started
            for text in seen:
                listed = text.decode()
                check(listed == "2;quick;7000;100;0;0;0;slow;7000;200;0;0;0;\n", f"a list of half a round: {listed!r}")
            check("read " in lister.log(), "no SIGHUP was taken")
            check("no answer within" not in lister.log(), "a round cut short was logged:\n" + lister.log())
            lister.proc.send_signal(signal.SIGTERM)
            check(lister.proc.wait(10) == 0, "serverlist did not stop with status 0")
            check("stopped" in lister.log(), "no stop logged")
            print(f"  {len(seen)} distinct list(s) over {took:.1f} s of signals")
        finally:
            quick.stop()
            slow.stop()


def metric_samples(port):
    """Read with Prometheus' own text parser (Debian: python3-prometheus-client)."""
    from prometheus_client.parser import text_string_to_metric_families
    _, text = fetch(f"http://127.0.0.1:{port}/metrics")
    families = {f.name: f for f in text_string_to_metric_families(text)}
    samples = {}
    for family in families.values():
        for sample in family.samples:
            samples[(sample.name, tuple(sorted(sample.labels.items())))] = sample.value
    return families, samples


@scenario
def metrics():
    """The status port's page parses as Prometheus text; its counters move with a transfer."""
    with Scene() as s:
        patch_data = os.urandom(2 * 1024 * 1024)
        release = make_release(s.root, 8, {"data.bin": patch_data})
        # A manifest that expires in 3 days: a warning in the log, and its time on the page.
        manifest = os.path.join(s.root, "velgrim_release.txt")
        write(manifest, sign_release(release, key=make_key(os.path.join(s.root, "release.key")), expires_days=3))
        expires = time.time() + 3 * 86400
        server = s.serve(UpdateServer(release, status=True, extra=["--manifest", manifest]))
        check("expires on " in server.log() and "within 7 days" in server.log(),
              "no warning of the near expiry:\n" + server.log())
        s.web.publish_servers([("127.0.0.1", server.port, 10, 0)])
        s.web.start()
        port = server.status_port()
        families, before = metric_samples(port)
        kinds = {
            "velgrim_update_server_clients": "gauge",
            "velgrim_update_server_transfers": "gauge",
            "velgrim_update_server_draining": "gauge",
            "velgrim_update_server_queued_bytes": "gauge",
            "velgrim_update_server_budget_bytes": "gauge",
            "velgrim_update_server_game_version": "gauge",
            "velgrim_update_server_updater_version": "gauge",
            "velgrim_update_server_sent_bytes": "counter",
            "velgrim_update_server_files_sent": "counter",
            "velgrim_update_server_connections": "counter",
            "velgrim_update_server_connections_dropped": "counter",
            "velgrim_update_server_manifest_expiry_timestamp_seconds": "gauge",
        }
        for name, kind in kinds.items():
            check(name in families and families[name].type == kind, f"{name} is not a {kind}: {families.get(name)}")
        check(before[("velgrim_update_server_game_version", ())] == 8, "wrong game version")
        check(before[("velgrim_update_server_budget_bytes", ())] == 256 * 2**20, "wrong budget")
        signed_expiry = before[("velgrim_update_server_manifest_expiry_timestamp_seconds", ())]
        check(abs(signed_expiry - expires) < 120, f"the manifest expires at {signed_expiry}, not about {expires:.0f}")

        game = Game(s.root, "3")
        check(s.launcher.run(game) == 0, "the launcher failed")
        game.wait_game_started()
        check(game.version() == "8", f"version.txt is {game.version()!r}")
        wait_until(lambda: metric_samples(port)[1][("velgrim_update_server_clients", ())] == 0, 10,
                   "the launcher to leave")
        _, after = metric_samples(port)

        def moved(name, labels=()):
            key = (name, tuple(sorted(labels)))
            return after[key] - before[key]

        patch_size = os.path.getsize(os.path.join(server.release, "Velgrim_patch.rxpack"))
        check(moved("velgrim_update_server_files_sent_total", [("kind", "patch")]) == 1, "no patch counted")
        check(moved("velgrim_update_server_files_sent_total", [("kind", "updater")]) == 0, "an updater counted")
        check(moved("velgrim_update_server_connections_total") == 1, "the connection was not counted")
        check(moved("velgrim_update_server_sent_bytes_total") >= patch_size, "fewer bytes counted than the patch")
        check(moved("velgrim_update_server_sent_bytes_total") < patch_size + 4096, "more bytes counted than sent")
        check(after[("velgrim_update_server_queued_bytes", ())] == 0, "bytes still counted as queued")
        check(moved("velgrim_update_server_status_requests_total", [("outcome", "answered")]) >= 1,
              "status requests not counted")


@scenario
def reload_failure_is_seen():
    """A reload that is refused keeps the release served, and the status page says so: the
    failures grow while the served version stays; a good reload moves both on."""
    with Scene() as s:
        release = make_release(s.root, 8)
        server = s.serve(UpdateServer(release, status=True))
        port = server.status_port()

        def sighup(conf, logged):
            before = server.log().count(logged)
            write(os.path.join(release, "release.conf"), conf)
            server.proc.send_signal(signal.SIGHUP)
            wait_until(lambda: server.log().count(logged) > before, 15, f"update-server to log '{logged}'")
            return metric_samples(port)[1]

        # | release.conf | logged | reloads | failures | version served |
        cases = [
            (b"game_version = 9\nchannel = beta\n", "reload failed", 0, 1, 8),
            (b"game_version = 9 # the spring patch\n", "update-server: reloaded", 1, 1, 9),
            (b"\xef\xbb\xbfgame_versoin = 10\n", "reload failed", 1, 2, 9),
        ]
        for conf, logged, reloads, failures, version in cases:
            after = sighup(conf, logged)
            seen = (after[("velgrim_update_server_reloads_total", ())],
                    after[("velgrim_update_server_reload_failures_total", ())],
                    after[("velgrim_update_server_game_version", ())])
            check(seen == (reloads, failures, version), f"{conf!r}: reloads, failures, version are {seen}")
        check("line 1: unknown key '\\xef\\xbb\\xbfgame_versoin'" not in server.log() and
              "line 1: unknown key 'game_versoin'" in server.log(), "the key is not named as written:\n" + server.log())


@scenario
def manifest_mistakes():
    """A manifest path that cannot be read is refused at start; one that becomes unreadable
    or forged later leaves the last good one in force, and the metrics file shows it."""
    with Scene() as s:
        hosts = {"a": StatusHost("0 10 0 7 0\n"), "b": StatusHost("0 10 0 80 0\n")}
        lister = None
        try:
            key = make_key(os.path.join(s.root, "release.key"))
            pub = public_key(key, os.path.join(s.root, "release.pub"))
            missing = os.path.join(s.root, "no-such-dir", "velgrim_release.txt")
            status, states, log = serverlist_once(s.root, hosts, ["--manifest", missing, "--pub", pub])
            check(status == 2 and states == {}, f"a missing manifest: exit {status}, list {states}\n{log}")
            check(f"--manifest {missing} cannot be read: No such file or directory" in log, log)

            manifest = os.path.join(s.root, "velgrim_release.txt")
            signed = sign_release(make_release(os.path.join(s.root, "r80"), 80), key=key, expires_days=30)
            write(manifest, signed)
            metrics_path = os.path.join(s.root, "serverlist.prom")
            listed = os.path.join(s.root, "list.txt")
            lister = ServerList(s.root, [h.fleet_line(n) for n, h in hosts.items()], listed,
                                extra=["--manifest", manifest, "--pub", pub, "--metrics", metrics_path])

            def metrics():
                if not os.path.exists(metrics_path):
                    return {}
                from prometheus_client.parser import text_string_to_metric_families
                return {sample.name: sample.value for family in text_string_to_metric_families(read(metrics_path).decode())
                        for sample in family.samples}

            def after_rounds(n):
                start = metrics().get("velgrim_serverlist_rounds_total", 0)
                return wait_until(lambda: metrics().get("velgrim_serverlist_rounds_total", 0) >= start + n and metrics(),
                                  15, f"{n} more round(s)")

            # | what happens to the manifest | fresh | held | failures at least | logged |
            cases = [
                ("it is good", lambda: None, 1, 1, 0, "hosts must serve game version 80"),
                ("it goes away", lambda: os.remove(manifest), 0, 1, 1,
                 "cannot be read: No such file or directory: the last good one holds, hosts must serve game version 80"),
                ("a forged one comes", lambda: write(manifest, signed.replace(b"game_version 80", b"game_version 7")),
                 0, 1, 2, "bad signature: the last good one holds"),
                ("the good one is back", lambda: write(manifest, signed), 1, 1, 2, "hosts must serve game version 80"),
            ]
            for what, act, fresh, held, failures, logged in cases:
                act()
                seen = after_rounds(2)
                got = (seen["velgrim_serverlist_manifest_fresh"], seen["velgrim_serverlist_manifest_held"])
                check(got == (fresh, held), f"{what}: fresh and held are {got}\n{lister.log()}")
                check(seen["velgrim_serverlist_manifest_failures_total"] >= failures, f"{what}: {seen}")
                check(seen["velgrim_serverlist_manifest_game_version"] == 80, f"{what}: {seen}")
                check(logged in lister.log(), f"{what}: not logged: {logged}\n{lister.log()}")
                states = {addr_port: state for addr_port, (_, state) in lister.servers().items()}
                check(sorted(states.values()) == [0, 15], f"{what}: the list is {states}")
        finally:
            if lister is not None:
                lister.stop()
            for h in hosts.values():
                h.stop()


if __name__ == "__main__":
    sys.exit(scenario.main(sys.argv, __doc__))
