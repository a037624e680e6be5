"""What a caller hears, side by side with baresip: each program calls a SIPp far end that echoes
its RTP, through a relay that impairs what comes back (bench/relay.py), while chirps are played
into its microphone and one recording on the sound server's clock holds the microphone and the
speaker (bench/chirps.py). One call per program, sound server and codec goes through phases:
a clean line, 5 % random loss, bursts of loss, jitter, and the line clean again after it.

The phases are the same for both programs and seeded alike; the CPU time of the phone and its
sound server together is taken over the clean phase."""

import os
import re
import shutil
import subprocess
import threading
import time

import chirps
from bench import Baresip, HarnessError, cpu_seconds
from lab import LAB, Proc, udp_port_bound, wait_until
from relay import Phase, Relay, burst_phase

# The engine logs its playback underflows once every 5 s from the stream's start: settling past
# its first report keeps the start-up out of the clean phase's count (it is counted apart).
SETTLE_S = 6.0


# Other lines than the default one, to see how the phone fares beyond it: ORVANE_BENCH_LINE=
# "loss=P,burst=P/MEAN,jitter=MEAN/SD" (any of the three; e.g. "loss=0.1,jitter=40/20").
DEFAULT_LINE = {"loss": (0.05,), "burst": (0.03, 3.0), "jitter": (20.0, 10.0)}


def line(text):
    out = dict(DEFAULT_LINE)
    for item in filter(None, (t.strip() for t in text.split(","))):
        key, _, value = item.partition("=")
        if key not in out:
            raise HarnessError("ORVANE_BENCH_LINE: unknown %r" % key)
        out[key] = tuple(float(v) for v in value.split("/"))
        if len(out[key]) != len(DEFAULT_LINE[key]):
            raise HarnessError("ORVANE_BENCH_LINE: %s wants %d numbers" % (key, len(DEFAULT_LINE[key])))
    return out


def phases(quick):
    ln = line(os.environ.get("ORVANE_BENCH_LINE", ""))
    if quick:
        return [Phase("settle", SETTLE_S), Phase("clean", 8), Phase("loss", 8, "loss", p=ln["loss"][0])]
    return [Phase("settle", SETTLE_S), Phase("clean", 25), Phase("loss", 25, "loss", p=ln["loss"][0]),
            burst_phase("burst", 20, loss=ln["burst"][0], mean_burst=ln["burst"][1]),
            Phase("jitter", 15, "jitter", mean_ms=ln["jitter"][0], sd_ms=ln["jitter"][1]), Phase("after", 15)]


class Player:
    """Plays the chirp train into the microphone's feed in real time (pacat paces the writes)."""

    def __init__(self, lab, seconds):
        self.samples = chirps.chirp_train(seconds).tobytes()
        self.proc = subprocess.Popen(["pacat", "--playback", "--device=feed", "--rate=%d" % chirps.RATE,
                                      "--channels=1", "--format=s16le", "--raw", "--latency-msec=30",
                                      "--client-name=bench-chirps"], stdin=subprocess.PIPE,
                                     env=dict(os.environ, **lab.pulse_env))
        self.started = time.monotonic()
        self.thread = threading.Thread(target=self._feed, daemon=True)
        self.thread.start()

    def _feed(self):
        try:
            step = chirps.RATE * 2 // 10
            for i in range(0, len(self.samples), step):
                self.proc.stdin.write(self.samples[i:i + step])
            self.proc.stdin.close()
        except (BrokenPipeError, OSError, ValueError):
            pass

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
        try:
            self.proc.wait(3)
        except subprocess.TimeoutExpired:
            self.proc.kill()


class Recorder:
    def __init__(self, lab, path):
        self.path = path
        self.out = open(path, "wb")
        self.t0 = time.monotonic()  # the recording's first sample, give or take parec's start
        self.proc = subprocess.Popen(["parec", "--device=room.monitor", "--rate=%d" % chirps.RATE, "--channels=2",
                                      "--format=s16le", "--raw", "--latency-msec=20", "--client-name=bench-rec"],
                                     stdout=self.out, env=dict(os.environ, **lab.pulse_env))

    def stop(self):
        self.proc.terminate()
        try:
            self.proc.wait(3)
        except subprocess.TimeoutExpired:
            self.proc.kill()
        self.out.close()
        with open(self.path, "rb") as f:
            return f.read()


UNDERFLOWS = re.compile(r"there were (\d+) underflows")


