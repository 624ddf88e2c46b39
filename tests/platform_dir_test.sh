#!/usr/bin/env bash
# The device-build path: installs the stand-ins as a platform directory
# (lib/ with the three libraries, include/), configures the project against
# it through TWINCAM_PLATFORM_DIR, builds the library and the capture tool,
# and captures a few frames through them.
set -euo pipefail
build_dir=$1 source_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sdk=$work/platform-sdk

cmake --install "$build_dir" --prefix "$sdk" --component platform >/dev/null
for lib in media_mini ascendcl acl_dvpp; do
    ls "$sdk"/lib*/lib$lib.so >/dev/null
done

cmake -S "$source_dir" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DTWINCAM_PLATFORM_DIR="$sdk" -DTWINCAM_BUILD_TESTS=OFF >"$work/configure.log" ||
    { cat "$work/configure.log"; exit 1; }
grep -q "Platform .* $sdk" "$work/configure.log"
cmake --build "$work/build" --target twincam twincam-capture >/dev/null

# The library links the platform directory's libraries, not the stand-ins' build.
readelf -d "$work/build/src/libtwincam.so" | grep -q "RUNPATH.*$sdk"
TWINCAM_SIM_PACE=0 "$work/build/apps/capture/twincam-capture" --camera 0 --frames 3 --size 320x240 \
    --output "$work/captures" | tee "$work/capture.out"
grep -q '\[INFO\]  Open camera 0 success' "$work/capture.out"
[ "$(find "$work/captures" -name 'cam0-*.png' | wc -l)" -eq 3 ]
echo "platform directory test passed"
