#!/usr/bin/env bash
# Sets up, builds and runs the softphone.
#
# With ORVANE_SIP_SERVER set, the softphone talks to that service. Without it, a local demo
# service is started first on 127.0.0.1 and stopped when the softphone ends: kamailio with the
# account "demo" (password "demo1234"), an answering peer that takes every number and echoes
# what it hears, and an HTTPS billing server that reports a balance.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

"$top/scripts/setup-debian.sh"
"$top/scripts/build.sh" "$top/build" >/dev/null

if [ -n "${ORVANE_SIP_SERVER:-}" ]; then
    exec "$top/build/orvane-softphone"
fi
exec "$top/scripts/demo-service.sh" "$top/build/orvane-softphone"
