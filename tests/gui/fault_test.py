#!/usr/bin/python3
"""Faults that need the real program in a process of its own, in real windows under Xvfb against
real peers (kamailio, SIPp, PulseAudio, the HTTPS billing stub):

- the sound server stopped and started during a session: dial tones, an incoming call and an
  outgoing call before, while it is away and after it is back; the phone never crashes, a call
  connects without it, and tones and voice come back with it; once with PulseAudio, once with
  PipeWire (pipewire-pulse);
- the program killed (SIGKILL) right after calls: every history file is whole, line by line.

    fault_test.py <orvane-softphone>
"""

import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "lab"))

from lab import (LAB, Lab, LabError, check, failures, Proc, free_port, stacks, tail, udp_port_bound,  # noqa: E402
                 wait_until)
from xui import Screen  # noqa: E402

TITLE = "Orvane Softphone"
LOGIN = (289, 300)
MAIN = (285, 473)
RECORD = re.compile(r"^ ?\S*  \d\d:\d\d:\d\d  \d{1,2}/\d{1,2}/\d{4} ?$")
def dlu(x, y):
    return (x * 6 + 2) // 4, (y * 13 + 4) // 8


HANGUP = tuple(v + 10 for v in dlu(67, 128))


class Phone:
    """The program, logged in as alice through its login window."""

    def __init__(self, lab, screen, home, name):
        self.lab, self.screen, self.home = lab, screen, home
        for sub in ("config", "data", "runtime"):
            os.makedirs(os.path.join(home, sub), mode=0o700, exist_ok=True)
        env = {k: v for k, v in os.environ.items() if not k.startswith(("ORVANE_", "QT_"))}
        env.update(lab.pulse_env, DISPLAY=lab.display, QT_QPA_PLATFORM="xcb",
                   XDG_CONFIG_HOME=os.path.join(home, "config"), XDG_DATA_HOME=os.path.join(home, "data"),
                   XDG_RUNTIME_DIR=os.path.join(home, "runtime"), ORVANE_SIP_SERVER="127.0.0.1:%d" % lab.sip_port,
                   ORVANE_BILLING_HOST="127.0.0.1:%d" % lab.billing_port, ORVANE_CA_FILE=lab.ca_file)
        started = time.time()
        queries = lab.balance_queries()
        self.proc = Proc(lab, name, [os.path.abspath(sys.argv[1])], env=env)
        login = screen.wait_window(TITLE, LOGIN, started, 30, self.proc.alive)
        if not login:
            raise LabError("no login window", [self.proc.log])
        screen.focus(login[1])
        screen.type("alice")
        screen.key("Tab")
        screen.type("alice-secret")
        screen.key("Return")
        main = screen.wait_window(TITLE, MAIN, started, 15, self.proc.alive)
        if not main or not wait_until(lambda: lab.balance_queries() > queries, 15, 0.1):
            raise LabError("the phone did not log in", [self.proc.log])
        self.main = main[1]

    def alive(self):
        return self.proc.alive()

    def keys(self, text):
        self.screen.focus(self.main)
        self.screen.type(text)

    def call(self, number):
        self.screen.focus(self.main)
        for _ in range(20):
            self.screen.key("BackSpace", 0.005)
        self.screen.type(number)
        self.screen.key("Return")

    def hang_up(self):
        self.screen.click(self.main, *HANGUP)

    def history(self):
        folder = os.path.join(self.home, "data", "Kestu", "SoftPhone")
        out = {}
        for name in ("Dialled.bin", "Recieved.bin", "missed.bin"):
            path = os.path.join(folder, name)
            if os.path.exists(path):
                with open(path, "rb") as f:
                    out[name] = f.read()
        return out


def sipp(lab, name, scenario, extra):
    """SIPp for one call; `extra` may name its ports, which are free ones otherwise."""
    log = os.path.join(lab.run, name + "-messages.log")
    ports = [] if "-p" in extra else ["-p", str(free_port()), "-mp", str(free_port())]
    return Proc(lab, name, ["sipp", "-sf", os.path.join(LAB, "sipp", scenario), "-i", "127.0.0.1", "-mi", "127.0.0.1",
                            "-m", "1", "-nostdin", "-timeout", "40s", "-timeout_error", "-trace_msg",
                            "-message_file", log] + ports + extra)


def call_connects(lab, phone, number, tag=""):
    """The phone calls `number`; SIPp answers on the lab's answering port, the phone hangs up
    after a while, and SIPp's script ends well only if the whole call (INVITE, 200, ACK, BYE) went
    through."""
    media = free_port()
    peer = sipp(lab, "answer-" + number + tag, "uas_answer.xml", ["-p", str(lab.uas_port), "-rtp_echo", "-mp", str(media),
                                                           "-set", "mport", str(media)])
    if not wait_until(lambda: not peer.alive() or udp_port_bound(lab.uas_port), 10, 0.05):
        return False
    phone.call(number)
    time.sleep(3)
    phone.hang_up()
    try:
        return peer.popen.wait(15) == 0
    except subprocess.TimeoutExpired:
        return False


def speaker_recorder(lab):
    """A recording of what the speaker plays, from now until it is terminated."""
    return subprocess.Popen(["parec", "--device=spk.monitor", "--rate=8000", "--channels=1", "--format=s16le",
                             "--raw", "--latency-msec=20"], env=dict(os.environ, **lab.pulse_env),
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)


