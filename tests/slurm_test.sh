#!/bin/bash
# slurm_test.sh - README's Slurm recipe on a one-node cluster that this test
# starts itself: munged, slurmctld and slurmd with a configuration, ports, state,
# spool and log folders and a munge key and socket of their own in a temporary
# folder (nothing under /etc is read or changed). The recipe runs over 20 small
# images, one of them broken, in 4 tasks; its CSV and output images must equal a
# local run of the batch helper. Then: a task lost and resubmitted alone as
# README says, a submission that does not wait, and usage errors. Every daemon is stopped by its
# pid at the end, also on failure.
# Usage: slurm_test.sh SOURCE-DIR GRAYFIX
# Exit status 77 (a skip) when Slurm cannot be started here (not root, or the
# slurm-wlm and munge packages missing); with GRAYFIX_REQUIRE_SLURM=1 (as CI
# sets it) that is a failure instead.

src=$(realpath -e -- "$1") && grayfix=$(realpath -e -- "$2") ||
    { echo "usage: $0 source-dir grayfix" >&2; exit 2; }

skip() {
    if [[ ${GRAYFIX_REQUIRE_SLURM:-0} == 1 ]]; then
        echo "FAIL: $1 (GRAYFIX_REQUIRE_SLURM=1: the cluster test must run)"
        exit 1
    fi
    echo "SKIPPED: $1"
    exit 77
}

# The daemons live in sbin, which a user's PATH may lack.
PATH=$PATH:/usr/sbin:/sbin
[[ $(id -u) == 0 ]] || skip "slurmd must run as root; run the test as root"
for tool in munged slurmctld slurmd sbatch squeue sinfo scancel scontrol; do
    command -v "$tool" >/dev/null ||
        skip "$tool is not installed (apt-get install slurm-wlm munge)"
done

