#!/usr/bin/env bash
# Builds the libFuzzer targets of the parsers (clang, ASan + UBSan) and runs each for a bounded
# time on a scratch copy of its seed corpus. Fails when a target crashes, hangs, leaks, gets a
# sanitizer report or breaks one of its properties; the input that did it is kept.
#
#   tests/fuzz/run.sh [seconds-per-target] [name...]
#
# Every target runs unless names are given (fuzz_balance is "balance"). FUZZ_BUILD_DIR picks the
# build folder (default build-fuzz), FUZZ_JOBS the parallel compile jobs.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
here=$top/tests/fuzz
seconds=${1:-10}
shift || true
if ! [[ $seconds =~ ^[0-9]+$ ]]; then
    echo "usage: tests/fuzz/run.sh [seconds-per-target] [name...]" >&2
    exit 2
fi
build=${FUZZ_BUILD_DIR:-$top/build-fuzz}
jobs=${FUZZ_JOBS:-$(nproc)}

if [ $# -gt 0 ]; then
    names=("$@")
else
    names=()
    for src in "$here"/fuzz_*.cpp; do
        name=$(basename "$src" .cpp)
        names+=("${name#fuzz_}")
    done
fi
targets=()
for name in "${names[@]}"; do
    if [ ! -f "$here/fuzz_$name.cpp" ]; then
        echo "fuzz: no target $name (tests/fuzz/fuzz_$name.cpp)" >&2
        exit 2
    fi
    targets+=("fuzz_$name")
done

command -v clang++ >/dev/null || { echo "fuzz: clang++ is missing (scripts/setup-debian.sh installs it)" >&2; exit 1; }
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
    -DORVANE_FUZZ=ON -DORVANE_WITH_ENGINE=OFF -DORVANE_TESTS=OFF >/dev/null
cmake --build "$build" -j"$jobs" --target "${targets[@]}"

# The runs write a file per input: keep them in memory when /dev/shm is there.
base=/dev/shm
[ -d "$base" ] && [ -w "$base" ] || base=${TMPDIR:-/tmp}
scratch=$(mktemp -d "$base/orvane-fuzz-run.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
artifacts=$build/fuzz-artifacts
mkdir -p "$artifacts"

# Any report ends the run with an error; leaks count too.
export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1
export UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1:print_stacktrace=1:report_error_type=1
# A hang is any input taking this long; the parsers need milliseconds.
hang=10
# One allocation over 2 GB is a fault. The whole process may grow further: ASan keeps the stack of
# every allocation, and stacks through Qt (built without frame pointers) end in noise, so that
# store grows by a few bytes a run, about 2.5 GB an hour for the quickest target. LeakSanitizer
# still reports memory that is lost.
rss=8192

failed=()
for name in "${names[@]}"; do
    corpus=$scratch/corpus/$name
    mkdir -p "$corpus" "$scratch/tmp/$name"
    if [ -d "$here/corpus/$name" ]; then
        cp -R "$here/corpus/$name/." "$corpus/"
    fi
    options=(-max_total_time="$seconds" -timeout="$hang" -malloc_limit_mb=2048 -rss_limit_mb="$rss"
        -print_final_stats=1 -artifact_prefix="$artifacts/$name-")
    if [ -f "$here/dict/$name.dict" ]; then
        options+=(-dict="$here/dict/$name.dict")
    fi
    log=$build/fuzz-$name.log
    echo "== fuzz_$name for ${seconds}s"
    if TMPDIR=$scratch/tmp/$name "$build/tests/fuzz/fuzz_$name" "${options[@]}" "$corpus" >"$log" 2>&1; then
        # "Done N runs in S second(s)" and the last status line tell how far it got.
        summary=$(grep -E '^#[0-9]+' "$log" | tail -n 1 | sed -E 's/ +/ /g' || true)
        echo "   ok: $(grep -E '^Done ' "$log" | tail -n 1) | ${summary}"
    else
        echo "   FAILED (log $log):"
        grep -E 'ERROR|property failed|runtime error|Test unit written|SUMMARY|ASSERT|deadly signal|timeout' "$log" | head -n 20 | sed 's/^/   /'
        tail -n 40 "$log" | sed 's/^/   | /'
        failed+=("$name")
    fi
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzz: failed: ${failed[*]} (inputs in $artifacts; rerun one with $build/tests/fuzz/fuzz_<name> <input>)" >&2
    exit 1
fi
echo "fuzz: all ${#names[@]} targets ran ${seconds}s each without a report"
