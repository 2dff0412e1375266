#!/bin/bash
# package_test.sh - builds the Debian package as `make package` does (its own
# Release build with Debian's flags, into WORK) and checks what a user gets:
# the control fields, the file list with modes and owners, the compressed
# manual page and changelog, a stripped binary that behaves byte for byte as
# the tested one, the copyright against LICENSE, and lintian when installed;
# the same for python3-grayfix where the Python module is built.
# Usage: package_test.sh SOURCE-DIR WORK-DIR GRAYFIX
# Exit status 77 (a skip) when a tool the package build needs is missing.

src=$(realpath -e -- "$1") && work=$(realpath -m -- "$2") && grayfix=$(realpath -e -- "$3") ||
    { echo "usage: $0 source-dir work-dir grayfix" >&2; exit 2; }

for tool in dpkg-deb dpkg-shlibdeps file gzip readelf cmake; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIPPED: $tool is not installed (make package installs what it needs)"
        exit 77
    fi
done

arch=$(dpkg --print-architecture)
version=$(sed -n 's/^project(grayfix VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
mkdir -p "$work/out" && rm -f "$work/out"/*.deb
if ! GRAYFIX_DEB_NO_APT=1 GRAYFIX_DEB_BUILD="$work/build" GRAYFIX_DEB_OUT="$work/out" \
    bash "$src/packaging/build_deb.sh" "$arch" >"$work/build.log" 2>&1; then
    tail -30 "$work/build.log"
    echo "FAIL: the package build failed (log: $work/build.log)"
    echo "0 passed, 1 failed"
    exit 1
fi
deb=$work/out/grayfix_${version}_$arch.deb

source "$(dirname "${BASH_SOURCE[0]}")/check.sh"  # check WHAT GOT WANT

# python3-grayfix too, where the build made the Python module.
python_deb=""
[ -f "$work/build/CPackPythonConfig.cmake" ] && python_deb=python3-grayfix_${version}_$arch.deb
check "package files" "$(ls "$work/out" | paste -sd ' ')" \
    "$(echo "grayfix_${version}_$arch.deb" $python_deb)"

field() { dpkg-deb -f "$deb" "$1"; }
check Package "$(field Package)" grayfix
check Version "$(field Version)" "$version"
check Architecture "$(field Architecture)" "$arch"
check Section "$(field Section)" graphics
check Priority "$(field Priority)" optional
check "Maintainer has an address" "$(field Maintainer | grep -c '^[^<]\+ <[^@ ]\+@[^> ]\+>$')" 1
check "synopsis" "$(field Description | head -1)" \
    "describe and transform grayscale PGM P5 and RAW images"
check "long description" "$(field Description | sed -n '2p')" \
    " grayfix reads one PGM P5 or headerless RAW image of 1 to 16 bits per"
# dpkg-shlibdeps found the C and C++ runtimes, with versions.
check "Depends" "$(field Depends | tr ',' '\n' | sed 's/^ *//; s/ (>=.*//' | sort | paste -sd ' ')" \
    "libc6 libgcc-s1 libstdc++6"
check "Depends has versions" "$(field Depends | grep -c 'libc6 (>= 2\.[0-9]*)')" 1

# Modes, owners and paths; directories too.
listing=$(dpkg-deb -c "$deb" | awk '{print $1, $2, $6}')
check "file list" "$listing" "drwxr-xr-x root/root ./usr/
drwxr-xr-x root/root ./usr/bin/
-rwxr-xr-x root/root ./usr/bin/grayfix
drwxr-xr-x root/root ./usr/share/
drwxr-xr-x root/root ./usr/share/bash-completion/
drwxr-xr-x root/root ./usr/share/bash-completion/completions/
-rw-r--r-- root/root ./usr/share/bash-completion/completions/grayfix
drwxr-xr-x root/root ./usr/share/doc/
drwxr-xr-x root/root ./usr/share/doc/grayfix/
-rw-r--r-- root/root ./usr/share/doc/grayfix/README.md
-rw-r--r-- root/root ./usr/share/doc/grayfix/changelog.gz
-rw-r--r-- root/root ./usr/share/doc/grayfix/copyright
drwxr-xr-x root/root ./usr/share/lintian/
drwxr-xr-x root/root ./usr/share/lintian/overrides/
-rw-r--r-- root/root ./usr/share/lintian/overrides/grayfix
drwxr-xr-x root/root ./usr/share/man/
drwxr-xr-x root/root ./usr/share/man/man1/
-rw-r--r-- root/root ./usr/share/man/man1/grayfix.1.gz"

root=$work/root
rm -rf "$root" && dpkg-deb -x "$deb" "$root"
same() { cmp -s "$1" "$2" && echo same || echo differs; }
check "completion" "$(same "$root/usr/share/bash-completion/completions/grayfix" \
    "$src/tools/grayfix.bash-completion")" same
check "README" "$(same "$root/usr/share/doc/grayfix/README.md" "$src/README.md")" same
check "copyright" "$(same "$root/usr/share/doc/grayfix/copyright" "$src/packaging/copyright")" same
# gzip -9n: maximum compression (XFL 2), no name, no time stamp, so the
# package is the same bytes on every build.
for gz in usr/share/man/man1/grayfix.1.gz usr/share/doc/grayfix/changelog.gz; do
    check "$gz header (flags, mtime, XFL)" "$(od -An -tx1 -j3 -N6 "$root/$gz" | tr -d ' ')" \
        000000000002
done
check "manual page" "$(gzip -dc "$root/usr/share/man/man1/grayfix.1.gz" | cmp -s - "$src/grayfix.1" &&
    echo same)" same
check "changelog names this version" \
    "$(gzip -dc "$root/usr/share/doc/grayfix/changelog.gz" | head -1)" \
    "grayfix ($version) unstable; urgency=medium"
# The copyright's license text is LICENSE's, less the title and notice.
check "copyright license text" \
    "$(awk '/^License: MIT$/ { n++; next } n == 2' "$src/packaging/copyright" |
        sed 's/^ //; s/^\.$//')" \
    "$(sed -n '/^Permission/,$p' "$src/LICENSE")"

