"""Click to game on the corpus pairs, over shaped links, against an update by hand.

    sudo python3 bench/patch/click_to_game.py BUILD_DIR [--pair freedoom|libreoffice|all]
                 [--rates 1000,100,0] [--runs 3] [--level 19]

BUILD_DIR (a release build) gives update-server, rxpack, the launcher and the stand-in
game. Per pair (../shared/corpus beside the repository, or $VELGRIM_CORPUS): `rxpack release` records the old
tree as version 1 and the new one as version 2 (`--level`), and update-server serves the
store. Per rate (Mbit/s; 0: unshaped loopback), the launcher starts in a game directory
holding the old tree at version 1 and the clock stops when the stand-in game records its
start; by hand, curl fetches a `.tar.zst` of the changed files (`zstd -19 --long`) from
nginx into `zstd -d | tar -x` over a copy of the old tree, then `sync -f`. Both run in a
network namespace of the benchmark's own (it re-runs itself under `unshare -n`), its
loopback under a token bucket (`tc tbf`) of the rate in both directions. Prints each run
and the medians, with the package's own download time at the rate. Everything it starts
it stops.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import release_build  # noqa: E402

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CORPUS = os.environ.get("VELGRIM_CORPUS", os.path.join(os.path.dirname(SOURCE), "shared", "corpus"))
PAIRS = {
    "freedoom": ("freedoom_0.12.1-2_all", "freedoom_0.13.0-2_all"),
    "libreoffice": ("libreoffice-core_4_7.4.7-1+deb12u13_amd64", "libreoffice-core_4_7.4.7-1+deb12u14_amd64"),
}


def run(*args, **kwargs):
    subprocess.run(args, check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, **kwargs)


def shape(mbit):
    subprocess.run(["tc", "qdisc", "del", "dev", "lo", "root"], stderr=subprocess.DEVNULL)
    if mbit:
        burst = max(mbit * 1000000 // 8 // 500, 2 * 65536 + 4096)
        run("tc", "qdisc", "add", "dev", "lo", "root", "tbf", "rate", f"{mbit}mbit", "burst", str(burst),
            "latency", "100ms")


def changed_files(old, new):
    """Files of new that old lacks or holds otherwise."""
    names = []
    for root, _, files in os.walk(new):
        for name in files:
            path = os.path.join(root, name)
            rel = os.path.relpath(path, new)
            before = os.path.join(old, rel)
            if os.path.islink(path):
                continue
            if not os.path.isfile(before) or subprocess.run(["cmp", "-s", before, path]).returncode != 0:
                names.append(rel)
    return sorted(names)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--pair", default="all", choices=["all", *PAIRS])
    parser.add_argument("--rates", default="1000,100,0")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--level", default="19")
    args = parser.parse_args()
    if os.geteuid() != 0:
        raise SystemExit("click_to_game needs root: it makes a network namespace and shapes its loopback")
    if os.environ.get("VELGRIM_BENCH_NETNS") != "1":
        env = dict(os.environ, VELGRIM_BENCH_NETNS="1")
        return subprocess.run(["unshare", "-n", sys.executable, *sys.argv], env=env).returncode
    run("ip", "link", "set", "lo", "up")
    e2e = release_build.e2e_for(args.build)

    subprocess.run(["sha256sum", "-c", "--quiet", "SHA256SUMS"], cwd=CORPUS, check=True)
    rates = [int(r) for r in args.rates.split(",")]
    pairs = PAIRS if args.pair == "all" else {args.pair: PAIRS[args.pair]}
    root = tempfile.mkdtemp(prefix="velgrim-click-")
    try:
        for pair, (old_deb, new_deb) in pairs.items():
            bench_pair(e2e, root, pair, old_deb, new_deb, rates, args)
    finally:
        shape(0)
        shutil.rmtree(root, ignore_errors=True)
    return 0


def bench_pair(e2e, root, pair, old_deb, new_deb, rates, args):
    work = os.path.join(root, pair)
    old, new = os.path.join(work, "old"), os.path.join(work, "new")
    os.makedirs(work)
    run("dpkg-deb", "-x", os.path.join(CORPUS, old_deb + ".deb"), old)
    run("dpkg-deb", "-x", os.path.join(CORPUS, new_deb + ".deb"), new)
    # A game ships files: links to nothing (a package's run-time caches) are left out.
    for tree in (old, new):
        for top, dirs, files in os.walk(tree):
            for name in dirs + files:
                path = os.path.join(top, name)
                if os.path.islink(path) and not os.path.exists(path):
                    os.remove(path)
    store = os.path.join(work, "store")
    started = time.monotonic()
    rxpack = os.environ["VELGRIM_RXPACK"]
    run(rxpack, "release", "--store", store, "--version", "1", "--level", args.level, old, stderr=subprocess.DEVNULL)
    run(rxpack, "release", "--store", store, "--version", "2", "--level", args.level, new, stderr=subprocess.DEVNULL)
    made = time.monotonic() - started
    serve = os.path.join(store, "serve")
    # What the launcher at version 1 is sent: the best variant made from it.
    names = os.listdir(serve)
    name = next(n for n in ("Velgrim_patch.from-1.delta.rxpack", "Velgrim_patch.from-1.zstd.rxpack",
                            "Velgrim_patch.from-1.rxpack") if n in names)
    package = (os.path.getsize(os.path.join(serve, name)), name)
    changed = changed_files(old, new)
    changed_bytes = sum(os.path.getsize(os.path.join(new, n)) for n in changed)

    web = e2e.WebHost(work)
    by_hand = web.www("changed.tar.zst")
    tar = subprocess.Popen(["tar", "-C", new, "-cf", "-", "--", *changed], stdout=subprocess.PIPE)
    with open(by_hand, "wb") as out:
        subprocess.run(["zstd", "-19", "--long=27", "-T0", "-q", "-c"], stdin=tar.stdout, stdout=out, check=True)
    tar.wait()
    hand_size = os.path.getsize(by_hand)
    print(f"== {pair}: {len(changed)} changed files, {changed_bytes / 1e6:.1f} MB; our package {package[1]} "
          f"{package[0] / 1e6:.2f} MB (store made in {made:.0f} s at level {args.level}); "
          f"by hand .tar.zst {hand_size / 1e6:.2f} MB", flush=True)

    server = None
    try:
        server = e2e.UpdateServer(serve)
        web.publish_servers([("127.0.0.1", server.port, 10, 0)])
        web.start()
        url = f"http://{e2e.WEB_HOST}:{e2e.WEB_PORT}/changed.tar.zst"
        for mbit in rates:
            shape(mbit)
            ours, hand = [], []
            for _ in range(args.runs):
                ours.append(launcher_run(e2e, work, old, new, changed))
                hand.append(hand_run(work, old, new, changed, url))
            label = f"{mbit} Mbit/s" if mbit else "unshaped"
            wire = f", our package's bytes alone {package[0] * 8 / (mbit * 1e6):.2f} s" if mbit else ""
            print(f"{label:>14}: launcher {statistics.median(ours):6.2f} s, by hand {statistics.median(hand):6.2f} s, "
                  f"by hand / launcher {statistics.median(hand) / statistics.median(ours):4.2f}{wire}  "
                  f"(runs: {' '.join(f'{t:.2f}' for t in ours)} | {' '.join(f'{t:.2f}' for t in hand)})", flush=True)
    finally:
        shape(0)
        web.stop()
        if server:
            server.stop()


def launcher_run(e2e, work, old, new, changed):
    players = os.path.join(work, "player")
    shutil.rmtree(players, ignore_errors=True)
    os.makedirs(players)
    game = e2e.Game(players, version="1")
    shutil.copytree(old, game.dir, dirs_exist_ok=True, symlinks=True)
    run("sync", "-f", game.dir)
    took = release_build.timed_update(e2e, game)
    for name in changed:
        if subprocess.run(["cmp", "-s", os.path.join(new, name), game.path(name)]).returncode != 0:
            raise SystemExit(f"the launcher left {name} unlike the new release's")
    return took


def hand_run(work, old, new, changed, url):
    target = os.path.join(work, "by-hand")
    shutil.rmtree(target, ignore_errors=True)
    shutil.copytree(old, target, symlinks=True)
    run("sync", "-f", target)
    started = time.monotonic()
    subprocess.run(f"curl -sSf '{url}' | zstd -d --long=27 -q | tar -x -C '{target}' && sync -f '{target}'",
                   shell=True, check=True)
    took = time.monotonic() - started
    name = changed[0]
    if subprocess.run(["cmp", "-s", os.path.join(new, name), os.path.join(target, name)]).returncode != 0:
        raise SystemExit(f"by hand left {name} unlike the new release's")
    return took


if __name__ == "__main__":
    sys.exit(main())
