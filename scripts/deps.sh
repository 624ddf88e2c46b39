#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, if missing.
# Usage: scripts/deps.sh [group...]; groups: base (always), tools, python, browser, servers
# (the real peers and players the servers' and the recorders' tests talk to), cross, packaging,
# coverage, fuzz, bench.
set -euo pipefail

declare -A groups=(
    [base]="cmake ninja-build g++ gcc pkg-config googletest binutils"
    [tools]="libcli11-dev libyuv-dev libpng-dev libturbojpeg0-dev libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-plugins-base libavformat-dev libavcodec-dev libswscale-dev libmicrohttpd-dev libcrypt-dev libcpp-httplib-dev libgstrtspserver-1.0-dev gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-plugins-ugly libsystemd-dev libgstreamer-plugins-bad1.0-dev libnice-dev gstreamer1.0-nice libgnutls28-dev glib-networking"
    [cross]="crossbuild-essential-arm64 qemu-user abigail-tools libpng-dev:arm64 libyuv-dev:arm64 libturbojpeg0-dev:arm64 libmicrohttpd-dev:arm64 libcrypt-dev:arm64 libsystemd-dev:arm64 libgnutls28-dev:arm64"
    [python]="python3-dev python3-numpy python3-pytest pybind11-dev python3-pybind11 python3-gi gir1.2-gstreamer-1.0 python3-mypy"
    [browser]="chromium chromium-driver python3-selenium"
    [servers]="apache2-utils prometheus ffmpeg gstreamer1.0-tools gstreamer1.0-libav python3-aiortc openssl curl"
    [packaging]="dpkg-dev file help2man lintian man-db systemd openssl"
    [coverage]="gcovr"
    [fuzz]="clang libclang-rt-14-dev"
    [bench]="libbenchmark-dev valgrind libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-ugly gstreamer1.0-tools bc"
)

wanted=()
for group in base "$@"; do
    [ -n "${groups[$group]+x}" ] || { echo "deps.sh: unknown group '$group'" >&2; exit 2; }
    # shellcheck disable=SC2206
    wanted+=(${groups[$group]})
done

missing=()
for pkg in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
# The capture tool's libraries for the cross build come from Debian's arm64 archive.
if printf '%s\n' "${missing[@]}" | grep -q ':arm64$' && ! dpkg --print-foreign-architectures | grep -qx arm64; then
    $sudo dpkg --add-architecture arm64
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
