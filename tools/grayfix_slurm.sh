#!/bin/sh
# grayfix_slurm.sh - runs grayfix_batch.sh over a list of images as one Slurm
# job array, then merges the parts into one CSV with a dependent job.
#
# POSIX sh; on the submitting host it needs only Slurm's sbatch (and squeue
# and scancel). Everything the jobs use goes into a work folder beside the CSV
# (CSV.slurm/), which must be on a filesystem that every node sees:
#   list              the images, one per line, in the CSV's order
#   grayfix_batch.sh  a copy of the batch helper
#   task.sh merge.sh  the two job scripts, ready for resubmission with sbatch
#   parts/K.csv       the lines of array task K, complete once parts/K.status exists
#   logs/             Slurm's output files: task_<job>_<K>.out, merge_<job>.out
#   status            the merged result's status (0 or 1; 2 when a task is missing)

usage() {
    cat >&2 <<'EOF'
usage: grayfix_slurm.sh -o CSV [-g grayfix] [-i input-switch]... [-t transform]
                        [-d outdir] [-R] [-f list] [-n tasks[%at-once]]
                        [-p partition] [-c sbatch-options]... [--wait] [image ...]
  -o CSV   the merged CSV, as grayfix_batch.sh writes it (required); the jobs'
           files go to the folder CSV.slurm beside it
  -g, -i, -t, -d, -R  as for grayfix_batch.sh, passed to every run
  -f LIST  the images, one per line, from the file LIST
  -n N     the number of array tasks that share the list (default: one per 100
           images); N%K runs at most K of them at a time
  -p NAME  the Slurm partition
  -c OPTS  more sbatch options for both jobs, e.g. -c '--account=lab --time=2:00:00'
  --wait   wait until the CSV is merged, then exit as grayfix_batch.sh does
Images come from the arguments, from -f LIST, or one per line from standard input.
Prints the job ids of the array and of the merge job.
Exit status: with --wait, 0 when every image succeeded and 1 when some failed;
without, 0 once both jobs are submitted. 2 for bad usage, a failed submission
or (with --wait) a task that left no result.
EOF
    exit 2
}

die() {
    echo "grayfix_slurm.sh: $*" >&2
    exit 2
}

# Quotes one word for a shell command line.
quote() {
    printf "'%s'" "$(printf '%s' "$1" | sed "s/'/'\\\\''/g")"
}

# Paths go into #SBATCH lines in double quotes, where Slurm also expands %.
sbatch_path() {
    case $1 in
    *'"'* | *%* | *'
'*) die "cannot name $1 in a job script (it holds \", % or a newline)" ;;
    esac
}

batchopts=""     # options for grayfix_batch.sh, each quoted
gopt=""          # the -g option alone, for the header line
outdir=""
list=""
csv=""
tasks=""
throttle=""
partition=""
extra=""         # #SBATCH lines of -c
wait=0
while [ $# -gt 0 ]; do
    case $1 in
    --wait) wait=1; shift; continue ;;
    --) shift; break ;;
    -R) batchopts="$batchopts -R"; shift; continue ;;
    -[gitdfonpc]) [ $# -ge 2 ] || usage; option=$1; value=$2; shift 2 ;;
    -[gitdfonpc]?*) value=${1#-?}; option=${1%"$value"}; shift ;;
    -?*) usage ;;
    *) break ;;
    esac
    case $option in
    -g) gopt="-g $(quote "$value")"; batchopts="$batchopts $gopt" ;;
    -i | -t) batchopts="$batchopts $option $(quote "$value")" ;;
    -d) outdir=$value; batchopts="$batchopts -d $(quote "$value")" ;;
    -f) list=$value ;;
    -o) csv=$value ;;
    -n) case $value in
        *%*) tasks=${value%%%*}; throttle=${value#*%}; [ -n "$throttle" ] || usage ;;
        *) tasks=$value ;;
        esac
        case $tasks$throttle in '' | *[!0-9]*) usage ;; esac
        case $tasks/$throttle in 0* | */0*) usage ;; esac ;;
    -p) partition=$value ;;
    -c) case $value in *'
'*) usage ;; esac
        extra="$extra#SBATCH $value
" ;;
    esac
done

[ -n "$csv" ] || usage
case $csv in */) die "-o names a file, not $csv" ;; esac
[ -d "$csv" ] && die "-o names a file, not the directory $csv"
[ $# -gt 0 ] && [ -n "$list" ] && usage
command -v sbatch >/dev/null 2>&1 || die "no sbatch here (Slurm's commands are needed)"
if [ -n "$outdir" ] && [ ! -d "$outdir" ]; then
    die "no directory $outdir"
fi
if [ -n "$list" ] && [ ! -r "$list" ]; then
    die "cannot read $list"
fi
case $0 in */*) helper=${0%/*}/grayfix_batch.sh ;; *) helper=./grayfix_batch.sh ;; esac
[ -r "$helper" ] || die "no $helper beside this script"

# Absolute paths: the jobs run elsewhere, in the submitting directory.
csvdir=$(dirname -- "$csv")
csvdir=$(cd -- "$csvdir" 2>/dev/null && pwd) || die "no directory $(dirname -- "$csv")"
csv=$csvdir/${csv##*/}
work=$csv.slurm
here=$(pwd)
sbatch_path "$work"
sbatch_path "$here"

