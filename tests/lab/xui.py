"""Drives a program's real X11 windows as a user would: XTEST key presses and mouse clicks, and
the moment a window appears (its MapNotify, received as it happens, not polled).

There is no window manager under Xvfb, so top-level windows are children of the root window and
their geometry is their place on the screen; giving a window the keyboard focus is what a click
on it would do under a window manager."""

import select
import time

from Xlib import X, XK, display as xdisplay, error as xerror
from Xlib.ext import xtest


class Screen:
    def __init__(self, name):
        self.d = xdisplay.Display(name)
        if not self.d.has_extension("XTEST"):
            raise RuntimeError("the X server has no XTEST extension")
        self.root = self.d.screen().root
        self.root.change_attributes(event_mask=X.SubstructureNotifyMask)
        self.d.sync()
        self.mapped = []  # (time, window id) in order of appearance

    def close(self):
        try:
            self.d.close()
        except Exception:
            pass

    # -- windows ---------------------------------------------------------------------------------

    def _pump(self, timeout):
        """Reads X events for up to `timeout` seconds, noting each top-level map as it arrives."""
        end = time.time() + timeout
        while True:
            while self.d.pending_events():
                ev = self.d.next_event()
                if ev.type == X.MapNotify and ev.event == self.root:
                    self.mapped.append((time.time(), ev.window.id))
            left = end - time.time()
            if left <= 0:
                return
            select.select([self.d], [], [], min(left, 0.05))

    def info(self, wid):
        """(title, width, height, x, y, viewable) or None when the window is gone."""
        w = self.d.create_resource_object("window", wid)
        try:
            g = w.get_geometry()
            a = w.get_attributes()
            name = w.get_full_text_property(self.d.intern_atom("_NET_WM_NAME")) or w.get_wm_name() or ""
        except (xerror.BadWindow, xerror.BadDrawable, xerror.BadMatch):
            return None
        return name, g.width, g.height, g.x, g.y, a.map_state == X.IsViewable

    def wait_window(self, title, size, since, timeout, alive=None):
        """(time it was mapped, window id) of the first window of that title and size mapped at
        or after `since`; None after `timeout` seconds, or as soon as alive() says the program
        has ended."""
        end = time.time() + timeout
        seen = 0
        while True:
            for i in range(seen, len(self.mapped)):
                t, wid = self.mapped[i]
                if t < since:
                    continue
                inf = self.info(wid)
                if inf and inf[0] == title and (inf[1], inf[2]) == tuple(size) and inf[5]:
                    return t, wid
            seen = len(self.mapped)
            if time.time() >= end or (alive is not None and not alive()):
                return None
            self._pump(min(0.05, max(0.0, end - time.time())))

    def visible(self, title, size=None, other_than=()):
        """Ids of viewable top-level windows of that title (and size, or not of the sizes given)."""
        self._pump(0)
        out = []
        for w in self.root.query_tree().children:
            inf = self.info(w.id)
            if not inf or inf[0] != title or not inf[5]:
                continue
            s = (inf[1], inf[2])
            if (size is not None and s == tuple(size)) or (size is None and s not in other_than):
                out.append(w.id)
        return out

    # -- input -----------------------------------------------------------------------------------

    def focus(self, wid):
        w = self.d.create_resource_object("window", wid)
        w.set_input_focus(X.RevertToParent, X.CurrentTime)
        self.d.sync()

    def _keycode(self, keysym):
        codes = list(self.d.keysym_to_keycodes(keysym))
        if not codes:
            raise RuntimeError("no key for keysym %#x" % keysym)
        # Prefer the unshifted position of the keysym.
        codes.sort(key=lambda c: c[1])
        return codes[0]

    def key(self, name, delay=0.0):
        """Presses and releases a key by X keysym name ("Return", "Tab") or character."""
        keysym = XK.string_to_keysym(name)
        if keysym == 0 and len(name) == 1:
            keysym = ord(name)
        code, index = self._keycode(keysym)
        shift = self.d.keysym_to_keycode(XK.XK_Shift_L) if index % 2 == 1 else None
        if shift:
            xtest.fake_input(self.d, X.KeyPress, shift)
        xtest.fake_input(self.d, X.KeyPress, code)
        xtest.fake_input(self.d, X.KeyRelease, code)
        if shift:
            xtest.fake_input(self.d, X.KeyRelease, shift)
        self.d.sync()
        if delay:
            time.sleep(delay)

    def type(self, text, delay=0.03):
        names = {"-": "minus", ".": "period", "@": "at", "_": "underscore", " ": "space", "*": "asterisk",
                 "#": "numbersign", ":": "colon", "+": "plus", "&": "ampersand", "<": "less", ">": "greater",
                 '"': "quotedbl", "'": "apostrophe", "%": "percent", "=": "equal"}
        for c in text:
            self.key(names.get(c, c), delay)

    def click(self, wid, x, y):
        """A left click at (x, y) inside the window."""
        inf = self.info(wid)
        if inf is None:
            raise RuntimeError("window %#x is gone" % wid)
        ax, ay = inf[3] + x, inf[4] + y
        xtest.fake_input(self.d, X.MotionNotify, x=ax, y=ay)
        self.d.sync()
        time.sleep(0.05)
        xtest.fake_input(self.d, X.ButtonPress, 1)
        self.d.sync()
        time.sleep(0.05)
        xtest.fake_input(self.d, X.ButtonRelease, 1)
        self.d.sync()
