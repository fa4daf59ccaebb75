"""End-to-end runs of a fleet: three real update-servers with status ports, serverlist
publishing their list through nginx (with the deployment's site snippet), and the native
launcher choosing among them.

    fleet_e2e.py SCENARIO     runs one scenario (each is one ctest test)
    fleet_e2e.py --list       names them
"""
import os
import signal
import socket
import sys
import time
import urllib.request

from velgrim_e2e import (SOURCE, WEB_HOST, WEB_PORT, Game, Scenarios, Scene, ServerList, UpdateServer,
                         check, make_release, read, wait_until, write)

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
        server = s.serve(UpdateServer(make_release(s.root, 8, {"data.bin": patch_data}), status=True))
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
        }
        for name, kind in kinds.items():
            check(name in families and families[name].type == kind, f"{name} is not a {kind}: {families.get(name)}")
        check(before[("velgrim_update_server_game_version", ())] == 8, "wrong game version")
        check(before[("velgrim_update_server_budget_bytes", ())] == 256 * 2**20, "wrong budget")

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


if __name__ == "__main__":
    sys.exit(scenario.main(sys.argv, __doc__))
