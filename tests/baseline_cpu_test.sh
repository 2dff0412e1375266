#!/bin/bash
# baseline_cpu_test.sh - every transform run natively (with whatever vector
# paths this processor offers) and under qemu-x86_64 -cpu qemu64, a baseline
# x86-64 without SSSE3, AVX or PCLMUL: the package says amd64, so the tool must
# run on any amd64 processor and give the same reports and the same bytes.
# Usage: baseline_cpu_test.sh GRAYFIX MAKE_SAMPLE WORKDIR
# Ends with 77 (skipped) when qemu-x86_64 is missing.

set -u
grayfix=$(realpath -e -- "$1") && make_sample=$(realpath -e -- "$2") \
    || { echo "usage: $0 grayfix make_sample workdir" >&2; exit 2; }
work=$3
command -v qemu-x86_64 >/dev/null || { echo "qemu-x86_64 not installed (apt-get install qemu-user)"; exit 77; }
emulated=(qemu-x86_64 -cpu qemu64)

rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 2
# The emulated processor must lack AVX2 (x86-64-v3), or the test proves nothing;
# the dynamic loader says which levels a processor supports.
loader=/lib64/ld-linux-x86-64.so.2
if [ -x "$loader" ]; then
    if "${emulated[@]}" "$loader" --help | grep -q 'x86-64-v3 (supported'; then
        echo "qemu-x86_64 -cpu qemu64 offers AVX2: not a baseline processor" >&2
        exit 1
    fi
    "$loader" --help | grep -q 'x86-64-v3 (supported' \
        || echo "note: this processor lacks AVX2 too, so both runs take the baseline paths"
fi

# The samples, and odd sizes whose rows end in partial vectors, at 8, 12 and 16 bits.
"$make_sample" s8.pgm s16.pgm 256 192 || exit 2
"$grayfix" s16.pgm -t:crop:3:5:131:77 o16.pgm >/dev/null || exit 2
"$grayfix" s16.pgm -t:reducedepth:12 o12.pgm >/dev/null || exit 2
"$grayfix" s8.pgm -t:crop:1:2:67:45 o8.pgm >/dev/null || exit 2
"$grayfix" -i:endian:Little s16.pgm -t:crop:0:0:65:33 le16.pgm >/dev/null 2>&1
"$grayfix" o8.pgm -t:decorrelatemed res8.pgm >/dev/null || exit 2
"$grayfix" o12.pgm -t:decorrelate res12.pgm >/dev/null || exit 2
head -c 1000 s16.pgm | tail -c 257 > xor.bin
printf 'P5\n1 1\n1023\n\0\0' > ref10.pgm

transforms=(
    "" -t:noise:10 -t:addnoise:30 -t:spnoise:10
    -t:soften:1:8:1 -t:soften:2:9:-1 -t:soften:4:1:1 -t:softensquared:1:8:1 -t:softensquared:3:5:-1
    -t:denoise:1:0 -t:denoise:1:1 -t:denoise:1:2 -t:denoise:1:3 -t:denoise:2:0 -t:denoise:2:3
    -t:denoise:5:0 -t:denoise:5:2
    -t:downsize:2 -t:downsize:3 -t:crop:2:3:40:30
    -t:reducedepth:5 -t:cropdepth:11 -t:cropclipdepth:6 -t:cropdepthlike:ref10.pgm
    -t:increasedepth:14:1 -t:increasedepth:16:0
    -t:decorrelate -t:correlate -t:decorrelatemed -t:correlatemed
    -t:negendian -t:xorfile:xor.bin
)
inputs=(s8.pgm s16.pgm o16.pgm o12.pgm o8.pgm res8.pgm res12.pgm)

failures=0 runs=0
# Runs one command line both ways; the reports, the status and the file written must agree.
compare() {
    local name=$1; shift
    local native_status emulated_status
    "$grayfix" "$@" native.out >native.txt 2>&1; native_status=$?
    [ -e native.out ] || : >native.out
    "${emulated[@]}" "$grayfix" "$@" emulated.out >emulated.txt 2>&1; emulated_status=$?
    [ -e emulated.out ] || : >emulated.out
    sed -i 's/emulated\.out/native.out/' emulated.txt
    runs=$((runs + 1))
    if [ "$native_status" != "$emulated_status" ] || ! cmp -s native.txt emulated.txt \
        || ! cmp -s native.out emulated.out; then
        echo "differs under -cpu qemu64: grayfix $* OUT ($name: status $native_status native, $emulated_status emulated)"
        diff native.txt emulated.txt | head -5
        cmp native.out emulated.out | head -2
        failures=$((failures + 1))
    fi
    rm -f native.out emulated.out
}

for input in "${inputs[@]}"; do
    for transform in "${transforms[@]}"; do
        compare "$input" "$input" ${transform:+"$transform"}
    done
    compare "$input raw" "$input" -o:RAW
done
compare "little-endian input" -i:endian:Little le16.pgm -t:soften:1:8:1
compare "little-endian input" -i:endian:Little le16.pgm -t:denoise:2:0
# White noise draws from the random device: only the status and the size can agree.
for input in s8.pgm s16.pgm; do
    "$grayfix" "$input" -t:wgnoise:3 native.out >/dev/null; native_status=$?
    "${emulated[@]}" "$grayfix" "$input" -t:wgnoise:3 emulated.out >/dev/null; emulated_status=$?
    runs=$((runs + 1))
    if [ "$native_status" != "$emulated_status" ] \
        || [ "$(wc -c <native.out)" != "$(wc -c <emulated.out)" ]; then
        echo "differs under -cpu qemu64: grayfix $input -t:wgnoise:3 OUT"
        failures=$((failures + 1))
    fi
    rm -f native.out emulated.out
done

echo "$runs runs compared, $failures differ"
[ "$failures" = 0 ]
