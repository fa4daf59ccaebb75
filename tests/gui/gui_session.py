"""Helpers for the GUI tests: a private Xvfb display, a Windows program under Wine on it,
screenshots, the pointer and the keyboard (xdotool), and pixel probes.

Every wait is bounded; close() ends the program and the display whatever happened, and
it is called by the context manager:

    with GuiSession(out_dir, prefix_script, prefix) as gui:
        gui.start_program([wine, exe], log_name="demo.log")
        win = gui.wait_for_window("skin_demo", 512, 415)
        shot = gui.window_shot(win)
"""
import os
import select
import signal
import subprocess
import sys
import time
import traceback

from PIL import Image, ImageChops, ImageStat

SCREEN = "1024x768x24"
# A program that wine64 failed to start has ended within this time.
WINE_START_FAILURE_SECONDS = 5


class GuiError(Exception):
    pass


def _end_group(proc):
    """Ends a process started in its own session, with everything in its group."""
    if proc is None or proc.poll() is not None:
        return
    for sig in (signal.SIGTERM, signal.SIGKILL):
        try:
            os.killpg(proc.pid, sig)
        except ProcessLookupError:
            return
        try:
            proc.wait(5)
            return
        except subprocess.TimeoutExpired:
            continue


class Window:
    def __init__(self, wid, x, y, width, height):
        self.wid, self.x, self.y, self.width, self.height = wid, x, y, width, height

    def __repr__(self):
        return f"window {self.wid} at {self.x},{self.y} size {self.width}x{self.height}"


