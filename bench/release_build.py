"""The e2e harness (tests/e2e/launcher/velgrim_e2e.py) set up for a release build's
programs, for the benchmarks that run the launcher end to end."""
import importlib
import os
import sys

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def cache_value(build, name):
    with open(os.path.join(build, "CMakeCache.txt")) as f:
        for line in f:
            if line.startswith(name + ":"):
                return line.split("=", 1)[1].strip()
    raise SystemExit(f"{name} not in {build}/CMakeCache.txt")


def e2e_for(build):
    """velgrim_e2e, its programs those of BUILD (VELGRIM_RXPACK may name another rxpack)."""
    build = os.path.abspath(build)
    os.environ.update({
        "VELGRIM_BUILD_DIR": build,
        "VELGRIM_SOURCE_DIR": SOURCE,
        "VELGRIM_WEB_HOST": cache_value(build, "VELGRIM_WEB_HOST"),
        "VELGRIM_WEB_PORT": cache_value(build, "VELGRIM_WEB_PORT"),
        "VELGRIM_FALLBACK_SERVER": cache_value(build, "VELGRIM_FALLBACK_SERVER"),
        "VELGRIM_UPDATER": os.path.join(build, "src", "app", "updater"),
        "VELGRIM_STANDIN": os.path.join(build, "tests", "e2e", "standin", "velgrim_standin"),
        "VELGRIM_UPDATE_SERVER": os.path.join(build, "tools", "update_server", "update-server"),
        "VELGRIM_RXPACK": os.environ.get("VELGRIM_RXPACK", os.path.join(build, "tools", "rxpack", "rxpack")),
    })
    sys.path.insert(0, os.path.join(SOURCE, "tests", "e2e", "launcher"))
    return importlib.import_module("velgrim_e2e")


def timed_update(e2e, game):
    """Seconds from the launcher's start in game (at version 1) to the game's start; the
    update must have recorded version 2."""
    import subprocess
    import time
    started = time.monotonic()
    proc = subprocess.Popen([game.path("Updater.exe")], cwd=game.dir, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    e2e.wait_until(lambda: game.starts(), 600, "the game's start", step=0.005)
    took = time.monotonic() - started
    proc.wait(60)
    if game.version() != "2":
        raise SystemExit(f"the update failed (version {game.version()!r})")
    return took
