#!/bin/sh
# check_untracked.sh NM ARCHIVE - fails when the renamed grayfix archive still
# calls an allocation or stream function that the fuzz harness does not track.
untracked=$("$1" -u "$2" | grep -owE 'malloc|calloc|realloc|free|posix_memalign|aligned_alloc|memalign|valloc|pvalloc|strdup|strndup|fopen|fopen64|fdopen|fopencookie|freopen|fclose|tmpfile' | sort -u | tr '\n' ' ')
if [ -n "$untracked" ]; then
    echo "grayfix calls $untracked directly: route it to the harness in tracked_symbols.txt and fuzz_support.cpp" >&2
    exit 1
fi
