#!/usr/bin/env bash
# Builds the project and runs its whole test suite: natively, under
# AddressSanitizer and UndefinedBehaviorSanitizer (and the threaded tools and
# the stand-ins under ThreadSanitizer), cross-built for AArch64
# under emulation, and instrumented for coverage (which must reach 100% of
# the library's lines and branches); then fuzzes for a bounded time; builds
# the Debian packages for amd64 and arm64 and installs, checks and purges the
# amd64 ones on this machine. Each stage prints its wall time.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh tools python browser servers cross packaging bench coverage fuzz

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
stage tsan cmake --workflow --preset tsan
stage aarch64 cmake --workflow --preset aarch64
stage coverage cmake --workflow --preset coverage
cat build/coverage/coverage-src.txt
stage fuzz cmake --workflow --preset fuzz
cat build/fuzz/fuzz-run/fuzz-summary.txt build/fuzz/fuzz-router-run/fuzz-summary.txt
stage packages bash -c "scripts/package.sh amd64 >/dev/null && scripts/package.sh arm64 >/dev/null && tests/packages_test.sh"
# The benchmark must run here; its figures are read, never asserted.
stage bench-smoke bench/run --smoke
echo "==== all stages: $((SECONDS - total)) s"
