#!/usr/bin/python3
"""Links end to end, with the real program in real windows under Xvfb against real peers
(kamailio, SIPp, PulseAudio, the HTTPS billing stub): --help and --version without a display; a
second start with a tel: link, made by xdg-open through the program's own desktop entry (as a
click on a link in a browser does), hands it to the running phone, which calls the number through
kamailio to SIPp and, once connected, sends the post-dial digits as RFC 4733 events after the
pauses; SIGTERM then ends the call, logs off and ends the program.

    link_test.py <orvane-softphone>
"""

import os
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "lab"))

from lab import LAB, Lab, LabError, check, failures, Proc, free_port, tail, udp_port_bound, wait_until  # noqa: E402
from xui import Screen  # noqa: E402

TITLE = "Orvane Softphone"
LOGIN = (289, 300)
MAIN = (285, 473)
class RtpListener:
    """The far end's media port: records when the phone's voice starts and the RFC 4733 digits
    (payload type 101, as the answering scenario offers), each at its end packet."""

    DIGITS = "0123456789*#"

    def __init__(self):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.setblocking(False)
        self.port = self.sock.getsockname()[1]
        self.first_voice = None
        self.digits = []  # (time, digit)
        self._ended = set()

    def poll(self):
        while True:
            try:
                packet = self.sock.recv(2048)
            except BlockingIOError:
                return
            if len(packet) < 16:
                continue
            pt = packet[1] & 0x7F
            timestamp = struct.unpack("!I", packet[4:8])[0]
            payload = packet[12:]
            if pt == 101:
                event, flags = payload[0], payload[1]
                if flags & 0x80 and timestamp not in self._ended and event < len(self.DIGITS):
                    self._ended.add(timestamp)
                    self.digits.append((time.time(), self.DIGITS[event]))
            elif self.first_voice is None:
                self.first_voice = time.time()


