#!/usr/bin/env bash
# Installs what the tests need, then runs every check in stages:
#
#   format  every C and C++ source as clang-format 14 makes it
#   build   one clang build of everything (libraries, program, tools, tests
#           and fuzz targets) under AddressSanitizer + UBSan, the libraries
#           instrumented for the fuzzer as well; benchmarks are left out
#   fixtures the disk images the tests read, made and checked once, alone on
#           the machine (the tests of both trees below share them)
#   tests   every other test of that build (unit, interface offscreen, the
#           scans of images)
#   fuzz    every fuzz target of that build on its seeds, within one budget
#   tsan    the code that runs threads of its own (event relay, read-ahead
#           cache, controllers, timed reads, bridge, result trees) and its
#           tests, built again under ThreadSanitizer
#   e2e     the windows end to end under Xvfb with the real engine (tests
#           labelled "e2e" of the build above)
#   package the Debian package of the build above: lintian, then installed
#           with apt into a scratch Debian 12 root (made by debootstrap once
#           per build folder), checked there and removed (label "package")
#
# Prints how long each stage took, in wall time and in CPU time (user + system
# of everything it ran: on a loaded machine the CPU time is the steadier
# figure; divided by the cores it is the least wall time the stage can take).
#
#   STAGES="a b"     run only these stages (format build fixtures tests fuzz
#                    tsan e2e package); without "fixtures", the tests that
#                    need the images make them first as a test of their own
#   FUZZ_BUDGET=N    seconds of fuzzing for all targets together (default 600).
#                    Each target gets N / targets, at least FUZZ_MIN (5) and
#                    at most FUZZ_MAX (60) seconds. Targets run side by side,
#                    one per core: on 2 cores 600 s of fuzzing take 5 minutes.
#   FUZZ_SECONDS=N   a fixed time per target instead (long runs by hand,
#                    e.g. FUZZ_SECONDS=600); 0 skips fuzzing.
#   VELMORA_CCACHE=0 never use a compiler cache (one is used when ccache is
#                    installed; it only helps when warm from an earlier run).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

# Every outside tool the tests check against is installed above: a missing
# one fails its test instead of skipping it.
export VELMORA_REQUIRE_TOOLS=1
# Windows are tested without a display unless a stage says otherwise.
export QT_QPA_PLATFORM=offscreen
# The fixture tools (mtools above all) write non-ASCII names only under a
# UTF-8 locale; a fresh machine or a bare environment may have none set.
if [ "$(locale charmap 2>/dev/null)" != "UTF-8" ]; then
    export LC_ALL=C.UTF-8
fi

jobs=$(nproc)
stages=${STAGES:-format build fixtures tests fuzz tsan e2e package}
build_dir=build/ci
tsan_dir=build/ci-tsan

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

# need_tools STAGE TOOL...: names every tool the stage needs that is missing,
# before the stage starts.
need_tools() {
    local stage=$1
    shift
    local missing=() t
    for t in "$@"; do
        command -v "$t" >/dev/null 2>&1 || missing+=("$t")
    done
    if [ "${#missing[@]}" -ne 0 ]; then
        echo "stage $stage needs ${missing[*]}, which is not installed" \
            "(scripts/install-deps.sh installs it)" >&2
        exit 1
    fi
}

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

cache_flags=()
if [ "${VELMORA_CCACHE:-1}" != 0 ] && command -v ccache >/dev/null 2>&1; then
    cache_flags=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    # Paths relative to the checkout, so that a fresh clone elsewhere hits.
    export CCACHE_BASEDIR=$PWD
fi

# configure DIR ARGS...: clang, benchmarks left out (they are run by hand).
configure() {
    local dir=$1
    shift
    CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DVELMORA_BUILD_BENCH=OFF \
        "${cache_flags[@]}" "$@"
}

in_dir() {
    local dir=$1
    shift
    (cd "$dir" && "$@")
}

sanitizer_env=(ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
    "LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp"
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1)

if wanted format; then
    need_tools format clang-format git
    run_stage format bash scripts/check-format.sh
fi

