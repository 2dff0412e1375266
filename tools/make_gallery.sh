#!/bin/sh
# make_gallery.sh - the pictures of the README's gallery: a 160 x 160 crop of
# the project's sample scene and, side by side, what the main transforms make
# of it, as PNG files in docs/gallery/.
# Usage: tools/make_gallery.sh [BUILD-DIR [OUT-DIR]]   (defaults: build, docs/gallery)
#
# grayfix and make_sample come from BUILD-DIR (make all); the tiles are put
# together with netpbm (apt-get install -y netpbm), needed only for this.
# Every picture is the same bytes on every run except wgnoise.png: -t:wgnoise
# seeds its generator from the system's random device.
set -eu

build=${1:-build}
out=${2:-docs/gallery}
for tool in pnmtopng pnmcat pnmpad pbmtext pnmnorm pamdepth; do
    command -v "$tool" >/dev/null || {
        echo "make_gallery.sh: $tool missing: apt-get install -y netpbm" >&2
        exit 2
    }
done
[ -x "$build/grayfix" ] && [ -x "$build/make_sample" ] || {
    echo "make_gallery.sh: no $build/grayfix or $build/make_sample (run make all)" >&2
    exit 2
}
root=$(pwd)
case $build in /*) ;; *) build=$root/$build ;; esac
case $out in /*) ;; *) out=$root/$out ;; esac
mkdir -p "$out"
work=$(mktemp -d "${TMPDIR:-/tmp}/gallery.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

# grayfix with its report silenced; a failure stops the script.
grayfix() { "$build/grayfix" "$@" >/dev/null; }

# tile IMAGE LABEL: the image with its label under it, on white.
tile() {
    pbmtext -builtin fixed "$2" > label.pbm
    pnmcat -tb -jcenter -white "$1" label.pbm | pnmpad -white -left=6 -right=6 -top=6
}
# row OUT.png IMAGE LABEL [IMAGE LABEL ...]: the tiles side by side.
row() {
    png=$1
    shift
    tiles=""
    n=0
    while [ $# -ge 2 ]; do
        n=$((n + 1))
        tile "$1" "$2" > "tile$n.pnm"
        tiles="$tiles tile$n.pnm"
        shift 2
    done
    # shellcheck disable=SC2086  # the tile names have no blanks
    pnmcat -lr -jtop -white $tiles | pnmpad -white -bottom=6 -right=0 | pnmtopng -compression=9 \
        > "$out/$png"
}

"$build/make_sample" sample8.pgm sample16.pgm >/dev/null

# The scene: part of the slab's woven texture, the pebble's edge, the gradient.
grayfix sample8.pgm -t:crop:96:208:160:160 scene.pgm
grayfix sample8.pgm -t:downsize:2 half.pgm
row crop.png half.pgm "sample8.pgm, downsize:2" scene.pgm "crop:96:208:160:160"

# Noise, reproducible: the generator is seeded from the image.
grayfix scene.pgm -t:noise:10 noise.pgm
grayfix scene.pgm -t:addnoise:20 addnoise.pgm
grayfix scene.pgm -t:spnoise:5 spnoise.pgm
row noise.png scene.pgm scene noise.pgm noise:10 addnoise.pgm addnoise:20 spnoise.pgm spnoise:5

# Gaussian noise, seeded from the random device: differs on every run.
grayfix scene.pgm -t:wgnoise:12 wgnoise.pgm
row wgnoise.png scene.pgm scene wgnoise.pgm wgnoise:12

# Soften, and sharpen with a negative neighbour weight (the weights sum to 4).
grayfix scene.pgm -t:soften:2:1:1 soft.pgm
grayfix scene.pgm -t:soften:1:12:-1 sharp.pgm
row soften.png scene.pgm scene soft.pgm soften:2:1:1 sharp.pgm soften:1:12:-1

# Rank-order denoising of a copy with 10 % salt and pepper.
grayfix scene.pgm -t:spnoise:10 noisy.pgm
grayfix noisy.pgm -t:denoise:1:0 median.pgm
grayfix noisy.pgm -t:denoise:1:1 rcrs1.pgm
grayfix noisy.pgm -t:denoise:1:2 second.pgm
grayfix noisy.pgm -t:denoise:1:3 rcrs2.pgm
row denoise.png noisy.pgm spnoise:10 median.pgm denoise:1:0 rcrs1.pgm denoise:1:1 \
    second.pgm denoise:1:2 rcrs2.pgm denoise:1:3

# Downsize: the mean of each times x times block.
grayfix scene.pgm -t:downsize:2 down2.pgm
grayfix scene.pgm -t:downsize:4 down4.pgm
row downsize.png scene.pgm scene down2.pgm downsize:2 down4.pgm downsize:4

# 4 and 2 bits, shifted back to 8 bits so that the levels show.
grayfix scene.pgm -t:reducedepth:4 four.pgm
grayfix four.pgm -t:increasedepth:8:1 four8.pgm
grayfix scene.pgm -t:reducedepth:2 two.pgm
grayfix two.pgm -t:increasedepth:8:1 two8.pgm
row depth.png scene.pgm scene four8.pgm "reducedepth:4, <<4" two8.pgm "reducedepth:2, <<6"

# MED residuals (9 bits, 255 = predicted exactly), contrast stretched by
# pnmnorm so that the 1 % darkest and brightest reach black and white.
grayfix scene.pgm -t:decorrelatemed med.pgm
pnmnorm -quiet -bpercent=1 -wpercent=1 med.pgm | pamdepth 255 > medshow.pgm
row med.png scene.pgm scene medshow.pgm "decorrelatemed"

ls -l "$out"/*.png | awk '{ total += $5; print } END { print total " bytes" }'