fresh=0
[ -d "$work" ] || fresh=1
rm -rf "$work/parts" "$work/status" "$work/list"
mkdir -p "$work/parts" "$work/logs" || die "cannot make $work"
cp "$helper" "$work/grayfix_batch.sh" || die "cannot copy $helper to $work"

# The list, written once; empty lines are skipped, as grayfix_batch.sh skips them.
if [ $# -gt 0 ]; then
    printf '%s\n' "$@"
elif [ -n "$list" ]; then
    cat -- "$list"
else
    cat
fi | awk 'length($0) > 0' >"$work/list" || die "cannot write $work/list"
count=$(wc -l <"$work/list")
count=$((count + 0))
if [ "$count" = 0 ]; then
    [ "$fresh" = 1 ] && rm -rf "$work"
    die "no images"
fi
[ -n "$tasks" ] || tasks=$(((count + 99) / 100))
[ "$tasks" -le "$count" ] || tasks=$count

# Options of both jobs, kept in their scripts so that they can be resubmitted as they are.
common="#SBATCH --chdir=\"$here\"
"
[ -n "$partition" ] && common="$common#SBATCH --partition=$partition
"
common="$common$extra"

# Task K (1..tasks) takes lines (K-1)*count/tasks+1 to K*count/tasks of the list, so that
# the parts in task order are the list in its order. A task whose images failed still
# succeeds (the CSV says which failed); only a task that ends without its part fails.
cat >"$work/task.sh" <<EOF
#!/bin/sh
#SBATCH --job-name=grayfix
#SBATCH --array=1-$tasks${throttle:+%$throttle}
#SBATCH --output="$work/logs/task_%A_%a.out"
$common
work=$(quote "$work")
count=$count
tasks=$tasks
k=\${SLURM_ARRAY_TASK_ID:?not an array task}
rm -f "\$work/parts/\$k.status"
sed -n "\$(((k - 1) * count / tasks + 1)),\$((k * count / tasks))p" "\$work/list" |
    sh "\$work/grayfix_batch.sh" -H$batchopts >"\$work/parts/\$k.csv"
status=\$?
case \$status in
0 | 1) echo "\$status" >"\$work/parts/\$k.status" ;;
*) echo "grayfix_slurm.sh: task \$k: grayfix_batch.sh ended with status \$status" >&2
   exit "\$status" ;;
esac
EOF

# The merge: the header and the parts in task order into one CSV, written whole or not
# at all. A task without its part is named, with the commands that resubmit it. It ends
# as grayfix_batch.sh would have: 0, 1 when some image failed, 2 without a CSV.
cat >"$work/merge.sh" <<EOF
#!/bin/sh
#SBATCH --job-name=grayfix-merge
#SBATCH --output="$work/logs/merge_%j.out"
$common
work=$(quote "$work")
csv=$(quote "$csv")
tasks=$tasks
missing="" failed=0 k=1
while [ "\$k" -le "\$tasks" ]; do
    if [ -f "\$work/parts/\$k.status" ]; then
        [ "\$(cat "\$work/parts/\$k.status")" = 0 ] || failed=1
    else
        missing="\$missing,\$k"
    fi
    k=\$((k + 1))
done
if [ -n "\$missing" ]; then
    missing=\${missing#,}
    echo "grayfix_slurm.sh: no result from task \$missing of \$tasks; resubmit with" >&2
    echo "  sbatch --array=\$missing \$work/task.sh" >&2
    echo "  sbatch --dependency=afterany:<its job id> \$work/merge.sh" >&2
    rm -f "\$csv"
    echo 2 >"\$work/status"
    exit 2
fi
fail() {
    echo "grayfix_slurm.sh: cannot write \$csv" >&2
    echo 2 >"\$work/status"
    exit 2
}
sh "\$work/grayfix_batch.sh" $gopt </dev/null >"\$work/merged.csv" || fail
k=1
while [ "\$k" -le "\$tasks" ]; do
    cat "\$work/parts/\$k.csv" >>"\$work/merged.csv" || fail
    k=\$((k + 1))
done
mv "\$work/merged.csv" "\$csv" || fail
echo "\$failed" >"\$work/status"
exit "\$failed"
EOF

array=$(sbatch --parsable "$work/task.sh") || die "the array job was not submitted"
array=${array%%;*}
# An earlier CSV goes (the merge cannot run before it is submitted), so that whatever
# is there later comes from this run.
rm -f "$csv"
merge=$(sbatch --parsable --dependency="afterany:$array" "$work/merge.sh") || {
    scancel "$array"
    die "the merge job was not submitted (array job $array cancelled)"
}
merge=${merge%%;*}
echo "$array $merge"
[ "$wait" = 1 ] || exit 0

# Until the merge job leaves the queue. Slurm forgets finished jobs after a while
# (then squeue calls the id invalid); other squeue failures are waited out.
while :; do
    if state=$(squeue -h -j "$merge" -o %T 2>"$work/squeue.err"); then
        [ -z "$state" ] && break
    elif grep -q 'Invalid job id' "$work/squeue.err"; then
        break
    fi
    sleep 2
done
rm -f "$work/squeue.err"
if [ ! -f "$work/status" ]; then
    die "the merge job $merge ended without a result (see $work/logs/merge_$merge.out)"
fi
status=$(cat "$work/status")
[ "$status" = 2 ] && cat "$work/logs/merge_$merge.out" >&2
exit "$status"
