#!/usr/bin/env bash
# Builds the Debian packages into build/packages/<arch>/: amd64 natively,
# arm64 from the cross build. Installs what it needs first.
# Usage: scripts/package.sh amd64|arm64
set -euo pipefail
cd "$(dirname "$0")/.."
arch=${1:-}
case "$arch" in
    amd64) triplet=x86_64-linux-gnu toolchain=() groups=(tools python packaging) ;;
    arm64) triplet=aarch64-linux-gnu toolchain=(-DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake)
        groups=(cross packaging) ;;
    *) echo "usage: scripts/package.sh amd64|arm64" >&2; exit 2 ;;
esac
scripts/deps.sh "${groups[@]}"

# Debian's build flags, hardening included, as its own packages are built.
eval "$(DEB_HOST_ARCH=$arch DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
export CFLAGS="$CFLAGS $CPPFLAGS" CXXFLAGS="$CXXFLAGS $CPPFLAGS"

build=build/package-$arch
out=$PWD/build/packages/$arch
cmake -S . -B "$build" -G Ninja "${toolchain[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_INSTALL_LIBDIR="lib/$triplet" -DCMAKE_INSTALL_SYSCONFDIR=/etc \
    -DTWINCAM_DEB_LAYOUT=ON -DCMAKE_SKIP_INSTALL_RPATH=ON -DTWINCAM_SYSTEMD_UNIT_DIR=/lib/systemd/system \
    -DTWINCAM_BUILD_TESTS=OFF >/dev/null
cmake --build "$build"
rm -rf "$out"
(cd "$build" && cpack -G DEB -B "$out" >/dev/null)
rm -rf "$out/_CPack_Packages"
ls "$out"