# A short path: munge's socket name must fit in 108 bytes.
dir=$(mktemp -d /tmp/grayfix_slurm.XXXXXX) || exit 2
pids=()
passed=0 failed=0
cleanup() {
    # Jobs first, so that no slurmstepd outlives slurmd; then the daemons, by pid.
    if ((${#pids[@]} > 1)); then
        scancel --user=root >/dev/null 2>&1
        for _ in {1..20}; do
            [[ -z $(squeue -h 2>/dev/null) ]] && break
            sleep 0.5
        done
    fi
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null
        for _ in {1..40}; do kill -0 "${pids[i]}" 2>/dev/null || break; sleep 0.25; done
        kill -KILL "${pids[i]}" 2>/dev/null
        wait "${pids[i]}" 2>/dev/null
    done
    if ((failed == 0)); then rm -rf "$dir"; else echo "files kept in $dir"; fi
}
trap cleanup EXIT
trap 'exit 2' HUP INT TERM

source "$(dirname "${BASH_SOURCE[0]}")/check.sh"  # check WHAT GOT WANT

finish() {
    echo "$passed passed, $failed failed"
    ((failed == 0))
    exit
}

# A port that nothing listens on (the local address column of /proc/net/tcp*).
free_port() {
    local port
    while :; do
        port=$((20000 + RANDOM % 40000))
        awk -v p="$(printf ':%04X' "$port")" '$4 == "0A" && substr($2, length($2) - 4) == p { busy = 1 }
            END { exit !busy }' /proc/net/tcp /proc/net/tcp6 2>/dev/null || break
    done
    echo "$port"
}

# The environment of a job or of another cluster must not reach these commands.
while IFS='=' read -r name _; do
    [[ $name == @(SLURM|SBATCH|SQUEUE|SINFO|SCANCEL)_* ]] && unset "$name"
done < <(env)
export SLURM_CONF=$dir/slurm.conf

mkdir -p "$dir/state" "$dir/spool" "$dir/log" "$dir/work" "$dir/bin"
head -c 1024 /dev/urandom >"$dir/munge.key" && chmod 400 "$dir/munge.key"
# NodeName=<host> CPUs=... RealMemory=...: what slurmd finds here.
node=$(slurmd -C | head -1)
host=${node#NodeName=} host=${host%% *}
ctldport=$(free_port) slurmdport=$(free_port)
while [[ $slurmdport == "$ctldport" ]]; do slurmdport=$(free_port); done
# Processes are tracked through /proc and tasks are not bound, so no cgroups are needed.
cat >"$SLURM_CONF" <<EOF
ClusterName=grayfixtest
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$ctldport
SlurmdPort=$slurmdport
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$dir/munge.sock
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/log/slurmctld.log
SlurmdLogFile=$dir/log/slurmd.log
PlugStackConfig=$dir/plugstack.conf
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
SchedulerType=sched/backfill
MpiDefault=none
JobCompType=jobcomp/none
AccountingStorageType=accounting_storage/none
JobAcctGatherType=jobacct_gather/none
MailProg=/bin/true
ReturnToService=2
$node NodeAddr=127.0.0.1 State=UNKNOWN
PartitionName=main Nodes=$host Default=YES MaxTime=INFINITE State=UP
EOF
: >"$dir/plugstack.conf"

start=$SECONDS
munged -F -f --key-file="$dir/munge.key" --socket="$dir/munge.sock" \
    --pid-file="$dir/munged.pid" --seed-file="$dir/munge.seed" \
    --log-file="$dir/log/munged.log" >"$dir/log/munged.out" 2>&1 &
pids+=($!)
for _ in {1..40}; do [[ -S $dir/munge.sock ]] && break; sleep 0.25; done
slurmctld -D -c -f "$SLURM_CONF" >"$dir/log/slurmctld.out" 2>&1 &
pids+=($!)
slurmd -D -f "$SLURM_CONF" >"$dir/log/slurmd.out" 2>&1 &
pids+=($!)
# Seconds here; a busy machine can take a minute.
for _ in {1..240}; do
    [[ $(sinfo -h -o %T 2>/dev/null) == idle ]] && break
    sleep 0.25
done
if [[ $(sinfo -h -o %T 2>/dev/null) != idle ]]; then
    tail -n 5 "$dir"/log/*
    failed=1
    skip "the one-node cluster did not come up (logs above)"
fi
echo "cluster up in $((SECONDS - start)) s: node $host, ports $ctldport and $slurmdport"

# The corpus: 19 small images of 8 and 12 to 15 bits, one named with a space, a comma and a
# quote, and one cut short.
cd "$dir/work" || exit 2
mkdir -p corpus tools
cp "$src/tools/grayfix_batch.sh" "$src/tools/grayfix_slurm.sh" tools/
ln -s "$grayfix" "$dir/bin/grayfix"
export PATH=$dir/bin:$PATH
# Pixels: a scrambled ramp below maxval, written big-endian as PGM has it.
pixels() {
    local count=$1 maxval=$2 j v byte out=""
    for ((j = 0; j < count; j++)); do
        v=$(((j * 2654435761 + count) % (maxval + 1)))
        if ((maxval > 255)); then printf -v byte '\\%03o' $((v >> 8)); out+=$byte; fi
        printf -v byte '\\%03o' $((v & 255))
        out+=$byte
    done
    printf "$out"
}
for i in {1..19}; do
    if ((i % 3)); then maxval=255; else maxval=$((i * 1000)); fi
    name=corpus/img$i.pgm
    ((i == 7)) && name="corpus/it's, odd.pgm"
    { printf 'P5\n%d %d\n%d\n' $((i + 2)) $((i % 5 + 1)) $maxval
      pixels $(((i + 2) * (i % 5 + 1))) $maxval; } >"$name"
done
printf 'P5\n8 8\n255\nxyz' >corpus/short.pgm

# The README recipe, as written there.
recipe=$(awk '/^## On a Slurm cluster/ { section = 1; next }
              section && /^## / { exit }
              section && /^```sh$/ { block = ""; inside = 1; next }
              inside && /^```$/ { inside = 0; if (block ~ /grayfix_slurm\.sh/ && block ~ /--wait/) { printf "%s", block; exit } next }
              inside { block = block $0 "\n" }' "$src/README.md")
check "README has the recipe" "$([[ $recipe == *--wait* ]] && echo yes)" yes
start=$SECONDS
(set -e; eval "$recipe") >recipe.out 2>recipe.err
check "recipe: exit status (one image failed)" $? 1
echo "recipe ran in $((SECONDS - start)) s"
check "recipe: prints the two job ids" "$(grep -cE '^[0-9]+ [0-9]+$' recipe.out)" 1
check "recipe: no messages" "$(cat recipe.err)" ""
read -r array _ <recipe.out
check "recipe: 4 tasks" "$(cd h0.csv.slurm/logs && echo task_"$array"_*.out)" \
    "task_${array}_1.out task_${array}_2.out task_${array}_3.out task_${array}_4.out"
mkdir direct
sh tools/grayfix_batch.sh -t decorrelatemed -d direct <images.txt >direct.csv
check "local run: exit status" $? 1
check "local run: 21 lines" "$(wc -l <direct.csv)" 21
check "CSV equals the local run's" "$(cmp h0.csv direct.csv 2>&1)" ""
check "broken image's line" "$(grep -c '^corpus/short.pgm,-t:decorrelatemed,2,8,8,8,.*,ReadRaw: Input file too short$' h0.csv)" 1
check "output images equal the local run's" "$(diff -r med direct 2>&1)" ""
check "19 output images" "$(find med -type f | wc -l)" 19

# Task 3 lost (its node failed): the merge names it and writes no CSV. Resubmitted alone
# and merged again with README's commands (less sacct: no accounting here), the CSV is whole.
# (The merge script is plain sh: run here directly, it needs no scheduling.)
rm h0.csv.slurm/parts/3.status
sh h0.csv.slurm/merge.sh 2>merge.err
check "merge without task 3: exit status" $? 2
check "merge without task 3: no CSV" "$([[ -e h0.csv ]] && echo there)" ""
check "merge without task 3: names it" \
    "$(grep -c "^  sbatch --array=3 $dir/work/h0.csv.slurm/task.sh$" merge.err)" 1
resume=$(awk '/^## On a Slurm cluster/ { section = 1; next }
              section && /^## / { exit }
              section && /^```sh$/ { block = ""; inside = 1; next }
              inside && /^```$/ { inside = 0; if (block ~ /^sacct /) { printf "%s", block; exit } next }
              inside { block = block $0 "\n" }' "$src/README.md" | grep -v '^sacct ')
check "README has the resubmission" "$(grep -c -- '--array=3 h0.csv.slurm/task.sh' <<<"$resume")" 1
eval "$resume" >/dev/null
check "task 3 resubmitted: merge's exit status" $? 1
check "task 3 resubmitted: CSV equals the local run's" "$(cmp h0.csv direct.csv 2>&1)" ""

# Without --wait, names from standard input, RAW results, at most one task at a time and
# sbatch options of the user: it returns once submitted; the CSV follows.
mkdir -p two/raw
sed 's/$/\n/' images.txt | tools/grayfix_slurm.sh -o two/rows.csv -n 3%1 -R -d two/raw \
    -c '--time=10 --comment="grayfix test"' -p main >submit.out 2>submit.err
check "no wait: exit status" $? 0
check "no wait: no messages" "$(cat submit.err)" ""
read -r array merge <submit.out
check "no wait: two job ids" "$([[ $array$merge =~ ^[0-9]+$ && $merge -gt $array ]] && echo yes)" yes
check "no wait: throttle and options" \
    "$(scontrol show job "$array" | grep -oE 'ArrayTaskThrottle=1|TimeLimit=00:10:00|Comment=grayfix test' | sort -u | paste -sd ' ')" \
    "ArrayTaskThrottle=1 Comment=grayfix test TimeLimit=00:10:00"
for _ in {1..480}; do
    [[ -n $(squeue -h -j "$merge" -o %T 2>/dev/null) ]] || break
    sleep 0.25
done
check "no wait: merge status" "$(cat two/rows.csv.slurm/status 2>&1)" 1
mkdir direct-raw
sh tools/grayfix_batch.sh -R -d direct-raw <images.txt >direct-raw.csv
check "no wait: CSV equals the local run's" "$(cmp two/rows.csv direct-raw.csv 2>&1)" ""
check "no wait: RAW images equal the local run's" "$(diff -r two/raw direct-raw 2>&1)" ""

# Usage errors, before anything is submitted.
usage() {
    tools/grayfix_slurm.sh "$@" corpus/img1.pgm >/dev/null 2>usage.err
    echo "$? $(grep -c '^usage: grayfix_slurm.sh -o CSV' usage.err)"
}
check "no -o" "$(usage -t decorrelatemed)" "2 1"
check "-n 0" "$(usage -o x.csv -n 0)" "2 1"
check "-n 4%" "$(usage -o x.csv -n 4%)" "2 1"
check "unknown option" "$(usage -o x.csv --no-such)" "2 1"
tools/grayfix_slurm.sh -o x.csv </dev/null >/dev/null 2>usage.err
check "no images, no folder left" "$? $(cat usage.err) $([[ -e x.csv.slurm ]] && echo left)" \
    "2 grayfix_slurm.sh: no images "
tools/grayfix_slurm.sh -o x.csv -d nowhere corpus/img1.pgm >/dev/null 2>usage.err
check "no -d folder" "$? $(cat usage.err)" "2 grayfix_slurm.sh: no directory nowhere"
check "nothing submitted by them" "$(squeue -h)" ""

finish
