#!/usr/bin/env python3
"""Quarnel used as a person would: on a virtual display, with the mouse and the keyboard.

Opens the bundled sample through the Browse dialog, types search and replace patterns, picks
Big and a format with the mouse, searches, saves the result through the Save dialog and
compares the saved file with what quarnel-cli prints for the same search.

usage: e2e_test.py BUILD_DIR SOURCE_DIR [--screenshot PNG]
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

TIMEOUT = 20.0

# Client-area centres of the controls this test touches (x + width / 2, y + height / 2).
BROWSE = (37, 13)
SEARCH_BOX = (400, 89)
REPLACE_BOX = (400, 195)
ENDIAN_BIG = (52, 69)
FORMAT_OFFSET = (117, 303)
FORMAT_PNACH = (177, 303)
SEARCH_BUTTON = (265, 514)
SAVE_BUTTON = (329, 514)

# The sample's patterns written word by word, as "Big" reads them.
SEARCH_TEXT = "24090003 ; lives at start\n2442FFFF ; a hit\n3C08xxxx ; the record"
REPLACE_TEXT = "24090063\n24420000\n3C08xxxx"


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def wait_for(what, condition, timeout=TIMEOUT):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.05)
    fail("timed out waiting for " + what)


class Display:
    """A private Xvfb, so that nothing else on the screen gets the clicks."""

    def __init__(self):
        read_end, write_end = os.pipe()
        self.server = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
            pass_fds=[write_end], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            number = pipe.readline().strip()
        if not number:
            self.server.kill()
            fail("Xvfb did not start")
        self.name = ":" + number
        self.env = dict(os.environ, DISPLAY=self.name)
        self.env.pop("WAYLAND_DISPLAY", None)

    def close(self):
        self.server.terminate()
        self.server.wait()


class Session:
    def __init__(self, display):
        self.env = display.env

    def xdotool(self, *args):
        result = subprocess.run(["xdotool", *args], env=self.env, capture_output=True, text=True,
                                timeout=TIMEOUT)
        return result.stdout.strip()

    def visible_windows(self):
        out = self.xdotool("search", "--onlyvisible", "--name", ".*")
        return set(out.split()) if out else set()

    def click(self, window, point):
        self.xdotool("mousemove", "--window", window, str(point[0]), str(point[1]))
        self.xdotool("click", "1")

    def type_text(self, text):
        for line_number, line in enumerate(text.split("\n")):
            if line_number > 0:
                self.xdotool("key", "Return")
            if line:
                self.xdotool("type", "--delay", "5", line)

    def new_window(self, known):
        return wait_for("a dialog", lambda: next(iter(self.visible_windows() - known), None))

    def answer_file_dialog(self, known, path, replace_name):
        dialog = self.new_window(known)
        self.xdotool("windowfocus", "--sync", dialog)
        if replace_name:
            self.xdotool("key", "ctrl+a")
        else:
            # A leading "/" opens the chooser's location entry.
            pass
        self.type_text(path)
        time.sleep(0.3)  # the location entry completes names while typing
        self.xdotool("key", "Return")
        wait_for("the dialog to close", lambda: dialog not in self.visible_windows())


def main():
    if len(sys.argv) < 3:
        fail(__doc__)
    build, source = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    screenshot = None
    if len(sys.argv) == 5 and sys.argv[3] == "--screenshot":
        screenshot = os.path.abspath(sys.argv[4])
    program = os.path.join(build, "quarnel")
    cli = os.path.join(build, "quarnel-cli")
    sample = os.path.join(source, "samples", "sample.elf")
    for path in (program, cli, sample):
        if not os.path.exists(path):
            fail("missing " + path)
    for tool in ("Xvfb", "xdotool"):
        if shutil.which(tool) is None:
            fail(tool + " is not installed")

    work = tempfile.mkdtemp(prefix="quarnel-e2e-")
    display = Display()
    app = None
    try:
        session = Session(display)
        app = subprocess.Popen([program], cwd=work, env=display.env)
        window = wait_for("the main window", lambda: session.xdotool(
            "search", "--onlyvisible", "--name", "^Quarnel$").split()[:1])[0]
        session.xdotool("windowfocus", "--sync", window)

        known = session.visible_windows()
        session.click(window, BROWSE)
        session.answer_file_dialog(known, sample, replace_name=False)

        session.click(window, SEARCH_BOX)
        session.type_text(SEARCH_TEXT)
        session.click(window, REPLACE_BOX)
        session.type_text(REPLACE_TEXT)
        session.click(window, ENDIAN_BIG)
        session.click(window, FORMAT_OFFSET)
        session.click(window, FORMAT_PNACH)
        session.click(window, SEARCH_BUTTON)

        # Save is disabled while the search runs; a click then opens nothing, so keep asking.
        saved = os.path.join(work, "result.PNACH")
        known = session.visible_windows()
        deadline = time.monotonic() + TIMEOUT
        while True:
            session.click(window, SAVE_BUTTON)
            try:
                dialog = wait_for("the save dialog",
                                  lambda: next(iter(session.visible_windows() - known), None), 1.0)
                break
            except SystemExit:
                if time.monotonic() > deadline:
                    raise
        del dialog
        session.answer_file_dialog(known, saved, replace_name=True)
        wait_for("the saved file", lambda: os.path.exists(saved))

        if screenshot:
            subprocess.run(["import", "-window", window, screenshot], env=display.env, check=True,
                           timeout=TIMEOUT)

        search_file = os.path.join(work, "search.txt")
        replace_file = os.path.join(work, "replace.txt")
        with open(search_file, "w") as f:
            f.write(SEARCH_TEXT)
        with open(replace_file, "w") as f:
            f.write(REPLACE_TEXT)
        expected = subprocess.run(
            [cli, "--endian", "big", "--format", "pnach", "--search", search_file, "--replace",
             replace_file, sample], capture_output=True, timeout=TIMEOUT).stdout
        with open(saved, "rb") as f:
            actual = f.read()
        if b"patch=1,EE," not in expected:
            fail("quarnel-cli found nothing to patch: %r" % expected)
        if actual != expected:
            fail("saved result differs from quarnel-cli:\n%r\n%r" % (actual, expected))
        print("ok: %d bytes saved, equal to quarnel-cli's output" % len(actual))
    finally:
        if app is not None:
            app.terminate()
            try:
                app.wait(timeout=5)
            except subprocess.TimeoutExpired:
                app.kill()
        display.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
