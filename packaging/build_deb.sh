#!/bin/bash
# build_deb.sh - builds grayfix_<version>_<arch>.deb in the top directory
# (make package [ARCH=arm64]). A separate Release build per architecture in
# build-deb-<arch>, with Debian's hardening flags; cross builds use
# cmake/toolchain-<processor>.cmake. Missing Debian packages are installed.
# GRAYFIX_DEB_BUILD and GRAYFIX_DEB_OUT choose other build and output
# directories; with GRAYFIX_DEB_NO_APT=1 a missing tool is an error instead.
set -euo pipefail
cd "$(dirname "$0")/.."

arch=${1:-$(dpkg --print-architecture)}
host=$(dpkg --print-architecture)
case $arch in
amd64) processor=x86_64 ;;
arm64) processor=aarch64 ;;
s390x) processor=s390x ;;
*) echo "build_deb.sh: no toolchain for $arch (amd64, arm64, s390x)" >&2; exit 2 ;;
esac

# dpkg-shlibdeps (dpkg-dev) and file are what CPack needs for the Depends line.
need=()
command -v dpkg-shlibdeps >/dev/null || need+=(dpkg-dev)
command -v file >/dev/null || need+=(file)
command -v gzip >/dev/null || need+=(gzip)
toolchain=()
if [ "$arch" != "$host" ]; then
    command -v "$processor-linux-gnu-g++" >/dev/null || need+=("g++-$processor-linux-gnu")
    toolchain=(-DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-$processor.cmake")
    # dpkg-shlibdeps names the packages that hold the libraries the binary
    # links; for another architecture those are its multiarch packages.
    if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
        dpkg --add-architecture "$arch"
    fi
    for lib in libc6 libstdc++6 libgcc-s1; do
        dpkg -s "$lib:$arch" >/dev/null 2>&1 || need+=("$lib:$arch")
    done
fi
if [ ${#need[@]} -gt 0 ]; then
    if [ "${GRAYFIX_DEB_NO_APT:-0}" = 1 ]; then
        echo "build_deb.sh: missing ${need[*]}" >&2
        exit 2
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

# Debian's build flags (hardening: stack protector, fortify, relro, bind-now),
# less its -ffile-prefix-map: the project's own prefix map keeps the source
# names in check diagnostics as src/..., the same in every build.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
flags() {
    DEB_HOST_ARCH=$arch dpkg-buildflags --get "$1" | sed 's/-ffile-prefix-map=[^ ]*//g'
}
build=${GRAYFIX_DEB_BUILD:-build-deb-$arch}
out=${GRAYFIX_DEB_OUT:-.}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DGRAYFIX_TESTS=OFF "${toolchain[@]}" \
    -DCMAKE_CXX_FLAGS="$(flags CPPFLAGS) $(flags CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)"
cmake --build "$build" -j "$(nproc)"
rm -f "$build"/grayfix_*.deb
(cd "$build" && cpack -G DEB)
cp "$build"/grayfix_*_"$arch".deb "$out"/
ls -l "$out"/grayfix_*_"$arch".deb
