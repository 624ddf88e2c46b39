#!/usr/bin/env bash
# Builds the project and runs its whole test suite: natively, under
# AddressSanitizer and UndefinedBehaviorSanitizer, and cross-built for
# AArch64 under emulation. Each stage prints its wall time.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh tools cross bench

stage() {
    local name=$1
    shift
    local start=$SECONDS
    echo "==== $name"
    "$@"
    echo "==== $name: $((SECONDS - start)) s"
}

total=$SECONDS
stage native cmake --workflow --preset native
stage sanitize cmake --workflow --preset sanitize
stage aarch64 cmake --workflow --preset aarch64
# The benchmark must run here; its figures are read, never asserted.
stage bench-smoke bench/run --smoke
echo "==== all stages: $((SECONDS - total)) s"
