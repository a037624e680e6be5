"""Real peers on 127.0.0.1 for the tests driven from Python and for the bench, from the pieces
in this folder: kamailio (registrar and proxy with digest authentication), SIPp answering and
echoing RTP, a private PulseAudio server with null sinks, the HTTPS billing stub with its own
test CA, Xvfb and a packet capture.

Every process started here is written to <run>/pids as it starts, so that the shell wrapper can
stop by PID whatever is left if this program itself is killed."""

import os
import select
import shutil
import signal
import socket
import subprocess
import threading
import time
import uuid

LAB = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(os.path.dirname(LAB))


class LabError(RuntimeError):
    def __init__(self, what, logs=()):
        super().__init__(what)
        self.logs = list(logs)


# The bench's sound card (see Lab.start_sound): one stereo null sink; the speaker plays on its
# right channel, the microphone hears its left one, which "feed" plays into.
ROOM_MODULES = [
    "module-null-sink sink_name=room channels=2 channel_map=front-left,front-right "
    "sink_properties=device.description=Room",
    "module-remap-sink sink_name=spk master=room channels=1 master_channel_map=front-right channel_map=mono "
    "remix=no sink_properties=device.description=NullSpeaker",
    "module-remap-sink sink_name=feed master=room channels=1 master_channel_map=front-left channel_map=mono "
    "remix=no sink_properties=device.description=Feed",
    "module-remap-source source_name=mic master=room.monitor channels=1 master_channel_map=front-left "
    "channel_map=mono remix=no source_properties=device.description=TestMicrophone",
]


# The test scripts' verdicts: each check prints a line; the failed ones are collected.
failures = []


def check(cond, what, detail=""):
    print(("ok   " if cond else "FAIL ") + what, flush=True)
    if not cond:
        failures.append(what)
        if detail:
            print("     " + str(detail).replace("\n", "\n     "), flush=True)
    return cond


def wait_until(pred, timeout, step=0.02):
    end = time.time() + timeout
    while True:
        v = pred()
        if v:
            return v
        if time.time() >= end:
            return v
        time.sleep(step)


def free_port(udp_too=True, avoid=()):
    """A port free on 127.0.0.1 for TCP and UDP alike."""
    for _ in range(100):
        with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as t:
            t.bind(("127.0.0.1", 0))
            port = t.getsockname()[1]
            if port in avoid:
                continue
            if not udp_too:
                return port
            with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as u:
                try:
                    u.bind(("127.0.0.1", port))
                except OSError:
                    continue
            return port
    raise LabError("no free port")


def free_port_pair(avoid=()):
    """A port p such that p and p + 1 are free for TCP and UDP (baresip listens for TLS on p + 1)."""
    for _ in range(100):
        p = free_port(avoid=avoid)
        if p + 1 in avoid or p >= 65535 or udp_port_taken(p + 1):
            continue
        with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as t:
            try:
                t.bind(("127.0.0.1", p + 1))
            except OSError:
                continue
        return p
    raise LabError("no two free ports in a row")


def udp_port_bound(port):
    """Whether a socket of this network namespace is bound to UDP `port`, read from the kernel's
    table: a probe that binds the port would, for that moment, make the owner's own bind fail."""
    for table in ("/proc/net/udp", "/proc/net/udp6"):
        try:
            with open(table) as f:
                next(f)
                for line in f:
                    local = line.split()[1]
                    if int(local.rsplit(":", 1)[1], 16) == port:
                        return True
        except (OSError, IndexError, ValueError, StopIteration):
            continue
    return False


def udp_port_taken(port):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as u:
        try:
            u.bind(("127.0.0.1", port))
        except OSError:
            return True
    return False


def tail(path, lines=25):
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            return "".join(f.readlines()[-lines:])
    except OSError:
        return "(no log)"


def stacks(pid):
    """Every thread's stack of a running process (gdb), to see where a hung program waits."""
    if not shutil.which("gdb"):
        return "(gdb is not installed)"
    try:
        out = subprocess.run(["gdb", "-p", str(pid), "-batch", "-ex", "thread apply all bt 25"],
                             capture_output=True, text=True, timeout=60).stdout
    except (OSError, subprocess.TimeoutExpired) as e:
        return "(gdb failed: %s)" % e
    return "\n".join(line for line in out.splitlines() if line.startswith(("Thread", "#")))


