#!/usr/bin/env bash
# Installs the build into a temporary prefix, builds the C example against
# the installed package through pkg-config and through find_package, and
# runs both builds on the stand-ins.
set -euo pipefail
build_dir=$1 source_dir=$2 cc=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build_dir" --prefix "$prefix" >/dev/null
pcdir=$(dirname "$(find "$prefix" -name twincam.pc)")
libdir=$(dirname "$pcdir")

echo "== pkg-config"
# shellcheck disable=SC2046
"$cc" -std=c11 -Wall -Wextra -Werror "$source_dir/examples/capture_frames.c" -o "$work/pc_example" \
    $(PKG_CONFIG_PATH=$pcdir pkg-config --cflags --libs twincam) -Wl,-rpath,"$libdir"
"$work/pc_example" | tee "$work/pc.out"

echo "== find_package(twincam)"
cmake -S "$source_dir/examples" -B "$work/cmake_example" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_C_COMPILER="$cc" >/dev/null
cmake --build "$work/cmake_example" >/dev/null
"$work/cmake_example/capture_frames" | tee "$work/cmake.out"

for out in "$work/pc.out" "$work/cmake.out"; do
    grep -qx '\[INFO\]  Open camera 0 success' "$out"
    [ "$(grep -c '^frame [0-9]: 460800 bytes$' "$out")" -eq 5 ]
done
echo "install test passed"
