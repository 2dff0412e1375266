#!/bin/sh
# check_isa_symbols.sh NM OBJECT... - fails, naming each symbol, when an object
# compiled with AVX2 or AVX-512 flags defines a weak or unique symbol (an
# inline function, a template instance, a static local of one). The linker
# keeps one copy of each such symbol for the whole program and may keep this
# one, compiled with the wider instructions, for the portable path too, which
# would then fault on processors without them. Such code belongs in an
# anonymous namespace or a static function there.
nm=$1
shift
# No object at all means the build's pattern no longer matches its file names.
[ $# -gt 0 ] || { echo "$0: no AVX2/AVX-512 objects to check" >&2; exit 1; }
status=0
for object in "$@"; do
    symbols=$("$nm" --defined-only -C "$object") || { echo "$0: cannot read $object" >&2; exit 1; }
    # DW.ref.* are the unwinder's pointers to the personality routine: data, not code.
    weak=$(printf '%s\n' "$symbols" \
        | awk '$2 ~ /^[VvWwu]$/ && $3 !~ /^DW\.ref\./ { $1 = ""; $2 = ""; sub(/^ +/, ""); print }')
    if [ -n "$weak" ]; then
        printf '%s\n' "$weak" | while IFS= read -r name; do
            echo "error: ${object##*/} (built for AVX2/AVX-512) defines the weak symbol $name," \
                 "which the linker may also pick for the portable path" >&2
        done
        status=1
    fi
done
exit $status
