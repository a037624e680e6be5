#!/usr/bin/env python3
"""Side-by-side benchmark of orvane-softphone and baresip against the same lab (see run.sh).

Each session runs each program three times:
  A  first start: log in, register, stay idle, two calls;  start-up, login, CPU and memory figures
  B  start with a saved login;                               start -> registered
  C  like B but under strace (main thread's event-loop waits only), with a call while the billing
     server answers and one while it hangs;                  longest UI-thread stall per phase
Timing and CPU runs (A, B) are never traced."""

import argparse
import datetime
import json
import os
import platform
import pty
import select
import shutil
import signal
import statistics
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
# The lab and the X driver are shared with the tests.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests", "lab"))

from lab import (TOP, BillingSwitch, Lab, LabError, Proc, free_port, free_port_pair, stacks, tail,  # noqa: E402
                 udp_port_taken, wait_until)
from sipcap import SipCapture  # noqa: E402
import stalls  # noqa: E402
from xui import Screen  # noqa: E402

TITLE = "Orvane Softphone"
LOGIN_SIZE = (289, 300)
MAIN_SIZE = (285, 473)
NUMBER = "4021"  # any number that is not a subscriber: kamailio sends it to SIPp
ACCOUNTS = {"orvane": ("alice", "alice-secret"), "baresip": ("bob", "bob-secret")}
STRACE_CALLS = "execve,poll,ppoll,epoll_wait,epoll_pwait"


def dlu(x, y):
    """Dialog units of the main window's template to pixels (x*6/4, y*13/8, rounded)."""
    return int(x * 6 / 4 + 0.5), int(y * 13 / 8 + 0.5)


class HarnessError(RuntimeError):
    def __init__(self, what, logs=()):
        super().__init__(what)
        self.logs = list(logs)


def cpu_seconds(pid):
    """CPU time the process's threads have run, in seconds, from the scheduler's own count
    (nanoseconds, /proc/<pid>/task/<tid>/schedstat) rather than the 10 ms ticks of
    /proc/<pid>/stat, which an idle program that wakes briefly a few times is charged at random.
    Threads that ended are not counted: the windows measured here start and end with the same
    threads."""
    total = 0
    for tid in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/schedstat" % (pid, tid)) as f:
                total += int(f.read().split()[0])
        except (OSError, ValueError, IndexError):
            pass
    return total / 1e9


def peak_rss_mib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024.0
    return None


def traced_child(strace_pid, exe, timeout=10):
    """The PID of the program strace started: its child running `exe` (strace may fork a
    short-lived probe of its own first)."""
    exe = os.path.realpath(exe)

    def child():
        try:
            with open("/proc/%d/task/%d/children" % (strace_pid, strace_pid)) as f:
                kids = [int(k) for k in f.read().split()]
        except OSError:
            return None
        for k in kids:
            try:
                if os.path.realpath("/proc/%d/exe" % k) == exe:
                    return k
            except OSError:
                pass
        return None

    return wait_until(child, timeout, 0.005)


