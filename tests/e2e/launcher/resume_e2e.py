"""The update gets through: the launcher against the real update-server through a relay
that cuts or stalls its connections, servers of the list that refuse or never answer,
a launcher killed mid-download, parts kept from earlier runs.

    resume_e2e.py SCENARIO     runs one scenario (each is one ctest test)
    resume_e2e.py --list       names them
"""
import hashlib
import os
import re
import signal
import struct
import sys
import time
import urllib.request

from velgrim_e2e import (PATCH, UPDATER_CRASH, UPDATER_SIGNED, WINDOWS, E2EError, Game, Scenarios, Scene, ScriptedServer,
                         UpdateServer, check, make_release, read, send_file, sign_release, wait_until, write)

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
from fault_relay import FaultRelay  # noqa: E402

scenario = Scenarios()

MIB = 1024 * 1024
BIG = 64 * MIB
KIND_PATCH = 1002
PART = PATCH + ".part"
RECORD = PATCH + ".resume"
NOTICE = "\u041f\u043e\u043f\u0440\u043e\u0431\u0443\u0439\u0442\u0435"  # a word of the error notice


def big_release(root, version=7, size=BIG):
    files = {"data/world.bin": os.urandom(size - 4096), "readme.txt": f"Velgrim {version}\n".encode()}
    return make_release(root, version, files), files


def tag_of(data):
    """update-server's tag for a file: the first four bytes of its SHA-256, 0 and 1 taken as 2."""
    tag = struct.unpack("<I", hashlib.sha256(data).digest()[:4])[0]
    return 2 if tag < 2 else tag


def record(size, tag, kind=KIND_PATCH, base=0xFFFFFFFF):
    """The record the launcher writes: kind, 64-bit size, tag, the package's base (a plain
    release directory serves the cumulative package)."""
    return b"VGR2" + struct.pack("<IQII", kind, size, tag, base)


def previous_record(size, tag, kind=KIND_PATCH):
    """A record as the launcher of the previous release left it; still read."""
    return b"VGRS" + struct.pack("<III", kind, size, tag)


def expect_updated(game, files, version):
    game.wait_game_started()
    for name, data in files.items():
        check(read(game.path(name)) == data, f"{name} differs from the patch")
    check(game.version() == version, f"version.txt is {game.version()!r}")
    for leftover in (PATCH, PART, RECORD):
        check(not game.exists(leftover), f"{leftover} was left behind")


def metric(server, name):
    page = urllib.request.urlopen(f"http://127.0.0.1:{server.status_port()}/metrics", timeout=5).read().decode()
    found = re.search(rf"^velgrim_update_server_{name} (\d+)$", page, re.M)
    check(found is not None, f"/metrics has no {name}")
    return int(found.group(1))


def cut_at_totals(totals):
    """A plan that cuts connection i once the relay has passed totals[i] bytes in all."""
    def plan(index, relay):
        if index < len(totals):
            return ("cut", totals[index] - relay.server_bytes)
        return ("pass", None)
    return plan


def next_run_sends_the_rest(s, relay, game, files, size):
    """A further run, the relay passing everything: it finishes, and sends only what the
    part kept by the last run lacks."""
    kept = os.path.getsize(game.path(PART))
    before = relay.server_bytes
    if game.exists("game-started.txt"):
        os.remove(game.path("game-started.txt"))
    s.launcher.run(game, timeout=120, log_name="next.log")
    expect_updated(game, files, "7")
    sent = relay.server_bytes - before
    check(sent <= (size - kept) + 256 * 1024, f"the next run sent {sent} bytes for {size - kept} missing")
    return kept


def serve_through_relay(scene, release, plan):
    server = scene.serve(UpdateServer(release, status=True))
    relay = scene.serve(FaultRelay(server.port, plan))
    scene.web.publish_servers([("127.0.0.1", relay.port, 10, 0)])
    scene.web.start()
    return server, relay