def loudest_db(data):
    import array
    import math
    samples = array.array("h")
    samples.frombytes(data[: len(data) // 2 * 2])
    best = 0.0
    for i in range(0, len(samples), 800):
        block = samples[i:i + 800]
        if block:
            best = max(best, math.sqrt(sum(s * s for s in block) / len(block)))
    return 20 * math.log10(best / 32768) if best > 0 else -120.0


def sound_server_case(lab, screen, run, kind):
    lab.start_sound(kind)
    phone = Phone(lab, screen, os.path.join(run, "sound-" + kind), "phone-sound-" + kind)
    check(call_connects(lab, phone, "4021", "-" + kind), f"{kind}: a call connects with the sound server")
    with open(phone.proc.log, errors="replace") as f:
        check("guard over the PulseAudio driver" not in f.read(),
              f"{kind}: the program takes the PulseAudio driver's streams under its lock (its guard is linked in)")

    # The server goes away.
    lab.stop_sound()
    time.sleep(2)
    phone.keys("123")
    time.sleep(0.5)
    check(phone.alive(), f"{kind}: dial-pad tones with the sound server gone are skipped without a crash")
    caller = sipp(lab, "caller1-" + kind, "uac_answer.xml", ["-s", "alice", "-d", "1000", "-set", "caller", "5551000",
                                                     "127.0.0.1:%d" % lab.sip_port])
    # Return answers only once the call rings: on a slow machine SIPp's INVITE may take a while.
    ringing = os.path.join(lab.run, "caller1-%s-messages.log" % kind)
    wait_until(lambda: os.path.exists(ringing) and "SIP/2.0 180" in open(ringing, errors="replace").read(), 15, 0.1)
    check(phone.alive(), f"{kind}: an incoming call rings without a sound server and without a crash")
    screen.focus(phone.main)
    screen.key("Return")  # answers the ringing call
    try:
        caller.popen.wait(20)
    except subprocess.TimeoutExpired:
        pass
    check(caller.popen.returncode == 0, f"{kind}: and is answered and ends cleanly")
    check(call_connects(lab, phone, "4022", "-" + kind), f"{kind}: an outgoing call connects without a sound server")

    # It comes back: tones are heard again and calls carry sound.
    lab.start_sound(kind)
    time.sleep(2)
    rec = speaker_recorder(lab)
    time.sleep(0.5)
    phone.keys("5")
    time.sleep(1.0)
    rec.terminate()
    heard = loudest_db(rec.communicate()[0])
    check(phone.alive() and heard > -40, f"{kind}: tones play again once the server is back ({heard:.0f} dBFS)")
    check(call_connects(lab, phone, "4023", "-" + kind), f"{kind}: and a call connects")
    check(phone.alive(), f"{kind}: the phone is still running")
    if failures and phone.alive():
        print(f"--- the phone's threads\n{stacks(phone.proc.pid)}")
    phone.proc.stop()
    lab.stop_sound()


def kill_case(lab, screen, run):
    for attempt, delay in enumerate((0.0, 0.02, 0.15)):
        phone = Phone(lab, screen, os.path.join(run, "kill%d" % attempt), "phone-kill%d" % attempt)
        before = phone.history()
        media = free_port()
        peer = sipp(lab, "answer-kill%d" % attempt, "uas_answer.xml",
                    ["-p", str(lab.uas_port), "-rtp_echo", "-mp", str(media), "-set", "mport", str(media)])
        wait_until(lambda: not peer.alive() or udp_port_bound(lab.uas_port), 10, 0.05)
        phone.call("4021")
        time.sleep(2)
        phone.hang_up()
        time.sleep(delay)
        phone.proc.popen.send_signal(signal.SIGKILL)
        phone.proc.popen.wait(10)
        peer.stop()
        after = phone.history()
        whole = True
        for name, data in after.items():
            old = before.get(name, b"")
            lines = data.split(b"\r\n")
            whole &= data.startswith(old) and data.endswith(b"\r\n") and all(
                RECORD.match(line.decode("latin-1")) for line in lines[:-1])
        check(whole and "Dialled.bin" in after,
              f"killed {int(delay * 1000)} ms after a call: every history file whole ({sorted(after)})")


def main():
    run = tempfile.mkdtemp(prefix="orvane-faults-")
    lab = Lab(run)
    screen = None
    try:
        # SIPp answers one call at a time on this port, started for each call.
        lab.uas_port, lab.media_port = free_port(), 0
        lab.start_kamailio([("alice", "alice-secret")])
        lab.start_billing()
        lab.start_xvfb()
        screen = Screen(lab.display)
        for kind in ("pulse", "pipewire"):
            sound_server_case(lab, screen, run, kind)
        lab.start_sound("pulse")
        kill_case(lab, screen, run)
    except LabError as e:
        check(False, str(e))
        for log in e.logs:
            print(f"--- {log}\n{tail(log)}")
    finally:
        if screen:
            screen.close()
        lab.stop_all()
        if failures:
            for name in sorted(os.listdir(run)):
                if name.startswith("phone") and name.endswith(".log"):
                    print(f"--- {name}\n{tail(os.path.join(run, name), 30)}")
        shutil.rmtree(run, ignore_errors=True)
    if failures:
        print(f"{len(failures)} fault check(s) failed")
        sys.exit(1)


if __name__ == "__main__":
    main()
