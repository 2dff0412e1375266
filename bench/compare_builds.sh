#!/usr/bin/env bash
# compare_builds.sh - times two grayfix binaries on the same jobs, alternating
# within one hyperfine call per job, so that the ratio holds even on a machine
# whose load moves; prints a Markdown table of the means and new / old.
#
#   bench/compare_builds.sh OLD_GRAYFIX NEW_GRAYFIX [MAKE_SAMPLE]
#
# Environment: SIZE (default 4096), RUNS (per binary and job, default 5).
# Needs hyperfine. Before timing, each job's output file is compared, so a
# row is printed only for jobs whose outputs are identical (white noise, which
# seeds from the random device, is timed without that check).
set -euo pipefail

OLD=$(realpath "$1")
NEW=$(realpath "$2")
MAKE_SAMPLE=$(realpath "${3:-$(dirname "$NEW")/make_sample}")
SIZE=${SIZE:-4096}
RUNS=${RUNS:-5}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"
"$MAKE_SAMPLE" in8.pgm in16.pgm "$SIZE" "$SIZE" > /dev/null

echo "| job | old (s) | new (s) | new / old |"
echo "|---|---:|---:|---:|"
for bits in 8 16; do
    jobs=("" -t:denoise:1:0 -t:denoise:2:0 -t:denoise:3:0 -t:denoise:5:0 -t:denoise:10:0
          -t:denoise:20:0 -t:denoise:3:1 -t:denoise:10:2 -t:denoise:1:3 -t:soften:1:8:1
          -t:softensquared:2:4:1 -t:downsize:2 "-t:crop:$((SIZE / 4)):$((SIZE / 4)):$((SIZE / 2)):$((SIZE / 2))"
          -t:wgnoise:10 -t:noise:10)
    if [ "$bits" = 16 ]; then
        jobs+=(-t:reducedepth:8 -t:negendian)
    else
        jobs+=(-t:decorrelate -t:decorrelatemed -t:increasedepth:16:1)
    fi
    for job in "${jobs[@]}"; do
        args=(in$bits.pgm $job)
        if [ "$job" != -t:wgnoise:10 ]; then
            # One output name for both, as the report prints it.
            status_old=0 status_new=0
            "$OLD" "${args[@]}" out.pgm > old.txt 2>&1 || status_old=$?
            mv out.pgm old.pgm 2> /dev/null || true
            "$NEW" "${args[@]}" out.pgm > new.txt 2>&1 || status_new=$?
            mv out.pgm new.pgm 2> /dev/null || true
            if [ $status_old != 0 ] || [ $status_new != 0 ]; then
                echo "| ${bits}-bit ${job:-copy} | status $status_old | status $status_new | |"
                continue
            fi
            if ! cmp -s old.pgm new.pgm || ! cmp -s old.txt new.txt; then
                echo "| ${bits}-bit ${job:-copy} | outputs differ | | |"
                continue
            fi
        fi
        hyperfine -N --style none --warmup 1 --runs "$RUNS" --export-json t.json \
            "$OLD ${args[*]} out.pgm" "$NEW ${args[*]} out.pgm" > /dev/null 2>&1
        python3 -c '
import json, sys
old, new = (r["mean"] for r in json.load(open("t.json"))["results"])
print(f"| {sys.argv[1]} | {old:.3f} | {new:.3f} | {new / old:.2f} |")' "${bits}-bit ${job:-copy}"
    done
done
