"""Longest stalls of a program's main thread, from an strace log of that thread
(strace -f --seccomp-bpf -y -ttt -T -e trace=execve,poll,ppoll,epoll_wait,epoll_pwait -ff).

A stall is the time between the return of one event-loop wait and the start of the next: the
thread is busy (or blocked elsewhere) and does not look at new input. The first stall runs from
execve to the first event-loop wait.

Which waits belong to the event loop:
  - epoll_wait / epoll_pwait: the only waits of an re-style loop on its thread;
  - poll / ppoll whose set holds an eventfd: the wake-up descriptor every Qt event dispatcher
    (glib's GWakeup, or Qt's own thread pipe) puts in each wait. Other polls on the UI thread are
    not the loop and must not split a stall: xcb waiting for an X reply (the X socket alone),
    a SIP stack polling its sockets from inside its iterate() (sockets and a pipe)."""

import re

_LINE = re.compile(r"^(\d+\.\d+) (\w+)\((.*)\) += (.*?)\s*<(\d+\.\d+)>\s*$")
_EXEC = re.compile(r"^(\d+\.\d+) execve\(")
_RESUMED = re.compile(r"^(\d+\.\d+) <\.\.\. (\w+) resumed>(.*) += (.*?)\s*<(\d+\.\d+)>\s*$")
_UNFINISHED = re.compile(r"^(\d+\.\d+) (\w+)\((.*) <unfinished \.\.\.>\s*$")


def loop_waits(path):
    """(exec_time, [(start, end), ...]) of the event-loop waits in the log."""
    exec_time = None
    waits = []
    pending = {}
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            if exec_time is None:
                m = _EXEC.match(line)
                if m:
                    exec_time = float(m.group(1))
                    continue
            m = _LINE.match(line)
            if m:
                start, name, args, dur = float(m.group(1)), m.group(2), m.group(3), float(m.group(5))
            else:
                m = _UNFINISHED.match(line)
                if m:
                    pending[m.group(2)] = (float(m.group(1)), m.group(3))
                    continue
                m = _RESUMED.match(line)
                if not m or m.group(2) not in pending:
                    continue
                start, args = pending.pop(m.group(2))
                name, dur = m.group(2), float(m.group(5))
            if _is_loop_wait(name, args):
                waits.append((start, start + dur))
    return exec_time, waits


def _is_loop_wait(name, args):
    if name in ("epoll_wait", "epoll_pwait", "epoll_pwait2"):
        return True
    if name in ("poll", "ppoll"):
        return "anon_inode:[eventfd]" in args
    return False


def gaps(exec_time, waits):
    """[(from, to)] intervals in which the thread was outside its event loop."""
    out = []
    if exec_time is not None and waits:
        out.append((exec_time, waits[0][0]))
    for (_, end), (start, _) in zip(waits, waits[1:]):
        out.append((end, start))
    return out


def longest(gap_list, window_from, window_to, starting_inside=False):
    """The longest gap that overlaps [window_from, window_to] (or, with starting_inside, that
    begins in it), in seconds; 0.0 when none."""
    best = 0.0
    for a, b in gap_list:
        inside = a >= window_from if starting_inside else b >= window_from
        if inside and a <= window_to:
            best = max(best, b - a)
    return best
