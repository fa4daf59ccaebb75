#!/usr/bin/env python3
"""The real update window on a real display: update_window_driver.exe under Wine on Xvfb,
fed by the real update-server, driven with xdotool and checked by pixel probes against
the committed bitmaps. Keeps a PNG of each state. Exits 0 when every probe holds.
"""
import argparse
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from gui_session import (GuiError, add_common_arguments, mean_difference, never_lighter, region,  # noqa: E402
                         run_probe_test)
from window_layout import (BORDER, BUTTON, CANCEL, CLOSE, HEIGHT, INFO, INFO_TEXT, PROGRESS, SAME,  # noqa: E402
                           WIDTH, Skin, button_centre, client, point_at_button)

TITLE = (0, 0, WIDTH - 2 * BORDER, 60)  # the title strip: never covered by a control


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Server:
    """update-server with a release of one patch, optionally slowed down per client."""

    def __init__(self, args, work, patch_bytes, rate_kib=None, info="Velgrim 7: the Ashen Coast opens."):
        self.release = os.path.join(work, "release")
        content = os.path.join(work, "content")
        for d in (self.release, content):
            shutil.rmtree(d, ignore_errors=True)
            os.makedirs(d)
        with open(os.path.join(content, "patched.bin"), "wb") as f:
            f.write(patch_bytes)
        subprocess.run([args.rxpack, "create", os.path.join(self.release, "Velgrim_patch.rxpack"), content],
                       check=True, stdout=subprocess.DEVNULL, timeout=60)
        with open(os.path.join(self.release, "release.conf"), "w") as f:
            f.write("game_version = 7\n")
        with open(os.path.join(self.release, "info.txt"), "w") as f:
            f.write(info)
        self.port = free_port()
        self.log_path = os.path.join(work, "update-server.log")
        extra = ["--rate-kib", str(rate_kib)] if rate_kib else []
        self.proc = subprocess.Popen([args.update_server, "--listen", "127.0.0.1", "--port", str(self.port),
                                      *extra, self.release], stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=open(self.log_path, "wb"))
        deadline = time.monotonic() + 15
        while "listening" not in self.log():
            if time.monotonic() > deadline or self.proc.poll() is not None:
                raise GuiError("update-server did not start:\n" + self.log())
            time.sleep(0.05)

    def log(self):
        with open(self.log_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def stop(self):
        self.proc.terminate()
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()


class UpdateWindowTest:
    def __init__(self, gui, args):
        self.gui = gui
        self.args = args
        self.skin = Skin(args.res)
        self.work = tempfile.mkdtemp(prefix="velgrim-gui-")
        self.failures = []
        self.win = None

    def check(self, ok, what):
        print(("ok   " if ok else "FAIL ") + what, flush=True)
        if not ok:
            self.failures.append(what)

    def point(self, x, y):
        return self.win.x + BORDER + x, self.win.y + BORDER + y

    def centre(self, place):
        return button_centre(self.win, place)

    def open_window(self, server, kind, log_name, extra=()):
        cwd = os.path.join(self.work, log_name.split(".")[0])
        os.makedirs(cwd, exist_ok=True)
        self.gui.start_program([self.args.wine, self.args.exe, "127.0.0.1", str(server.port), str(kind), *extra],
                               log_name=log_name, cwd=cwd)
        self.gui.wait_for_log("window", timeout=60)
        self.win = self.gui.wait_for_window("update_window", WIDTH, HEIGHT)
        self.gui.move_pointer(*self.point(60, 20))  # on the title strip, off every control
        return cwd

    def ended(self, expected, timeout=30):
        self.gui.wait_for_exit(timeout)
        lines = [l for l in self.gui.log().splitlines() if l.startswith("ended")]
        self.check(lines == [expected], f"window ended with {lines}, expected {expected!r}")

    def wait_state(self, predicate, what):
        return self.gui.wait_for_shot(self.win, predicate, what, timeout=30)

    # ------------------------------------------------------------------ the phases

    def transfer_and_close_by_system(self):
        """Transferring: skin, info text, moving bar, hover, press shift, drag; Alt+F4."""
        gui, skin = self.gui, self.skin
        server = Server(self.args, self.work, os.urandom(6 * 1024 * 1024), rate_kib=256)
        try:
            self.open_window(server, 1002, "transfer.log")
            first = self.wait_state(skin.transferring, "Cancel shown")
            gui.save(first, "01-transferring.png")
            self.check((self.win.width, self.win.height) == (WIDTH, HEIGHT), "the window is 512 x 415")
            self.check(skin.background_diff(first, TITLE) < SAME, "the background fills the title strip")
            self.check(skin.shows(first, CANCEL, skin.cancel), "Cancel shows bitmap 103")
            info = region(client(first), *INFO, inset=4)
            plain = region(skin.background, *INFO, inset=4)
            self.check(mean_difference(info, plain) > 1.0, "the info text is drawn in the text box")
            self.check(never_lighter(region(client(first), *INFO_TEXT, inset=4),
                                     region(skin.background, *INFO_TEXT, inset=4)) < 0.02,
                       "the text box shows the background behind its text")
            self.info_region = info

            bar_at = lambda shot: region(client(shot), *PROGRESS, inset=2)
            moved = gui.wait_for_shot(self.win, lambda s: mean_difference(bar_at(s), bar_at(first)) > 1.0,
                                      "progress bar moving", timeout=30)
            gui.save(moved, "02-progress-moved.png")
            self.check(True, "the progress bar at (30, 340) moves")

            gui.move_pointer(*self.centre(CANCEL))
            lit = self.wait_state(lambda s: skin.shows(s, CANCEL, skin.cancel_lit), "Cancel lit under the pointer")
            gui.save(lit, "03-cancel-hover.png")
            self.check(True, "Cancel shows bitmap 102 under the pointer")

            # A press shifts the button one pixel; a release away from it shifts it back
            # without clicking.
            gui.press()
            shifted = (CANCEL[0] + 1, CANCEL[1] + 1)
            pressed = self.wait_state(lambda s: skin.shows(s, shifted, skin.cancel_lit)
                                      or skin.shows(s, shifted, skin.cancel), "Cancel pressed")
            gui.save(pressed, "04-cancel-pressed.png")
            self.check(True, "pressing moves Cancel one pixel right and down")
            gui.move_pointer(*self.point(60, 20))
            gui.release()
            self.wait_state(lambda s: skin.shows(s, CANCEL, skin.cancel) or skin.shows(s, CANCEL, skin.cancel_lit),
                            "Cancel back")
            self.check(True, "releasing moves it back")

            # A drag by the body moves the window.
            before = (self.win.x, self.win.y)
            gui.move_pointer(*self.point(200, 30))
            gui.press()
            for step in range(1, 6):
                gui.move_pointer(*self.point(200 + 10 * step, 30 + 6 * step))
                time.sleep(0.05)
            gui.release()
            time.sleep(0.5)
            moved_win = gui.geometry(self.win.wid)
            self.check(moved_win is not None and (moved_win.x, moved_win.y) != before,
                       f"dragging the body moves the window ({before} -> {moved_win})")
            if moved_win is not None:
                self.win = moved_win

            gui.xdotool("windowactivate", "--sync", self.win.wid)
            gui.key("alt+F4")
            self.ended("ended cancelled=0 error=0 succeeded=0")
        finally:
            server.stop()

    def cancel(self, how):
        gui, skin = self.gui, self.skin
        server = Server(self.args, self.work, os.urandom(4 * 1024 * 1024), rate_kib=256)
        try:
            self.open_window(server, 1002, f"cancel-{how}.log")
            self.wait_state(skin.transferring, "Cancel shown")
            if how == "click":
                point_at_button(gui, self.win, skin, CANCEL)
                gui.click()
            else:
                gui.xdotool("windowactivate", "--sync", self.win.wid)
                gui.key("Escape")
            self.ended("ended cancelled=1 error=0 succeeded=0")
        finally:
            server.stop()

    def error_notice(self):
        """The updater asked of a release that offers none: the transfer fails."""
        gui, skin = self.gui, self.skin
        server = Server(self.args, self.work, b"unused")
        try:
            self.open_window(server, 1003, "notice.log")
            shot = self.wait_state(skin.error_notice, "error notice")
            gui.save(shot, "05-error-notice.png")
            self.check(skin.shows(shot, CLOSE, skin.close), f"Close at {CLOSE} shows bitmap 105")
            self.check(skin.background_diff(shot, (CANCEL[0], CANCEL[1], *BUTTON)) < SAME, "Cancel is hidden")
            bar_left = (PROGRESS[0], PROGRESS[1], CLOSE[0] - PROGRESS[0], PROGRESS[3])
            self.check(skin.background_diff(shot, bar_left) < SAME, "the progress bar is hidden")
            info = region(client(shot), *INFO, inset=4)
            plain = region(skin.background, *INFO, inset=4)
            self.check(mean_difference(info, plain) > 1.0, "the notice is drawn in the text box")
            self.check(mean_difference(info, self.info_region) > 1.0, "the notice differs from the info text")
            gui.save(point_at_button(gui, self.win, skin, CLOSE), "06-close-hover.png")
            self.check(True, "Close shows bitmap 104 under the pointer")
            gui.click()
            self.ended("ended cancelled=0 error=1 succeeded=0")
        finally:
            server.stop()

    def failure_inside_the_window(self):
        """A failure thrown inside the timer's handling turns the window into its notice;
        the process lives on, and the player closes it as after any failed transfer."""
        gui, skin = self.gui, self.skin
        server = Server(self.args, self.work, os.urandom(300_000))
        try:
            self.open_window(server, 1002, "failure.log", extra=("throw",))
            self.wait_state(skin.error_notice, "error notice after a failure inside the window")
            point_at_button(gui, self.win, skin, CLOSE)
            gui.click()
            self.ended("ended cancelled=0 error=1 succeeded=0")
        finally:
            server.stop()

    def patch_installed(self):
        data = os.urandom(300_000)
        server = Server(self.args, self.work, data)
        try:
            cwd = self.open_window(server, 1002, "patch.log")
            self.ended("ended cancelled=0 error=0 succeeded=1")
            with open(os.path.join(cwd, "patched.bin"), "rb") as f:
                self.check(f.read() == data, "the patch is unpacked beside the program, byte for byte")
        finally:
            server.stop()

    def run(self):
        try:
            self.transfer_and_close_by_system()
            self.cancel("click")
            self.cancel("escape")
            self.error_notice()
            self.failure_inside_the_window()
            self.patch_installed()
        finally:
            if not self.failures:
                shutil.rmtree(self.work, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    add_common_arguments(ap)
    ap.add_argument("--exe", required=True, help="update_window_driver.exe")
    ap.add_argument("--res", required=True, help="directory of the committed BMPs")
    ap.add_argument("--update-server", required=True)
    ap.add_argument("--rxpack", required=True)
    args = ap.parse_args()

    return run_probe_test(UpdateWindowTest, args)


if __name__ == "__main__":
    sys.exit(main())
