#!/usr/bin/env bash
# Sets up, builds and runs every test: the unit tests and the program in real windows under
# Xvfb against real kamailio, SIPp, PulseAudio and HTTPS servers on 127.0.0.1; then the unit and
# integration tests again built with AddressSanitizer and UndefinedBehaviorSanitizer (the
# integration tests drive the engine against the same real peers); a short side-by-side
# benchmark; and a short fuzzing run of the parsers.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
start=$SECONDS
step() { echo "== $* (at $((SECONDS - start)) s)"; }

step "setup"
"$top/scripts/setup-debian.sh"

step "build"
# Line tables are all the tests' stack traces need; full debug information only lengthens the
# builds.
"$top/scripts/build.sh" "$top/build" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG"
step "unit, GUI, package and memory tests"
(cd "$top/build" && ctest --output-on-failure --timeout 900 -L "unit|gui|package|memory")

step "sanitizer build (ASan + UBSan, with the engine)"
# -O1: the integration tests run calls with real audio, which an unoptimised build is too slow
# for; the reports still point at the lines.
"$top/scripts/build.sh" "$top/build-asan" -DORVANE_SANITIZE=ON -DORVANE_WITH_ENGINE=ON \
    -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1"
step "unit and integration tests under the sanitizers"
(cd "$top/build-asan" && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    LSAN_OPTIONS="suppressions=$top/tests/lsan.supp" \
    ctest --output-on-failure --timeout 900 -L "unit|integration")

step "the side-by-side benchmark, one short session (numbers are not gated)"
bash "$top/bench/run.sh" --quick
# 5 s a target keeps the whole command under 25 minutes on two cores; longer runs by hand
# (tests/fuzz/run.sh SECONDS).
step "fuzzing the parsers (libFuzzer, ASan + UBSan), a few seconds each"
bash "$top/tests/fuzz/run.sh" 5
step "all tests passed"
