#!/bin/bash
# run_fuzz.sh - builds the libFuzzer targets (clang, AddressSanitizer,
# UndefinedBehaviorSanitizer) and fuzzes them one after the other.
#
#   run_fuzz.sh                  campaign: FUZZ_SECONDS per target (default 900)
#   run_fuzz.sh smoke [SECONDS]  short run per target (default 60), as in CI
#   run_fuzz.sh seeds            rewrites the committed seed corpus
#   run_fuzz.sh coverage         line coverage of src/ reached by the seeds and
#                                the collected corpus (no sanitizers)
#
# Environment: FUZZ_BUILD (build directory, default build-fuzz), FUZZ_TARGETS
# (default "fuzz_pgm_read fuzz_run"). New corpus entries collect in
# $FUZZ_BUILD/corpus/<target>; the committed seeds in tests/fuzz/corpus/<target>
# are only read. A finding leaves $FUZZ_BUILD/artifacts/<target>/crash-* (or
# timeout-*, oom-*) and makes the script exit with status 1. Reproduce with
#   $FUZZ_BUILD/<target> <artifact>
# and, for fuzz_run, see the command line it decodes to with
#   GRAYFIX_FUZZ_SHOW=1 $FUZZ_BUILD/fuzz_run <artifact>
# (the files it names stay in /dev/shm/grayfix-fuzz-<pid>).
set -euo pipefail
cd "$(dirname "$0")/../.."

mode=${1:-campaign}
build=${FUZZ_BUILD:-build-fuzz}
targets=${FUZZ_TARGETS:-"fuzz_pgm_read fuzz_run"}
case "$mode" in
    smoke) seconds=${2:-60} ;;
    campaign) seconds=${FUZZ_SECONDS:-900} ;;
    seeds) ;;
    coverage) ;;
    *) echo "usage: $0 [smoke [SECONDS] | seeds | coverage]" >&2; exit 2 ;;
esac

if ! command -v clang++ > /dev/null; then
    echo "run_fuzz.sh: clang++ is missing (Debian: apt-get install clang libclang-rt-14-dev)" >&2
    exit 2
fi
# Builds the fuzz project into $1 with the extra cmake arguments that follow.
configure_and_build() {
    local dir=$1
    shift
    mkdir -p "$dir"
    cmake -S tests/fuzz -B "$dir" -DCMAKE_CXX_COMPILER=clang++ "$@" > "$dir/configure.log" 2>&1 \
        || { cat "$dir/configure.log"; exit 2; }
    cmake --build "$dir" -j "$(nproc)" > "$dir/build.log" 2>&1 \
        || { tail -50 "$dir/build.log"; exit 2; }
}

if [ "$mode" = coverage ]; then
    cov="$build-coverage"
    configure_and_build "$cov" -DGRAYFIX_FUZZ_COVERAGE=ON
    rm -rf "$cov/profiles"
    mkdir -p "$cov/profiles"
    objects=()
    for target in $targets; do
        mkdir -p "$build/corpus/$target"
        LLVM_PROFILE_FILE="$cov/profiles/$target.profraw" "$cov/$target" -runs=0 \
            -close_fd_mask=3 "$build/corpus/$target" "tests/fuzz/corpus/$target" > "$cov/$target.log" 2>&1 || true
        objects+=(-object "$cov/$target")
    done
    llvm-profdata-14 merge -sparse "$cov"/profiles/*.profraw -o "$cov/merged.profdata"
    llvm-cov-14 report -instr-profile="$cov/merged.profdata" "${objects[@]:1}" \
        "$(pwd)/src"
    exit 0
fi

configure_and_build "$build"

if [ "$mode" = seeds ]; then
    rm -rf tests/fuzz/corpus
    "$build/make_fuzz_seeds" tests/fuzz/corpus
    echo "seed corpus written to tests/fuzz/corpus"
    exit 0
fi

failed=0
passed=0
for target in $targets; do
    corpus="$build/corpus/$target"
    artifacts="$build/artifacts/$target"
    log="$build/logs/$target.log"
    mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
    echo "== $target: fuzzing for $seconds s"
    # -close_fd_mask=3: the tool's own reports and error banners are not
    # wanted; libFuzzer, the sanitizers and the harness keep a channel of
    # their own. Inputs stay small so that every run takes milliseconds.
    set +e
    "$build/$target" "$corpus" "tests/fuzz/corpus/$target" \
        -max_total_time="$seconds" -timeout=60 -rss_limit_mb=2560 -max_len=4096 \
        -close_fd_mask=3 -print_final_stats=1 -artifact_prefix="$artifacts/" > "$log" 2>&1
    status=$?
    set -e
    grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1 || true
    grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$log" || true
    if [ $status -eq 0 ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "!! $target found a problem (status $status); log: $log"
        grep -E 'FINDING|ERROR|SUMMARY|Test unit written' "$log" | head -20 || true
    fi
done
echo "fuzz: $passed passed, $failed failed"
[ $failed -eq 0 ]