def main():
    binary = os.path.abspath(sys.argv[1])
    run = tempfile.mkdtemp(prefix="orvane-links-")
    lab = Lab(run)
    screen = None
    try:
        # Help and version answer on a terminal without a display, and exit 0.
        bare = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        for option, expected in (("--help", "Usage: orvane-softphone"), ("--version", "orvane-softphone ")):
            r = subprocess.run([binary, option], env=bare, capture_output=True, text=True, timeout=10)
            check(r.returncode == 0 and r.stdout.startswith(expected), f"{option} prints and exits 0 without a display")
        r = subprocess.run([binary, "--no-such-option"], env=bare, capture_output=True, text=True, timeout=10)
        check(r.returncode != 0 and "no-such-option" in r.stderr, "an unknown option is refused with a clear error")

        rtp = RtpListener()
        lab.uas_port = free_port()
        lab.media_port = 0
        sipp_messages = os.path.join(run, "sipp-messages.log")
        sipp = Proc(lab, "sipp", [
            "sipp", "-sf", os.path.join(LAB, "sipp", "uas_answer.xml"), "-i", "127.0.0.1", "-p", str(lab.uas_port),
            "-mi", "127.0.0.1", "-mp", str(free_port()), "-set", "mport", str(rtp.port), "-m", "1", "-nostdin",
            "-timeout", "60s", "-timeout_error", "-trace_msg", "-message_file", sipp_messages])
        if not wait_until(lambda: not sipp.alive() or udp_port_bound(lab.uas_port), 10) or not sipp.alive():
            raise LabError("SIPp did not start", [sipp.log])
        lab.start_kamailio([("alice", "alice-secret")])
        lab.start_pulse()
        lab.start_billing()
        lab.start_xvfb()
        screen = Screen(lab.display)

        home = os.path.join(run, "home")
        for sub in ("config", "data", "runtime"):
            os.makedirs(os.path.join(home, sub), mode=0o700, exist_ok=True)
        env = {k: v for k, v in os.environ.items() if not k.startswith(("ORVANE_", "QT_"))}
        env.update(lab.pulse_env, DISPLAY=lab.display, QT_QPA_PLATFORM="xcb",
                   XDG_CONFIG_HOME=os.path.join(home, "config"), XDG_DATA_HOME=os.path.join(home, "data"),
                   XDG_RUNTIME_DIR=os.path.join(home, "runtime"),
                   ORVANE_SIP_SERVER="127.0.0.1:%d" % lab.sip_port,
                   ORVANE_BILLING_HOST="127.0.0.1:%d" % lab.billing_port, ORVANE_CA_FILE=lab.ca_file)

        # The phone, logged in through its login window.
        started = time.time()
        phone = Proc(lab, "phone", [binary], env=env)
        login = screen.wait_window(TITLE, LOGIN, started, 30, phone.alive)
        if not check(login is not None, "the phone opens its login window"):
            raise LabError("no login window", [phone.log])
        screen.focus(login[1])
        screen.type("alice")
        screen.key("Tab")
        screen.type("alice-secret")
        screen.key("Return")
        check(wait_until(lambda: lab.balance_queries() > 0, 15, 0.1), "the phone registers (its balance is asked for)")

        # A link opened the desktop's way: xdg-open finds the handler of tel: links in the desktop
        # entries (ours, pointed at this binary) and starts it; the second start hands the link
        # over and ends quietly.
        apps = os.path.join(home, "data", "applications")
        os.makedirs(apps, exist_ok=True)
        with open(os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                               "packaging", "com.orvanephone.Softphone.desktop")) as f:
            entry = f.read().replace("Exec=orvane-softphone ", "Exec=%s " % binary)
        with open(os.path.join(apps, "com.orvanephone.Softphone.desktop"), "w") as f:
            f.write(entry)
        subprocess.run(["update-desktop-database", apps], check=True, timeout=20)
        xdg_env = {k: v for k, v in env.items() if k not in ("XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "BROWSER")}
        xdg_env["XDG_DATA_DIRS"] = "/nonexistent"  # only our entry can answer
        before = set(screen.visible(TITLE))
        second = subprocess.run(["xdg-open", "tel:+4021,,55#"], env=xdg_env, capture_output=True, text=True,
                                timeout=20)
        check(second.returncode == 0, "xdg-open hands the link to a second start, which ends with 0 (%s)"
              % (second.stderr.strip() or "no error"))
        check(set(screen.visible(TITLE)) <= before, "and opens no window of its own")

        def connected():
            rtp.poll()
            return rtp.first_voice is not None

        check(wait_until(connected, 15, 0.02), "the link's call connects and carries voice")
        with open(sipp_messages, errors="replace") as f:
            check("INVITE sip:+4021@" in f.read(), "SIPp got an INVITE for the link's number alone")

        def three_digits():
            rtp.poll()
            return len(rtp.digits) >= 3

        wait_until(three_digits, 15, 0.02)
        digits = "".join(d for _, d in rtp.digits)
        check(digits == "55#", f"the post-dial digits arrive as RFC 4733 events ({digits!r})")
        if rtp.digits and rtp.first_voice:
            delay = rtp.digits[0][0] - rtp.first_voice
            check(3.5 <= delay <= 8.0, f"after the two 2-second pauses ({delay:.1f} s after the call connected)")

        # SIGTERM, as at the end of a desktop session: the call ends (SIPp's scenario completes
        # only with the BYE), the phone logs off and ends.
        phone.popen.send_signal(signal.SIGTERM)
        try:
            rc = phone.popen.wait(15)
        except subprocess.TimeoutExpired:
            rc = None
        check(rc == 0, "SIGTERM ends the phone with 0")
        try:
            src = sipp.popen.wait(15)
        except subprocess.TimeoutExpired:
            src = None
        check(src == 0, "the call was ended with a BYE first")
    except LabError as e:
        check(False, str(e))
        for log in e.logs:
            print(f"--- {log}\n{tail(log)}")
    finally:
        if screen:
            screen.close()
        lab.stop_all()
        if failures:
            for name in ("phone.log", "sipp.log", "kamailio.log"):
                path = os.path.join(run, name)
                if os.path.exists(path):
                    print(f"--- {name}\n{tail(path, 40)}")
        shutil.rmtree(run, ignore_errors=True)
    if failures:
        print(f"{len(failures)} link check(s) failed")
        sys.exit(1)


if __name__ == "__main__":
    main()
