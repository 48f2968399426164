"""A private X display and the keyboard and mouse on it, driven with xdotool.

Every wait is bounded: a window that never comes, a program that never ends, raise Failure.
"""

import os
import shutil
import signal
import subprocess
import tempfile
import time


KEY_NAMES = {" ": "space", "-": "minus", ".": "period", "@": "at", "/": "slash", ":": "colon", "_": "underscore",
             ",": "comma", "+": "plus", "=": "equal", "(": "parenleft", ")": "parenright", "#": "numbersign",
             "'": "apostrophe", '"': "quotedbl", ";": "semicolon", "&": "ampersand", "*": "asterisk",
             "!": "exclam", "?": "question", "%": "percent", "~": "asciitilde"}


class Failure(Exception):
    pass


def run(args, timeout=60, env=None, check=True, input=None):
    try:
        done = subprocess.run(args, capture_output=True, timeout=timeout, env=env, input=input)
    except subprocess.TimeoutExpired:
        raise Failure(f"{args[0]} took longer than {timeout} s: {' '.join(map(str, args))}")
    if check and done.returncode != 0:
        raise Failure(f"{' '.join(map(str, args))} ended with {done.returncode}: "
                      f"{done.stderr.decode(errors='replace').strip()}")
    return done


def stop_process(process, wait=10):
    """Ends a started process: asked first, killed when it does not go within `wait` seconds."""
    if process and process.poll() is None:
        process.terminate()
        try:
            process.wait(wait)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait(wait)


class Display:
    """Xvfb on a display number the server picks itself (-displayfd), so runs never collide."""

    def __init__(self, width=1280, height=1024):
        self.size = (width, height)
        self.process = None
        self.name = None
        self._clipboard = None

    def __enter__(self):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{self.size[0]}x{self.size[1]}x24",
             "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + 20
        os.set_blocking(read_end, False)
        while not number.endswith(b"\n"):
            if time.monotonic() > deadline or self.process.poll() is not None:
                os.close(read_end)
                self.close()
                raise Failure("Xvfb did not start within 20 s")
            try:
                chunk = os.read(read_end, 16)
                if not chunk:
                    time.sleep(0.05)
                number += chunk
            except BlockingIOError:
                time.sleep(0.05)
        os.close(read_end)
        self.name = ":" + number.decode().strip()
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        self.stop_clipboard()
        stop_process(self.process)

    def env(self):
        env = dict(os.environ)
        env["DISPLAY"] = self.name
        return env

    def xdotool(self, *args, timeout=30, check=True):
        return run(["xdotool", *map(str, args)], timeout=timeout, env=self.env(), check=check)

    # Windows -------------------------------------------------------------------------------

    def windows(self, title):
        """Visible windows whose title matches the regular expression `title`."""
        done = self.xdotool("search", "--onlyvisible", "--name", title, check=False)
        return [int(w) for w in done.stdout.split()]

    def title(self, window):
        done = self.xdotool("getwindowname", window, check=False)
        return done.stdout.decode(errors="replace").strip()

    def wait_window(self, title, timeout=20):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            found = self.windows(title)
            if found:
                time.sleep(0.3)  # let it take the focus and paint
                return found[-1]
            time.sleep(0.1)
        raise Failure(f"no window titled /{title}/ within {timeout} s; visible: {self.visible_titles()}")

    def wait_gone(self, window, timeout=20):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if window not in self.windows("."):
                return
            time.sleep(0.1)
        raise Failure(f"window '{self.title(window)}' still open after {timeout} s")

    def visible_titles(self):
        return [self.title(w) for w in self.windows(".")]

    def geometry(self, window):
        out = self.xdotool("getwindowgeometry", "--shell", window).stdout.decode()
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])

    def focus(self, window):
        self.xdotool("windowfocus", "--sync", window, check=False)
        time.sleep(0.1)

    # Keyboard and mouse ------------------------------------------------------------------

    def key(self, *keys, pause=0.1):
        # One xdotool for the lot, a short gap between the keys, a pause after.
        if not keys:
            return
        self.xdotool("key", "--clearmodifiers", "--delay", "60", *keys)
        time.sleep(pause)

    def type(self, text):
        """Types `text` into the focused field. Anything beyond ASCII is pasted from the clipboard,
        which the toolkit takes as one string whatever the keyboard map."""
        if text and text.isascii() and text.isprintable():
            # Key by key from the keyboard map as it is: "xdotool type" remaps keys for a moment,
            # and a key sent while the toolkit reloads the map is lost.
            self.xdotool("key", "--clearmodifiers", "--delay", "20", *[KEY_NAMES.get(c, c) for c in text])
        elif text:
            self.paste(text)
        time.sleep(0.05)

    def paste(self, text):
        self.stop_clipboard()
        self._clipboard = subprocess.Popen(["xclip", "-selection", "clipboard", "-i", "-quiet"],
                                           stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                           stderr=subprocess.DEVNULL, env=self.env(), start_new_session=True)
        self._clipboard.stdin.write(text.encode())
        self._clipboard.stdin.close()
        # xclip owns the selection once it has read its input
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            got = run(["xclip", "-selection", "clipboard", "-o"], env=self.env(), check=False, timeout=5)
            if got.returncode == 0 and got.stdout.decode(errors="replace") == text:
                break
            time.sleep(0.05)
        else:
            raise Failure("the clipboard did not take the text to paste")
        self.key("ctrl+v")

    def stop_clipboard(self):
        if self._clipboard and self._clipboard.poll() is None:
            self._clipboard.terminate()
            try:
                self._clipboard.wait(5)
            except subprocess.TimeoutExpired:
                self._clipboard.kill()
        self._clipboard = None

    def click(self, x, y, button=1, repeat=1):
        self.xdotool("mousemove", "--sync", x, y)
        time.sleep(0.1)
        self.xdotool("click", "--repeat", repeat, "--delay", 80, button)
        time.sleep(0.25)

    def screenshot(self, path):
        run(["import", "-display", self.name, "-window", "root", path], timeout=30, env=self.env(), check=False)
        return path
