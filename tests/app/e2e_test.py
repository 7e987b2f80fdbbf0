#!/usr/bin/env python3
"""Quarnel used as a person would, on a private Xvfb with xdotool; the saved PNACH file must equal
quarnel-cli's output.  usage: e2e_test.py BUILD_DIR SOURCE_DIR [--screenshot PNG]"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

TIMEOUT = 20.0
# The first start of the program and of a file dialog loads GTK's modules, icon themes and
# folders; under the sanitizers on a busy machine that has taken longer than TIMEOUT.
DIALOG_TIMEOUT = 90.0
# Client-area centres of the controls this test touches.
BROWSE, SEARCH_BOX, REPLACE_BOX = (37, 13), (400, 89), (400, 195)
ENDIAN_BIG, FORMAT_OFFSET, FORMAT_PNACH = (52, 69), (117, 303), (177, 303)
SEARCH_BUTTON, SAVE_BUTTON = (265, 514), (329, 514)
SEARCH_TEXT = "24090003 ; lives at start\n2442FFFF ; a hit\n3C08xxxx ; the record"
REPLACE_TEXT = "24090063\n24420000\n3C08xxxx"


def fail(message):
    sys.exit("FAIL: " + message)


def wait_for(what, condition, timeout=TIMEOUT):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.05)
    fail("timed out waiting for " + what)


def main():
    if len(sys.argv) < 3:
        fail(__doc__)
    build, source = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    screenshot = os.path.abspath(sys.argv[4]) if sys.argv[3:4] == ["--screenshot"] else None
    sample = os.path.join(source, "samples", "sample.elf")
    work = tempfile.mkdtemp(prefix="quarnel-e2e-")
    read_end, write_end = os.pipe()
    server = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
        pass_fds=[write_end], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as pipe:
        env = dict(os.environ, DISPLAY=":" + pipe.readline().strip())
    env.pop("WAYLAND_DISPLAY", None)
    app = None

    def xdotool(*args):
        return subprocess.run(["xdotool", *args], env=env, capture_output=True, text=True,
                              timeout=TIMEOUT).stdout.strip()

    def windows():
        return set(xdotool("search", "--onlyvisible", "--name", ".*").split())

    def click(point):
        xdotool("mousemove", "--window", window, str(point[0]), str(point[1]))
        xdotool("click", "1")

    def click_for_dialog(point, known):
        # A click can land while the button is still insensitive (Save during a search) or
        # before the window takes input; a click while the modal dialog is up never reaches
        # the button, so clicking again is safe.
        deadline = time.monotonic() + DIALOG_TIMEOUT
        while time.monotonic() < deadline and app.poll() is None:
            click(point)
            attempt_end = min(deadline, time.monotonic() + 3.0)
            while time.monotonic() < attempt_end:
                dialog = next(iter(windows() - known), None)
                if dialog:
                    return dialog
                time.sleep(0.05)
        names = [xdotool("getwindowname", w) for w in sorted(windows())]
        fail("no dialog; Quarnel exit code %s, windows %r" % (app.poll(), names))

    def type_text(text):
        for number, line in enumerate(text.split("\n")):
            if number > 0:
                xdotool("key", "Return")
            if line:
                xdotool("type", "--delay", "5", line)

    def answer_file_dialog(dialog, path, replace_name):
        xdotool("windowfocus", "--sync", dialog)
        if replace_name:
            xdotool("key", "ctrl+a")
        type_text(path)  # a leading "/" opens the chooser's location entry
        time.sleep(0.3)  # the location entry completes names while typing
        xdotool("key", "Return")
        wait_for("the dialog to close", lambda: dialog not in windows())

    try:
        app = subprocess.Popen([os.path.join(build, "quarnel")], cwd=work, env=env)
        window = wait_for("the main window", lambda: xdotool(
            "search", "--onlyvisible", "--name", "^Quarnel$").split()[:1], DIALOG_TIMEOUT)[0]
        xdotool("windowfocus", "--sync", window)
        known = windows()
        answer_file_dialog(click_for_dialog(BROWSE, known), sample, False)
        click(SEARCH_BOX)
        type_text(SEARCH_TEXT)
        click(REPLACE_BOX)
        type_text(REPLACE_TEXT)
        for point in (ENDIAN_BIG, FORMAT_OFFSET, FORMAT_PNACH, SEARCH_BUTTON):
            click(point)
        saved = os.path.join(work, "result.PNACH")
        answer_file_dialog(click_for_dialog(SAVE_BUTTON, known), saved, True)
        wait_for("the saved file", lambda: os.path.exists(saved))
        if screenshot:
            subprocess.run(["import", "-window", window, screenshot], env=env, check=True,
                           timeout=TIMEOUT)

        for name, text in (("search.txt", SEARCH_TEXT), ("replace.txt", REPLACE_TEXT)):
            with open(os.path.join(work, name), "w") as f:
                f.write(text)
        expected = subprocess.run(
            [os.path.join(build, "quarnel-cli"), "--endian", "big", "--format", "pnach",
             "--search", "search.txt", "--replace", "replace.txt", sample],
            cwd=work, capture_output=True, timeout=TIMEOUT).stdout
        actual = open(saved, "rb").read()
        if b"patch=1,EE," not in expected or actual != expected:
            fail("saved result differs from quarnel-cli's:\n%r\n%r" % (actual, expected))
        print("ok: %d bytes saved, equal to quarnel-cli's output" % len(actual))
    finally:
        for process in (app, server):
            if process is not None:
                process.kill()
                process.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