class Program:
    """What both programs share: the session's runs and their measurements."""

    key = ""

    def __init__(self, bench, session):
        self.b = bench
        self.lab = bench.lab
        self.cap = bench.cap
        self.session = session
        self.user, self.password = ACCOUNTS[self.key]
        self.dir = os.path.join(self.lab.run, "%s-%d" % (self.key, session))
        os.makedirs(self.dir, exist_ok=True)
        self.proc = None
        self.pid = None
        self.strace_prefix = None
        self.extra_env = {}  # added to the program's environment (the audio runs)

    # -- helpers ---------------------------------------------------------------------------------

    def fail(self, what):
        raise HarnessError("%s, session %d: %s" % (self.key, self.session + 1, what), self.logs())

    def logs(self):
        return [self.lab.kamailio.log, self.lab.sipp.log]

    def check_alive(self):
        if self.proc is None or not self.proc.alive():
            self.fail("the program ended unexpectedly")

    def wait_registered(self, after, timeout=15):
        t = wait_until(lambda: self.cap.registered(self.user, self.lab.sip_port, after) or
                       (not self.proc.alive() and -1), timeout, 0.005)
        if not t or t < 0:
            self.fail("no 200 OK to REGISTER within %d s" % timeout)
        return t

    def wait_call(self, after, field, timeout=15):
        def got():
            c = self.cap.call(self.user, self.lab.sip_port, after)
            if c and c.get(field):
                return c
            return None if self.proc.alive() else -1

        c = wait_until(got, timeout, 0.005)
        if not c or c == -1:
            c2 = self.cap.call(self.user, self.lab.sip_port, after)
            self.fail("call: no %s within %d s (seen: %s)" % (field, timeout, c2))
        return c

    def stop(self):
        if self.strace_prefix and self.pid:
            # The traced program ends; strace follows it out.
            try:
                os.kill(self.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
            if not wait_until(lambda: not self.proc.alive(), 5, 0.05):
                try:
                    os.kill(self.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
                wait_until(lambda: not self.proc.alive(), 5, 0.05)
            self.lab.drop_pid(self.pid)
        if self.proc:
            self.proc.stop()
        self.proc = None
        self.pid = None

    def launch(self, args, env, traced, tag, tty=None):
        """Starts the program (under strace when `traced`) and returns the time just before."""
        self.strace_prefix = None
        exe = args[0] if os.path.isabs(args[0]) else shutil.which(args[0])
        if traced:
            self.strace_prefix = os.path.join(self.dir, "strace-%s" % tag)
            args = ["strace", "-f", "--seccomp-bpf", "-y", "-ttt", "-T", "-e", "trace=" + STRACE_CALLS, "-ff",
                    "-o", self.strace_prefix] + args
        t = time.time()
        self.proc = Proc(self.lab, "%s-%d-%s" % (self.key, self.session, tag), args, env=env,
                         log=os.path.join(self.dir, "%s.log" % tag), tty=tty)
        if traced:
            self.pid = traced_child(self.proc.pid, exe)
            if not self.pid:
                self.fail("strace did not start the program")
            self.lab.add_pid(self.pid)
        else:
            self.pid = self.proc.pid
        return t

    # -- the three runs --------------------------------------------------------------------------

    def run_session(self):
        r = {}
        self.run_first_start(r)
        self.run_saved_login(r)
        self.run_stalls(r)
        return r

    def run_first_start(self, r):
        p = self.b.p
        t0 = self.start("first", saved=False, traced=False)
        t_ui = self.wait_ui(t0)
        r["start_to_ui_ms"] = (t_ui - t0) * 1000
        t_enter = self.login()
        t_reg = self.wait_registered(t_enter)
        r["login_to_registered_ms"] = (t_reg - t_enter) * 1000
        self.after_register()
        time.sleep(1.0)

        self.check_alive()
        c0 = cpu_seconds(self.pid)
        time.sleep(p["idle_s"])
        self.check_alive()
        r["idle_cpu_s"] = cpu_seconds(self.pid) - c0
        r["idle_window_s"] = p["idle_s"]

        for n, length in ((1, p["call_s"]), (2, p["call2_s"])):
            t_dial, t_enter = self.dial()
            c = self.wait_call(t_dial, "ack")
            c0, w0 = cpu_seconds(self.pid), time.time()
            r["call%d_setup_ms" % n] = (c["ack"] - c["invite"]) * 1000
            r["call%d_challenged" % n] = c["challenged"] is not None
            r["call%d_enter_to_invite_ms" % n] = (c["invite"] - t_enter) * 1000
            time.sleep(length)
            self.check_alive()
            if n == 1:
                r["call_cpu_pct"] = 100.0 * (cpu_seconds(self.pid) - c0) / (time.time() - w0)
                r["call_window_s"] = length
            t_hang = time.time()
            self.hangup()
            self.wait_call(t_dial, "bye_ok")
            self.after_call(t_hang)
            time.sleep(0.5)
        self.check_alive()
        r["peak_rss_mib"] = peak_rss_mib(self.pid)
        self.stop()

    def run_saved_login(self, r):
        self.save_login()
        t0 = self.start("saved", saved=True, traced=False)
        t_ui = self.wait_ui(t0)
        r["saved_start_to_ui_ms"] = (t_ui - t0) * 1000
        t_enter = self.login_saved()
        r["saved_enter_after_ui_ms"] = (t_enter - t_ui) * 1000 if t_enter else None
        t_reg = self.wait_registered(t0)
        r["saved_start_to_registered_ms"] = (t_reg - t0) * 1000
        self.after_register()
        self.stop()

    def run_stalls(self, r):
        p = self.b.p
        marks = {}
        t0 = self.start("stall", saved=True, traced=True)
        t_ui = self.wait_ui(t0)
        time.sleep(0.3)
        marks["start"] = (t0, t_ui + 0.3)

        t_enter = self.login_saved()
        self.wait_registered(t_enter)
        self.after_register()
        time.sleep(0.5)
        marks["login"] = (t_enter, time.time())

        t_dial, _ = self.dial()
        c = self.wait_call(t_dial, "ack")
        time.sleep(p["stall_call_s"])
        t_hang = time.time()
        self.hangup()
        self.wait_call(t_dial, "bye_ok")
        self.after_call(t_hang)
        time.sleep(0.5)
        marks["call"] = (t_dial, time.time())
        # The same call without what comes before the INVITE (orvane's deliberate dial tones).
        marks["call_from_invite"] = (c["invite"], time.time())

        if self.has_billing:
            self.b.switch.hang = True
            accepted = self.b.switch.accepted
            t_dial, _ = self.dial()
            self.wait_call(t_dial, "ack", timeout=20)
            time.sleep(1.0)
            t_hang = time.time()
            self.hangup()
            self.wait_call(t_dial, "bye_ok", timeout=20)
            # The query's own time-out is a few seconds; wait well past it.
            time.sleep(p["billing_wait_s"])
            # From the hang-up on: the balance query follows the end of the call.
            marks["billing_hangs"] = (t_hang, time.time())
            r["billing_hang_connections"] = self.b.switch.accepted - accepted
            self.b.switch.hang = False
        self.stop()

        path = "%s.%d" % (self.strace_prefix, self.traced_pid)
        if not os.path.exists(path):
            self.fail("no strace log of the main thread (%s)" % path)
        exec_time, waits = stalls.loop_waits(path)
        if len(waits) < 10:
            self.fail("the strace log shows no event-loop waits (%d)" % len(waits))
        if exec_time is not None:
            marks["start"] = (exec_time, marks["start"][1])
        g = stalls.gaps(exec_time, waits)
        for phase, (a, b) in marks.items():
            from_invite = phase == "call_from_invite"
            r["stall_%s_ms" % phase] = stalls.longest(g, a, b, starting_inside=from_invite) * 1000
        r["stall_loop_waits"] = len(waits)

    def start(self, tag, saved, traced):
        t = self.launch_program(tag, saved, traced)
        self.traced_pid = self.pid
        return t


class Orvane(Program):
    key = "orvane"
    has_billing = True

    def __init__(self, bench, session):
        super().__init__(bench, session)
        for sub in ("config", "data", "home"):
            os.makedirs(os.path.join(self.dir, sub), exist_ok=True)
        os.makedirs(os.path.join(self.dir, "runtime"), mode=0o700, exist_ok=True)
        self.main_wid = None
        self.login_wid = None

    def logs(self):
        logs = [os.path.join(self.dir, n) for n in sorted(os.listdir(self.dir)) if n.endswith(".log")]
        return logs + super().logs() + [self.lab.billing.log]

    def fail(self, what):
        # What the screen showed, for the report.
        shot = os.path.join(self.dir, "failure.png")
        try:
            subprocess.run(["import", "-window", "root", shot], env=dict(os.environ, DISPLAY=self.lab.display),
                           capture_output=True, timeout=10)
        except Exception:
            pass
        boxes = self.b.screen.visible(TITLE, other_than=(MAIN_SIZE, LOGIN_SIZE))
        if boxes:
            what += " (a message box of the program is open)"
        if self.proc is not None and self.proc.alive() and self.pid:
            # Where the program's threads wait, for the report.
            path = os.path.join(self.dir, "stacks.txt")
            with open(path, "w") as f:
                f.write(stacks(self.pid))
            what += "; its threads: " + path
        super().fail(what + "; screenshot: " + shot)

    def launch_program(self, tag, saved, traced):
        billing = self.b.switch.port if traced else self.lab.billing_port
        env = dict(os.environ)
        for k in list(env):
            if k.startswith("ORVANE_") or k.startswith("QT_"):
                env.pop(k)
        env.update(self.lab.pulse_env)
        env.update(DISPLAY=self.lab.display, QT_QPA_PLATFORM="xcb", HOME=os.path.join(self.dir, "home"),
                   XDG_CONFIG_HOME=os.path.join(self.dir, "config"), XDG_DATA_HOME=os.path.join(self.dir, "data"),
                   XDG_RUNTIME_DIR=os.path.join(self.dir, "runtime"),
                   ORVANE_SIP_SERVER="127.0.0.1:%d" % self.lab.sip_port,
                   ORVANE_BILLING_HOST="127.0.0.1:%d" % billing, ORVANE_CA_FILE=self.lab.ca_file)
        # No session bus: the saved password of a run goes to its own settings file, never into
        # the keyring of whoever runs the bench.
        env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + os.path.join(self.dir, "runtime", "no-bus")
        env.update(self.extra_env)
        self.main_wid = self.login_wid = None
        return self.launch([self.b.binary], env, traced, tag)

    def wait_ui(self, t0):
        got = self.b.screen.wait_window(TITLE, LOGIN_SIZE, t0, 30, alive=self.proc.alive)
        if not got:
            self.check_alive()
            self.fail("no login window (%dx%d) within 30 s" % LOGIN_SIZE)
        t, self.login_wid = got
        return t

    def _main_window(self, since):
        got = self.b.screen.wait_window(TITLE, MAIN_SIZE, since, 15, alive=self.proc.alive)
        if not got:
            self.fail("the main window (%dx%d) did not open after the login" % MAIN_SIZE)
        self.main_wid = got[1]

    def login(self):
        s = self.b.screen
        s.focus(self.login_wid)
        time.sleep(0.1)
        s.type(self.user)
        s.key("Tab", 0.03)
        s.type(self.password)
        time.sleep(0.1)
        t = time.time()
        s.key("Return")
        self._main_window(t)
        return t

    def login_saved(self):
        s = self.b.screen
        s.focus(self.login_wid)
        # As login(): a key sent at once after the focus may reach the window before it has it.
        time.sleep(0.1)
        t = time.time()
        s.key("Return")
        self._main_window(t)
        return t

    def login_saved_patiently(self):
        """login_saved for runs that measure no log-in time: the Enter is pressed again when the
        window did not take it (on a busy machine the focus can come late)."""
        s = self.b.screen
        for _ in range(4):
            s.focus(self.login_wid)
            time.sleep(0.3)
            t = time.time()
            s.key("Return")
            got = s.wait_window(TITLE, MAIN_SIZE, t, 6, alive=self.proc.alive)
            if got:
                self.main_wid = got[1]
                return t
            self.check_alive()
        self.fail("the main window (%dx%d) did not open after the login" % MAIN_SIZE)

    def save_login(self):
        d = os.path.join(self.dir, "config", "Kestu")
        os.makedirs(d, mode=0o700, exist_ok=True)
        path = os.path.join(d, "SoftPhone.conf")
        fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
        with os.fdopen(fd, "w") as f:
            f.write("[General]\nUserName=%s\nPassword1=%s\nSIPIP=127.0.0.1:%d\nSave=Y\n"
                    % (self.user, self.password, self.lab.sip_port))

    def _wait_balance(self, before):
        # The program asks for the balance after registering and after each call; through the
        # stub (counted in its log) or through the bench's switch (counted as connections).
        def done():
            return self.lab.balance_queries() > before

        if not wait_until(done, 10, 0.01):
            self.b.note("orvane: no balance query seen within 10 s (session %d)" % (self.session + 1))

    def after_register(self):
        self._wait_balance(self._queries_before_login)

    def after_call(self, t_hang):
        self._wait_balance(self._queries_before_call)

    def start(self, tag, saved, traced):
        self._queries_before_login = self.lab.balance_queries()
        return super().start(tag, saved, traced)

    def dial(self):
        s = self.b.screen
        self._queries_before_call = self.lab.balance_queries()
        s.focus(self.main_wid)
        time.sleep(0.05)
        t_dial = time.time()
        s.type(NUMBER)
        t_enter = time.time()
        s.key("Return")
        return t_dial, t_enter

    def hangup(self):
        x, y = dlu(67, 128)
        self.b.screen.click(self.main_wid, x + 65 // 2, y + 40 // 2)


class Baresip(Program):
    key = "baresip"
    has_billing = False

    def __init__(self, bench, session):
        super().__init__(bench, session)
        self.conf = os.path.join(self.dir, "conf")
        os.makedirs(self.conf, exist_ok=True)
        self.port = None
        self.out = []  # (time, bytes) read from the console
        self.master = None
        self.reader = None
        # The codecs it offers, in this order (the audio runs put Opus first).
        self.codec_modules = "module\t\t\tg711.so"

    def logs(self):
        return [os.path.join(self.dir, n) for n in sorted(os.listdir(self.dir)) if n.endswith(".log")] + \
            super().logs()

    def account_line(self):
        return '<sip:%s@127.0.0.1:%d>;auth_pass=%s;outbound="sip:127.0.0.1:%d";regint=600' % (
            self.user, self.lab.sip_port, self.password, self.lab.sip_port)

    def write_config(self, with_account):
        self.port = free_port_pair(avoid=(self.lab.sip_port, self.lab.uas_port))
        with open(os.path.join(self.conf, "config"), "w") as f:
            f.write(BARESIP_CONFIG.format(port=self.port, codecs=self.codec_modules))
        with open(os.path.join(self.conf, "accounts"), "w") as f:
            f.write(self.account_line() + "\n" if with_account else "")
        with open(os.path.join(self.conf, "contacts"), "w") as f:
            f.write("")

    def save_login(self):
        pass  # written with the configuration of each start

    def launch_program(self, tag, saved, traced):
        self.write_config(with_account=saved and tag == "saved")
        env = dict(os.environ)
        env.update(self.lab.pulse_env)
        env["HOME"] = self.dir
        master, slave = pty.openpty()
        self.master = master
        self.out = []
        self.console_log = os.path.join(self.dir, "%s.log" % tag)
        try:
            t = self.launch(["baresip", "-f", self.conf], env, traced, tag, tty=slave)
        finally:
            os.close(slave)
        self.reader = threading.Thread(target=self._read, args=(master, self.console_log), daemon=True)
        self.reader.start()
        return t

    def _read(self, master, log):
        with open(log, "ab") as f:
            while True:
                try:
                    r, _, _ = select.select([master], [], [], 0.5)
                except (OSError, ValueError):
                    return
                if not r:
                    if self.proc is None:
                        return
                    continue
                try:
                    data = os.read(master, 65536)
                except OSError:
                    return
                if not data:
                    return
                self.out.append((time.time(), data))
                f.write(data)
                f.flush()

    def _console_has(self, text, since):
        buf = b""
        for t, d in list(self.out):
            buf += d
            if text in buf and t >= since:
                return t
        return None

    def wait_ui(self, t0):
        t = wait_until(lambda: self._console_has(b"baresip is ready.", t0) or (not self.proc.alive() and -1),
                       15, 0.002)
        if not t:
            self.fail("the console did not say it is ready within 15 s")
        if t < 0:
            self.fail("baresip ended before its console was ready")
        return t

    def _type(self, text):
        os.write(self.master, text.encode())

    def login(self):
        # An account typed at the console, then Enter: baresip's own way to log in at run time.
        self._type("/uanew " + self.account_line())
        time.sleep(0.2)
        t = time.time()
        self._type("\n")
        return t

    def login_saved(self):
        # With the account in its configuration baresip registers by itself: nothing to press.
        if self._account_in_config():
            return None
        return self.login()

    def _account_in_config(self):
        with open(os.path.join(self.conf, "accounts")) as f:
            return bool(f.read().strip())

    def after_register(self):
        pass

    def after_call(self, t_hang):
        pass

    def dial(self):
        t_dial = time.time()
        self._type("/dial " + NUMBER)
        time.sleep(0.2)
        t_enter = time.time()
        self._type("\n")
        return t_dial, t_enter

    def hangup(self):
        self._type("b")

    def stop(self):
        super().stop()
        if self.master is not None:
            time.sleep(0.1)
            try:
                os.close(self.master)
            except OSError:
                pass
            self.master = None


BARESIP_CONFIG = """\
# The bench's baresip: console UI, G.711, the ALSA driver through PulseAudio's ALSA plugin.
poll_method\t\tepoll
sip_listen\t\t127.0.0.1:{port}
net_interface\t\t127.0.0.1
call_local_timeout\t120
call_max_calls\t\t4
audio_player\t\talsa,pulse
audio_source\t\talsa,pulse
audio_alert\t\talsa,pulse
audio_buffer\t\t20-160
rtcp_mux\t\tno
jitter_buffer_delay\t5-10
rtp_stats\t\tno
module_path\t\t/usr/lib/baresip/modules
module\t\t\tstdio.so
{codecs}
module\t\t\talsa.so
module_tmp\t\taccount.so
module_app\t\tcontact.so
module_app\t\tmenu.so
"""


# -- the report -----------------------------------------------------------------------------------

METRICS = [
    ("start_to_ui_ms", "start → login window (baresip: console ready)", "ms", 0),
    ("login_to_registered_ms", "login → registered (Enter → 200 OK)", "ms", 1),
    ("saved_start_to_registered_ms", "start → registered, saved login", "ms", 0),
    ("call1_setup_ms", "call setup INVITE → ACK, 1st call", "ms", 1),
    ("call2_setup_ms", "call setup INVITE → ACK, 2nd call", "ms", 1),
    ("idle_cpu_s", "CPU time over {idle_s:g} s idle, registered", "s", 3),
    ("call_cpu_pct", "CPU during a {call_s:g} s call", "% of a core", 1),
    ("peak_rss_mib", "peak RSS (VmHWM) after two calls", "MiB", 1),
    ("stall_start_ms", "longest UI-thread stall: start", "ms", 1),
    ("stall_login_ms", "longest UI-thread stall: login", "ms", 1),
    ("stall_call_ms", "longest UI-thread stall: a call (dial → hang-up → balance)", "ms", 1),
    ("stall_call_from_invite_ms", "longest UI-thread stall: the same call from its INVITE on", "ms", 1),
    ("stall_billing_hangs_ms", "longest UI-thread stall: hang-up with the billing server not answering", "ms", 1),
]


def median(values):
    v = [x for x in values if x is not None]
    return statistics.median(v) if v else None


def fmt(v, digits):
    return "n/a" if v is None else ("%.*f" % (digits, v))


def table(results, params):
    lines = ["| measure | orvane-softphone | baresip | orvane / baresip |", "|---|---:|---:|---:|"]
    med = {}
    for key, label, unit, digits in METRICS:
        o = median([s.get(key) for s in results["orvane"]])
        b = median([s.get(key) for s in results["baresip"]])
        med[key] = {"orvane": o, "baresip": b}
        if o is None or b is None:
            ratio = "n/a"
        elif b == 0:
            ratio = "n/a (baresip 0)" if o > 0 else "1.0"
        else:
            ratio = "%.1f×" % (o / b)
        lines.append("| %s (%s) | %s | %s | %s |" % (label.format(**params), unit, fmt(o, digits), fmt(b, digits),
                                                      ratio))
    return "\n".join(lines), med


def machine():
    model = ""
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return {"nproc": os.cpu_count(), "cpu": model, "kernel": platform.release(),
            "load_at_start": os.getloadavg()}


def baresip_version():
    """"baresip v1.0.0", from the first words of its banner."""
    try:
        out = subprocess.run(["baresip", "-h"], capture_output=True, text=True, timeout=5)
        words = (out.stdout or out.stderr).split()
        return " ".join(words[:2]) if len(words) >= 2 else "baresip"
    except Exception:
        return "baresip"


class Bench:
    def __init__(self, args):
        self.args = args
        self.binary = os.path.abspath(args.binary)
        quick = args.quick
        self.sessions = 1 if quick else args.sessions
        self.p = {"idle_s": 5.0 if quick else 30.0, "call_s": 5.0 if quick else 20.0, "call2_s": 1.0 if quick else 2.0,
                  "stall_call_s": 1.0 if quick else 3.0, "billing_wait_s": 6.0 if quick else 7.0}
        self.notes = []
        self.lab = None
        self.screen = None
        self.switch = None
        self.audio_results = []

    def note(self, text):
        if text not in self.notes:
            self.notes.append(text)
            print("note: " + text, flush=True)

    def start_lab(self):
        lab = self.lab
        print("lab: SIPp, kamailio, PulseAudio, billing stub, Xvfb, capture", flush=True)
        lab.start_sipp()
        lab.start_kamailio([ACCOUNTS["orvane"], ACCOUNTS["baresip"]])
        lab.start_pulse()
        lab.start_billing()
        lab.start_xvfb()
        lab.start_capture()
        self.switch = BillingSwitch(lab, lab.billing_port)
        lab.hold(self.switch)
        self.screen = Screen(lab.display)
        self.cap = SipCapture(lab.pcap)
        print("lab up: kamailio 127.0.0.1:%d, SIPp :%d (media %d), billing :%d, display %s"
              % (lab.sip_port, lab.uas_port, lab.media_port, lab.billing_port, lab.display), flush=True)

    def run(self):
        t_begin = time.time()
        self.lab = Lab(self.args.run_dir)
        results = {"orvane": [], "baresip": []}
        try:
            self.start_lab()
            for s in range(0 if self.args.audio_only else self.sessions):
                # Alternate the order, so that neither program always runs right after the other.
                order = (Orvane, Baresip) if s % 2 == 0 else (Baresip, Orvane)
                for cls in order:
                    prog = cls(self, s)
                    t = time.time()
                    print("session %d/%d: %s ..." % (s + 1, self.sessions, cls.key), flush=True)
                    try:
                        r = prog.run_session()
                    finally:
                        prog.stop()
                    r["session"] = s + 1
                    r["seconds"] = round(time.time() - t, 1)
                    results[cls.key].append(r)
                    print("  " + ", ".join("%s=%s" % (k, ("%.2f" % v) if isinstance(v, float) else v)
                                           for k, v in r.items()), flush=True)
            if not self.args.no_audio:
                self.run_audio()
        finally:
            if self.screen:
                self.screen.close()
            self.lab.stop_all()
        self.report(results, time.time() - t_begin)

    def free_media_port(self):
        """A port p with p .. p + 3 free (SIPp binds its media port and the three above it)."""
        taken = (self.lab.sip_port, self.lab.uas_port)
        for _ in range(50):
            base = free_port(avoid=taken)
            if base < 65530 and all(not udp_port_taken(q) and q not in taken for q in range(base + 1, base + 4)):
                return base
        raise HarnessError("no free media ports for SIPp")

    def run_audio(self):
        import audio
        lab = self.lab
        # The audio runs have a far end of their own on the same port: the relay's port in its SDP.
        lab.sipp.stop()
        lab.stop_sound()
        quick = self.args.quick
        cells = [("pulse", "pcmu")] if quick else [("pulse", "pcmu"), ("pulse", "opus"), ("pipewire", "pcmu")]
        if self.args.audio_cells:
            cells = [tuple(c.split("/")) for c in self.args.audio_cells.split(",")]
        for n, (server, codec) in enumerate(cells):
            if getattr(lab, "sound_kind", None) != server or not lab.sound_procs:
                lab.stop_sound()
                print("audio: %s sound server" % server, flush=True)
                lab.start_sound(server, "room")
            order = (Orvane, Baresip) if n % 2 == 0 else (Baresip, Orvane)
            if self.args.audio_programs:
                order = [c for c in order if c.key in self.args.audio_programs.split(",")]
            for cls in order:
                t = time.time()
                print("audio %s/%s: %s ..." % (server, codec, cls.key), flush=True)
                r = audio.AudioRun(self, cls, codec, server, quick).run()
                r["seconds"] = round(time.time() - t, 1)
                self.audio_results.append(r)
                print("  " + audio.one_line(r), flush=True)
        lab.stop_sound()

    def report(self, results, seconds):
        for r in results["orvane"]:
            if r.get("billing_hang_connections", 1) == 0:
                self.note("the billing switch saw no connection while hanging: that stall figure is not "
                          "a hung query")
        md, med = table(results, self.p) if results["orvane"] else ("", {})
        if self.audio_results:
            import audio
            md = (md + "\n\n" if md else "") + audio.table(self.audio_results)
        m = machine()
        header = ("orvane-softphone %s vs %s; %d session(s)%s; %d cores, %s; %.0f s"
                  % (self.binary, baresip_version(), self.sessions, " (--quick)" if self.args.quick else "",
                     m["nproc"], m["cpu"], seconds))
        print()
        print(header)
        print()
        print(md)
        for n in self.notes:
            print("\nnote: " + n)
        out = self.args.out
        os.makedirs(out, exist_ok=True)
        stamp = datetime.datetime.now().strftime("%Y%m%d-%H%M%S")
        doc = {"when": stamp, "binary": self.binary, "quick": self.args.quick, "sessions": self.sessions,
               "params": self.p, "machine": m, "seconds": round(seconds, 1), "baresip": baresip_version(),
               "medians": med, "raw": results, "audio": self.audio_results, "notes": self.notes}
        for name in ("last-run.json", "run-%s.json" % stamp):
            with open(os.path.join(out, name), "w") as f:
                json.dump(doc, f, indent=1, ensure_ascii=False)
        with open(os.path.join(out, "last-run.md"), "w") as f:
            f.write(header + "\n\n" + md + "\n")
            for n in self.notes:
                f.write("\nnote: " + n + "\n")
        print("\nraw results: %s" % os.path.join(out, "last-run.json"))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--sessions", type=int, default=3)
    ap.add_argument("--quick", action="store_true")
    ap.add_argument("--binary", default=os.path.join(TOP, "build", "orvane-softphone"))
    ap.add_argument("--out", default=os.path.join(TOP, "bench", "results"))
    ap.add_argument("--run-dir", required=True)
    ap.add_argument("--no-audio", action="store_true")
    ap.add_argument("--audio-only", action="store_true")
    ap.add_argument("--audio-cells", default="", help="server/codec,... e.g. pulse/pcmu,pipewire/opus")
    ap.add_argument("--audio-programs", default="", help="orvane,baresip (default both)")
    args = ap.parse_args()
    if not os.access(args.binary, os.X_OK):
        print("bench: no program at %s (build it, or give --binary)" % args.binary, file=sys.stderr)
        return 2

    def on_term(signum, frame):
        raise HarnessError("stopped by signal %d" % signum)

    signal.signal(signal.SIGTERM, on_term)
    bench = Bench(args)
    try:
        bench.run()
    except (HarnessError, LabError) as e:
        print("\nbench: FAILED: %s" % e, file=sys.stderr)
        for log in e.logs:
            print("---- %s (last lines)\n%s" % (log, tail(log)), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    # Run as the module "bench", which the audio runs (audio.py) import too: one set of classes.
    import bench as _bench  # noqa: E402
    sys.exit(_bench.main())
