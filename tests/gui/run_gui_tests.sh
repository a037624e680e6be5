#!/usr/bin/env bash
# The program in real windows under Xvfb: start-up with and without a sound server, a second
# start while one runs, and a start after a crash. Screenshots land in $ORVANE_SHOTS (default:
# a "gui-shots" folder beside the program).
set -euo pipefail
binary=$1
exec python3 "$(dirname "$0")/gui_test.py" "$binary"
