#!/bin/bash
# build_deb.sh - builds grayfix_<version>_<arch>.deb in the top directory
# (make package [ARCH=arm64]), and python3-grayfix_<version>_<arch>.deb for
# this machine's architecture when pybind11 and NumPy are installed. A separate Release build per architecture in
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
# The package uses Debian's shared C++ runtime (security updates reach it).
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DGRAYFIX_TESTS=OFF -DGRAYFIX_STATIC_RUNTIME=OFF \
    "${toolchain[@]}" \
    -DCMAKE_CXX_FLAGS="$(flags CPPFLAGS) $(flags CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" -DCMAKE_MODULE_LINKER_FLAGS="$(flags LDFLAGS)"
cmake --build "$build" -j "$(nproc)"
rm -f "$build"/grayfix_*.deb "$build"/python3-grayfix_*.deb
if [ "$arch" = "$host" ]; then
    (cd "$build" && cpack -G DEB)
else
    # dpkg-shlibdeps finds the target's libraries in the cross toolchain's
    # tree, whose packages name the dependencies libc6:arm64 or
    # libgcc-s1-arm64-cross: on the target they are libc6 and libgcc-s1.
    # (Installing the target's own libc6:arm64 instead would put it in the
    # loader cache, where qemu-user's runs of the cross builds pick it up.)
    binary=$(realpath "$build/grayfix")
    probe=$(mktemp -d)
    mkdir "$probe/debian" && touch "$probe/debian/control"
    depends=$(cd "$probe" && dpkg-shlibdeps -O --ignore-missing-info \
        -l"/usr/$processor-linux-gnu/lib" "$binary" 2>/dev/null |
        sed -e 's/^shlibs:Depends=//' -e "s/:$arch//g" -e "s/-$arch-cross//g")
    rm -rf "$probe"
    [ -n "$depends" ] || { echo "build_deb.sh: no Depends for $arch" >&2; exit 1; }
    (cd "$build" && cpack -G DEB -D CPACK_DEBIAN_PACKAGE_SHLIBDEPS=OFF \
        -D CPACK_DEBIAN_PACKAGE_DEPENDS="$depends")
fi
cp "$build"/grayfix_*_"$arch".deb "$out"/
ls -l "$out"/grayfix_*_"$arch".deb
# python3-grayfix_<version>_<arch>.deb, where the module was built (it needs
# pybind11 and NumPy; not in cross builds).
if [ -f "$build/CPackPythonConfig.cmake" ] && [ "$arch" = "$host" ]; then
    (cd "$build" && cpack -G DEB --config CPackPythonConfig.cmake)
    cp "$build"/python3-grayfix_*_"$arch".deb "$out"/
    ls -l "$out"/python3-grayfix_*_"$arch".deb
fi
