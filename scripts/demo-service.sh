#!/usr/bin/env bash
# Runs a program (the softphone) against a local demo service on 127.0.0.1, stopping the
# service when the program ends:
#   kamailio    registrar and proxy on port 5070, account demo / demo1234 (and demo2 / demo1234)
#   SIPp        on port 5080, answers every other number and echoes the caller's audio
#   billing     HTTPS on port 8443 with its own CA, answers getBalance.php with 25.00 EUR
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
lab=$top/tests/lab
state=${XDG_STATE_HOME:-$HOME/.local/state}/orvane-softphone-demo
mkdir -p "$state"
run=$(mktemp -d /tmp/orvane-demo-XXXXXX)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$run"
}
trap cleanup EXIT INT TERM

sip_port=5070 uas_port=5080 media_port=6100 billing_port=8443

modules=$(dirname "$(find /usr/lib -name tm.so -path '*kamailio/modules*' | head -1)")
python3 - "$lab/kamailio.cfg.in" "$run/kamailio.cfg" "$sip_port" "$uas_port" "$modules/" <<'PY'
import sys
src, dst, port, uas, mpath = sys.argv[1:]
accounts = '\t$sht(subs=>demo) = "demo1234";\n\t$sht(subs=>demo2) = "demo1234";'
cfg = open(src).read()
for key, value in (("@PORT@", port), ("@UAS_PORT@", uas), ("@MPATH@", mpath), ("@ACCOUNTS@", accounts)):
    cfg = cfg.replace(key, value)
open(dst, "w").write(cfg)
PY
kamailio -f "$run/kamailio.cfg" -DD -E -Y "$run" -m 32 -M 8 > "$run/kamailio.log" 2>&1 &
pids+=($!)

sipp -sf "$lab/sipp/uas_answer.xml" -i 127.0.0.1 -p "$uas_port" -mi 127.0.0.1 -mp "$media_port" \
    -set mport "$media_port" -rtp_echo -nostdin -trace_err -error_file "$run/sipp-errors.log" \
    > "$run/sipp.log" 2>&1 &
pids+=($!)

"$lab/make_test_ca.sh" "$state/ca" >/dev/null
python3 "$lab/billing_stub.py" --port "$billing_port" --cert "$state/ca/server.pem" \
    --key "$state/ca/server.key" --credit 25.00 --currency EUR > "$run/billing.log" 2>&1 &
pids+=($!)

sleep 1
for p in "${pids[@]}"; do
    if ! kill -0 "$p" 2>/dev/null; then
        echo "The demo service did not start; its logs:" >&2
        tail -n 20 "$run"/*.log >&2
        exit 1
    fi
done

echo "Demo service on 127.0.0.1: log in as demo / demo1234, then call any number (e.g. 4021)."
ORVANE_SIP_SERVER=127.0.0.1:$sip_port ORVANE_BILLING_HOST=127.0.0.1:$billing_port \
    ORVANE_CA_FILE=$state/ca/ca.pem "$@"
