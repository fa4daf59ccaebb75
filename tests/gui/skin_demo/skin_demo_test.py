#!/usr/bin/env python3
"""The update window's skin on a real display: skin_demo.exe under Wine on Xvfb, driven
with xdotool and checked by pixel probes against the committed bitmaps.

Keeps a PNG of each state in the output directory. Exits 0 when every probe holds.
"""
import argparse
import os
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from gui_session import (add_common_arguments, dark_share, mean_difference, never_lighter, region,  # noqa: E402
                         run_probe_test)

from window_layout import (BORDER, BUTTON, CANCEL, CLOSE, DIFFERENT, HEIGHT, INFO, INFO_TEXT,  # noqa: E402
                           PROGRESS, SAME, WIDTH, Skin, button_centre, client)


class SkinTest:
    def __init__(self, gui, args):
        self.gui = gui
        self.args = args
        self.skin = Skin(args.res)
        self.background = self.skin.background
        self.cancel, self.cancel_lit = self.skin.cancel, self.skin.cancel_lit
        self.close, self.close_lit = self.skin.close, self.skin.close_lit
        self.win = None
        self.failures = []

    # ------------------------------------------------------------------ probes

    def check(self, ok, what):
        print(("ok   " if ok else "FAIL ") + what, flush=True)
        if not ok:
            self.failures.append(what)

    def button_diff(self, shot, place, image):
        return self.skin.button_diff(shot, place, image)

    def shows(self, shot, place, image):
        return self.skin.shows(shot, place, image)

    def background_diff(self, shot, box):
        return self.skin.background_diff(shot, box)

    def screen_point(self, x, y):
        """Screen coordinates of a client point of the window."""
        return self.win.x + BORDER + x, self.win.y + BORDER + y

    def wait_button(self, place, image, what):
        return self.gui.wait_for_shot(self.win, lambda s: self.shows(s, place, image), what)

    # ------------------------------------------------------------------ the run

    def run(self):
        gui = self.gui
        gui.start_program([self.args.wine, self.args.exe], log_name="skin_demo.log")
        gui.wait_for_log("ready", timeout=60)
        self.win = gui.wait_for_window("skin_demo.exe", WIDTH, HEIGHT, timeout=60)
        self.check(True, f"window is {WIDTH}x{HEIGHT} ({self.win})")
        # Park the pointer outside the window.
        gui.move_pointer(5, 5)
        start = gui.settled_shot(self.win)
        gui.save(start, "01-start.png")

        # The face is bitmap 107 wherever no control covers it.
        free = [(0, 0, 510, 62), (0, 62, 24, 351), (486, 62, 24, 270), (0, 300, 510, 38), (0, 398, 510, 15)]
        worst = max(self.background_diff(start, box) for box in free)
        self.check(worst < SAME, f"background is bitmap 107 outside the controls (worst region {worst:.2f})")

        self.check(self.shows(start, CANCEL, self.cancel),
                   f"Cancel at {CANCEL} shows bitmap 103 (diff {self.button_diff(start, CANCEL, self.cancel):.2f})")
        self.check(self.button_diff(start, CANCEL, self.cancel_lit) > DIFFERENT, "... and not bitmap 102")
        self.check(self.button_diff(start, CLOSE, self.close) > DIFFERENT, "Close is hidden at start")

        px, py, pw, ph = PROGRESS
        bar = client(start).getpixel((px + 10, py + ph // 2))
        back = client(start).getpixel((px + pw - 10, py + ph // 2))
        self.check(bar == (34, 18, 0) and back == (84, 68, 38),
                   f"progress bar at {PROGRESS[:2]}: bar colour {bar}, background {back} at 42%")

        text_box = INFO_TEXT
        lighter = never_lighter(region(client(start), *text_box), region(self.background, *text_box))
        ink = dark_share(region(client(start), *text_box), region(self.background, *text_box))
        self.check(lighter < 0.001 and ink > 0.01,
                   f"text box draws its text over the background (lighter {lighter:.4f}, ink {ink:.3f})")

        # Hover: the pointer over Cancel lights it; back on the surface it is plain again.
        cancel_centre = button_centre(self.win, CANCEL)
        gui.move_pointer(*cancel_centre)
        gui.save(self.wait_button(CANCEL, self.cancel_lit, "Cancel lit under the pointer"), "02-cancel-hover.png")
        self.check(True, "Cancel shows bitmap 102 under the pointer")
        gui.move_pointer(*self.screen_point(250, 320))
        self.wait_button(CANCEL, self.cancel, "Cancel plain again after the pointer left")
        self.check(True, "Cancel shows bitmap 103 again once the pointer is on the surface")

        # Press: button and pointer one pixel right and down; release: back, and the command.
        gui.move_pointer(*cancel_centre)
        self.wait_button(CANCEL, self.cancel_lit, "Cancel lit before the press")
        gui.press()
        shifted = (CANCEL[0] + 1, CANCEL[1] + 1)
        gui.save(self.wait_button(shifted, self.cancel_lit, "Cancel shifted while pressed"), "03-cancel-pressed.png")
        self.check(True, "pressed Cancel sits one pixel right and down")
        gui.release()
        gui.wait_for_log("command 2 0")  # BN_CLICKED
        self.wait_button(CANCEL, self.cancel_lit, "Cancel back in place after the release")
        self.check(True, "released Cancel is back in place and sent command 2")

        # A double click: the second press arrives as a double-click message, which does
        # not shift the button; its release must not move it either.
        gui.double_click()
        gui.wait_for_log("command 2 5")  # BN_DOUBLECLICKED
        gui.move_pointer(*self.screen_point(250, 320))
        gui.move_pointer(*cancel_centre)
        settled = gui.settled_shot(self.win)
        gui.save(settled, "03b-after-double-click.png")
        drift = self.button_diff(settled, (CANCEL[0] - 1, CANCEL[1] - 1), self.cancel_lit)
        self.check(self.shows(settled, CANCEL, self.cancel_lit) and drift > DIFFERENT,
                   f"Cancel stays in place after a double click (diff one pixel up-left {drift:.2f})")

        # A disabled button is drawn plain even under the pointer.
        gui.key("F3")
        gui.wait_for_log("cancel disabled")
        gui.move_pointer(*self.screen_point(250, 320))
        gui.move_pointer(*cancel_centre)
        self.wait_button(CANCEL, self.cancel, "disabled Cancel plain under the pointer")
        self.check(True, "disabled Cancel shows bitmap 103 under the pointer")
        gui.key("F3")
        gui.wait_for_log("cancel enabled")

        # A press that loses the mouse before its release (here: the button is disabled
        # while held) leaves the button in its place, not one pixel off.
        gui.move_pointer(*self.screen_point(250, 320))
        gui.move_pointer(*cancel_centre)
        self.wait_button(CANCEL, self.cancel_lit, "Cancel lit before the held press")
        gui.press()
        self.wait_button(shifted, self.cancel_lit, "Cancel shifted while held")
        gui.key("F3")
        gui.wait_for_log("cancel disabled", occurrence=2)
        gui.release()
        self.wait_button(CANCEL, self.cancel, "Cancel back in place after losing the press")
        self.check(True, "a press cut short by losing the mouse leaves Cancel in place")
        gui.key("F3")
        gui.wait_for_log("cancel enabled", occurrence=2)

        # Scroll the text box with its scroll bar: text again over a fresh background.
        gui.move_pointer(*self.screen_point(INFO[0] + INFO[2] - 8, INFO[1] + INFO[3] - 8))  # the scroll bar's down arrow
        for _ in range(4):
            gui.click()
        scrolled = gui.settled_shot(self.win)
        gui.save(scrolled, "04-scrolled.png")
        moved = mean_difference(region(client(scrolled), *text_box), region(client(start), *text_box))
        lighter = never_lighter(region(client(scrolled), *text_box), region(self.background, *text_box))
        self.check(moved > 1.0 and lighter < 0.001,
                   f"scrolled text box repainted over the background (changed {moved:.2f}, lighter {lighter:.4f})")

        # The error notice: Close centred, Cancel and the bar hidden, the Russian text.
        gui.move_pointer(*self.screen_point(250, 320))
        gui.key("F2")
        gui.wait_for_log("notice shown")
        self.check("notice text ok" in gui.log().splitlines(), "error notice reaches the text box unchanged")
        notice = gui.wait_for_shot(self.win, lambda s: self.shows(s, CLOSE, self.close), "Close shown")
        notice = gui.settled_shot(self.win)
        gui.save(notice, "05-error-notice.png")
        self.check(self.shows(notice, CLOSE, self.close), f"Close at {CLOSE} shows bitmap 105")
        cancel_box = (*CANCEL, *BUTTON)
        self.check(self.background_diff(notice, cancel_box) < SAME, "Cancel hidden: background in its place")
        left_of_close = (px, py, CLOSE[0] - px, ph)
        self.check(self.background_diff(notice, left_of_close) < SAME, "progress bar hidden: background in its place")
        changed = mean_difference(region(client(notice), *text_box), region(client(scrolled), *text_box))
        lighter = never_lighter(region(client(notice), *text_box), region(self.background, *text_box))
        self.check(changed > 1.0 and lighter < 0.001,
                   f"text box shows the notice over the background (changed {changed:.2f}, lighter {lighter:.4f})")

        close_centre = button_centre(self.win, CLOSE)
        gui.move_pointer(*close_centre)
        gui.save(self.wait_button(CLOSE, self.close_lit, "Close lit under the pointer"), "06-close-hover.png")
        self.check(True, "Close shows bitmap 104 under the pointer")

        gui.click()
        code = gui.wait_for_exit(15)
        self.check(code == 0 and "closed" in gui.log().splitlines(), f"Close ends the window (exit code {code})")


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    add_common_arguments(ap)
    ap.add_argument("--exe", required=True, help="skin_demo.exe")
    ap.add_argument("--res", required=True, help="directory of the committed BMPs")
    args = ap.parse_args()

    return run_probe_test(SkinTest, args)


if __name__ == "__main__":
    sys.exit(main())
