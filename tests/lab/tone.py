#!/usr/bin/python3
"""A steady sine played into a sink of the lab's sound server, for as long as this runs (for
servers that have no sine module of their own, such as pipewire-pulse).

    tone.py SINK FREQUENCY_HZ [AMPLITUDE]

pacat does the playing; it blocks while the server's buffer is full, which paces the writes. On
SIGTERM both end; if this is killed, pacat sees the end of its input and ends too."""

import math
import signal
import subprocess
import sys
from array import array

RATE = 8000


def main():
    sink, freq = sys.argv[1], float(sys.argv[2])
    amplitude = float(sys.argv[3]) if len(sys.argv) > 3 else 0.3
    # One second holds a whole number of periods of any whole frequency.
    second = array("h", (int(round(amplitude * 32767 * math.sin(2 * math.pi * freq * i / RATE)))
                         for i in range(RATE))).tobytes()
    player = subprocess.Popen(["pacat", "--playback", "--device=" + sink, "--rate=%d" % RATE, "--channels=1",
                               "--format=s16le", "--raw", "--latency-msec=40", "--client-name=lab-tone"],
                              stdin=subprocess.PIPE)

    def stop(*_):
        player.terminate()
        sys.exit(0)

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    try:
        while player.poll() is None:
            player.stdin.write(second)
            player.stdin.flush()
    except (BrokenPipeError, OSError):
        pass
    player.wait()
    return player.returncode


if __name__ == "__main__":
    sys.exit(main())
