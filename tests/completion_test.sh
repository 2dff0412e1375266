#!/bin/bash
# completion_test.sh - drives the bash completion of grayfix as bash does:
# COMP_LINE, COMP_POINT and COMP_WORDS split at COMP_WORDBREAKS, then reads
# COMPREPLY and the options the function asked for.
# Usage: completion_test.sh COMPLETION-FILE [GRAYFIX]
# With GRAYFIX, the offered switches are also compared with its usage text.

completion=$(realpath -e -- "$1") || { echo "usage: $0 completion-file [grayfix]" >&2; exit 2; }
grayfix=${2:+$(realpath -e -- "$2")} || exit 2

# shellcheck source=/dev/null
. "$completion" || exit 2

# compopt works only inside a real completion: record what is asked instead.
options=''
compopt() { options+=" $*"; }

# Splits a command line the way bash fills COMP_WORDS: blanks separate words,
# and inside a word each run of COMP_WORDBREAKS characters is a piece of its
# own (quoted text never breaks).
split_line() {
    local line=$1 i c kind last='' quote=''
    pieces=()
    for ((i = 0; i < ${#line}; i++)); do
        c=${line:i:1}
        if [[ $c == \\ && -z $quote ]]; then  # an escaped character is part of the word
            [[ $last == word ]] || pieces+=('')
            pieces[${#pieces[@]} - 1]+=${line:i:2}
            ((i++))
            last=word
            continue
        fi
        if [[ -n $quote ]]; then
            [[ $c == "$quote" ]] && quote=''
            pieces[${#pieces[@]} - 1]+=$c
            continue
        fi
        if [[ $c == [[:space:]] ]]; then
            last=''
            continue
        fi
        kind=word
        [[ $COMP_WORDBREAKS == *"$c"* && $c != [\'\"] ]] && kind=break
        [[ $c == [\'\"] ]] && quote=$c
        if [[ $kind == "$last" ]]; then
            pieces[${#pieces[@]} - 1]+=$c
        else
            pieces+=("$c")
        fi
        last=$kind
    done
    # A blank before the cursor starts a new, empty word.
    [[ -z $last ]] && pieces+=('')
}

# Completes at the end of $1; prints the offers sorted (C locale), one line.
complete_at() {
    split_line "$1"
    COMP_LINE=$1
    COMP_POINT=${#1}
    COMP_WORDS=("${pieces[@]}")
    COMP_CWORD=$((${#pieces[@]} - 1))
    COMPREPLY=()
    options=''
    _grayfix grayfix "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd ' ' -
}

passed=0 failed=0
# expect LINE OFFERS [OPTION]: the offers (sorted), and whether nospace or
# filenames was asked for.
expect() {
    local got want=$2 option=${3:-}
    complete_at "$1" >"$work/offers"  # in this shell, which keeps $options
    got=$(<"$work/offers")
    if [[ $got != "$want" ]]; then
        echo "FAIL: [$1] offered [$got], expected [$want]"
        ((failed++))
    elif [[ -n $option && $options != *"$option"* ]]; then
        echo "FAIL: [$1] did not ask for -o $option (asked:$options)"
        ((failed++))
    elif [[ -z $option && -n $options ]]; then
        echo "FAIL: [$1] asked for$options"
        ((failed++))
    else
        ((passed++))
    fi
}

work=$(mktemp -d) || exit 2
trap 'rm -rf "$work"' EXIT
mkdir "$work/files" && cd "$work/files" || exit 2
mkdir sub
touch in.pgm key.bin 'my file.pgm' sub/deep.pgm
all_files="in.pgm key.bin my file.pgm sub"
transforms="-t:addnoise: -t:correlate -t:correlatemed -t:crop: -t:cropclipdepth:"
transforms+=" -t:cropdepth: -t:cropdepthlike: -t:decorrelate -t:decorrelatemed -t:denoise:"
transforms+=" -t:downsize: -t:increasedepth: -t:negendian -t:noise: -t:reducedepth:"
transforms+=" -t:soften: -t:softensquared: -t:spnoise: -t:wgnoise: -t:xorfile:"

COMP_WORDBREAKS=$' \t\n"\'><=;|&(:'  # bash's default

# The first word: input switches, --help and --version, or the input file.
expect 'grayfix -' '--help --version -i:RAW: -i:RAW:like: -i:endian:Big -i:endian:Little' nospace
expect 'grayfix --' '--help --version'
expect 'grayfix --v' '--version'
expect 'grayfix ' "$all_files" filenames
expect 'grayfix i' 'in.pgm' filenames
expect 'grayfix sub/' 'sub/deep.pgm' filenames
expect 'grayfix my\ f' 'my file.pgm' filenames
# Only the text after the last ':' is replaced, so the offers start there.
expect 'grayfix -i:' 'RAW: RAW:like: endian:Big endian:Little' nospace
expect 'grayfix -i:e' 'endian:Big endian:Little'
expect 'grayfix -i:endian:' 'Big Little'
expect 'grayfix -i:endian:L' 'Little'
expect 'grayfix -i:RAW:l' 'like:' nospace
expect 'grayfix -i:RAW:like:' "$all_files" filenames
expect 'grayfix -i:RAW:like:k' 'key.bin' filenames
expect 'grayfix -i:RAW:512:512:12 -i:endian:Little -' \
    '-i:RAW: -i:RAW:like: -i:endian:Big -i:endian:Little' nospace
expect 'grayfix -i:RAW:like:in.pgm k' 'key.bin' filenames
expect 'grayfix -i:RAW:512:' ''

# After the input file: a transform, -o:RAW or the output file.
expect 'grayfix in.pgm -' "-o:RAW $transforms" nospace
expect 'grayfix -i:endian:Big in.pgm -t:' "${transforms//-t:/}" nospace
expect 'grayfix in.pgm -t:de' 'decorrelate decorrelatemed denoise:' nospace
expect 'grayfix in.pgm -t:neg' 'negendian'
expect 'grayfix in.pgm -t:crop' 'crop: cropclipdepth: cropdepth: cropdepthlike:' nospace
expect 'grayfix in.pgm -t:denoise:1:' ''
expect 'grayfix in.pgm -t:xorfile:' "$all_files" filenames
expect 'grayfix in.pgm -t:xorfile:sub/' 'sub/deep.pgm' filenames
expect 'grayfix in.pgm -t:cropdepthlike:i' 'in.pgm' filenames
expect 'grayfix in.pgm -o' '-o:RAW'
expect 'grayfix in.pgm k' 'key.bin' filenames

# After the transform: -o:RAW or the output file; then only the output file.
expect 'grayfix in.pgm -t:negendian -' '-o:RAW'
expect 'grayfix in.pgm -t:negendian -o:R' 'RAW'
expect 'grayfix in.pgm -t:soften:1:8:1 ' "$all_files" filenames
expect 'grayfix in.pgm -t:negendian -o:RAW k' 'key.bin' filenames
expect 'grayfix in.pgm -o:RAW ' "$all_files" filenames
expect 'grayfix in.pgm -o:RAW -' '' filenames
# Anything after the output file is ignored by grayfix.
expect 'grayfix in.pgm out.pgm ' ''
expect 'grayfix in.pgm -t:negendian -o:RAW out.raw -' ''

# Without ':' among the word breaks bash replaces the whole word.
COMP_WORDBREAKS=$' \t\n"\'><=;|&('
expect 'grayfix -i:e' '-i:endian:Big -i:endian:Little'
expect 'grayfix in.pgm -t:deno' '-t:denoise:' nospace
expect 'grayfix in.pgm -t:xorfile:k' '-t:xorfile:key.bin' filenames

if [[ $(complete -p grayfix) == 'complete -F _grayfix grayfix' ]]; then
    ((passed++))
else
    echo "FAIL: complete -p grayfix says [$(complete -p grayfix 2>&1)]"
    ((failed++))
fi

# Every switch of grayfix's usage text is offered, and no other.
if [[ -n $grayfix ]]; then
    # A build for another processor runs through its emulator (GRAYFIX_EMULATOR,
    # words separated by spaces).
    usage=$(${GRAYFIX_EMULATOR:-} "$grayfix" 2>/dev/null)
    from_usage=$(grep -o '^ *\[-[it]:[^] []*' <<<"$usage" | sed 's/^ *\[//' |
        while IFS= read -r switch; do
            case $switch in
            -i:RAW:like:*) echo -i:RAW:like: ;;
            -i:RAW:*) echo -i:RAW: ;;
            -i:endian:*) printf '%s\n' -i:endian:Big -i:endian:Little ;;
            -t:*:*) echo "${switch%"${switch#-t:*:}"}" ;;
            *) echo "$switch" ;;
            esac
        done | LC_ALL=C sort | paste -sd ' ' -)
    offered="$transforms -i:RAW: -i:RAW:like: -i:endian:Big -i:endian:Little"
    offered=$(tr ' ' '\n' <<<"$offered" | LC_ALL=C sort | paste -sd ' ' -)
    if [[ $from_usage == "$offered" ]]; then
        ((passed++))
    else
        echo "FAIL: the usage text names [$from_usage], the completion offers [$offered]"
        ((failed++))
    fi
fi

echo "$passed passed, $failed failed"
((failed == 0))