@scenario
def cut_and_resume():
    """A 64 MiB patch whose connection is cut at 10%, 50% and 99% arrives in one run: the
    server sends at most 1.05 times the file in all, and counts the resumed transfers."""
    with Scene() as s:
        release, files = big_release(s.root)
        size = os.path.getsize(os.path.join(release, PATCH))
        server, relay = serve_through_relay(s, release, cut_at_totals([size // 10, size // 2, size * 99 // 100]))
        game = Game(s.root, "3")
        s.launcher.run(game, timeout=180)
        expect_updated(game, files, "7")
        check(relay.connections == 4, f"{relay.connections} connections, not 4")
        check(relay.server_bytes <= size * 1.05, f"the server sent {relay.server_bytes} bytes for {size}")
        check(server.log().count(f"goes on with {PATCH}") == 3, "the server did not go on three times")
        # Counted once gone out whole: the transfer from 10% cut at 50% never was; the one
        # from 50% cut at 99% may have left the server whole before the relay cut it.
        resumed = metric(server, "resumed_transfers_total")
        skipped = metric(server, "resumed_bytes_skipped_total")
        check(resumed in (1, 2), f"{resumed} resumed transfers counted, not 1 (or 2)")
        low = 0.98 if resumed == 1 else 1.48
        check(size * low <= skipped <= size * (low + 0.03), f"{skipped} bytes counted as skipped")
        if not WINDOWS:
            lines = [line for line in s.launcher.output().splitlines() if "reconnecting to" in line]
            check(len(lines) == 3, f"{len(lines)} reconnect lines: {lines}")
        print(f"sent {relay.server_bytes} bytes for a file of {size} ({relay.server_bytes / size:.4f}); "
              f"the server handed {metric(server, 'sent_bytes_total')} to its kernel")


@scenario
def reconnects_spent():
    """Every connection cut after 8 MiB: five reconnects, then the notice with the part
    kept; the next run sends only the rest."""
    if WINDOWS:
        print("reconnects_spent: natively (the wine run is cut_and_resume)")
        return
    with Scene() as s:
        release, files = big_release(s.root)
        size = os.path.getsize(os.path.join(release, PATCH))
        cut = {"on": True}
        server, relay = serve_through_relay(s, release,
                                            lambda i, r: ("cut", 8 * MIB) if cut["on"] else ("pass", None))
        game = Game(s.root, "3")
        began = time.monotonic()
        s.launcher.run(game, timeout=180)
        took = time.monotonic() - began
        game.wait_game_started()
        output = s.launcher.output()
        check(NOTICE in output, "no error notice after the reconnects were spent")
        check(relay.connections == 6, f"{relay.connections} connections, not 1 + 5 reconnects")
        check(output.count("reconnecting to") == 5, "not one line per reconnect")
        check(took >= 15, f"the five reconnects took {took:.1f} s, less than their waits of 1, 2, 4 and 8 s")
        check(game.version() == "3", f"version.txt is {game.version()!r}")
        check(game.exists(PART) and game.exists(RECORD), "the part was not kept")
        kept = os.path.getsize(game.path(PART))
        check(kept >= 40 * MIB, f"only {kept} bytes kept of 48 MiB sent")
        check(read(game.path(RECORD)) == record(size, tag_of(read(os.path.join(release, PATCH)))),
              "the record is not kind, size and tag")

        cut["on"] = False
        next_run_sends_the_rest(s, relay, game, files, size)


# The servers of the list before the one that serves: how many refuse connections,
# whether one accepts and never answers, whether one offers another release than the
# signed manifest's (a signed launcher then); then whether the one that serves is reached.
NEXT_SERVER = [
    ("the first refuses connections", 1, False, False, True),
    ("the first accepts and never answers", 0, True, False, True),
    ("the first lags behind the manifest (signed launcher)", 0, False, True, True),
    ("three refuse: a fourth is never tried", 3, False, False, False),
]


@scenario
def next_server():
    """Servers of the list that refuse connections or never answer: the next one serves,
    within the 20 s the launcher gives the servers, and at most three are tried."""
    if WINDOWS:
        print("next_server: natively")
        return
    for what, refusing, silent, lagging, served in NEXT_SERVER:
        with Scene() as s:
            files = {"readme.txt": b"from the server that answers\n"}
            release = make_release(s.root, 8, files)
            server = s.serve(UpdateServer(release))
            good = s.serve(FaultRelay(server.port))
            listed = []
            if lagging:
                s.web.publish_manifest(sign_release(release, expires_days=30))
                old = s.serve(UpdateServer(make_release(os.path.join(s.root, "old"), 7)))
                listed.append(old.port)
            for i in range(refusing):
                gone = FaultRelay(None)
                gone.stop()
                listed.append(gone.port)
            if silent:
                dead = s.serve(FaultRelay(None, lambda i, r: ("stall", 0)))
                listed.append(dead.port)
            listed.append(good.port)
            s.web.publish_servers([("127.0.0.1", port, 10 * (i + 1), 0) for i, port in enumerate(listed)])
            s.web.start()
            game = Game(s.root, "3", updater=UPDATER_SIGNED if lagging else None)
            began = time.monotonic()
            s.launcher.start(game)
            if served:
                good.wait_connections(1, 30)
                took = time.monotonic() - began
                s.launcher.wait(60)
                expect_updated(game, files, "8")
                check(took <= 20, f"{what}: the server that answers was reached after {took:.1f} s")
                if silent:
                    check(dead.connections == 1, "the silent server was not tried first")
                if lagging:
                    check("connection ended" in old.log() and "sent " not in old.log(),
                          "the lagging server was not asked first, or sent a file")
                print(f"  {what}: reached after {took:.1f} s")
            else:
                s.launcher.wait(60)
                game.wait_game_started()
                check(good.connections == 0, f"{what}: the fourth server was tried")
                check(game.version() == "3", f"version.txt is {game.version()!r}")
                print(f"  {what}: passed")


@scenario
def killed_mid_download():
    """A launcher killed (SIGKILL) half way: the next run sends only the rest."""
    if WINDOWS:
        print("killed_mid_download: natively")
        return
    with Scene() as s:
        release, files = big_release(s.root)
        size = os.path.getsize(os.path.join(release, PATCH))
        stall = {"on": True}
        server, relay = serve_through_relay(s, release,
                                            lambda i, r: ("stall", size // 2) if stall["on"] else ("pass", None))
        game = Game(s.root, "3")
        s.launcher.start(game)
        relay.wait_bytes(size // 2, 120)
        wait_until(lambda: game.exists(PART) and os.path.getsize(game.path(PART)) >= size // 5, 60,
                   "a fifth of the file on the disk")
        os.killpg(s.launcher.proc.pid, signal.SIGKILL)
        s.launcher.proc.wait(10)
        check(game.exists(RECORD), "no record beside the part")
        stall["on"] = False
        kept = next_run_sends_the_rest(s, relay, game, files, size)
        check(f"from byte {kept} of {size}" in server.log(), "the server did not go on from the kept part")


@scenario
def killed_while_staging():
    """Entries are staged as the package arrives. A launcher killed (SIGKILL) mid-download
    with entries staged, then one killed by its own step hook while staging the rest: the
    game is untouched each time, each next run goes on with the download and keeps what
    was staged (the very files), and the last one ends correct."""
    if WINDOWS:
        print("killed_while_staging: natively")
        return
    with Scene() as s:
        files = {f"data/f{i:02}.bin": os.urandom(4 * MIB) for i in range(12)}
        files["readme.txt"] = b"Velgrim 7\n"
        release = make_release(s.root, 7, files)
        size = os.path.getsize(os.path.join(release, PATCH))
        server, relay = serve_through_relay(s, release, lambda i, r: ("stall", size // 2) if i == 0 else ("pass", None))
        game = Game(s.root, "3", updater=UPDATER_CRASH)
        old = {"data/f00.bin": b"old f00", "data/f09.bin": b"old f09"}
        for name, data in old.items():
            write(game.path(name), data)
        journal = game.path(".velgrim-update/journal")

        def staged():
            text = read(journal).decode() if game.exists(".velgrim-update/journal") else ""
            return [line[len("staged "):] for line in text.splitlines() if line.startswith("staged ")]

        def untouched(what):
            for name, data in old.items():
                check(read(game.path(name)) == data, f"{what}: {name} was touched")
            check(game.version() == "3", f"{what}: version.txt is {game.version()!r}")
            check(read(journal).startswith(b"velgrim-apply 3\n") and b"state receiving" in read(journal),
                  f"{what}: the journal is {read(journal)!r}")

        s.launcher.start(game)
        wait_until(lambda: len(staged()) >= 3, 60, "three entries staged while the package arrives")
        os.killpg(s.launcher.proc.pid, signal.SIGKILL)
        s.launcher.proc.wait(10)
        untouched("killed mid-download")
        first = staged()
        inodes = {name: os.stat(game.path(".velgrim-update/files/" + name)).st_ino for name in first}
        check(game.exists(PART) and game.exists(RECORD), "the part and its record are not kept")

        s.launcher.run(game, env={"VELGRIM_TEST_CRASH_AT": "arrived:9"}, timeout=120, log_name="crash.log")
        check(s.launcher.proc.returncode == -signal.SIGKILL, f"exit {s.launcher.proc.returncode}, not the kill")
        untouched("killed while staging")
        check(all(name in staged() for name in first), f"staged before: {first}, now: {staged()}")
        check("goes on with" in server.log(), "the second run did not go on with the download")

        # The package may have arrived whole before the kill: then only the swap is left.
        kept = os.path.getsize(game.path(PART)) if game.exists(PART) else size
        before = relay.server_bytes
        s.launcher.run(game, timeout=120, log_name="last.log")
        expect_updated(game, files, "7")
        check(not game.exists(".velgrim-update"), "the staging area is left")
        for name, inode in inodes.items():
            check(os.stat(game.path(name)).st_ino == inode, f"{name} was staged again, not kept")
        sent = relay.server_bytes - before
        check(sent <= (size - kept) + 256 * 1024, f"the last run sent {sent} bytes for {size - kept} missing")
        print(f"kept {len(first)} entries staged by the first run; {size - kept} bytes were missing after the "
              f"second; the server sent {relay.server_bytes} for {size}")


@scenario
def bad_entry_stops_the_download():
    """A package whose second entry was damaged on the way: the download stops once that
    entry's bytes are in, long before its end; nothing is swapped in, nothing is kept."""
    if WINDOWS:
        print("bad_entry_stops_the_download: natively")
        return
    with Scene() as s:
        files = {f"data/f{i:02}.bin": os.urandom(MIB) for i in range(8)}
        release = make_release(s.root, 7, files)
        data = bytearray(read(os.path.join(release, PATCH)))
        offset, size = struct.unpack_from("<QI", data, 48 + 32)
        data[offset + size // 2] ^= 0x40
        # About 8 s for the whole package; the damaged entry is in within the first two.
        server = s.serve(ScriptedServer((7, 0), {KIND_PATCH: send_file(PATCH, bytes(data), chunk=64 * 1024,
                                                                       delay=0.06)}))
        s.web.publish_servers([("127.0.0.1", server.port, 10, 0)])
        s.web.start()
        game = Game(s.root, "3")
        write(game.path("data/f01.bin"), b"old f01")
        started = time.monotonic()
        s.launcher.run(game, timeout=60)
        took = time.monotonic() - started
        game.wait_game_started()
        out = s.launcher.output()
        check(re.search(r"the update failed: applying Velgrim_patch\.rxpack: .*not a sound package", out),
              f"the closing line: {out}")
        check(took < 6, f"the launcher ran {took:.1f} s: the download was not stopped")
        check(read(game.path("data/f01.bin")) == b"old f01" and game.version() == "3", "the game was touched")
        for leftover in (PATCH, PART, RECORD, ".velgrim-update", "data/f00.bin"):
            check(not game.exists(leftover), f"{leftover} is left")


@scenario
def cancel_while_reconnecting():
    """Cancel during a reconnect (the server accepts and never answers) ends the download
    within a second and keeps the part."""
    if WINDOWS:
        print("cancel_while_reconnecting: natively")
        return
    with Scene() as s:
        release, _ = big_release(s.root, size=8 * MIB)
        server, relay = serve_through_relay(s, release,
                                            lambda i, r: ("cut", 2 * MIB) if i == 0 else ("stall", 0))
        game = Game(s.root, "3")
        s.launcher.start(game)
        relay.wait_connections(2, 60)
        began = time.monotonic()
        s.launcher.cancel()
        wait_until(lambda: "Cancelled." in s.launcher.output(), 10, "the cancel to be taken", step=0.01)
        took = time.monotonic() - began
        s.launcher.wait(30)
        game.wait_game_started()
        check(took <= 1.0, f"the cancel was taken {took:.2f} s after Ctrl-C")
        print(f"the cancel was taken {took:.3f} s after Ctrl-C")
        check(game.exists(PART) and game.exists(RECORD), "the part was not kept")
        check(game.version() == "3", f"version.txt is {game.version()!r}")


def kept_part(game, data, length, tag, flip=None):
    part = bytearray(data[:length])
    if flip is not None:
        part[flip] ^= 0x01
    write(game.path(PART), bytes(part))
    write(game.path(RECORD), previous_record(len(data), tag))


# Parts left by an earlier run, and what the next run must make of them. Each: what, the
# launcher (None: the product), the part's file (the release's, or an older one), a flipped
# byte, whether the server goes on from the part, whether the run reconnects once.
KEPT_PARTS = [
    ("a part of this release", None, "this", None, True, False),
    ("a part of an older release (another tag)", None, "older", None, False, False),
    ("a part with a flipped byte", None, "this", 1000, True, True),
    ("a part of this release, signed launcher", UPDATER_SIGNED, "this", None, True, False),
    ("a part with a flipped byte, signed launcher", UPDATER_SIGNED, "this", 1000, True, True),
]


@scenario
def kept_parts():
    """A kept part goes on only when it is of the file served, and a resumed file is
    checked whole: the whole file's SHA-256 (against the server's tag or the manifest),
    hashed over the kept bytes first; a bad one is deleted and fetched again from 0."""
    if WINDOWS:
        print("kept_parts: natively")
        return
    failures = []
    for what, launcher, which, flip, goes_on, reconnects in KEPT_PARTS:
        with Scene() as s:
            release, files = big_release(os.path.join(s.root, "this"), size=8 * MIB)
            data = read(os.path.join(release, PATCH))
            source = data if which == "this" else read(os.path.join(
                big_release(os.path.join(s.root, "older"), version=6, size=8 * MIB)[0], PATCH))
            if launcher is not None:
                s.web.publish_manifest(sign_release(release, expires_days=30))
            server, relay = serve_through_relay(s, release, None)
            game = Game(s.root, "3", updater=launcher)
            kept = len(source) * 2 // 5
            kept_part(game, source, kept, tag_of(source), flip)
            try:
                s.launcher.run(game, timeout=120)
                expect_updated(game, files, "7")
                resumed = f"goes on with {PATCH} (kind 1002) from byte {kept}" in server.log()
                check(resumed == goes_on, f"the server went on: {resumed}")
                sent = relay.server_bytes
                if goes_on and not reconnects:
                    check(sent <= len(data) - kept + 256 * 1024, f"{sent} bytes sent for {len(data) - kept}")
                else:
                    check(sent >= len(data), f"only {sent} bytes sent: the file was not fetched whole")
                check(("reconnecting to" in s.launcher.output()) == reconnects, "reconnects")
                print(f"  {what}: passed ({sent} bytes sent)")
            except E2EError as e:
                failures.append(f"{what}: {e}\n{s.launcher.output()}{server.log()}")
    check(not failures, "\n".join(failures))


@scenario
def plain_server():
    """A server that announced nothing (a faithful one) is asked exactly kind, 0, 0, even
    with a part kept, and sends the whole file: the launcher drops its part and starts
    from 0."""
    if WINDOWS:
        print("plain_server: natively")
        return
    with Scene() as s:
        release, files = big_release(s.root, size=2 * MIB)
        data = read(os.path.join(release, PATCH))
        server = s.serve(ScriptedServer((7, 0), {KIND_PATCH: send_file(PATCH, data, chunk=256 * 1024)}))
        s.web.publish_servers([("127.0.0.1", server.port, 10, 0)])
        s.web.start()
        game = Game(s.root, "3")
        kept_part(game, data, len(data) // 2, tag_of(data))
        s.launcher.run(game)
        expect_updated(game, files, "7")
        request = [body for msg_id, body in server.bodies if msg_id == 256]
        check(request == [struct.pack("<III", KIND_PATCH, 0, 0)], f"the request was {request}")


if __name__ == "__main__":
    sys.exit(scenario.main(sys.argv, __doc__))