bin=$root/usr/bin/grayfix
check "stripped" "$(file -b "$bin" | grep -o 'not stripped\|stripped')" stripped
check "no .comment or .note" "$(readelf -SW "$bin" | grep -c ' \.\(comment\|note\) ')" 0
check "hardened: bind now" "$(readelf -dW "$bin" | grep -c 'FLAGS.*BIND_NOW')" 1
check "hardened: relro" "$(readelf -lW "$bin" | grep -c GNU_RELRO)" 1

# The packaged binary behaves byte for byte as the tested one: reports,
# errors, check diagnostics (source names), statuses and output files.
run_dir=$work/runs
rm -rf "$run_dir" && mkdir -p "$run_dir" && cd "$run_dir" || exit 2
printf 'P5\n4 3\n255\n\001\200\377\020\002\003\004\005\006\007\010\011' > in.pgm
printf 'P5\n2 2\n65535\n\001\002\003\004\005\006\007\010' > deep.pgm
cases=("" "in.pgm /dev/null" "in.pgm -t:denoise:1:0 out.pgm" "in.pgm -t:soften:1:8:-3 out.pgm"
    "in.pgm -t:noise:50 -o:RAW out.raw" "in.pgm -t:decorrelatemed out.pgm"
    "deep.pgm -t:negendian out.pgm" "in.pgm -t:soften:1:1:-1 out.pgm" "-i:RAW:0:10 in.pgm out"
    "missing.pgm out.pgm" "in.pgm -t:downsize:0 out.pgm")
for args in "${cases[@]}"; do
    results=()
    for binary in "$grayfix" "$bin"; do
        rm -f out.pgm out.raw
        # shellcheck disable=SC2086  # the cases are split on purpose
        "$binary" $args >stdout 2>stderr
        status=$?
        results+=("$status $(cat stdout stderr out.pgm out.raw 2>/dev/null | md5sum)")
    done
    check "same run: grayfix $args" "${results[1]}" "${results[0]}"
done

if [ -n "$python_deb" ]; then
    pdeb=$work/out/$python_deb
    pfield() { dpkg-deb -f "$pdeb" "$1"; }
    check "python Package" "$(pfield Package)" python3-grayfix
    check "python Source" "$(pfield Source)" grayfix
    check "python Version" "$(pfield Version)" "$version"
    check "python Section" "$(pfield Section)" python
    check "python Depends" \
        "$(pfield Depends | tr ',' '\n' | sed 's/^ *//; s/ (>=.*//; s/ (<<.*//' | sort -u | paste -sd ' ')" \
        "libc6 libgcc-s1 libstdc++6 python3 python3-numpy"
    module=$(cd "$work/build/python" && ls grayfix.cpython-*.so)
    check "python file list" "$(dpkg-deb -c "$pdeb" | awk '{print $1, $2, $6}')" \
"drwxr-xr-x root/root ./usr/
drwxr-xr-x root/root ./usr/lib/
drwxr-xr-x root/root ./usr/lib/python3/
drwxr-xr-x root/root ./usr/lib/python3/dist-packages/
-rw-r--r-- root/root ./usr/lib/python3/dist-packages/$module
drwxr-xr-x root/root ./usr/share/
drwxr-xr-x root/root ./usr/share/doc/
drwxr-xr-x root/root ./usr/share/doc/python3-grayfix/
-rw-r--r-- root/root ./usr/share/doc/python3-grayfix/changelog.gz
-rw-r--r-- root/root ./usr/share/doc/python3-grayfix/copyright
drwxr-xr-x root/root ./usr/share/lintian/
drwxr-xr-x root/root ./usr/share/lintian/overrides/
-rw-r--r-- root/root ./usr/share/lintian/overrides/python3-grayfix"
    proot=$work/python-root
    rm -rf "$proot" && dpkg-deb -x "$pdeb" "$proot"
    so=$proot/usr/lib/python3/dist-packages/$module
    check "module stripped" "$(file -b "$so" | grep -o 'not stripped\|stripped')" stripped
    check "module: no .comment or .note" "$(readelf -SW "$so" | grep -c ' \.\(comment\|note\) ')" 0
    check "module hardened: bind now" "$(readelf -dW "$so" | grep -c 'FLAGS.*BIND_NOW')" 1
    # The packaged module reports what the tested tool reports on in.pgm.
    check "packaged module's statistics" \
        "$(PYTHONPATH=$proot/usr/lib/python3/dist-packages python3 -c \
            'import grayfix; print(grayfix.stats(grayfix.read("in.pgm")))' 2>&1)" \
        "$("$grayfix" in.pgm /dev/null | sed -n '/^Actual/,/^BigEndian/p' | head -3)"
fi

if command -v lintian >/dev/null; then
    report=$(lintian --pedantic -I "$deb" ${python_deb:+"$work/out/$python_deb"} 2>&1 |
        grep -v 'running with root privileges')
    check "lintian" "$report" ""
else
    echo "lintian is not installed: the package was not checked with it"
fi

echo "$passed passed, $failed failed"
((failed == 0))
