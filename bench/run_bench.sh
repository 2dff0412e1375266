#!/usr/bin/env bash
# run_bench.sh - times whole grayfix runs against the peer tools that do the
# same jobs (netpbm, libvips, GraphicsMagick, G'MIC) on deterministic 8-bit
# and 16-bit sample PGMs, single-threaded, and writes a Markdown table.
#
#   make bench                      # build dir "build"
#   make bench BUILD=build-bench    # or BUILD=... bash bench/run_bench.sh
#
# Environment: BUILD (build directory, default build), SIZE (image width and
# height, default 4096), MIN_RUNS / MAX_RUNS (timed runs per command, default
# 3 / 10: hyperfine stops after about three seconds once MIN_RUNS are done),
# SLOW (seconds, default 10: a command whose checking run takes longer is
# timed by that one run), LIMIT (seconds, default 60: a command still running
# then is stopped and reported as slower than that), JOBS (build parallelism,
# default 2), LIMIT_RUNS (timed runs of each command of the limit rows below,
# default 30).
#
# Installs nothing. Needs hyperfine; each peer that is missing is skipped and
# named in the output. Debian packages: hyperfine netpbm libvips-tools
# graphicsmagick gmic. When the build directory was configured with
# -DGRAYFIX_BENCH=ON and OpenCV is installed (libopencv-dev), the in-process
# comparison opencv_bench is built and run too, and its table appended; so is
# bench/python_bench.py (the Python module against the tool and NumPy) when
# the build has the module.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${BUILD:-build}
case $BUILD in /*) ;; *) BUILD=$ROOT/$BUILD ;; esac
SIZE=${SIZE:-4096}
MIN_RUNS=${MIN_RUNS:-3}
MAX_RUNS=${MAX_RUNS:-10}
SLOW=${SLOW:-10}
LIMIT=${LIMIT:-60}
JOBS=${JOBS:-2}
LIMIT_RUNS=${LIMIT_RUNS:-30}
OUT=$BUILD/bench
WORK=$OUT/work
RESULTS=$OUT/results.md

if ! command -v hyperfine >/dev/null; then
    echo "run_bench: hyperfine is not installed (Debian package hyperfine)" >&2
    exit 1
fi

# The peers run single-threaded, and so does grayfix against them; only the 16-bit
# medians against the 8-bit ones below also use grayfix's default threads.
# (nproc counts what the affinity allows, as grayfix does, but also obeys
# OMP_NUM_THREADS: asked first.)
THREADS=$(env -u OMP_NUM_THREADS -u OMP_THREAD_LIMIT nproc)
((THREADS <= 8)) || THREADS=8
export VIPS_CONCURRENCY=1 OMP_NUM_THREADS=1 MAGICK_THREAD_LIMIT=1 GRAYFIX_THREADS=1

cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" -j "$JOBS" --target grayfix make_sample >/dev/null
GRAYFIX=$BUILD/grayfix

mkdir -p "$WORK"
cd "$WORK"
"$BUILD/make_sample" in8.pgm in16.pgm "$SIZE" "$SIZE"
MPIXELS=$(awk -v s="$SIZE" 'BEGIN { printf "%.6f", s * s / 1e6 }')
HALF=$((SIZE / 2))
QUARTER=$((SIZE / 4))
HEADER16_LENGTH=$(head -n 3 in16.pgm | wc -c)

declare -a ROWS=()
declare -A GRAYFIX_MEDIAN=() SKIPPED=()

# time_command JOB IMAGE TOOL BINARY COMMAND
# One checking run first: it warms the page cache and proves the command works
# (a failing command is reported, not timed); then hyperfine takes the median.
# The checking run is timed too: beyond SLOW seconds it is the only run, and at
# LIMIT seconds it is stopped (some peers take minutes on large windows).
time_command()
{
    local job=$1 image=$2 tool=$3 binary=$4 command=$5
    if ! command -v "$binary" >/dev/null; then
        SKIPPED["$binary"]=1
        return
    fi
    local start end status=0 median
    # The files the jobs before wrote go out to disk now, not during this one's runs.
    sync
    start=$(date +%s.%N)
    timeout "$LIMIT" sh -c "$command" >/dev/null 2>"$WORK/last.err" || status=$?
    end=$(date +%s.%N)
    if ((status == 124)); then
        echo "run_bench: $job $image: '$command' stopped after $LIMIT s" >&2
        ROWS+=("$job|$image|$tool|timeout")
        return
    fi
    if ((status != 0)); then
        echo "run_bench: $job $image: '$command' failed: $(head -c 300 "$WORK/last.err")" >&2
        ROWS+=("$job|$image|$tool|failed")
        return
    fi
    median=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f", b - a }')
    if awk -v t="$median" -v slow="$SLOW" 'BEGIN { exit !(t <= slow) }'; then
        hyperfine --style none --warmup 0 --min-runs "$MIN_RUNS" --max-runs "$MAX_RUNS" \
            --export-csv "$WORK/last.csv" -n "$tool" "$command" >/dev/null 2>&1
        # CSV columns: command,mean,stddev,median,user,system,min,max
        median=$(awk -F, 'NR == 2 { print $4 }' "$WORK/last.csv")
    fi
    [[ $tool == grayfix ]] && GRAYFIX_MEDIAN["$job|$image"]=$median
    ROWS+=("$job|$image|$tool|$median")
    printf '%-14s %-7s %-26s %8.4f s\n' "$job" "$image" "$tool" "$median" >&2
}

KERNEL_FILE=$WORK/smooth.mat
printf '3 3 16 0\n1 1 1\n1 8 1\n1 1 1\n' >"$KERNEL_FILE"

for bits in 8 16; do
    in=in$bits.pgm
    image=${bits}-bit
    maxval=$(( bits == 8 ? 255 : 65535 ))

    time_command copy "$image" "cat (floor)" cat "cat $in > out.pgm"
    time_command copy "$image" grayfix "$GRAYFIX" "$GRAYFIX $in out.pgm > /dev/null"
    time_command copy "$image" pamtopnm pamtopnm "pamtopnm $in > out.pgm"
    time_command copy "$image" "vips copy" vips "vips copy $in out.pgm"

    for radius in 1 2 3 5 10; do
        n=$((2 * radius + 1))
        job="median ${n}x${n}"
        time_command "$job" "$image" grayfix "$GRAYFIX" "$GRAYFIX $in -t:denoise:$radius:0 out.pgm > /dev/null"
        time_command "$job" "$image" pgmmedian pgmmedian "pgmmedian -width $n -height $n $in > out.pgm"
        time_command "$job" "$image" "vips rank" vips "vips rank $in out.pgm $n $n $((n * n / 2))"
        # gm -median takes about 15 s at 3x3 and grows with the window area: minutes from 7x7 on.
        if ((radius <= 2)); then
            time_command "$job" "$image" "gm -median" gm "gm convert $in -median $radius out.pgm"
        fi
        time_command "$job" "$image" "gmic -median" gmic "gmic -v - $in -median $n -o out.pgm"
    done

    job="smooth 8/1"
    time_command "$job" "$image" grayfix "$GRAYFIX" "$GRAYFIX $in -t:soften:1:8:1 out.pgm > /dev/null"
    time_command "$job" "$image" pnmconvol pnmconvol "pnmconvol '-matrix=1,1,1;1,8,1;1,1,1' -normalize $in > out.pgm"
    time_command "$job" "$image" "vips conv" vips "vips conv $in out.pgm $KERNEL_FILE --precision integer"
    time_command "$job" "$image" "gm -convolve" gm "gm convert $in -convolve 1,1,1,1,8,1,1,1,1 out.pgm"

    job="downsize 2x"
    time_command "$job" "$image" grayfix "$GRAYFIX" "$GRAYFIX $in -t:downsize:2 out.pgm > /dev/null"
    time_command "$job" "$image" "pamscale -reduce 2" pamscale "pamscale -reduce 2 -linear $in > out.pgm 2>/dev/null"
    time_command "$job" "$image" "vips shrink" vips "vips shrink $in out.pgm 2 2"
    time_command "$job" "$image" "gm -scale 50%" gm "gm convert $in -scale 50% out.pgm"

    job="crop ${HALF}x${HALF}"
    time_command "$job" "$image" grayfix "$GRAYFIX" "$GRAYFIX $in -t:crop:$QUARTER:$QUARTER:$HALF:$HALF out.pgm > /dev/null"
    time_command "$job" "$image" pamcut pamcut "pamcut -left $QUARTER -top $QUARTER -width $HALF -height $HALF $in > out.pgm"
    time_command "$job" "$image" "vips crop" vips "vips crop $in out.pgm $QUARTER $QUARTER $HALF $HALF"

    job="noise sigma 10"
    time_command "$job" "$image" grayfix "$GRAYFIX" "$GRAYFIX $in -t:wgnoise:10 out.pgm > /dev/null"
    time_command "$job" "$image" "gmic -noise" gmic "gmic -v - $in -noise 10,0 -round -cut 0,$maxval -o out.pgm"
    time_command "$job" "$image" "gm +noise" gm "gm convert $in +noise Gaussian out.pgm"

    if [[ $bits == 16 ]]; then
        job="16 to 8 bits"
        time_command "$job" "$image" grayfix "$GRAYFIX" "$GRAYFIX $in -t:reducedepth:8 out.pgm > /dev/null"
        time_command "$job" "$image" "vips msb" vips "vips msb $in out.pgm"
        time_command "$job" "$image" pamdepth pamdepth "pamdepth 255 $in > out.pgm"

        job="byte swap"
        time_command "$job" "$image" grayfix "$GRAYFIX" "$GRAYFIX $in -t:negendian out.pgm > /dev/null"
        time_command "$job" "$image" pamendian pamendian "pamendian < $in > out.pgm"
        time_command "$job" "$image" "dd conv=swab" dd \
            "{ head -c $HEADER16_LENGTH $in; dd if=$in bs=1M iflag=skip_bytes skip=$HEADER16_LENGTH conv=swab status=none; } > out.pgm"
    fi
done

# ---- Limit rows: grayfix against what the machine allows for the same job ----
# Each job runs in one hyperfine call with its limit commands (same warm page
# cache, one after the other), and the goal is a ratio of medians: describe
# within 2.5x of reading the file (cat > /dev/null), a copy within 1.3x of
# cat > file (cp alongside), the byte swap within 1.2x of dd conv=swab, and a
# 64 x 64 describe no slower than pgmhist, for batches of small images.
declare -a LIMIT_LINES=()

# limit_row JOB GOAL SHELL COMMAND LIMIT_NAME LIMIT_COMMAND [NAME COMMAND ...]
# SHELL is "shell" when a command needs redirection (hyperfine then subtracts
# the shell's own start), "direct" otherwise. The first command is grayfix's,
# the second the limit; later ones are shown for comparison.
limit_row()
{
    local job=$1 goal=$2 mode=$3
    shift 3
    local -a names=(grayfix) commands=("$1") options=(--warmup 3 --runs "$LIMIT_RUNS")
    shift
    while (($#)); do
        local binary=${2%% *}
        if ! command -v "$binary" >/dev/null; then
            SKIPPED["$binary"]=1
            LIMIT_LINES+=("- $job: $1 is not installed, not timed")
            return
        fi
        names+=("$1")
        commands+=("$2")
        shift 2
    done
    [[ $mode == direct ]] && options+=(-N)
    sync
    local -a arguments=()
    for i in "${!names[@]}"; do arguments+=(-n "${names[$i]}" "${commands[$i]}"); done
    if ! hyperfine --style none "${options[@]}" --export-csv "$WORK/limit.csv" \
        "${arguments[@]}" >/dev/null 2>"$WORK/last.err"; then
        LIMIT_LINES+=("- $job: failed ($(head -c 200 "$WORK/last.err"))")
        return
    fi
    # CSV columns: command,mean,stddev,median,user,system,min,max; rows in order.
    LIMIT_LINES+=("$(awk -F, -v job="$job" -v goal="$goal" '
        NR > 1 { name[NR - 1] = $1; median[NR - 1] = $4 * 1000; count = NR - 1 }
        END {
            ratio = median[1] / median[2]
            text = sprintf("- %s: grayfix %.1f ms, %s %.1f ms", job, median[1], name[2], median[2])
            for (i = 3; i <= count; ++i) text = text sprintf(", %s %.1f ms", name[i], median[i])
            printf "%s; grayfix is %.2fx %s (goal <= %.1fx): %s\n", text, ratio, name[2], goal,
                ratio <= goal ? "met" : "NOT met"
        }' "$WORK/limit.csv")")
    echo "run_bench: ${LIMIT_LINES[-1]}" >&2
}

"$BUILD/make_sample" small8.pgm small16.pgm 64 64
for bits in 8 16; do
    limit_row "describe, ${bits}-bit" 2.5 direct "$GRAYFIX in$bits.pgm /dev/null" \
        "cat > /dev/null" "cat in$bits.pgm"
    limit_row "copy, ${bits}-bit" 1.3 shell "$GRAYFIX in$bits.pgm out.pgm > /dev/null" \
        "cat > file" "cat in$bits.pgm > out_cat.pgm" "cp" "cp in$bits.pgm out_cp.pgm"
done
limit_row "byte swap, 16-bit" 1.2 shell "$GRAYFIX in16.pgm -t:negendian out.pgm > /dev/null" \
    "dd conv=swab" "{ head -c $HEADER16_LENGTH in16.pgm; dd if=in16.pgm bs=1M iflag=skip_bytes skip=$HEADER16_LENGTH conv=swab status=none; } > out_dd.pgm"
limit_row "describe 64x64, 8-bit" 1.0 direct "$GRAYFIX small8.pgm /dev/null" "pgmhist" "pgmhist small8.pgm"
# ---- end of the limit rows ----

# 16-bit medians against the 8-bit ones of the same window, in the same run, with
# grayfix's default threads (and the 16-bit ones on one thread too): the goal is 16-bit
# medians of radius 3, 5 and 10 in at most 0.35 s each at 4096 x 4096, and radius 20 in
# at most 1.3 times radius 3.
declare -A DEPTH_MEDIAN=()
for radius in 3 5 10 20; do
    n=$((2 * radius + 1))
    for bits in 8 16 16/1; do
        threads=$THREADS
        [[ $bits == 16/1 ]] && threads=1
        command="GRAYFIX_THREADS=$threads $GRAYFIX in${bits%/1}.pgm -t:denoise:$radius:0 out.pgm > /dev/null"
        hyperfine --style none --warmup 1 --min-runs "$MIN_RUNS" --max-runs "$MAX_RUNS" \
            --export-csv "$WORK/last.csv" "$command" >/dev/null 2>&1 || continue
        DEPTH_MEDIAN["$radius|$bits"]=$(awk -F, 'NR == 2 { print $4 }' "$WORK/last.csv")
        printf '%-14s %-7s %-26s %8.4f s\n' "median ${n}x${n}" "${bits%/1}-bit" "grayfix ($threads threads)" \
            "${DEPTH_MEDIAN["$radius|$bits"]}" >&2
    done
done

# What a 3x3 and a 5x5 median add to a plain copy: whole runs on grayfix's default threads,
# in turns (the goal: no more than OpenCV's in-process time for the same kernel, below).
declare -A ADDS=()
for bits in 8 16; do
    run="env GRAYFIX_THREADS=$THREADS $GRAYFIX in$bits.pgm"
    hyperfine --style none -N --warmup 3 --runs "$LIMIT_RUNS" --export-csv "$WORK/adds.csv"         -n copy "$run out.pgm" -n 3x3 "$run -t:denoise:1:0 out.pgm" -n 5x5 "$run -t:denoise:2:0 out.pgm"         >/dev/null 2>&1 || continue
    # CSV columns: command,mean,stddev,median,...; rows copy, 3x3, 5x5.
    read -r copy3 copy5 < <(awk -F, 'NR > 1 { t[NR - 1] = $4 * 1000 }
        END { printf "%.1f/%.1f %.1f/%.1f\n", t[2] - t[1], t[1], t[3] - t[1], t[1] }' "$WORK/adds.csv")
    ADDS["median3x3/${bits}bit"]=$copy3
    ADDS["median5x5/${bits}bit"]=$copy5
    echo "run_bench: ${bits}-bit median 3x3 adds ${copy3%/*} ms and 5x5 ${copy5%/*} ms to a copy of ${copy3#*/} ms" >&2
