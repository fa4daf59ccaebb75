"""The update window's layout in client pixels, and probes that tell its states apart in
a screenshot by comparing regions with the committed bitmaps."""
import os

from PIL import Image

from gui_session import mean_difference, region

WIDTH, HEIGHT = 512, 415        # the window: bitmap 107's size
BORDER = 1                      # WS_BORDER: the client area starts one pixel in
INFO = (30, 70, 450, 230)       # text box, client pixels
SCROLLBAR = 20                  # the text box's own scroll bar at its right edge (system-drawn)
INFO_TEXT = (INFO[0], INFO[1], INFO[2] - SCROLLBAR, INFO[3])  # the box without its scroll bar
PROGRESS = (30, 340, 300, 50)
CANCEL = (335, 342)
BUTTON = (154, 46)
CLOSE = ((WIDTH - 2 * BORDER - BUTTON[0]) // 2, 340)  # centred: x 178
FOCUS_INSET = 2                 # the focus rectangle may be drawn on a button's outer pixels

SAME = 2.0                      # mean difference of a region that shows a given image
DIFFERENT = 12.0                # ... and of one that clearly does not


def client(shot):
    return shot.crop((BORDER, BORDER, WIDTH - BORDER, HEIGHT - BORDER))


def button_centre(win, place):
    """A button's centre on the screen."""
    return win.x + BORDER + place[0] + BUTTON[0] // 2, win.y + BORDER + place[1] + BUTTON[1] // 2


def point_at_button(gui, win, skin, place, timeout=30):
    """Puts the pointer on Cancel or Close; the screenshot once the button shows it lit (a
    click sent sooner can reach the window before the button tracks the pointer)."""
    gui.move_pointer(*button_centre(win, place))
    lit, name = (skin.close_lit, "Close") if place == CLOSE else (skin.cancel_lit, "Cancel")
    return gui.wait_for_shot(win, lambda shot: skin.shows(shot, place, lit), f"{name} lit", timeout)


class Skin:
    """The committed bitmaps of res/, as the window shows them."""

    def __init__(self, res_dir):
        load = lambda name: Image.open(os.path.join(res_dir, name)).convert("RGB")
        self.background = load("background.bmp").crop((0, 0, WIDTH - 2 * BORDER, HEIGHT - 2 * BORDER))
        self.cancel, self.cancel_lit = load("cancel.bmp"), load("cancel_lit.bmp")
        self.close, self.close_lit = load("close.bmp"), load("close_lit.bmp")

    @staticmethod
    def button_diff(shot, place, image):
        x, y = place
        return mean_difference(region(client(shot), x, y, *BUTTON, inset=FOCUS_INSET),
                               region(image, 0, 0, *BUTTON, inset=FOCUS_INSET))

    def shows(self, shot, place, image):
        return self.button_diff(shot, place, image) < SAME

    def background_diff(self, shot, box):
        x, y, w, h = box
        return mean_difference(region(client(shot), x, y, w, h), region(self.background, x, y, w, h))

    def error_notice(self, shot):
        """Close (plain or lit) in its place: the error notice state."""
        return self.shows(shot, CLOSE, self.close) or self.shows(shot, CLOSE, self.close_lit)

    def transferring(self, shot):
        return self.shows(shot, CANCEL, self.cancel) or self.shows(shot, CANCEL, self.cancel_lit)
