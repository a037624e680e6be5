"""A user-space UDP relay for RTP between a phone and its far end, impairing what reaches the
phone (this kernel has no netem): loss at random, loss in bursts (Gilbert-Elliott) and jitter.

The far end's SDP names the relay's port; the relay forwards the phone's packets to the far
end's media port untouched and sends the far end's packets back to the phone through the
current impairment. Impairments follow a schedule of phases measured from the first packet back.
Each phase draws from its own generator seeded with (seed, phase name) per packet, in the order
the packets come, so two phones that get the same number of packets meet the same pattern."""

import heapq
import os
import random
import select
import socket
import threading
import time


class Phase:
    """One stretch of the call: `kind` is "clean", "loss" (independent loss with probability
    `p`), "burst" (Gilbert-Elliott: good to bad with probability `p`, bad to good with `r`,
    every packet in the bad state lost) or "jitter" (each packet delayed by a normal draw of
    mean `mean_ms` and deviation `sd_ms`, never below 0; packets may overtake each other)."""

    def __init__(self, name, seconds, kind="clean", **params):
        self.name, self.seconds, self.kind, self.params = name, seconds, kind, params


def burst_phase(name, seconds, loss=0.03, mean_burst=3.0):
    r = 1.0 / mean_burst
    return Phase(name, seconds, "burst", p=loss * r / (1.0 - loss), r=r)


class Relay:
    def __init__(self, far_port, phases, seed=16, host="127.0.0.1"):
        self.far = (host, far_port)
        self.phases = phases
        self.seed = seed
        self.phone_side = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.phone_side.bind((host, 0))
        self.port = self.phone_side.getsockname()[1]
        # RTCP comes to port + 1 (no rtcp-mux offered by the far end): taken and dropped, so the
        # phone gets no port-unreachable back.
        self.rtcp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        try:
            self.rtcp.bind((host, self.port + 1))
        except OSError:
            self.rtcp.close()
            self.rtcp = None
        self.far_side = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.far_side.bind((host, 0))
        self.phone = None
        self.t0 = None  # the first packet back from the far end
        self.stats = {}  # phase -> [forwarded, dropped]
        self.payload_types = {}  # payload type -> packets from the phone
        # G.711 (PCMU) packets each way, to place the chirps on the wire: "out" from the phone
        # (time received), "in" to the phone (time sent), each (time, RTP timestamp, payload).
        self.wire = {"out": [], "in": []}
        self._queue = []  # (due, n, data)
        self._n = 0
        self._state = {}
        self._stop = False
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def phase_at(self, t):
        """The phase in force `t` seconds after the first packet back, and its start."""
        start = 0.0
        for ph in self.phases:
            if t < start + ph.seconds:
                return ph, start
            start += ph.seconds
        return None, start

    def total_seconds(self):
        return sum(p.seconds for p in self.phases)

    def _rng(self, ph):
        st = self._state.get(ph.name)
        if st is None:
            st = self._state[ph.name] = {"rng": random.Random("%s/%s" % (self.seed, ph.name)), "bad": False}
        return st

    def _impair(self, data, now):
        """The time the packet is due at the phone, or None when it is lost."""
        if self.t0 is None:
            self.t0 = now
        ph, _ = self.phase_at(now - self.t0)
        name = ph.name if ph else "after"
        counts = self.stats.setdefault(name, [0, 0])
        due = now
        if ph is not None and ph.kind != "clean":
            st = self._rng(ph)
            rng = st["rng"]
            if ph.kind == "loss":
                if rng.random() < ph.params["p"]:
                    counts[1] += 1
                    return None
            elif ph.kind == "burst":
                if st["bad"]:
                    st["bad"] = rng.random() >= ph.params["r"]
                else:
                    st["bad"] = rng.random() < ph.params["p"]
                if st["bad"]:
                    counts[1] += 1
                    return None
            elif ph.kind == "jitter":
                due = now + max(0.0, rng.gauss(ph.params["mean_ms"], ph.params["sd_ms"])) / 1000.0
        counts[0] += 1
        return due

    def _run(self):
        # The impairments are the relay's alone: on a busy machine a relay that waits for the
        # processor would add jitter of its own. Real-time priority where allowed (root).
        try:
            os.sched_setscheduler(threading.get_native_id(), os.SCHED_FIFO, os.sched_param(20))
        except (AttributeError, OSError):
            pass
        socks = [self.phone_side, self.far_side] + ([self.rtcp] if self.rtcp else [])
        while not self._stop:
            timeout = 0.05
            if self._queue:
                timeout = max(0.0, min(timeout, self._queue[0][0] - time.monotonic()))
            try:
                ready, _, _ = select.select(socks, [], [], timeout)
            except (OSError, ValueError):
                return
            now = time.monotonic()
            for s in ready:
                try:
                    data, addr = s.recvfrom(4096)
                except OSError:
                    continue
                if s is self.rtcp:
                    continue
                if s is self.phone_side:
                    self.phone = addr
                    if len(data) >= 12 and data[0] >> 6 == 2:
                        pt = data[1] & 0x7F
                        self.payload_types[pt] = self.payload_types.get(pt, 0) + 1
                        self._trace("out", now, data)
                    self.far_side.sendto(data, self.far)
                elif self.phone is not None:
                    due = self._impair(data, now)
                    if due is not None:
                        self._n += 1
                        heapq.heappush(self._queue, (due, self._n, data))
            now = time.monotonic()
            while self._queue and self._queue[0][0] <= now:
                _, _, data = heapq.heappop(self._queue)
                try:
                    self.phone_side.sendto(data, self.phone)
                    self._trace("in", now, data)
                except OSError:
                    pass

    def _trace(self, way, now, data):
        if len(data) > 12 and data[0] >> 6 == 2 and data[1] & 0x7F == 0 and not data[0] & 0x1F:
            self.wire[way].append((now, int.from_bytes(data[4:8], "big"), data[12:]))

    def close(self):
        self._stop = True
        self._thread.join(2)
        for s in (self.phone_side, self.far_side, self.rtcp):
            if s:
                s.close()