if wanted build || wanted fixtures || wanted tests || wanted fuzz || wanted e2e || wanted package; then
    need_tools build cmake ninja clang clang++
    build_all() {
        # Line tables are all the sanitizers' reports need, and the tests' own
        # code builds twice as fast unoptimised (the code under test is not).
        configure "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_SANITIZE=ON -DVELMORA_FUZZ=ON \
            "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -gline-tables-only -DNDEBUG" \
            "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -gline-tables-only -DNDEBUG" \
            -DVELMORA_TEST_COMPILE_OPTIONS=-O0
        cmake --build "$build_dir" -j "$jobs"
    }
    run_stage build build_all
fi

# A test without a time-out could hold CI until its limit; name any.
check_timeouts() {
    in_dir "$1" ctest --show-only=json-v1 | python3 -c '
import json, sys
tests = json.load(sys.stdin)["tests"]
bad = [t["name"] for t in tests
       if not any(p["name"] == "TIMEOUT" for p in t.get("properties", []))]
if bad:
    print("tests without a TIMEOUT:", *bad[:20], sep="\n  ", file=sys.stderr)
    sys.exit(1)
print(len(tests), "tests, each with a time-out")'
}

# The images are made in a stage of their own, with the machine to
# themselves: beside the tests they took four times as long on a busy
# machine. Later stages then leave the setup test out (-FS) and read them.
fixture_flags=()
tests_exclude='e2e|^package$'
if wanted fixtures; then
    need_tools fixtures ctest python3 fls icat mkfs.fat mkfs.exfat mkntfs
    run_stage fixtures in_dir "$build_dir" env "${sanitizer_env[@]}" \
        ctest --output-on-failure --no-tests=error -L '^fixtures$'
    fixture_flags=(-FS fixture_images)
    tests_exclude="$tests_exclude|^fixtures\$"
fi

if wanted tests; then
    need_tools tests ctest python3 fls icat mkfs.fat mkfs.exfat mkntfs
    check_timeouts "$build_dir"
    run_stage tests in_dir "$build_dir" env "${sanitizer_env[@]}" \
        ctest -j "$jobs" --output-on-failure --no-tests=error -LE "$tests_exclude" \
        "${fixture_flags[@]}"
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
    for f in "$build_dir"/fuzz/fuzz_*; do
        [ -f "$f" ] && [ -x "$f" ] && fuzzers+=("$f")
    done
    local count=${#fuzzers[@]}
    if [ "$count" -eq 0 ]; then
        echo "no fuzz targets were built" >&2
        return 1
    fi
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
    run_stage fuzz fuzz_all
fi

# Only the threaded code and its tests are built here: the other layers run
# no threads, and the build above has checked them for memory errors.
if wanted tsan; then
    need_tools tsan cmake ninja clang clang++ ctest
    build_threaded() {
        configure "$tsan_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_TSAN=ON \
            "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -gline-tables-only -DNDEBUG" \
            "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -gline-tables-only -DNDEBUG"
        cmake --build "$tsan_dir" -j "$jobs" --target threaded_tests
    }
    run_stage tsan-build build_threaded
    # The images made above serve this tree as well.
    tsan_fixture_flags=()
    if [ "${#fixture_flags[@]}" -ne 0 ]; then
        rm -rf "$tsan_dir/fixtures"
        ln -sfn "$PWD/$build_dir/fixtures" "$tsan_dir/fixtures"
        tsan_fixture_flags=("${fixture_flags[@]}")
    fi
    run_stage tsan-tests in_dir "$tsan_dir" env TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
        ctest -j "$jobs" --output-on-failure --no-tests=error -L threads "${tsan_fixture_flags[@]}"
fi

# The windows under a real X server, driven as a user would.
if wanted e2e; then
    need_tools e2e xvfb-run ctest
    e2e_count=$(in_dir "$build_dir" ctest -N -L e2e | awk '/^Total Tests:/ { print $3 }')
    if [ "${e2e_count:-0}" -eq 0 ]; then
        echo "== e2e: no end-to-end tests yet"
    else
        run_stage e2e in_dir "$build_dir" env -u QT_QPA_PLATFORM "${sanitizer_env[@]}" \
            xvfb-run -a -s "-screen 0 1920x1080x24" \
            ctest -j "$jobs" --output-on-failure -L e2e "${fixture_flags[@]}"
    fi
fi

if wanted package; then
    need_tools package ctest cpack lintian debootstrap dpkg-deb
    run_stage package in_dir "$build_dir" ctest --output-on-failure --no-tests=error -L '^package$'
fi
echo "== all stages passed"
