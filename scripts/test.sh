#!/usr/bin/env bash
# Installs what the tests need, checks the formatting, then builds and runs
# every test three ways (a normal build, one under AddressSanitizer +
# UndefinedBehaviorSanitizer, the engine tests under ThreadSanitizer), and
# runs every fuzz target on its seed corpus within a shared time budget.
# Prints how long each stage took, in wall time and in CPU time (user + system
# of everything it ran: on a loaded machine the CPU time is the steadier
# figure; divided by the cores it is the least wall time the stage can take).
#
#   FUZZ_BUDGET=N    seconds of fuzzing for all targets together (default 600).
#                    Each target gets N / targets, at least FUZZ_MIN (5) and
#                    at most FUZZ_MAX (60) seconds, so the time per target
#                    shrinks as targets multiply. Targets run side by side,
#                    one per core: on 2 cores 600 s of fuzzing take 5 minutes.
#   FUZZ_SECONDS=N   a fixed time per target instead (long runs by hand,
#                    e.g. FUZZ_SECONDS=600); 0 skips fuzzing.
#   STAGES="a b"     run only these stages (format build tests asan tsan fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

# Every outside tool the tests check against is installed above: a missing
# one fails its test instead of skipping it.
export VELMORA_REQUIRE_TOOLS=1

jobs=$(nproc)
stages=${STAGES:-format build tests asan tsan fuzz}

stage_names=()
stage_seconds=()
stage_cpu=()
run_start=$SECONDS
cpu_file=$(mktemp)

# Sets cpu to the CPU seconds used so far by every finished child.
cpu_now() {
    times >"$cpu_file"
    cpu=$(awk 'NR == 2 { split($1, u, /[ms]/); split($2, s, /[ms]/)
                          printf "%d", u[1] * 60 + u[2] + s[1] * 60 + s[2] }' "$cpu_file")
}

print_times() {
    local status=$?
    local i total_cpu=0
    if [ "${#stage_names[@]}" -ne 0 ]; then
        echo "== stage times on $jobs cores (seconds)"
        printf '  %-14s %6s %6s\n' stage wall cpu
        for i in "${!stage_names[@]}"; do
            printf '  %-14s %6d %6d\n' "${stage_names[$i]}" "${stage_seconds[$i]}" "${stage_cpu[$i]}"
            total_cpu=$((total_cpu + stage_cpu[i]))
        done
        printf '  %-14s %6d %6d\n' total $((SECONDS - run_start)) "$total_cpu"
    fi
    rm -f "$cpu_file"
    return $status
}
trap print_times EXIT

wanted() { [[ " $stages " == *" $1 "* ]]; }

# run_stage NAME COMMAND...: runs the command and records its time.
run_stage() {
    local name=$1
    shift
    local start=$SECONDS start_cpu
    cpu_now
    start_cpu=$cpu
    echo "== $name"
    "$@"
    cpu_now
    stage_names+=("$name")
    stage_seconds+=($((SECONDS - start)))
    stage_cpu+=($((cpu - start_cpu)))
    echo "== $name took $((SECONDS - start)) s ($((cpu - start_cpu)) s of CPU)"
}

configure_and_build() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja "$@"
    cmake --build "$dir" -j "$jobs"
}

in_dir() {
    local dir=$1
    shift
    (cd "$dir" && "$@")
}

if wanted format; then
    run_stage format bash scripts/check-format.sh
fi

if wanted build || wanted tests; then
    run_stage build configure_and_build build/ci-debug -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
if wanted tests; then
    run_stage tests in_dir build/ci-debug ctest -j "$jobs" --output-on-failure --no-tests=error
fi

# The fixture generators are scripts and outside readers, not our code: the
# normal run above has checked them, so the sanitizer runs skip them (and the
# tests that read their images skip as well). Benchmarks are not tests.
sanitizer_build=(-DVELMORA_BUILD_UI=OFF -DVELMORA_BUILD_BENCH=OFF)

if wanted asan; then
    run_stage asan-build configure_and_build build/ci-asan -DCMAKE_BUILD_TYPE=Debug \
        -DVELMORA_SANITIZE=ON "${sanitizer_build[@]}"
    run_stage asan-tests in_dir build/ci-asan env ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ctest -j "$jobs" --output-on-failure --no-tests=error -LE fixtures -FS fixture_images
fi

# The engine's threads (the read-ahead cache, the event relay, the log, the
# raw reads with a deadline) under ThreadSanitizer. The carve layouts are
# whole scans of large images: the unit tests drive the same threads.
if wanted tsan; then
    run_stage tsan-build configure_and_build build/ci-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DVELMORA_TSAN=ON "${sanitizer_build[@]}"
    run_stage tsan-tests in_dir build/ci-tsan env TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
        ctest -j "$jobs" --output-on-failure --no-tests=error -LE 'fixtures|carve' -FS fixture_images
fi

# run_fuzzer FUZZER SECONDS: one target on a copy of its seeds; a crash, a
# leak or an input slower than 10 s fails it.
run_fuzzer() {
    local fuzzer=$1 seconds=$2
    local name
    name=$(basename "$fuzzer")
    local work
    work=$(mktemp -d)
    [ -d "fuzz/corpus/$name" ] && cp -r "fuzz/corpus/$name"/. "$work"/
    local status=0
    "$fuzzer" "$work" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
        -print_final_stats=1 -artifact_prefix="$work/" >"$work.log" 2>&1 || status=$?
    {
        echo "== fuzz $name for ${seconds}s: exit $status"
        tail -n 25 "$work.log"
    } >"$work.out"
    cat "$work.out"
    rm -rf "$work" "$work.log" "$work.out"
    return $status
}

fuzz_all() {
    local fuzzers=()
    local f
    for f in build/ci-fuzz/fuzz/fuzz_*; do
        [ -f "$f" ] && [ -x "$f" ] && fuzzers+=("$f")
    done
    local count=${#fuzzers[@]}
    [ "$count" -gt 0 ] || return 0
    local seconds
    if [ -n "${FUZZ_SECONDS:-}" ]; then
        seconds=$FUZZ_SECONDS
    else
        local budget=${FUZZ_BUDGET:-600} min=${FUZZ_MIN:-5} max=${FUZZ_MAX:-60}
        seconds=$((budget / count))
        [ "$seconds" -lt "$min" ] && seconds=$min
        [ "$seconds" -gt "$max" ] && seconds=$max
    fi
    echo "== fuzz $count targets, ${seconds}s each, $jobs at a time"
    local failed=0 running=0
    for f in "${fuzzers[@]}"; do
        if [ "$running" -ge "$jobs" ]; then
            wait -n || failed=1
            running=$((running - 1))
        fi
        run_fuzzer "$f" "$seconds" &
        running=$((running + 1))
    done
    while [ "$running" -gt 0 ]; do
        wait -n || failed=1
        running=$((running - 1))
    done
    if [ "$failed" -ne 0 ]; then
        echo "a fuzz target failed (see above)" >&2
        return 1
    fi
}

if wanted fuzz && [ "${FUZZ_SECONDS:-}" != "0" ]; then
    run_stage fuzz-build env CC=clang CXX=clang++ bash -c \
        'cmake -S . -B build/ci-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_FUZZ=ON &&
         cmake --build build/ci-fuzz --target fuzzers -j "$1"' _ "$jobs"
    run_stage fuzz fuzz_all
fi
echo "== all stages passed"
