#!/usr/bin/env bash
# Frames per second written at 1920x1080, unpaced (a queue as long as the
# run, so every frame is written): twincam-capture against
# GStreamer doing the same job on the same machine (a test source, NV12,
# converted and encoded, written), per format, at the same settings.
# Usage: capture_vs_gstreamer.sh CAPTURE_TOOL FRAMES
set -euo pipefail
tool=$1 frames=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

seconds() {  # command...: wall time in seconds
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    echo "$end - $start" | bc -l
}

caps="video/x-raw,format=NV12,width=1920,height=1080,framerate=30/1"
declare -A gst=(
    [png]="videoconvert ! pngenc compression-level=1 ! multifilesink location=$work/gst/%06d.png"
    [jpeg]="videoconvert ! jpegenc quality=90 ! multifilesink location=$work/gst/%06d.jpg"
    [y4m]="videoconvert ! y4menc ! filesink location=$work/gst/out.y4m"
)
for format in png jpeg y4m; do
    rm -rf "$work/gst" "$work/cap" && mkdir -p "$work/gst"
    # shellcheck disable=SC2086
    g=$(seconds gst-launch-1.0 -q videotestsrc num-buffers="$frames" ! "$caps" ! ${gst[$format]})
    rm -rf "$work/gst"
    t=$(TWINCAM_SIM_PACE=0 seconds "$tool" --camera 0 --size 1920x1080 --frames "$frames" --format "$format" \
        --quality 90 --png-level 1 --queue "$frames" --output "$work/cap" --quiet)
    rm -rf "$work/cap"
    printf '%s %s %s\n' "$format" "$(echo "$frames / $t" | bc -l)" "$(echo "$frames / $g" | bc -l)"
done
