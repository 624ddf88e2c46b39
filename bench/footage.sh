#!/usr/bin/env bash
# The simulated camera playing a 1920x1080 H.264 MP4 (made here with
# GStreamer's x264enc): a paced capture at 30 fps with NV12 output must miss
# no frame; then the unpaced read rate of the footage beside the pattern's.
# Usage: footage.sh CAPTURE_TOOL READ_LOOP CLIP_FRAMES CAPTURE_FRAMES
# Prints: missed footage_fps pattern_fps
set -euo pipefail
tool=$1 loop=$2 clip_frames=$3 frames=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

gst-launch-1.0 -q videotestsrc pattern=ball num-buffers="$clip_frames" ! \
    video/x-raw,width=1920,height=1080,framerate=30/1 ! videoconvert ! \
    x264enc speed-preset=veryfast ! mp4mux ! filesink location="$work/clip.mp4" >/dev/null
summary=$(TWINCAM_SIM_SOURCE_0="$work/clip.mp4" "$tool" --camera 0 --fps 30 --size 1920x1080 \
    --frames "$frames" --format nv12 --queue 64 --output "$work/out" 2>/dev/null | grep '^camera 0:')
echo "$summary" >&2
missed=$(echo "$summary" | sed -E 's/.*missed ([0-9]+).*/\1/')
rm -rf "$work/out"
rate() { "$loop" "$frames" 1920x1080 2>&1 >/dev/null | sed -nE 's/^fps ([0-9.]+)$/\1/p'; }
footage=$(TWINCAM_SIM_SOURCE_0="$work/clip.mp4" rate)
pattern=$(rate)
echo "$missed $footage $pattern"
