#!/usr/bin/env bash
# Runs fuzz harnesses for a given time.
#   fuzz/run.sh HARNESS SECONDS [libFuzzer options...]   one harness (telnetfilter, ...)
#   fuzz/run.sh all SECONDS [libFuzzer options...]       each harness in turn, SECONDS each
# The harnesses are built in build/fuzz (or the folder in NB_FUZZ_BUILD) when it is missing.
# Seeds are read from fuzz/corpus/HARNESS; inputs the run finds go to BUILD/corpus/HARNESS and
# failing inputs to BUILD/artifacts/. Ends non-zero when a harness fails.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${NB_FUZZ_BUILD:-$here/../build/fuzz}"

if (($# < 2)); then
    echo "usage: $0 HARNESS|all SECONDS [libFuzzer options...]" >&2
    exit 2
fi
which="$1"
seconds="$2"
shift 2

if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake -S "$here/.." -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_COMPILER=clang++-14 -DNB_FUZZ=ON >/dev/null
    cmake --build "$build" -j2
fi

# Longest input per harness: enough for every split of what each core takes in one go (a reader
# frame is at most 262 bytes), small enough to keep the executions fast.
max_len() {
    case "$1" in
    replyparsers | settingtable) echo 256 ;;
    cliargs | connecturi) echo 400 ;;
    telnetfilter | readerframes | replymatcher) echo 600 ;;
    *) echo 1200 ;;
    esac
}

run_one() {
    local name="$1" exe="$build/fuzz/fuzz_$1"
    shift
    if [[ ! -x "$exe" ]]; then
        echo "no harness $exe" >&2
        return 2
    fi
    mkdir -p "$build/corpus/$name" "$build/artifacts"
    local log="$build/artifacts/$name.log"
    # One process without workers, so a run keeps to one core.
    if ! "$exe" -max_total_time="$seconds" -timeout=10 -max_len="$(max_len "$name")" \
        -print_final_stats=1 -artifact_prefix="$build/artifacts/$name-" "$@" \
        "$build/corpus/$name" "$here/corpus/$name" >"$log" 2>&1; then
        tail -n 60 "$log" >&2
        echo "fuzz_$name FAILED (log: $log)" >&2
        return 1
    fi
    local execs
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz_$name: ${execs:-?} executions in ${seconds} s, no failure"
}

if [[ "$which" == all ]]; then
    status=0
    for exe in "$build"/fuzz/fuzz_*; do
        [[ -f "$exe" && -x "$exe" ]] || continue
        run_one "${exe##*/fuzz_}" "$@" || status=1
    done
    exit $status
fi
run_one "$which" "$@"