class Proc:
    """A started process, its log, and its PID in the run's pid list."""

    group = False

    def __init__(self, lab, name, args, env=None, log=None, tty=None, pass_fds=(), group=False):
        """Output goes to <run>/<name>.log, or everything to the terminal `tty` (a pty slave).
        `group`: the process and its children get a process group of their own, and whatever of
        it outlives the process at stop() is killed."""
        self.lab = lab
        self.name = name
        self.group = group
        self.log = log or os.path.join(lab.run, name + ".log")
        if tty is not None:
            self.popen = subprocess.Popen(args, env=env, stdin=tty, stdout=tty, stderr=tty, cwd=lab.run)
        else:
            with open(self.log, "ab") as out:
                self.popen = subprocess.Popen(args, env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=out,
                                              cwd=lab.run, pass_fds=pass_fds, start_new_session=group)
        self.pid = self.popen.pid
        lab.remember(self)

    def alive(self):
        return self.popen.poll() is None

    def stop(self, grace=5.0, sig=signal.SIGTERM):
        if self.popen.poll() is None:
            try:
                self.popen.send_signal(sig)
                self.popen.wait(grace)
            except subprocess.TimeoutExpired:
                self.popen.kill()
                try:
                    self.popen.wait(3)
                except subprocess.TimeoutExpired:
                    pass
            except ProcessLookupError:
                pass
        if self.group:
            try:
                os.killpg(self.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        self.lab.forget(self)


class Lab:
    def __init__(self, run):
        self.run = run
        self.procs = []
        self.extra_pids = []
        self.pid_file = os.path.join(run, "pids")
        self.client_conf = os.path.join(run, "pulse-client.conf")
        with open(self.client_conf, "w") as f:
            f.write("autospawn = no\n")
        self._holders = []

    # -- bookkeeping -----------------------------------------------------------------------------

    def remember(self, proc):
        self.procs.append(proc)
        self._write_pids()

    def forget(self, proc):
        if proc in self.procs:
            self.procs.remove(proc)
        self._write_pids()

    def add_pid(self, pid):
        """A process started by another (a traced program under strace), stopped with the rest."""
        self.extra_pids.append(pid)
        self._write_pids()

    def drop_pid(self, pid):
        if pid in self.extra_pids:
            self.extra_pids.remove(pid)
        self._write_pids()

    def _write_pids(self):
        tmp = self.pid_file + ".tmp"
        with open(tmp, "w") as f:
            for pid in self.extra_pids + [p.pid for p in self.procs]:
                f.write("%d\n" % pid)
        os.replace(tmp, self.pid_file)

    def hold(self, thing):
        """Something with a close() to call when the lab stops."""
        self._holders.append(thing)

    def stop_all(self):
        for p in reversed(list(self.procs)):
            p.stop()
        for s in self._holders:
            s.close()

    # -- services --------------------------------------------------------------------------------

    def start_sipp(self):
        self.uas_port = free_port()
        # SIPp binds its media port and the three above it.
        for _ in range(50):
            base = free_port(avoid=(self.uas_port,))
            if base < 65530 and all(not udp_port_taken(p) and p != self.uas_port for p in range(base + 1, base + 4)):
                break
        else:
            raise LabError("no free media ports for SIPp")
        self.media_port = base
        self.sipp = Proc(self, "sipp", [
            "sipp", "-sf", os.path.join(LAB, "sipp", "uas_answer.xml"), "-i", "127.0.0.1",
            "-p", str(self.uas_port), "-mi", "127.0.0.1", "-mp", str(base), "-set", "mport", str(base),
            "-rtp_echo", "-nostdin", "-trace_err", "-error_file", os.path.join(self.run, "sipp-errors.log")])
        if not wait_until(lambda: not self.sipp.alive() or udp_port_bound(self.uas_port), 10) or not self.sipp.alive():
            raise LabError("SIPp did not start", [self.sipp.log])

    def start_kamailio(self, accounts):
        modules = None
        for d in ("/usr/lib/x86_64-linux-gnu/kamailio/modules", "/usr/lib/kamailio/modules",
                  "/usr/lib64/kamailio/modules", "/usr/local/lib/kamailio/modules"):
            if os.path.exists(os.path.join(d, "tm.so")):
                modules = d + "/"
                break
        if modules is None:
            raise LabError("kamailio modules not found")
        self.sip_port = free_port(avoid=(self.uas_port, self.media_port))
        with open(os.path.join(LAB, "kamailio.cfg.in")) as f:
            cfg = f.read()
        quoted = lambda v: '"%s"' % v.replace("\\", "\\\\").replace('"', '\\"')  # noqa: E731
        lines = "".join("\t$sht(subs=>%s) = %s;\n" % (u, quoted(p)) for u, p in accounts)
        for k, v in (("@PORT@", str(self.sip_port)), ("@UAS_PORT@", str(self.uas_port)), ("@MPATH@", modules),
                     ("@ACCOUNTS@", lines)):
            cfg = cfg.replace(k, v)
        kdir = os.path.join(self.run, "kamailio")
        os.makedirs(kdir, exist_ok=True)
        path = os.path.join(kdir, "kamailio.cfg")
        with open(path, "w") as f:
            f.write(cfg)
        # In a group of its own: a worker left stuck on a lock with SIGTERM blocked when the main
        # process stops (seen once) is killed with the rest.
        self.kamailio = Proc(self, "kamailio", ["kamailio", "-f", path, "-DD", "-E", "-Y", kdir, "-m", "32", "-M", "8"],
                             group=True)
        if not self._answers_options(10):
            raise LabError("kamailio did not answer OPTIONS", [self.kamailio.log])

    def _answers_options(self, timeout):
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            s.bind(("127.0.0.1", 0))
            s.settimeout(0.2)
            lport = s.getsockname()[1]
            end = time.time() + timeout
            while time.time() < end:
                if not self.kamailio.alive():
                    return False
                cid = uuid.uuid4().hex[:8]
                req = ("OPTIONS sip:127.0.0.1:%d SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:%d;branch=z9hG4bK%s\r\n"
                       "Max-Forwards: 70\r\nFrom: <sip:probe@127.0.0.1:%d>;tag=probe\r\nTo: <sip:127.0.0.1:%d>\r\n"
                       "Call-ID: %s\r\nCSeq: 1 OPTIONS\r\nContent-Length: 0\r\n\r\n"
                       % (self.sip_port, lport, cid, lport, self.sip_port, cid))
                s.sendto(req.encode(), ("127.0.0.1", self.sip_port))
                try:
                    data = s.recv(4096)
                    if data.startswith(b"SIP/2.0 200"):
                        return True
                except socket.timeout:
                    pass
        return False

    def start_pulse(self):
        """PulseAudio with the integration tests' devices (see start_sound)."""
        self.start_sound("pulse")

    def start_sound(self, kind="pulse", layout="test"):
        """A private sound server: "pulse" (PulseAudio) or "pipewire" (PipeWire with pipewire-pulse
        and WirePlumber under a private D-Bus session). Both serve the same devices, through the
        same PulseAudio protocol, at self.pulse_env:

        layout "test", the integration tests' card (tests/lab/Pulse.cpp): null sinks "spk" (the
        speaker) and "micsink", and a microphone "mic" hearing a steady 300 Hz tone;
        layout "room", the bench's card: one stereo null sink "room" whose monitor records the
        microphone on the left and the speaker on the right, on one clock. What is played into
        "feed" is what the microphone "mic" hears (left); what is played on "spk" lands on the
        right."""
        self.sound_kind, self.sound_layout = kind, layout
        pdir = os.path.join(self.run, kind)
        for sub in ("xdg", "home"):
            os.makedirs(os.path.join(pdir, sub), mode=0o700, exist_ok=True)
        env = dict(os.environ, XDG_RUNTIME_DIR=os.path.join(pdir, "xdg"), HOME=os.path.join(pdir, "home"),
                   XDG_CONFIG_HOME=os.path.join(pdir, "home", ".config"))
        env.pop("PULSE_SERVER", None)
        self.sound_procs = []
        if kind == "pulse":
            self.pulse_socket = os.path.join(pdir, "pulse.sock")
            if layout == "test":
                # The same sound card as the integration tests (tests/lab/Pulse.cpp): null sinks, a
                # microphone hearing a steady 300 Hz tone, kept rendering in small blocks by silent
                # low-latency loopbacks, the microphone listed first.
                modules = ["module-null-sink sink_name=spk sink_properties=device.description=NullSpeaker",
                           "module-null-sink sink_name=micsink sink_properties=device.description=MicFeed",
                           "module-remap-source master=micsink.monitor source_name=mic "
                           "source_properties=device.description=TestMicrophone",
                           "module-sine sink=micsink frequency=300",
                           "module-null-source source_name=quiet description=Quiet",
                           "module-loopback source=quiet sink=micsink latency_msec=20",
                           "module-loopback source=quiet sink=spk latency_msec=20"]
            else:
                # A silent low-latency loopback keeps the null sink rendering in small blocks.
                modules = ROOM_MODULES + ["module-null-source source_name=quiet description=Quiet",
                                          "module-loopback source=quiet sink=room latency_msec=20"]
            args = ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                    "--log-target=stderr", "--log-level=error",
                    "-L", "module-native-protocol-unix socket=%s auth-anonymous=1" % self.pulse_socket]
            for m in modules:
                args += ["-L", m]
            self.pulse = Proc(self, "pulseaudio", args, env=env)
            self.sound_procs = [self.pulse]
        elif kind == "pipewire":
            xdg = env["XDG_RUNTIME_DIR"]
            self.pulse_socket = os.path.join(xdg, "pulse", "native")
            bus = os.path.join(xdg, "bus")
            env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + bus
            # The session bus outlives restarts of the sound server, as on a desktop.
            if not getattr(self, "dbus", None) or not self.dbus.alive() or self.dbus_dir != xdg:
                self.dbus = Proc(self, "dbus", ["dbus-daemon", "--config-file=/usr/share/dbus-1/session.conf",
                                                "--nofork", "--nopidfile", "--address=unix:path=" + bus], env=env)
                self.dbus_dir = xdg
                if not wait_until(lambda: not self.dbus.alive() or os.path.exists(bus), 10, 0.02):
                    raise LabError("the D-Bus session did not start", [self.dbus.log])
            core = os.path.join(xdg, "pipewire-0")
            pw = Proc(self, "pipewire", ["pipewire"], env=env)
            if not wait_until(lambda: not pw.alive() or os.path.exists(core), 10, 0.02) or not pw.alive():
                raise LabError("PipeWire did not start", [pw.log])
            wp = Proc(self, "wireplumber", ["wireplumber"], env=env)
            self.pulse = Proc(self, "pipewire-pulse", ["pipewire-pulse"], env=env)
            self.sound_procs = [self.pulse, wp, pw]
        else:
            raise LabError("no such sound server: " + kind)
        self.pulse_env = {"PULSE_SERVER": "unix:" + self.pulse_socket, "PULSE_CLIENTCONFIG": self.client_conf}
        penv = dict(os.environ, **self.pulse_env)

        def pactl(*args, timeout=3):
            try:
                return subprocess.run(["pactl"] + list(args), env=penv, capture_output=True,
                                      timeout=timeout).returncode == 0
            except subprocess.TimeoutExpired:
                return False

        logs = [p.log for p in self.sound_procs]
        if not wait_until(lambda: not self.sound_alive() or pactl("info"), 10, 0.1) or not self.sound_alive():
            raise LabError("the %s sound server did not start" % kind, logs)
        if kind == "pipewire":
            # pipewire-pulse makes the same devices through its own module loader.
            if layout == "test":
                modules = ["module-null-sink sink_name=spk sink_properties=device.description=NullSpeaker",
                           "module-null-sink sink_name=micsink sink_properties=device.description=MicFeed",
                           "module-remap-source master=micsink.monitor source_name=mic "
                           "source_properties=device.description=TestMicrophone"]
            else:
                modules = ROOM_MODULES
            for m in modules:
                if not pactl("load-module", *m.split()):
                    raise LabError("pipewire-pulse refused " + m, logs)
            if layout == "test":
                # pipewire-pulse has no sine module: a player of our own feeds the microphone.
                self.sound_procs.insert(0, Proc(self, "tone", ["/usr/bin/python3", os.path.join(LAB, "tone.py"),
                                                               "micsink", "300"], env=penv))
        mic = "mic"
        if not (pactl("set-default-sink", "spk") and pactl("set-default-source", mic)):
            raise LabError("could not set the default sink and source", logs)
        if layout == "room":
            return
        # The first recording waits over a second for the sinks to settle: settle it here.
        rec = subprocess.Popen(["parec", "--device=mic", "--latency-msec=20", "--rate=8000", "--channels=1",
                                "--format=s16le", "--raw"], env=penv, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL)
        got = 0
        end = time.time() + 8
        try:
            os.set_blocking(rec.stdout.fileno(), False)
            while got < 3200 and time.time() < end and rec.poll() is None:
                try:
                    chunk = rec.stdout.read(4096)
                except BlockingIOError:
                    chunk = None
                got += len(chunk or b"")
                time.sleep(0.02)
        finally:
            rec.kill()
            rec.wait(3)
        if got < 3200:
            raise LabError("the microphone of the %s server delivers no sound" % kind, logs)

    def sound_alive(self):
        return all(p.alive() for p in self.sound_procs)

    def sound_pids(self):
        """The processes that make up the sound server (for its CPU time)."""
        return [p.pid for p in self.sound_procs if p.alive() and p.name != "tone"]

    def stop_sound(self):
        """Stops the sound server (the D-Bus session of PipeWire stays, as on a desktop)."""
        for p in self.sound_procs:
            p.stop()
        self.sound_procs = []

    def start_billing(self):
        ca = os.path.join(self.run, "ca")
        r = subprocess.run(["sh", os.path.join(LAB, "make_test_ca.sh"), ca], capture_output=True, text=True,
                           timeout=60)
        if r.returncode != 0:
            raise LabError("make_test_ca.sh failed: " + r.stderr)
        self.ca_file = os.path.join(ca, "ca.pem")
        self.billing_port = free_port(udp_too=False)
        self.billing = Proc(self, "billing", [
            "/usr/bin/python3", os.path.join(LAB, "billing_stub.py"), "--port", str(self.billing_port),
            "--cert", os.path.join(ca, "server.pem"), "--key", os.path.join(ca, "server.key"),
            "--credit", "25.00", "--currency", "EUR"])

        def up():
            try:
                with socket.create_connection(("127.0.0.1", self.billing_port), 0.2):
                    return True
            except OSError:
                return not self.billing.alive()

        if not wait_until(up, 10, 0.05) or not self.billing.alive():
            raise LabError("the billing stub did not start", [self.billing.log])

    def balance_queries(self):
        """How many balance queries the billing stub has answered so far."""
        try:
            with open(self.billing.log, encoding="utf-8", errors="replace") as f:
                return sum(1 for line in f if "GET /callshop/getBalance.php" in line)
        except OSError:
            return 0

    def start_xvfb(self):
        # Xvfb picks a free display itself and writes its number to the descriptor given. -noreset:
        # by default it starts over whenever its last client leaves, refusing a client meanwhile.
        r, w = os.pipe()
        try:
            self.xvfb = Proc(self, "xvfb", ["Xvfb", "-displayfd", str(w), "-noreset", "-screen", "0", "1024x768x24",
                                            "-nolisten", "tcp"], pass_fds=(w,))
        finally:
            os.close(w)
        number = b""
        end = time.time() + 15
        try:
            while time.time() < end and not number.endswith(b"\n"):
                ready, _, _ = select.select([r], [], [], 0.2)
                if ready:
                    chunk = os.read(r, 64)
                    if not chunk:
                        break
                    number += chunk
                elif not self.xvfb.alive():
                    break
        finally:
            os.close(r)
        if not number.strip().isdigit() or not self.xvfb.alive():
            raise LabError("Xvfb did not start", [self.xvfb.log])
        self.display = ":" + number.decode().strip()

    def start_capture(self):
        self.pcap = os.path.join(self.run, "sip.pcap")
        # Only the proxy's port: every SIP message of both programs passes through it, RTP does not.
        self.tcpdump = Proc(self, "tcpdump", [
            "tcpdump", "-i", "lo", "-n", "-s", "0", "-U", "--immediate-mode", "-Z", "root", "-w", self.pcap,
            "udp port %d" % self.sip_port])
        log = self.tcpdump.log
        if not wait_until(lambda: not self.tcpdump.alive() or "listening on" in tail(log), 10, 0.05) \
                or not self.tcpdump.alive():
            raise LabError("tcpdump did not start", [log])


class BillingSwitch:
    """A TCP front of the billing stub that either passes connections through or, once told to,
    accepts them and never answers: a billing server that hangs."""

    def __init__(self, lab, upstream_port):
        self.upstream = upstream_port
        self.hang = False
        self.accepted = 0
        self._held = []
        self._stop = False
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(16)
        self.sock.settimeout(0.2)
        self.port = self.sock.getsockname()[1]
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    def _serve(self):
        while not self._stop:
            try:
                conn, _ = self.sock.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            self.accepted += 1
            if self.hang:
                self._held.append(conn)
                continue
            try:
                up = socket.create_connection(("127.0.0.1", self.upstream), 2)
            except OSError:
                conn.close()
                continue
            for a, b in ((conn, up), (up, conn)):
                threading.Thread(target=self._pipe, args=(a, b), daemon=True).start()

    @staticmethod
    def _pipe(a, b):
        try:
            while True:
                data = a.recv(65536)
                if not data:
                    break
                b.sendall(data)
        except OSError:
            pass
        finally:
            for s in (a, b):
                try:
                    s.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass

    def close(self):
        self._stop = True
        self.sock.close()
        for c in self._held:
            c.close()
