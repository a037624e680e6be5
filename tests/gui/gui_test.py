#!/usr/bin/env python3
"""Drives orvane-softphone in real X11 windows under Xvfb (no window manager), telling its windows
apart by size: the main window is 285 x 473, the login window 289 x 300, message boxes are
anything else with the program's title."""

import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "lab"))
from lab import check, failures, wait_until  # noqa: E402
from xtools import Display  # noqa: E402

MAIN = (285, 473)
LOGIN = (289, 300)
BOOK = LOG = (289, 412)  # the phone book and the call history window share a size
TITLE = "Orvane Softphone"

def pixel(path, x, y):
    """The colour of one pixel of a PNG as hex RGB ("1A2B3C"), None when it cannot be read."""
    out = subprocess.run(["convert", path, "-crop", f"1x1+{x}+{y}", "+repage", "-depth", "8", "txt:-"],
                         capture_output=True, text=True).stdout
    m = re.search(r"#([0-9A-Fa-f]{6})", out)
    return m.group(1).upper() if m else None


def dlu(x, y):
    """Dialog units of the window templates to pixels."""
    return (x * 6 + 2) // 4, (y * 13 + 4) // 8


def check_shaped_window(disp, main_wid, button, name, shots, tmp):
    """Opens a secondary window from a button of the main window and checks that it shows, cut to its
    skin: its corners show what was behind it, its middle is the window's own."""
    before = os.path.join(tmp, f"before-{name}.png")
    disp.shot(before)
    bx, by = dlu(*button)
    disp.click(main_wid, bx + 8, by + 8)
    wid = wait_until(lambda: disp.find(BOOK), 10, 0.1)
    if not check(wid is not None, f"the {name} window opens from its button ({BOOK[0]}x{BOOK[1]})"):
        return
    time.sleep(0.5)
    after = os.path.join(shots, f"{name}.png")
    disp.shot(after)
    x, y, w, h = disp.geometry(wid)
    corners = [(x, y), (x + w - 1, y), (x, y + h - 1), (x + w - 1, y + h - 1)]
    check(all(pixel(before, *c) == pixel(after, *c) for c in corners),
          f"the {name} window is cut to its skin: its corners show what lies behind")
    check(pixel(before, x + w // 2, y + h // 2) != pixel(after, x + w // 2, y + h // 2),
          f"the {name} window draws its middle")
    disp.key(wid, "Escape")
    check(wait_until(lambda: disp.find(BOOK) is None, 10, 0.1), f"Escape closes the {name} window")



def main():
    binary = sys.argv[1]
    shots = os.environ.get("ORVANE_SHOTS") or os.path.join(os.path.dirname(os.path.abspath(binary)), "gui-shots")
    os.makedirs(shots, exist_ok=True)
    tmp = tempfile.mkdtemp(prefix="orvane-gui-")
    disp = Display(tmp, TITLE)
    procs = []

    nopulse = os.path.join(tmp, "client.conf")
    with open(nopulse, "w") as f:
        f.write("autospawn = no\n")

    def env(pulse=None):
        e = dict(os.environ)
        e.update(DISPLAY=disp.name, QT_QPA_PLATFORM="xcb", XDG_CONFIG_HOME=os.path.join(tmp, "config"),
                 XDG_DATA_HOME=os.path.join(tmp, "data"), XDG_RUNTIME_DIR=os.path.join(tmp, "run"),
                 PULSE_CLIENTCONFIG=nopulse, PULSE_SERVER=pulse or "unix:" + os.path.join(tmp, "no-such-socket"))
        e.pop("ORVANE_SIP_SERVER", None)
        return e

    os.makedirs(os.path.join(tmp, "run"), mode=0o700, exist_ok=True)

    def start(pulse=None):
        p = subprocess.Popen([binary], env=env(pulse), stdout=open(os.path.join(tmp, "app.log"), "a"),
                             stderr=subprocess.STDOUT)
        procs.append(p)
        return p

    try:
        # No sound server: the sound message, then the main window without a login window.
        first = start()
        box = wait_until(lambda: disp.find(other_than=(MAIN, LOGIN)), 20, 0.1)
        check(box is not None, "without a sound server a message box is shown first")
        disp.shot(os.path.join(shots, "no-sound-message.png"))
        if box:
            disp.key(box, "Return")
        main_wid = wait_until(lambda: disp.find(MAIN), 20, 0.1)
        check(main_wid is not None, f'a {MAIN[0]}x{MAIN[1]} window titled "{TITLE}" opens')
        check(disp.find(LOGIN) is None, "no login window without a sound device")
        disp.shot(os.path.join(shots, "main-window.png"))

        # The phone book (button 1038) and the call history window (button 1085).
        if main_wid:
            check_shaped_window(disp, main_wid, (113, 175), "phone-book", shots, tmp)
            check_shaped_window(disp, main_wid, (113, 193), "call-history", shots, tmp)

        # A second start shows its message and ends; the first keeps running.
        second = start()
        box2 = wait_until(lambda: disp.find(other_than=(MAIN, LOGIN)), 20, 0.1)
        check(box2 is not None, "a second start shows a message box")
        disp.shot(os.path.join(shots, "second-instance.png"))
        if box2:
            disp.key(box2, "Return")
        try:
            rc = second.wait(10)
        except subprocess.TimeoutExpired:
            rc = None
        check(rc == 0, "the second start ends after its message")
        check(first.poll() is None and disp.find(MAIN) is not None, "the first instance keeps running")

        # A crashed instance does not block the next start.
        first.send_signal(signal.SIGKILL)
        first.wait(5)
        wait_until(lambda: disp.find(MAIN) is None, 5, 0.1)
        third = start()
        box3 = wait_until(lambda: disp.find(other_than=(MAIN, LOGIN)), 20, 0.1)
        if box3:
            disp.key(box3, "Return")
        check(wait_until(lambda: disp.find(MAIN), 20, 0.1) is not None, "after a crash the next start opens its main window")
        check(third.poll() is None, "and keeps running")
        third.terminate()
        third.wait(10)

        # With a sound server (a private PulseAudio with null sinks) the login window opens first;
        # cancelling it ends the program.
        pulse_sock = os.path.join(tmp, "pulse.sock")
        pulse = subprocess.Popen(
            ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no", "--log-target=stderr",
             "-L", f"module-native-protocol-unix socket={pulse_sock} auth-anonymous=1",
             "-L", "module-null-sink sink_name=spk", "-L", "module-null-sink sink_name=micsink"],
            env=dict(os.environ, XDG_RUNTIME_DIR=os.path.join(tmp, "run")), stdout=subprocess.DEVNULL,
            stderr=open(os.path.join(tmp, "pulse.log"), "w"))
        procs.append(pulse)
        wait_until(lambda: os.path.exists(pulse_sock), 10, 0.1)
        subprocess.run(["pactl", "-s", "unix:" + pulse_sock, "set-default-source", "micsink.monitor"],
                       capture_output=True)
        fourth = start("unix:" + pulse_sock)
        login = wait_until(lambda: disp.find(LOGIN), 30, 0.1)
        check(login is not None, "with a sound server the login window opens")
        check(disp.find(MAIN) is None, "before the main window")
        disp.shot(os.path.join(shots, "login-window.png"))
        if login:
            disp.key(login, "Escape")
        try:
            rc = fourth.wait(15)
        except subprocess.TimeoutExpired:
            rc = None
        check(rc == 0, "cancelling the start-up login ends the program")
    finally:
        for p in procs:
            if p.poll() is None:
                p.kill()
                p.wait(5)
        disp.stop()
        if failures:
            for log in ("app.log", "pulse.log"):
                path = os.path.join(tmp, log)
                if os.path.exists(path):
                    print(f"--- {log}\n" + open(path).read()[-3000:])
        shutil.rmtree(tmp, ignore_errors=True)

    print(f"screenshots in {shots}")
    if failures:
        print(f"{len(failures)} GUI check(s) failed")
        sys.exit(1)


if __name__ == "__main__":
    main()
