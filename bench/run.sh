#!/usr/bin/env bash
# Side-by-side benchmark of orvane-softphone and baresip on a private lab on 127.0.0.1.
#
#   bash bench/run.sh [--sessions N] [--quick] [--binary PATH] [--out DIR] [--keep]
#                     [--no-audio | --audio-only] [--audio-cells server/codec,...]
#
#   --sessions N   sessions per program (default 3)
#   --quick        one short session each and one short call on PulseAudio, to keep the harness
#                  working (CI)
#   --no-audio     leave out what the caller hears (the calls through the impairing relay)
#   --audio-only   only that
#   --audio-cells  which sound servers and codecs: pulse/pcmu,pulse/opus,pipewire/pcmu (default)
#   --binary PATH  the orvane-softphone to measure (default build/orvane-softphone)
#   --out DIR      where last-run.md / last-run.json go (default bench/results)
#   --keep         keep the run folder (logs, captures, strace logs) afterwards
#
# Prints a Markdown table of medians; exits non-zero only when the harness itself fails.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")

sessions=3 quick=0 keep=0 audio=()
binary=$top/build/orvane-softphone
out=$here/results
while [ $# -gt 0 ]; do
    case $1 in
    --sessions) sessions=$2; shift 2 ;;
    --quick) quick=1; shift ;;
    --binary) binary=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    --no-audio | --audio-only) audio+=("$1"); shift ;;
    --audio-cells | --audio-programs) audio+=("$1" "$2"); shift 2 ;;
    -h | --help) sed -n '2,18p' "$0"; exit 0 ;;
    *) echo "bench: unknown option $1" >&2; exit 2 ;;
    esac
done
case $sessions in '' | *[!0-9]* | 0) echo "bench: --sessions wants a positive number" >&2; exit 2 ;; esac

# Debian's python3 (python3-xlib comes from Debian), whatever python3 comes first in PATH.
py=/usr/bin/python3
missing=()
for tool in baresip sipp kamailio pulseaudio pactl parec pacat pipewire pipewire-pulse wireplumber dbus-daemon \
    tcpdump strace Xvfb openssl import; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
[ -x "$py" ] && "$py" -c 'import Xlib.ext.xtest' 2>/dev/null || missing+=("python3-xlib")
[ -x "$py" ] && "$py" -c 'import numpy' 2>/dev/null || missing+=("python3-numpy")
if [ ${#missing[@]} -gt 0 ]; then
    echo "bench: missing ${missing[*]} (bash scripts/setup-debian.sh installs them)" >&2
    exit 1
fi

if [ ! -x "$binary" ]; then
    echo "bench: no program at $binary (build it, or give --binary)" >&2
    exit 2
fi

run=$(mktemp -d /tmp/orvane-bench-XXXXXX)
bench_pid=
cleanup() {
    rc=$?
    trap - EXIT INT TERM
    if [ -n "$bench_pid" ] && kill -0 "$bench_pid" 2>/dev/null; then
        kill -TERM "$bench_pid" 2>/dev/null || true
        for _ in $(seq 50); do kill -0 "$bench_pid" 2>/dev/null || break; sleep 0.1; done
    fi
    # Whatever the harness did not stop itself, by PID.
    if [ -f "$run/pids" ]; then
        while read -r pid; do
            [ -n "$pid" ] && kill -TERM "$pid" 2>/dev/null || true
        done < "$run/pids"
        sleep 0.5
        while read -r pid; do
            [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null || true
        done < "$run/pids"
    fi
    if [ "$keep" = 1 ] || [ "$rc" != 0 ]; then
        echo "bench: run folder kept: $run" >&2
    else
        rm -rf "$run"
    fi
    exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# A hard bound on the whole run: a quick run about two minutes, a default one ~3 min a session
# and ~2 min an audio call (six of them).
if [ "$quick" = 1 ]; then limit=200; else limit=$((60 + sessions * 200 + 1000)); fi

args=(--sessions "$sessions" --binary "$binary" --out "$out" --run-dir "$run")
[ "$quick" = 1 ] && args+=(--quick)
args+=("${audio[@]}")
start=$(date +%s)
set +e
timeout --signal=TERM --kill-after=10 "$limit" "$py" "$here/bench.py" "${args[@]}" &
bench_pid=$!
wait "$bench_pid"
rc=$?
set -e
bench_pid=
if [ "$rc" = 124 ]; then
    echo "bench: FAILED: the run took longer than $limit s" >&2
    tail -n 20 "$run"/*.log 2>/dev/null >&2 || true
fi
echo "bench: $(( $(date +%s) - start )) s"
exit "$rc"
