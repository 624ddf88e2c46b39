#!/usr/bin/env bash
# The main job: installs what is missing, builds, and captures 30 frames of
# camera 0 at 640x480 from the simulated camera into ./captures/, with a PNG
# of each frame and a contact sheet. Extra arguments go to twincam-capture.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh" tools
(cd "$root" && cmake --preset native >/dev/null && cmake --build --preset native --target twincam-capture >/dev/null)
exec "$root/build/native/apps/capture/twincam-capture" --camera 0 --fps 30 --size 640x480 --frames 30 \
    --output captures --sheet captures/sheet.png "$@"
