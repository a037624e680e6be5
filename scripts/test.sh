#!/usr/bin/env bash
# Sets up, builds and runs every test: the unit tests, the integration tests against real
# kamailio, SIPp, PulseAudio and HTTPS servers on 127.0.0.1, the program in real windows under
# Xvfb, and the unit tests again built with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

"$top/scripts/setup-debian.sh"

echo "== build"
"$top/scripts/build.sh" "$top/build"
echo "== tests"
(cd "$top/build" && ctest --output-on-failure --timeout 900)

echo "== sanitizer build (ASan + UBSan) and unit tests"
# Unoptimised: quicker to build, and the reports point at the exact lines.
"$top/scripts/build.sh" "$top/build-asan" -DORVANE_SANITIZE=ON -DORVANE_WITH_ENGINE=OFF -DCMAKE_BUILD_TYPE=Debug
(cd "$top/build-asan" && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --output-on-failure -L unit)
echo "== the side-by-side benchmark, one short session (numbers are not gated)"
bash "$top/bench/run.sh" --quick
echo "== fuzzing the parsers (libFuzzer, ASan + UBSan), a few seconds each"
bash "$top/tests/fuzz/run.sh"
echo "== all tests passed"
