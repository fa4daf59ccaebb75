"""Click to game for a large package on loopback: from the launcher's start to the game's
start, for two launcher builds side by side (e.g. one that stages while the package
arrives and one that stages after), same package, same server, alternating runs.

    python3 bench/stage/click_to_game.py BUILD_DIR [--mib 1024] [--files 64] [--runs 3]
                                         [--launcher NAME=PATH ...]

BUILD_DIR (a release build) gives update-server, rxpack, the stand-in game and, unless
--launcher names others, its own updater. Each run starts from a game directory at
version 1 holding the old files (so the swap replaces them) and ends when the stand-in
records its start. Prints each run and the medians. Everything it starts it stops.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import release_build  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--mib", type=int, default=1024)
    parser.add_argument("--files", type=int, default=64)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--launcher", action="append", default=[])
    args = parser.parse_args()
    e2e = release_build.e2e_for(args.build)

    launchers = dict(item.split("=", 1) for item in args.launcher) or {"this build": os.environ["VELGRIM_UPDATER"]}
    root = os.path.join(os.path.abspath(args.build), "bench-stage")
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(root)
    size = args.mib << 20
    names = [f"data/pack{i:03}.bin" for i in range(args.files)]
    content = os.path.join(root, "content")
    for i, name in enumerate(names):
        part = size // args.files if i < args.files - 1 else size - (size // args.files) * (args.files - 1)
        e2e.write(os.path.join(content, name), os.urandom(part))
    release = os.path.join(root, "release")
    os.makedirs(release)
    subprocess.run([os.environ["VELGRIM_RXPACK"], "create", os.path.join(release, e2e.PATCH), content], check=True,
                   stdout=subprocess.DEVNULL)
    e2e.write(os.path.join(release, "release.conf"), "game_version = 2\nupdater_version = 0\n")
    e2e.write(os.path.join(release, "info.txt"), "bench")
    package = os.path.getsize(os.path.join(release, e2e.PATCH))
    print(f"package: {package / 2**20:.0f} MiB in {args.files} files, loopback, unlimited", flush=True)

    server = web = None
    times = {name: [] for name in launchers}
    try:
        server = e2e.UpdateServer(release)
        web = e2e.WebHost(root)
        web.publish_servers([("127.0.0.1", server.port, 10, 0)])
        web.start()
        for run in range(args.runs):
            for name, path in launchers.items():
                games = os.path.join(root, "player")
                shutil.rmtree(games, ignore_errors=True)
                os.makedirs(games)
                game = e2e.Game(games, version="1", updater=path)
                for n in names:
                    e2e.write(game.path(n), b"old")
                subprocess.run(["sync", "-f", game.dir], check=True)
                took = release_build.timed_update(e2e, game)
                times[name].append(took)
                print(f"run {run + 1}  {name:20} {took:7.2f} s", flush=True)
    finally:
        if web:
            web.stop()
        if server:
            server.stop()
        shutil.rmtree(root, ignore_errors=True)
    for name, values in times.items():
        print(f"median {name:20} {statistics.median(values):7.2f} s  ({package / 2**20 / statistics.median(values):.0f} MiB/s)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
