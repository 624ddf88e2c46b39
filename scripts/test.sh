#!/usr/bin/env bash
# Builds the project and runs its whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh tools

stage() {
    local name=$1
    shift
    local start=$SECONDS
    echo "==== $name"
    "$@"
    echo "==== $name: $((SECONDS - start)) s"
}

stage native cmake --workflow --preset native