class AudioRun:
    """One call of one program on the current sound server with one codec."""

    def __init__(self, bench, cls, codec, server, quick):
        self.b = bench
        self.lab = bench.lab
        self.cls = cls
        self.codec = codec
        self.server = server
        self.phases = phases(quick)

    def start_far_end(self):
        lab = self.lab
        echo = self.b.free_media_port()
        self.relay = Relay(echo, self.phases, seed=16)
        scenario = "uas_answer_opus.xml" if self.codec == "opus" else "uas_answer.xml"
        name = "sipp-%s-%s-%s" % (self.cls.key, self.server, self.codec)
        # The far end, like the relay, at real-time priority where allowed: its echo should not
        # wait for the processor on a busy machine.
        rt = ["chrt", "-f", "20"] if os.geteuid() == 0 and shutil.which("chrt") else []
        self.sipp = Proc(lab, name, rt + [
            "sipp", "-sf", os.path.join(LAB, "sipp", scenario), "-i", "127.0.0.1", "-p", str(lab.uas_port),
            "-mi", "127.0.0.1", "-mp", str(echo), "-set", "mport", str(self.relay.port), "-rtp_echo",
            "-m", "1", "-nostdin", "-timeout", "400s", "-trace_err", "-error_file",
            os.path.join(lab.run, name + "-errors.log")])
        if not wait_until(lambda: not self.sipp.alive() or udp_port_bound(lab.uas_port), 10, 0.02) \
                or not self.sipp.alive():
            raise HarnessError("SIPp (%s) did not start" % scenario, [self.sipp.log])

    def run(self):
        self.start_far_end()
        prog = self.cls(self.b, 100 + len(self.b.audio_results))
        # The engine's log tells the playback underflows; the time since start on each line lets
        # it be read against the phases.
        prog.extra_env = {"ORVANE_ENGINE_LOG": "message", "QT_MESSAGE_PATTERN": "[%{time process}] %{message}"}
        if self.codec == "opus" and self.cls is Baresip:
            prog.codec_modules = "module\t\t\topus.so\nmodule\t\t\tg711.so"
        tag = "audio-%s-%s" % (self.server, self.codec)
        player = recorder = None
        try:
            prog.save_login()
            t0 = prog.start(tag, saved=True, traced=False)
            self.log_path = prog.proc.log
            prog.wait_ui(t0)
            t_enter = prog.login_saved_patiently() if prog.key == "orvane" else prog.login_saved()
            prog.wait_registered(t_enter or t0)
            prog.after_register()
            t_dial, _ = prog.dial()
            prog.wait_call(t_dial, "ack")
            if not wait_until(lambda: self.relay.t0 is not None, 10, 0.01):
                prog.fail("no RTP came back through the relay")
            devices = wait_until(lambda: self.devices(prog.pid), 5, 0.1) or {}
            recorder = Recorder(self.lab, os.path.join(prog.dir, tag + ".raw"))
            # The chirps start with the relay's clock, so the phases fall on known chirps.
            total = self.relay.total_seconds() - (time.monotonic() - self.relay.t0)
            time.sleep(0.3)
            player = Player(self.lab, total)
            marks = {}
            start = 0.0
            for ph in self.phases:
                end = start + ph.seconds
                wait_until(lambda: time.monotonic() - self.relay.t0 >= start, ph.seconds + 60, 0.01)
                prog.check_alive()
                marks[ph.name] = {"cpu": cpu_seconds(prog.pid), "server_cpu": self.server_cpu(),
                                  "t": time.monotonic(), "log": self.log_size(prog)}
                start = end
            wait_until(lambda: time.monotonic() - self.relay.t0 >= start, 120, 0.05)
            prog.check_alive()
            marks["end"] = {"cpu": cpu_seconds(prog.pid), "server_cpu": self.server_cpu(), "t": time.monotonic(),
                            "log": self.log_size(prog)}
            player.stop()
            time.sleep(1.0)
            rec_t0 = recorder.t0
            raw = recorder.stop()
            recorder = None
            prog.hangup()
            prog.wait_call(t_dial, "bye_ok")
            prog.after_call(time.time())
        finally:
            if player:
                player.stop()
            if recorder:
                recorder.stop()
            prog.stop()
            self.relay.close()
            self.sipp.stop()
        out = self.figures(prog, raw, marks, player.started, rec_t0)
        out["devices"] = devices
        def only(value, name):
            return value == name or (isinstance(value, list) and value and all(v == name for v in value))

        if not only(devices.get("sink"), "spk") or not only(devices.get("source"), "mic"):
            self.b.note("%s (%s, %s) did not play on spk and record from mic (%s): its figures measure "
                        "something else" % (prog.key, self.server, self.codec, devices))
        return out

    def devices(self, pid):
        """The sink and source the program's streams are on (its own or its ALSA plugin's),
        once it has both."""
        env = dict(os.environ, **self.lab.pulse_env)

        def names(kind):
            out = subprocess.run(["pactl", "list", "short", kind], env=env, capture_output=True, text=True,
                                 timeout=5).stdout
            return {line.split("\t")[0]: line.split("\t")[1] for line in out.splitlines() if "\t" in line}

        def streams(kind, owner):
            out = subprocess.run(["pactl", "list", kind], env=env, capture_output=True, text=True, timeout=5).stdout
            found = []
            for block in out.split("\n\n"):
                m = re.search(r"^\s*%s: (\d+)" % owner, block, re.M)
                if m and re.search(r'application\.process\.id = "%d"' % pid, block):
                    found.append(m.group(1))
            return found

        try:
            sinks, sources = names("sinks"), names("sources")
            out = {"sink": [sinks.get(i) for i in streams("sink-inputs", "Sink")],
                   "source": [sources.get(i) for i in streams("source-outputs", "Source")]}
        except (OSError, subprocess.TimeoutExpired):
            return None
        if not out["sink"] or not out["source"]:
            return None
        return {k: v[0] if len(v) == 1 else v for k, v in out.items()}

    def server_cpu(self):
        total = 0.0
        for pid in self.lab.sound_pids():
            try:
                total += cpu_seconds(pid)
            except OSError:
                pass
        return total

    def log_size(self, prog):
        try:
            return os.path.getsize(self.log_path) if prog.key == "orvane" else 0
        except OSError:
            return 0

    def figures(self, prog, raw, marks, play_started, rec_t0):
        echoes = chirps.analyse(raw)
        # Where the round trip is spent, for G.711 calls: from the microphone to the wire (the
        # phone's capture, encoder and sending) and from the wire back to the speaker (its jitter
        # buffer, decoder and playback), both measured against the relay's clock. The recording's
        # start is taken as parec's: both parts are off by its few ms, in opposite directions,
        # and the sound server's clock drifts from the system's by about half a ms a second.
        outs = sorted(t for t in chirps.on_the_wire(self.relay.wire["out"]) if t is not None)
        ins = sorted(t for t in chirps.on_the_wire(self.relay.wire["in"]) if t is not None)

        def next_after(times, t, within):
            later = [x for x in times if t - 0.05 <= x < t + within]
            return later[0] if later else None

        for e in echoes:
            t_mic = rec_t0 + e["at_s"]
            t_out = next_after(outs, t_mic, 0.6)
            t_in = next_after(ins, t_out, 0.3) if t_out is not None else None
            if t_out is not None:
                e["capture_ms"] = (t_out - t_mic) * 1000.0
            if t_in is not None and e["rt_ms"] is not None:
                e["playback_ms"] = (t_mic + e["rt_ms"] / 1000.0 - t_in) * 1000.0
        names = [p.name for p in self.phases]
        # Each chirp belongs to the phase its echo crossed the relay in (a chirp near a
        # boundary belongs to none).
        for e in echoes:
            t = play_started + e["index"] * chirps.PERIOD_S + 0.05 - self.relay.t0
            ph, ph_start = self.relay.phase_at(t)
            inside = ph is not None and t - ph_start > 0.3 and ph_start + ph.seconds - t > 0.5
            e["phase"] = ph.name if inside else None
            e["t"] = t
        out = {"program": prog.key, "server": self.server, "codec": self.codec,
               "relay": {k: {"passed": v[0], "dropped": v[1]} for k, v in self.relay.stats.items()},
               "payload_types": self.relay.payload_types, "echoes": echoes}
        for name in names:
            if name == "settle":
                continue
            sel = [e for e in echoes if e["phase"] == name]
            f = chirps.summarise(sel)
            for part in ("capture_ms", "playback_ms"):
                values = sorted(e[part] for e in sel if e.get(part) is not None)
                if values:
                    f[part] = values[len(values) // 2]
            seconds = next(p.seconds for p in self.phases if p.name == name)
            f["dropouts_per_min"] = f["dropouts"] * 60.0 / seconds
            out[name] = f
        if "clean" in marks:
            nxt = names[names.index("clean") + 1] if names.index("clean") + 1 < len(names) else "end"
            a, b = marks["clean"], marks[nxt]
            window = b["t"] - a["t"]
            # CPU of a 20 s call: the phone's and the sound server's.
            out["cpu_phone_s"] = (b["cpu"] - a["cpu"]) * 20.0 / window
            out["cpu_server_s"] = (b["server_cpu"] - a["server_cpu"]) * 20.0 / window
            out["cpu_total_s"] = out["cpu_phone_s"] + out["cpu_server_s"]
            if prog.key == "orvane":
                out["clean"]["underflows"] = self.underflows(a["log"], b["log"])
                if "settle" in marks:
                    out["clean"]["underflows_at_start"] = self.underflows(marks["settle"]["log"], a["log"])
        if "after" in out and "clean" in out and out["clean"].get("rt_ms") is not None:
            out["recovery_s"] = recovery(echoes, out["clean"]["rt_ms"], self.relay, "after")
        return out

    def underflows(self, start, end):
        """Playback underflows the engine logged over the phase (it tells every 5 s)."""
        try:
            with open(self.log_path, "rb") as f:
                f.seek(start)
                text = f.read(max(0, end - start)).decode("utf-8", "replace")
        except OSError:
            return None
        return sum(int(n) for n in UNDERFLOWS.findall(text))


def recovery(echoes, clean_rt, relay, phase):
    """Seconds from the start of `phase` until every later round trip is within 20 ms of the
    clean one; None when it never gets there."""
    t0 = None
    acc = 0.0
    for p in relay.phases:
        if p.name == phase:
            t0 = acc
            break
        acc += p.seconds
    if t0 is None:
        return None
    seq = [e for e in echoes if e["t"] >= t0 and e.get("phase") in (phase, None) and e["t"] < t0 + 60]
    seq = [e for e in seq if e["t"] - t0 < next(p.seconds for p in relay.phases if p.name == phase) - 0.5]
    if not seq:
        return None
    for i, e in enumerate(seq):
        rest = seq[i:]
        if all(x["rt_ms"] is not None and abs(x["rt_ms"] - clean_rt) <= 20 for x in rest):
            return max(0.0, e["t"] - t0)
    return None


def _rt(f):
    if not f or f.get("rt_ms") is None:
        return "–"
    return "%.0f (%.0f–%.0f)" % (f["rt_ms"], f["rt_p10"], f["rt_p90"])


def _num(v, digits=1):
    return "–" if v is None else "%.*f" % (digits, v)


def underflow_cell(c):
    if "underflows" not in c:
        return "n/a"
    start = c.get("underflows_at_start")
    return _num(c["underflows"], 0) + (" (+%d at start)" % start if start else "")


def one_line(r):
    parts = []
    for ph in ("clean", "loss", "burst", "jitter", "after"):
        f = r.get(ph)
        if f:
            parts.append("%s rt %s lost %d/%d drop/min %.1f sim %.3f%s%s" % (
                ph, _rt(f), f["lost"], f["chirps"], f["dropouts_per_min"], f.get("similarity", 0),
                (" underflows %s (at start %s)" % (f["underflows"], f.get("underflows_at_start")))
                if "underflows" in f else "",
                (" (mic to wire %.0f, wire to speaker %.0f)" % (f["capture_ms"], f["playback_ms"]))
                if "capture_ms" in f and "playback_ms" in f else ""))
    parts.append("recovery %s s" % _num(r.get("recovery_s")))
    parts.append("cpu phone %.2f + server %.2f s/20 s" % (r.get("cpu_phone_s", 0), r.get("cpu_server_s", 0)))
    parts.append("payload types %s" % r.get("payload_types"))
    return "; ".join(parts)


def table(results):
    """One row per program, sound server and codec, with the ratios to baresip of the same cell."""
    head = ("| program (sound server, codec) | round trip ms, clean (p10–p90) | chirps back, clean | "
            "underflows, clean | dropouts/min, 5 % loss | similarity, 5 % loss | dropouts/min, bursts | "
            "similarity, bursts | round trip, jitter (p10–p90) | back within 20 ms after jitter (s) | "
            "CPU of a 20 s call, phone + server (s) |")
    lines = [head, "|---|" + "---:|" * 10]
    for r in results:
        c, l, b, j = r.get("clean", {}), r.get("loss", {}), r.get("burst", {}), r.get("jitter", {})
        lines.append("| %s (%s, %s) | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |" % (
            r["program"], r["server"], r["codec"], _rt(c),
            "%d/%d" % (c.get("chirps", 0) - c.get("lost", 0), c.get("chirps", 0)) if c else "–",
            underflow_cell(c),
            _num(l.get("dropouts_per_min")), _num(l.get("similarity"), 2),
            _num(b.get("dropouts_per_min")), _num(b.get("similarity"), 2), _rt(j),
            ("no" if "after" in r and r.get("recovery_s") is None else _num(r.get("recovery_s"))),
            "%.2f + %.2f = %.2f" % (r.get("cpu_phone_s", 0), r.get("cpu_server_s", 0), r.get("cpu_total_s", 0))))
    ratios = []
    for r in results:
        if r["program"] != "orvane":
            continue
        peer = next((x for x in results if x["program"] == "baresip" and x["server"] == r["server"]
                     and x["codec"] == r["codec"]), None)
        if not peer:
            continue
        rt = (r.get("clean", {}).get("rt_ms"), peer.get("clean", {}).get("rt_ms"))
        cpu = (r.get("cpu_total_s"), peer.get("cpu_total_s"))
        ratios.append("- %s, %s: round trip %s × baresip's, CPU (phone + server) %s × baresip's" % (
            r["server"], r["codec"], "%.2f" % (rt[0] / rt[1]) if all(rt) else "n/a",
            "%.2f" % (cpu[0] / cpu[1]) if all(cpu) else "n/a"))
    return "\n".join(lines + [""] + ratios)