done

# The table, with each tool's median next to grayfix's for the same job and image.
{
    echo "| job | image | tool | median s | MPixel/s | ratio to grayfix |"
    echo "|---|---|---|---:|---:|---:|"
    for row in "${ROWS[@]}"; do
        IFS='|' read -r job image tool median <<<"$row"
        if [[ $median == failed ]]; then
            echo "| $job | $image | $tool | failed | | |"
            continue
        fi
        if [[ $median == timeout ]]; then
            echo "| $job | $image | $tool | > $LIMIT | | |"
            continue
        fi
        base=${GRAYFIX_MEDIAN["$job|$image"]:-}
        awk -v job="$job" -v image="$image" -v tool="$tool" -v t="$median" -v g="$base" \
            -v mp="$MPIXELS" 'BEGIN {
                ratio = g == "" ? "n/a" : sprintf("%.2f", t / g)
                printf "| %s | %s | %s | %.4f | %.1f | %s |\n", job, image, tool, t, mp / t, ratio
            }'
    done
    echo
    echo "Images: ${SIZE} x ${SIZE} from make_sample; MPixel/s counts input pixels."
    echo "Ratio = tool median / grayfix median (above 1: grayfix is faster)."
    echo "Single-threaded, peers and grayfix (VIPS_CONCURRENCY=1 OMP_NUM_THREADS=1"
    echo "MAGICK_THREAD_LIMIT=1 GRAYFIX_THREADS=1);"
    echo "one checking run, then ${MIN_RUNS} to ${MAX_RUNS} timed runs per command (hyperfine); a command"
    echo "whose checking run took more than ${SLOW} s is timed by that run alone, and one still"
    echo "running after ${LIMIT} s is stopped and shown as \"> ${LIMIT}\"."
    echo
    echo "Notes on what the peers compute (checked against exact references):"
    echo "- Every grayfix run also prints the statistics twice: one pass over the pixels"
    echo "  (histogram and CRC-32s), and another after a transform that may have changed"
    echo "  them; no peer computes them."
    echo "- Borders: grayfix's median and smoothing windows leave out positions outside the"
    echo "  image; the peers extend the image their own way, so pixels within the radius of"
    echo "  the border differ. Interior pixels are identical unless noted below."
    echo "- vips rank 5x5 on 8-bit images (vips 8.14) gives values that differ from the exact"
    echo "  median in most interior pixels; its 3x3 and 16-bit results are exact."
    echo "- gm -median is timed for 3x3 and 5x5 only: from 7x7 on it takes minutes."
    echo "- smooth: vips conv (integer) and gm -convolve on 8-bit images round differently"
    echo "  (off by 1 on part of the pixels); pnmconvol, and all three on 16 bits, match."
    echo "- downsize: pamscale needs -linear to average the values themselves (without it"
    echo "  it averages in linear light, up to 19 levels apart at edges); with it, 8-bit"
    echo "  results match and 16-bit ones are off by 1 on about 3% of the pixels. vips"
    echo "  shrink and gm -scale (8-bit) round differently (off by 1 on many pixels)."
    echo "- 16 to 8 bits: pamdepth rescales with rounding instead of shifting (off by 1 on"
    echo "  about a fifth of the pixels); vips msb matches."
    echo "- noise: different random numbers by nature. gmic gets -round and -cut to round"
    echo "  and clamp like grayfix. gm +noise Gaussian takes no strength: its sigma is about"
    echo "  32 levels of 255, not 10."
    echo "- byte swap: dd swaps the pixel bytes after copying the header with head; pamendian"
    echo "  and dd produce the same bytes as grayfix."
    echo
    echo "Goals (grayfix below every peer; crop and byte swap within 2x of the fastest"
    echo "peer; no-transform copy within 3x of cat; median 3x3 at least 3x faster than"
    echo "the fastest peer):"
    printf '%s\n' "${ROWS[@]}" | awk -F'|' '
        $4 == "failed" || $4 == "timeout" { next }
        { key = $1 " " $2; if (!(key in order)) { order[key] = ++count; keys[count] = key } }
        $3 == "grayfix" { mine[key] = $4; next }
        $3 == "cat (floor)" { floor[key] = $4; next }
        { if (!(key in best) || $4 < best[key]) { best[key] = $4; bestTool[key] = $3 } }
        END {
            for (i = 1; i <= count; ++i) {
                key = keys[i]
                if (!(key in mine)) { printf "- %s: grayfix failed or missing\n", key; continue }
                if (!(key in best)) { printf "- %s: no peer ran\n", key; continue }
                limit = (key ~ /^(crop|byte swap)/) ? 2 : 1
                ok = mine[key] < limit * best[key]
                text = sprintf("- %s: fastest peer %s takes %.2fx the time of grayfix", key, bestTool[key],
                               best[key] / mine[key])
                if (key ~ /^median 3x3/) ok = ok && best[key] >= 3 * mine[key]
                if (key in floor) {
                    ok = ok && mine[key] <= 3 * floor[key]
                    text = text sprintf(", grayfix is %.2fx cat", mine[key] / floor[key])
                }
                print text ": " (ok ? "met" : "NOT met")
            }
        }'
    echo
    echo "Limits (${LIMIT_RUNS} runs of each command, medians; the limit commands do only"
    echo "the reading, copying or swapping; grayfix also prints its statistics):"
    printf '%s\n' "${LIMIT_LINES[@]}"
    echo
    echo "16-bit medians against 8-bit ones (grayfix with its default $THREADS threads, and the"
    echo "16-bit ones on 1 thread; median s; goals: radius 3, 5 and 10 at most 0.35 s at"
    echo "4096 x 4096, radius 20 at most 1.3x radius 3):"
    echo
    echo "| window | 8-bit | 16-bit | 16-bit / 8-bit | 16-bit, 1 thread |"
    echo "|---|---:|---:|---:|---:|"
    for radius in 3 5 10 20; do
        n=$((2 * radius + 1))
        awk -v n="$n" -v a="${DEPTH_MEDIAN["$radius|8"]:-}" -v b="${DEPTH_MEDIAN["$radius|16"]:-}" \
            -v c="${DEPTH_MEDIAN["$radius|16/1"]:-}" \
            'BEGIN { if (a == "" || b == "") printf "| %sx%s | failed | | | |\n", n, n
                     else printf "| %sx%s | %.4f | %.4f | %.2f | %s |\n", n, n, a, b, b / a,
                                 c == "" ? "failed" : sprintf("%.4f", c) }'
    done
    echo
    for radius in 3 5 10; do
        t=${DEPTH_MEDIAN["$radius|16"]:-}
        [[ -n $t ]] || continue
        awk -v r="$radius" -v t="$t" -v s="$SIZE" 'BEGIN {
            printf "- 16-bit median radius %s: %.3f s%s\n", r, t,
                s == 4096 ? (t <= 0.35 ? ": met" : ": NOT met") : " (goal set for 4096 x 4096)" }'
    done
    if [[ -n ${DEPTH_MEDIAN["3|16"]:-} && -n ${DEPTH_MEDIAN["20|16"]:-} ]]; then
        awk -v a="${DEPTH_MEDIAN["3|16"]}" -v b="${DEPTH_MEDIAN["20|16"]}" 'BEGIN {
            printf "- 16-bit median radius 20: %.2fx radius 3: %s\n", b / a, b <= 1.3 * a ? "met" : "NOT met" }'
    fi
    if ((${#SKIPPED[@]})); then
        echo
        echo "Skipped, not installed: ${!SKIPPED[*]}."
    fi
} >"$RESULTS"

# The in-process OpenCV comparison, when this build directory can have it.
if grep -q '^GRAYFIX_BENCH:BOOL=ON' "$BUILD/CMakeCache.txt" 2>/dev/null; then
    cmake --build "$BUILD" -j "$JOBS" --target opencv_bench >/dev/null 2>&1 || true
fi
OPENCV_BENCH=$BUILD/bench/opencv_bench
if [[ -x $OPENCV_BENCH ]]; then
    echo "run_bench: running $OPENCV_BENCH" >&2
    {
        echo
        echo "In-process comparison with OpenCV (bench/opencv_bench, CPU time, one thread each;"
        echo "five repetitions each, the ratios from the fastest):"
        echo
        echo '```text'
        "$OPENCV_BENCH" --benchmark_repetitions=5 --benchmark_display_aggregates_only=true 2>&1 |
            tee "$WORK/opencv.txt" || echo "opencv_bench failed (status $?)"
        echo '```'
        echo
        echo "What a median adds to a plain copy (whole runs above, grayfix's default $THREADS threads,"
        echo "${LIMIT_RUNS} runs each in turns, medians) against OpenCV's in-process time for the same"
        echo "kernel (the fastest of five, one thread; goal: no more):"
        for key in median3x3/8bit median3x3/16bit median5x5/8bit median5x5/16bit; do
            add=${ADDS[$key]:-}
            opencv=$(awk -v key="$key" '$1 == key && $6 ~ /x$/ { print $4 }' "$WORK/opencv.txt")
            if [[ -z $add || -z $opencv ]]; then
                echo "- $key: not timed"
                continue
            fi
            awk -v key="$key" -v add="${add%/*}" -v copy="${add#*/}" -v cv="$opencv" 'BEGIN {
                printf "- %s: adds %.1f ms to a copy of %.1f ms; OpenCV %.1f ms: %s\n", key, add, copy,
                    cv, add <= cv ? "met" : "NOT met" }'
        done
    } >>"$RESULTS"
else
    echo "run_bench: opencv_bench not built (needs libopencv-dev and a build configured with" \
        "-DGRAYFIX_BENCH=ON), skipped" >&2
    printf '\nOpenCV comparison skipped: opencv_bench not built (libopencv-dev, -DGRAYFIX_BENCH=ON).\n' \
        >>"$RESULTS"
fi

# The Python module against the tool and against NumPy, when this build has it.
cmake --build "$BUILD" -j "$JOBS" --target grayfix_python >/dev/null 2>&1 || true
PYTHON_MODULE=$(ls "$BUILD"/python/grayfix.cpython-*.so 2>/dev/null | head -1)
if [[ -n $PYTHON_MODULE ]]; then
    echo "run_bench: running bench/python_bench.py" >&2
    {
        echo
        PYTHONPATH=$BUILD/python /usr/bin/python3 "$ROOT/bench/python_bench.py" "$GRAYFIX" \
            "$WORK/in16.pgm" "$WORK" "$MIN_RUNS" 2>&1 || echo "python_bench.py failed (status $?)"
    } >>"$RESULTS"
else
    echo "run_bench: the Python module is not built (pybind11, NumPy), its rows skipped" >&2
    printf '\nPython module rows skipped: the module is not built (pybind11-dev, python3-numpy).\n' \
        >>"$RESULTS"
fi

cat "$RESULTS"
echo
echo "Written to $RESULTS"
