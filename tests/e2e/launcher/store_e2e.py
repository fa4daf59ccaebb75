"""End to end from the release store: rxpack release records versions 1, 2 (adds a map,
drops an old one) and 3 (changes a file, adds a folder); the real update-server serves the
store's serve directory; launchers installed at 1, 2, 3 and at an unknown version each end
with exactly version 3's files, the dropped file gone, the player's own files untouched.

    store_e2e.py SCENARIO     runs one scenario (each is one ctest test)
    store_e2e.py --list       names them
"""
import hashlib
import os
import subprocess
import sys

from velgrim_e2e import (MANIFEST, RXPACK, SIGNING_KEY, UPDATER, UPDATER_SIGNED, E2EError, Game, Scenarios, Scene,
                         UpdateServer, check, write)

scenario = Scenarios()

VERSIONS = {
    "1": {"data/config.txt": b"cfg 1\n", "maps/old.map": os.urandom(40000), "maps/town.map": os.urandom(70000)},
}
VERSIONS["2"] = {k: v for k, v in VERSIONS["1"].items() if k != "maps/old.map"}
VERSIONS["2"]["maps/new.map"] = os.urandom(50000)
VERSIONS["3"] = dict(VERSIONS["2"])
VERSIONS["3"]["data/config.txt"] = b"cfg 3\n"
VERSIONS["3"]["sounds/bells.ogg"] = os.urandom(30000)

# A game folder of no version the store knows (no version.txt): damaged files, none dropped.
UNKNOWN = {"data/config.txt": b"cfg ?\n", "maps/town.map": b"damaged"}
# What the player has that no release ever listed.
OWN = {"settings.ini": b"fov=90\n", "logs/last.log": b"played\n", "mods/extra.map": b"mine\n"}
# What the launcher and the stand-in game bring, and what any run leaves.
NOT_RELEASED = {"Updater.exe", "Velgrim.exe", "version.txt", "game-started.txt", "velgrim_update.lock"}


