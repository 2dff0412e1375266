#!/bin/bash
# run_cross.sh - builds grayfix and its test suite for other processors with
# Debian's cross compilers and runs the whole suite under qemu-user.
#
#   run_cross.sh [ARCH...]    ARCH: aarch64 (little-endian, unsigned char)
#                             or s390x (big-endian); default: both
#
# Nothing needs binfmt registration: ctest and the tests start every built
# program through the emulator named in cmake/toolchain-ARCH.cmake. Missing
# packages (g++-ARCH-linux-gnu, qemu-user, libgtest-dev for the GoogleTest
# sources) are installed with apt-get. Build directories: build-ARCH, or
# CROSS_BUILD_PREFIX-ARCH. JOBS sets the build and test parallelism. A test
# gets 15 minutes (the slowest take about one on a busy machine), so that a
# stuck emulated process fails the run instead of holding it up.
set -euo pipefail
cd "$(dirname "$0")/../.."

archs=("$@")
[ ${#archs[@]} -gt 0 ] || archs=(aarch64 s390x)
jobs=${JOBS:-$(nproc)}
prefix=${CROSS_BUILD_PREFIX:-build}

packages=()
for arch in "${archs[@]}"; do
    if [ ! -f "cmake/toolchain-$arch.cmake" ]; then
        echo "run_cross.sh: no toolchain file for $arch" >&2
        exit 2
    fi
    command -v "$arch-linux-gnu-g++" > /dev/null || packages+=("g++-$arch-linux-gnu")
    command -v "qemu-$arch" > /dev/null || packages+=(qemu-user)
done
[ -f /usr/src/googletest/CMakeLists.txt ] || packages+=(libgtest-dev)
if [ ${#packages[@]} -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${packages[@]}"
fi

# Prints how long the step took, then the step's own status stands.
timed() {
    local name=$1 start=$SECONDS status=0
    shift
    "$@" || status=$?
    echo "run_cross.sh: $name: $((SECONDS - start)) s (status $status)"
    return $status
}

# A failure on one processor does not keep the next from being tested.
failed=()
for arch in "${archs[@]}"; do
    build=$prefix-$arch
    timed "$arch configure" cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DGRAYFIX_TESTS=ON \
            -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-$arch.cmake" \
        && timed "$arch build" cmake --build "$build" -j "$jobs" \
        && timed "$arch tests" ctest --test-dir "$build" --output-on-failure -j "$jobs" \
                 --timeout 900 \
        || failed+=("$arch")
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "run_cross.sh: failed on ${failed[*]}" >&2
    exit 1
fi
