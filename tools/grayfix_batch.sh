#!/bin/sh
# grayfix_batch.sh - runs grayfix once per image (optionally with one transform)
# and writes one CSV line per image: the figures of both reports, before and after.
#
# POSIX sh and awk only. A failing image gets its line too (status and message,
# with whatever figures were printed before the failure); the others go on.

usage() {
    cat >&2 <<'EOF'
usage: grayfix_batch.sh [-g grayfix] [-i input-switch]... [-t transform]
                        [-d outdir] [-R] [-H] [image ...]
  -g PATH  the grayfix binary (default: $GRAYFIX, else grayfix on the PATH)
  -i SW    input switch given before every image, e.g. -i -i:RAW:640:480:12
           (repeatable; the "-i:" may be left out: -i endian:Little)
  -t SW    one transform switch, e.g. -t -t:decorrelatemed or -t decorrelatemed
  -d DIR   keep the results as DIR/<image's base name>; without -d they are
           written to /dev/null
  -R       write the results as RAW (-o:RAW)
  -H       leave out the header line (for appending, or parallel runs)
Images come from the arguments, or one per line from standard input.
CSV columns: file,transform,status,width,height,depth,min,max,levels,h0_bpp,
crc_bigendian,crc_byte, the same nine figures with the suffix _after, message.
Exit status: 0 when every image succeeded, 1 when some failed, 2 for bad usage.
EOF
    exit 2
}

grayfix=${GRAYFIX:-grayfix}
inputs=""        # input switches, each quoted for eval
transform=""
outdir=""
outraw=0
header=1
while getopts g:i:t:d:RH option; do
    case $option in
    g) grayfix=$OPTARG ;;
    i) case $OPTARG in -i:*) ;; *) OPTARG="-i:$OPTARG" ;; esac
       # Single-quote the switch so that eval hands it over unchanged.
       quoted=$(printf '%s\n' "$OPTARG" | sed "s/'/'\\\\''/g")
       inputs="$inputs '$quoted'" ;;
    t) case $OPTARG in -t:*) transform=$OPTARG ;; *) transform="-t:$OPTARG" ;; esac ;;
    d) outdir=$OPTARG ;;
    R) outraw=1 ;;
    H) header=0 ;;
    *) usage ;;
    esac
done
shift $((OPTIND - 1))

if ! command -v "$grayfix" >/dev/null 2>&1; then
    echo "grayfix_batch.sh: cannot run $grayfix (use -g or set GRAYFIX)" >&2
    exit 2
fi
if [ -n "$outdir" ] && [ ! -d "$outdir" ]; then
    echo "grayfix_batch.sh: no directory $outdir" >&2
    exit 2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/grayfix_batch.XXXXXX") || exit 2
trap 'rm -rf "$work"' EXIT
trap 'exit 2' HUP INT TERM

if [ "$header" = 1 ]; then
    echo "file,transform,status,width,height,depth,min,max,levels,h0_bpp,crc_bigendian,crc_byte,width_after,height_after,depth_after,min_after,max_after,levels_after,h0_bpp_after,crc_bigendian_after,crc_byte_after,message"
fi

failures=0

# One image: run grayfix, then turn its two reports into one CSV line.
process() {
    image=$1
    # grayfix takes an argument that begins with -i: as an input switch.
    case $image in -i:*) arg="./$image" ;; *) arg=$image ;; esac
    if [ -n "$outdir" ]; then out="$outdir/${image##*/}"; else out=/dev/null; fi
    set --
    [ "$outraw" = 1 ] && set -- -o:RAW
    if [ -n "$transform" ]; then
        eval "\"\$grayfix\" $inputs \"\$arg\" \"\$transform\" \"\$@\" \"\$out\"" \
            >"$work/out" 2>"$work/err" </dev/null
    else
        eval "\"\$grayfix\" $inputs \"\$arg\" \"\$@\" \"\$out\"" \
            >"$work/out" 2>"$work/err" </dev/null
    fi
    status=$?
    [ "$status" = 0 ] || failures=$((failures + 1))
    # One awk per image writes its line in one go, so that parallel runs
    # sharing one output file do not mix their lines.
    # Texts go through the environment: awk -v would expand backslashes.
    GB_FILE=$image GB_TRANSFORM=$transform GB_STATUS=$status GB_ERR="$work/err" awk '
        BEGIN {
            file = ENVIRON["GB_FILE"]; transform = ENVIRON["GB_TRANSFORM"]
            status = ENVIRON["GB_STATUS"] + 0; errfile = ENVIRON["GB_ERR"]
        }
        function csv(text) {
            if (text ~ /[",\r\n]/) { gsub(/"/, "\"\"", text); return "\"" text "\"" }
            return text
        }
        # The description blocks: the input block, then the output block.
        /^Input Image: / { block = 1 }
        /^Outputting to: / { block = 2 }
        /^\tImgImageWidth: / { width[block] = $2 }
        /^\tImgImageHeight: / { height[block] = $2 }
        /^\tImgbpp: / { depth[block] = $2 }
        # The statistics: the first report, then the one after the transform.
        /^Actual minLevel: / {
            report++
            min[report] = $3; max[report] = $5; levels[report] = $7
        }
        /^H0 \(bits\): / { h0[report] = $7 }
        /^BigEndian CRC32: / { crcbig[report] = $3; crcbyte[report] = $6 }
        END {
            message = ""
            while ((getline text < errfile) > 0) {
                if (text == "") continue
                sub(/^grayfix ERROR: /, "", text)
                sub(/^grayfix: /, "", text)
                message = message == "" ? text : message " " text
            }
            sub(/[ \t]+$/, "", message)
            if (status > 128 && message == "") message = "ended by signal " (status - 128)
            if (status == 127 && message == "") message = "grayfix not found"
            # A run that fails after the first report still has its first figures;
            # the input description fills width, height and depth from the start.
            line = csv(file) "," csv(transform) "," status
            line = line "," width[1] "," height[1] "," depth[1] "," min[1] "," max[1]
            line = line "," levels[1] "," h0[1] "," crcbig[1] "," crcbyte[1]
            line = line "," width[2] "," height[2] "," depth[2] "," min[2] "," max[2]
            line = line "," levels[2] "," h0[2] "," crcbig[2] "," crcbyte[2]
            print line "," csv(message)
        }' "$work/out"
}

if [ $# -gt 0 ]; then
    for image in "$@"; do process "$image"; done
else
    while IFS= read -r image || [ -n "$image" ]; do
        [ -n "$image" ] && process "$image"
    done
fi

[ "$failures" = 0 ]