def rxpack(*args):
    done = subprocess.run([RXPACK, *args], stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
    if done.returncode != 0:
        raise E2EError(f"rxpack {' '.join(args)}: {done.stderr.decode('utf-8', 'replace')}")


def make_store(root, sign=False):
    store = os.path.join(root, "store")
    for version, files in VERSIONS.items():
        tree = os.path.join(root, "v" + version)
        for name, data in files.items():
            write(os.path.join(tree, name), data)
        signing = ["--key", SIGNING_KEY, "--expires-days", "30"] if sign else []
        rxpack("release", "--store", store, "--version", version, *signing, tree)
    return os.path.join(store, "serve")


def tree(game):
    found = {}
    for root, _, names in os.walk(game.dir):
        for name in names:
            rel = os.path.relpath(os.path.join(root, name), game.dir).replace(os.sep, "/")
            with open(os.path.join(root, name), "rb") as f:
                found[rel] = hashlib.sha256(f.read()).hexdigest()
    return found


def updated_from(installed, sign=False):
    with Scene() as s:
        serve = make_store(s.root, sign)
        if sign:
            for name in (MANIFEST, "velgrim_release2.txt", "velgrim_release3.txt"):
                with open(os.path.join(serve, name), "rb") as f:
                    write(s.web.www(name), f.read())
        server = s.serve(UpdateServer(serve))
        s.web.publish_servers([("127.0.0.1", server.port, 10, 0)])
        s.web.start()
        game = Game(s.root, version=installed, updater=UPDATER_SIGNED if sign else UPDATER)
        for name, data in {**(VERSIONS[installed] if installed else UNKNOWN), **OWN}.items():
            write(game.path(name), data)
        code = s.launcher.run(game)
        check(code == 0, f"the launcher ended with {code}")
        game.wait_game_started()
        check(game.version() == "3", f"version.txt is {game.version()!r}")
        got = {k: v for k, v in tree(game).items() if k not in NOT_RELEASED and k not in OWN}
        want = {k: hashlib.sha256(v).hexdigest() for k, v in VERSIONS["3"].items()}
        check(got == want, f"the game holds {sorted(got)} (or other contents), not version 3's {sorted(want)}")
        check(not game.exists("maps/old.map"), "the dropped map is still there")
        for name, data in OWN.items():
            with open(game.path(name), "rb") as f:
                check(f.read() == data, f"the player's {name} was touched")


@scenario
def installed_1():
    """The package from 1: 2's map and 3's changes whole, and the removal of the old map."""
    updated_from("1")


@scenario
def installed_2():
    updated_from("2")


@scenario
def installed_3():
    """Up to date: nothing changes."""
    updated_from("3")


@scenario
def installed_unknown():
    """No version.txt: the full package, every file of 3 whole over whatever is there."""
    updated_from(None)


@scenario
def signed_installed_1():
    """The same through both signed manifests and a launcher built with the key."""
    updated_from("1", sign=True)


# Compressible files beside incompressible ones: the release writes compressed variants of
# the package from 1 and of the full one, and launchers that ask for them get them.
PACKED = {
    "1": {"data/config.txt": b"cfg 1\n", "maps/text.map": b"tile row 0001 grass\n" * 20000,
          "maps/noise.map": os.urandom(30000)},
}
PACKED["2"] = dict(PACKED["1"])
PACKED["2"]["maps/text.map"] = b"tile row 0002 stone\n" * 25000
PACKED["2"]["sounds/wind.ogg"] = os.urandom(20000)
del PACKED["2"]["data/config.txt"]


def compressed_from(installed, variant, sign=False):
    with Scene() as s:
        store = os.path.join(s.root, "store")
        signing = ["--key", SIGNING_KEY, "--expires-days", "30"] if sign else []
        for version, files in PACKED.items():
            for name, data in files.items():
                write(os.path.join(s.root, "p" + version, name), data)
            rxpack("release", "--store", store, "--version", version, "--level", "3", *signing,
                   os.path.join(s.root, "p" + version))
        serve = os.path.join(store, "serve")
        for name in ("Velgrim_patch.from-1.zstd.rxpack", "Velgrim_patch.full.zstd.rxpack"):
            check(os.path.exists(os.path.join(serve, name)), f"the release has no {name}")
        if sign:
            # The launcher reads format 3 first, which names the variants.
            for name in (MANIFEST, "velgrim_release2.txt", "velgrim_release3.txt"):
                with open(os.path.join(serve, name), "rb") as f:
                    write(s.web.www(name), f.read())
        server = s.serve(UpdateServer(serve))
        s.web.publish_servers([("127.0.0.1", server.port, 10, 0)])
        s.web.start()
        game = Game(s.root, version=installed, updater=UPDATER_SIGNED if sign else UPDATER)
        for name, data in {**(PACKED[installed] if installed else {"maps/text.map": b"damaged"}), **OWN}.items():
            write(game.path(name), data)
        code = s.launcher.run(game)
        check(code == 0, f"the launcher ended with {code}")
        game.wait_game_started()
        check(game.version() == "2", f"version.txt is {game.version()!r}")
        got = {k: v for k, v in tree(game).items() if k not in NOT_RELEASED and k not in OWN}
        want = {k: hashlib.sha256(v).hexdigest() for k, v in PACKED["2"].items()}
        if installed == "1":
            check(not game.exists("data/config.txt"), "the dropped file is still there")
        check(got == want, f"the game holds {sorted(got)} (or other contents), not version 2's {sorted(want)}")
        check(variant in server.log(), f"update-server did not send {variant}: {server.log()}")


@scenario
def compressed_installed_1():
    """The compressed package from 1 (its removal too), decoded into version 2's files."""
    compressed_from("1", "Velgrim_patch.from-1.zstd.rxpack")


@scenario
def signed_compressed_installed_1():
    """The same held to the compressed variant's line in the signed format-3 manifest."""
    compressed_from("1", "Velgrim_patch.from-1.zstd.rxpack", sign=True)


@scenario
def compressed_installed_unknown():
    """The compressed full package over whatever is there."""
    compressed_from(None, "Velgrim_patch.full.zstd.rxpack")


# A program's next build: a few bytes changed here and there in an incompressible file, the
# kind of change a delta against the installed file ships in a fraction of its size.
DELTA_BASE = os.urandom(300000)
DELTA = {"1": {"bin/game.bin": DELTA_BASE, "data/config.txt": b"cfg 1\n"}}
DELTA["2"] = {"bin/game.bin": bytes(b ^ 0x5A if i % 4099 == 7 else b for i, b in enumerate(DELTA_BASE)),
              "data/config.txt": b"cfg 2\n" * 50}


def delta_from_1(modified):
    with Scene() as s:
        store = os.path.join(s.root, "store")
        for version, files in DELTA.items():
            for name, data in files.items():
                write(os.path.join(s.root, "p" + version, name), data)
            rxpack("release", "--store", store, "--version", version, "--level", "3",
                   os.path.join(s.root, "p" + version))
        serve = os.path.join(store, "serve")
        delta = os.path.join(serve, "Velgrim_patch.from-1.delta.rxpack")
        check(os.path.exists(delta), "the release has no delta variant")
        check(os.path.getsize(delta) < len(DELTA_BASE) // 10, f"the delta variant is {os.path.getsize(delta)} bytes")
        server = s.serve(UpdateServer(serve))
        s.web.publish_servers([("127.0.0.1", server.port, 10, 0)])
        s.web.start()
        game = Game(s.root, version="1", updater=UPDATER)
        installed = dict(DELTA["1"])
        if modified:
            installed["bin/game.bin"] = DELTA_BASE[:1000] + b"modded" + DELTA_BASE[1006:]
        for name, data in {**installed, **OWN}.items():
            write(game.path(name), data)
        code = s.launcher.run(game)
        check(code == 0, f"the launcher ended with {code}")
        game.wait_game_started()
        check(game.version() == "2", f"version.txt is {game.version()!r}")
        got = {k: v for k, v in tree(game).items() if k not in NOT_RELEASED and k not in OWN}
        want = {k: hashlib.sha256(v).hexdigest() for k, v in DELTA["2"].items()}
        check(got == want, f"the game holds {sorted(got)} (or other contents), not version 2's {sorted(want)}")
        log = server.log()
        check("Velgrim_patch.from-1.delta.rxpack" in log, f"update-server did not send the delta variant: {log}")
        if modified:
            check("Velgrim_patch.from-1.zstd.rxpack" in log,
                  f"update-server did not send the package without deltas after the mismatch: {log}")


@scenario
def delta_installed_1():
    """The delta package from 1: the changed program patched against the installed one."""
    delta_from_1(modified=False)


@scenario
def delta_base_modified():
    """A modified installed file is never patched: the package without deltas comes instead."""
    delta_from_1(modified=True)


if __name__ == "__main__":
    sys.exit(scenario.main(sys.argv, __doc__))
