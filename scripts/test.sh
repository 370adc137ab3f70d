#!/usr/bin/env bash
# Installs what the tests need, checks the formatting, then builds and runs every test twice (a
# normal build and one under AddressSanitizer + UndefinedBehaviorSanitizer),
# and runs every fuzz target for a bounded time on its seed corpus.
#   FUZZ_SECONDS=N   time per fuzz target (default 20; 0 skips fuzzing)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

# Every outside tool the tests check against is installed above: a missing
# one fails its test instead of skipping it.
export VELMORA_REQUIRE_TOOLS=1

jobs=$(nproc)
fuzz_seconds=${FUZZ_SECONDS:-20}

echo "== formatting"
bash scripts/check-format.sh

run_build() {
    local dir=$1
    shift
    echo "== configure and build $dir"
    cmake -S . -B "$dir" -G Ninja "$@"
    cmake --build "$dir" -j "$jobs"
}

run_build build/ci-debug -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "== tests (build/ci-debug)"
(cd build/ci-debug && ctest -j "$jobs" --output-on-failure --no-tests=error)

run_build build/ci-asan -DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZE=ON -DVELMORA_BUILD_UI=OFF
# The fixture generators are scripts and outside readers, not our code: the
# normal run above has checked them, so the sanitizer run skips them (and
# the tests that read their images skip as well).
echo "== tests under ASan + UBSan"
(cd build/ci-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest -j "$jobs" --output-on-failure --no-tests=error -LE fixtures -FS fixture_images)

if [ "$fuzz_seconds" != "0" ]; then
    CC=clang CXX=clang++ run_build build/ci-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_FUZZ=ON
    cmake --build build/ci-fuzz --target fuzzers -j "$jobs"
    for fuzzer in build/ci-fuzz/fuzz/fuzz_*; do
        [ -f "$fuzzer" ] && [ -x "$fuzzer" ] || continue
        name=$(basename "$fuzzer")
        seeds="fuzz/corpus/$name"
        work=$(mktemp -d)
        [ -d "$seeds" ] && cp -r "$seeds"/. "$work"/
        echo "== fuzz $name for ${fuzz_seconds}s"
        # A crash, a leak or a slow input (over 10 s) fails the run.
        set +e
        "$fuzzer" "$work" -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=4096 \
            -print_final_stats=1 -artifact_prefix="$work/" >"$work.log" 2>&1
        status=$?
        set -e
        tail -n 25 "$work.log"
        rm -f "$work.log"
        rm -rf "$work"
        if [ "$status" -ne 0 ]; then
            echo "fuzz target $name failed" >&2
            exit 1
        fi
    done
fi
echo "== all tests passed"
