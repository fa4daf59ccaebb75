"""A complete local update, the way a player sees one, with the release build's programs.

A studio's side: a patch made with rxpack, update-server serving it, and nginx publishing
the server list on the web host the launcher was built for. A player's side: a game
directory at version 1 with the launcher as Updater.exe beside the game (a stand-in that
records its start). The launcher picks the server, downloads and unpacks the patch,
records version 2 and starts the game. Everything started here is stopped here; the
directories are left in build/demo for a look.

    python3 scripts/demo_update.py BUILD_DIR
"""
import os
import shutil
import subprocess
import sys
import time

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(SOURCE, "build", "release"))


def cache_value(name):
    with open(os.path.join(BUILD, "CMakeCache.txt")) as f:
        for line in f:
            if line.startswith(name + ":"):
                return line.split("=", 1)[1].strip()
    raise SystemExit(f"demo: {name} not in {BUILD}/CMakeCache.txt")


os.environ.update({
    "VELGRIM_BUILD_DIR": BUILD,
    "VELGRIM_SOURCE_DIR": SOURCE,
    "VELGRIM_WEB_HOST": cache_value("VELGRIM_WEB_HOST"),
    "VELGRIM_WEB_PORT": cache_value("VELGRIM_WEB_PORT"),
    "VELGRIM_FALLBACK_SERVER": cache_value("VELGRIM_FALLBACK_SERVER"),
    "VELGRIM_UPDATER": os.path.join(BUILD, "src", "app", "updater"),
    "VELGRIM_STANDIN": os.path.join(BUILD, "tests", "e2e", "standin", "velgrim_standin"),
    "VELGRIM_UPDATE_SERVER": os.path.join(BUILD, "tools", "update_server", "update-server"),
    "VELGRIM_RXPACK": os.path.join(BUILD, "tools", "rxpack", "rxpack"),
})
sys.path.insert(0, os.path.join(SOURCE, "tests", "e2e", "launcher"))
import velgrim_e2e as e2e  # noqa: E402  (reads the environment above)

ROOT = os.path.join(BUILD, "demo")


def step(text):
    print(f"\n== {text}", flush=True)


def show_tree(path):
    for base, _, files in sorted(os.walk(path)):
        for name in sorted(files):
            full = os.path.join(base, name)
            print(f"   {os.path.relpath(full, path):40} {os.path.getsize(full):>10} bytes")


def main():
    for program in ("VELGRIM_UPDATER", "VELGRIM_STANDIN", "VELGRIM_UPDATE_SERVER", "VELGRIM_RXPACK"):
        if not os.access(os.environ[program], os.X_OK):
            raise SystemExit(f"demo: {os.environ[program]} is not built")
    shutil.rmtree(ROOT, ignore_errors=True)
    os.makedirs(ROOT)

    step("studio: the patch for version 2, made with rxpack")
    patch_files = {
        "readme.txt": b"Velgrim 2: the Ashen Coast opens.\n",
        "data/maps/ashen_coast.map": os.urandom(24 << 20),
        "data/music/tide.ogg": os.urandom(6 << 20),
    }
    release = e2e.make_release(ROOT, 2, files=patch_files,
                               info="Velgrim 2: the Ashen Coast opens. New map, new music.")
    subprocess.run([os.environ["VELGRIM_RXPACK"], "list", os.path.join(release, e2e.PATCH)], check=True)

    server = web = None
    try:
        step("studio: update-server (capped at 16 MiB/s per client so the progress shows)")
        server = e2e.UpdateServer(release, extra=["--rate-kib", "16384"])
        print(f"   listening on 127.0.0.1:{server.port}")

        step(f"studio: the server list on http://{e2e.WEB_HOST}:{e2e.WEB_PORT}/velgrim_load_servers.php")
        web = e2e.WebHost(ROOT)
        # a busy server, ours, and a closed one with no load: the launcher picks ours
        web.publish_servers([("127.0.0.1", e2e.free_port(), 700, 0),
                             ("127.0.0.1", server.port, 120, 0),
                             ("127.0.0.1", e2e.free_port(), 0, 15)], header="3")
        web.start()
        with open(os.path.join(web.dir, "www", "velgrim_load_servers.php")) as f:
            print("   " + f.read())

        step("player: a game directory at version 1")
        game = e2e.Game(ROOT, version="1")
        e2e.write(game.path("readme.txt"), b"Velgrim 1\n")
        show_tree(game.dir)

        step("player: starts Updater.exe")
        started = time.monotonic()
        code = subprocess.run([game.path("Updater.exe")], cwd=game.dir, timeout=300).returncode
        print(f"   Updater.exe ended with {code} after {time.monotonic() - started:.1f} s")
        game.wait_game_started(30)

        step("player: the game directory now")
        show_tree(game.dir)
        version = game.version()
        print(f"   version.txt: {version!r}")
        print(f"   the game was started as: {' '.join(game.starts()[0])}")

        step("studio: update-server's log")
        print("   " + server.log().strip().replace("\n", "\n   "))

        ok = version == "2" and all(e2e.read(game.path(n)) == d for n, d in patch_files.items())
        step("the update " + ("succeeded: version 2 recorded, the patch's files in place, the game started"
                              if ok else "FAILED"))
        return 0 if ok else 1
    finally:
        if web:
            web.stop()
        if server:
            server.stop()
        print(f"\n(the demo's directories are in {ROOT})")


if __name__ == "__main__":
    sys.exit(main())
