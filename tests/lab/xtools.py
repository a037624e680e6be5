"""A private Xvfb and the X command-line tools (xwininfo, xdotool, import) pointed at it, for
scripts that look at the program's windows from the outside, as a screenshot would."""

import os
import re
import subprocess

from lab import wait_until


class Display:
    def __init__(self, tmp, title, first=90):
        """Starts Xvfb on the first free display number from `first`; `title` picks the
        program's windows out of the others."""
        for n in range(first, first + 50):
            if not os.path.exists(f"/tmp/.X11-unix/X{n}") and not os.path.exists(f"/tmp/.X{n}-lock"):
                break
        self.name = f":{n}"
        self.title = title
        # -noreset: by default the server starts over whenever its last client leaves (here the
        # probe below), and a client connecting meanwhile is refused.
        self.proc = subprocess.Popen(["Xvfb", self.name, "-noreset", "-screen", "0", "1024x768x24", "-nolisten",
                                      "tcp"],
                                     stdout=subprocess.DEVNULL, stderr=open(os.path.join(tmp, "xvfb.log"), "w"))
        if not wait_until(lambda: self.windows() is not None, 10, 0.1):
            raise SystemExit("Xvfb did not start")

    def run(self, *args):
        return subprocess.run(list(args), env=dict(os.environ, DISPLAY=self.name), capture_output=True, text=True,
                              timeout=20)

    def windows(self):
        """Visible top-level windows of the program's title: [(id, (w, h))]; None while the
        server does not answer."""
        try:
            out = self.run("xwininfo", "-root", "-children")
        except Exception:
            return None
        if out.returncode != 0:
            return None
        found = []
        for line in out.stdout.splitlines():
            m = re.match(r'\s+(0x[0-9a-f]+) "([^"]*)".*?\s(\d+)x(\d+)\+', line)
            if m and m.group(2) == self.title and "Map State: IsViewable" in self.run("xwininfo", "-id",
                                                                                      m.group(1)).stdout:
                found.append((m.group(1), (int(m.group(3)), int(m.group(4)))))
        return found

    def find(self, size=None, other_than=()):
        for wid, s in self.windows() or []:
            if (size is None and s not in other_than) or s == size:
                return wid
        return None

    def key(self, wid, key):
        self.run("xdotool", "windowfocus", "--sync", wid)
        self.run("xdotool", "key", "--clearmodifiers", key)

    def click(self, wid, x, y):
        """A left click at (x, y) inside the window."""
        self.run("xdotool", "mousemove", "--window", wid, str(x), str(y))
        self.run("xdotool", "click", "1")

    def shot(self, path):
        self.run("import", "-window", "root", path)

    def geometry(self, wid):
        """(x, y, w, h) of a window on the screen."""
        out = self.run("xwininfo", "-id", wid).stdout
        val = lambda key: int(re.search(key + r":\s+(-?\d+)", out).group(1))  # noqa: E731
        return val("Absolute upper-left X"), val("Absolute upper-left Y"), val("Width"), val("Height")

    def stop(self):
        self.proc.terminate()
        self.proc.wait(5)