class GuiSession:
    """prefix_script/prefix: tests/support/wine-prefix.sh and the GUI tests' Wine prefix,
    made ready for this session's display and stopped at the end."""

    def __init__(self, out_dir, prefix_script=None, prefix=None):
        self.out_dir = out_dir
        os.makedirs(out_dir, exist_ok=True)
        # Screenshots and logs of an earlier run would be taken for this run's.
        for name in os.listdir(out_dir):
            if name.endswith((".png", ".log")):
                os.remove(os.path.join(out_dir, name))
        self.prefix_script = prefix_script
        self.prefix = prefix
        self.wine_started = False
        self.xvfb = None
        self.program = None
        self.log_path = None
        self.display = None
        self.env = dict(os.environ)

    # ------------------------------------------------------------------ life cycle

    def __enter__(self):
        try:
            self.start_display()
            if self.prefix:
                self.start_wine()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def start_display(self, timeout=30):
        """Starts Xvfb on the first free display number (it picks it: -displayfd)."""
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", SCREEN, "-nolisten", "tcp"],
            pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, start_new_session=True)
        os.close(write_end)
        # Read the whole line: Xvfb dies when the rest of its write finds the pipe closed.
        number = b""
        deadline = time.monotonic() + timeout
        try:
            while not number.endswith(b"\n"):
                ready, _, _ = select.select([read_end], [], [], max(0.0, deadline - time.monotonic()))
                chunk = os.read(read_end, 64) if ready else b""
                if not chunk:
                    raise GuiError(f"Xvfb did not start (read {number!r})")
                number += chunk
        finally:
            os.close(read_end)
        number = number.decode().strip()
        if not number.isdigit():
            raise GuiError(f"Xvfb gave no display number ({number!r})")
        self.display = ":" + number
        self.env["DISPLAY"] = self.display

    def start_wine(self, timeout=240):
        """Makes the Wine prefix ready (created on first use) with its desktop on our display."""
        self.env["WINEPREFIX"] = self.prefix
        self.wine_started = True
        try:
            subprocess.run(["bash", self.prefix_script, "gui", self.prefix], env=self.env, check=True,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, timeout=timeout)
        except (subprocess.CalledProcessError, subprocess.TimeoutExpired) as e:
            raise GuiError(f"Wine prefix {self.prefix} not ready: {e}")

    def start_program(self, argv, log_name, cwd=None):
        """Starts the program in its own process group, its output into a log file."""
        self.log_path = os.path.join(self.out_dir, log_name)
        self.launch = (argv, dict(self.env), cwd or self.out_dir)
        self.restarted = False
        self._launch()

    def _launch(self):
        argv, env, cwd = self.launch
        log = open(self.log_path, "wb")
        try:
            self.program = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                                            env=env, cwd=cwd, start_new_session=True)
        finally:
            log.close()
        self.started_at = time.monotonic()

    def poll(self):
        """The program's exit code, None while it runs. Now and then wine64 ends a program at
        its start with code 1 and not a word (none of ours ends so): that start is made once
        more, and said."""
        code = self.program.poll()
        if (code == 1 and not self.restarted and not self.log()
                and time.monotonic() - self.started_at < WINE_START_FAILURE_SECONDS):
            self.restarted = True
            print(f"wine64 ended {self.launch[0][-1]} at its start (code 1, no output): started once more",
                  file=sys.stderr, flush=True)
            self._launch()
            return None
        return code

    def close(self):
        _end_group(self.program)
        self.program = None
        if self.wine_started:
            # Ends the prefix's wineserver and with it every Wine process of this session.
            try:
                subprocess.run(["bash", self.prefix_script, "gui-stop", self.prefix], env=self.env,
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, timeout=90)
            except subprocess.TimeoutExpired:
                pass
            self.wine_started = False
        _end_group(self.xvfb)
        self.xvfb = None

    # ------------------------------------------------------------------ the program

    def log(self):
        try:
            with open(self.log_path, "rb") as f:
                return f.read().decode("utf-8", "replace")
        except OSError:
            return ""

    def wait_for_log(self, line, timeout=15, occurrence=1):
        """Waits until the program has printed the line (that many times)."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.log().splitlines().count(line) >= occurrence:
                return
            if self.poll() is not None and self.log().splitlines().count(line) < occurrence:
                raise GuiError(f"program ended (code {self.program.returncode}) before printing {line!r}")
            time.sleep(0.1)
        raise GuiError(f"no {line!r} (#{occurrence}) from the program within {timeout} s; its output:\n{self.log()}")

    def wait_for_exit(self, timeout=15):
        deadline = time.monotonic() + timeout
        while True:
            try:
                self.program.wait(max(0.0, deadline - time.monotonic()))
            except subprocess.TimeoutExpired:
                raise GuiError(f"program still running after {timeout} s")
            code = self.poll()
            if code is not None:
                return code

    # ------------------------------------------------------------------ X

    def xdotool(self, *args):
        result = subprocess.run(["xdotool", *map(str, args)], env=self.env, stdin=subprocess.DEVNULL,
                                capture_output=True, text=True, timeout=20)
        return result.stdout

    def geometry(self, wid):
        """The window's place and size on the screen, or None when it is gone."""
        values = {}
        for line in self.xdotool("getwindowgeometry", "--shell", wid).splitlines():
            key, _, value = line.partition("=")
            values[key] = value
        try:
            return Window(wid, int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"]))
        except (KeyError, ValueError):
            return None

    def find_windows(self, classname):
        found = (self.geometry(wid) for wid in
                 self.xdotool("search", "--onlyvisible", "--classname", classname).split())
        return [w for w in found if w is not None]

    def wait_for_window(self, classname, width, height, timeout=60):
        """The program's visible top-level window of that size, polled until timeout."""
        deadline = time.monotonic() + timeout
        seen = []
        while time.monotonic() < deadline:
            if self.program is not None and self.poll() is not None:
                raise GuiError(f"program ended (code {self.program.returncode}); its output:\n{self.log()}")
            seen = self.find_windows(classname)
            for win in seen:
                if win.width == width and win.height == height:
                    return win
            time.sleep(0.25)
        raise GuiError(f"no {width}x{height} window of {classname} within {timeout} s; seen: {seen}")

    def screen_shot(self):
        path = os.path.join(self.out_dir, ".screen.png")
        subprocess.run(["import", "-window", "root", path], env=self.env, check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
        with Image.open(path) as img:
            return img.convert("RGB")

    def window_shot(self, win):
        return self.screen_shot().crop((win.x, win.y, win.x + win.width, win.y + win.height))

    def settled_shot(self, win, timeout=10):
        """A window screenshot once two in a row agree (painting has finished)."""
        deadline = time.monotonic() + timeout
        previous = self.window_shot(win)
        while time.monotonic() < deadline:
            time.sleep(0.3)
            current = self.window_shot(win)
            if ImageChops.difference(previous, current).getbbox() is None:
                return current
            previous = current
        return previous

    def wait_for_shot(self, win, predicate, what, timeout=10):
        """Takes window screenshots until predicate(shot) holds; raises with the last one kept."""
        deadline = time.monotonic() + timeout
        while True:
            shot = self.window_shot(win)
            if predicate(shot):
                return shot
            if time.monotonic() > deadline:
                path = self.save(shot, "failed-" + what.replace(" ", "-") + ".png")
                raise GuiError(f"{what}: not seen within {timeout} s (last screenshot: {path})")
            time.sleep(0.2)

    def save(self, img, name):
        path = os.path.join(self.out_dir, name)
        img.save(path)
        return path

    # ------------------------------------------------------------------ input

    def move_pointer(self, x, y):
        self.xdotool("mousemove", "--sync", x, y)

    def press(self, button=1):
        self.xdotool("mousedown", button)

    def release(self, button=1):
        self.xdotool("mouseup", button)

    def click(self, button=1):
        self.xdotool("click", button)

    def double_click(self, button=1):
        self.xdotool("click", "--repeat", 2, "--delay", 80, button)

    def key(self, name):
        self.xdotool("key", name)


# ---------------------------------------------------------------------- pixel probes

def mean_difference(a, b):
    """Mean absolute difference per channel value of two same-size RGB images."""
    if a.size != b.size:
        raise GuiError(f"comparing images of sizes {a.size} and {b.size}")
    stat = ImageStat.Stat(ImageChops.difference(a, b))
    return sum(stat.mean) / len(stat.mean)


def region(img, x, y, width, height, inset=0):
    return img.crop((x + inset, y + inset, x + width - inset, y + height - inset))


def never_lighter(shot, reference, tolerance=6):
    """Share of pixels that are lighter than the reference in some channel by more than
    tolerance: text drawn over a copied background only darkens it."""
    diff = ImageChops.subtract(shot, reference)  # clamps at 0: only where shot is lighter
    hist = diff.convert("L").point(lambda v: 255 if v > tolerance else 0).histogram()
    return hist[255] / (shot.size[0] * shot.size[1])


def dark_share(shot, reference, amount=60):
    """Share of pixels darker than the reference by more than amount (grey value)."""
    diff = ImageChops.subtract(reference.convert("L"), shot.convert("L"))
    hist = diff.point(lambda v: 255 if v > amount else 0).histogram()
    return hist[255] / (shot.size[0] * shot.size[1])


def add_common_arguments(parser):
    """The arguments every GUI test script gets from the build (velgrim_add_gui_test)."""
    parser.add_argument("--wine", required=True, help="wine64")
    parser.add_argument("--prefix-script", required=True, help="tests/support/wine-prefix.sh")
    parser.add_argument("--prefix", required=True, help="the GUI tests' Wine prefix")
    parser.add_argument("--out", required=True, help="where screenshots and logs go")


def run_probe_test(make_test, args):
    """Runs make_test(gui, args).run() in a GUI session; the test keeps its failed probes in
    .failures. Returns the exit status: 0 when every probe held."""
    failures = []
    try:
        with GuiSession(args.out, args.prefix_script, args.prefix) as gui:
            test = make_test(gui, args)
            try:
                test.run()
            finally:
                failures = test.failures
    except GuiError as e:
        failures.append(str(e))
        print("FAIL " + str(e), flush=True)
    except Exception:
        traceback.print_exc()
        failures.append("exception")
    print(f"screenshots in {args.out}")
    if failures:
        print(f"{len(failures)} failed", flush=True)
        return 1
    return 0
