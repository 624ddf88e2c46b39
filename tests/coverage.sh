#!/usr/bin/env bash
# Line and branch coverage of the library's own sources after the suite has
# run; fails below 100% of either. Usage: coverage.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
summary="$build/coverage-src.json"
# Branches the compiler adds for exception unwinding cannot be taken in code
# that throws nothing, so they are left out of the count.
gcovr --root "$source" --filter "$source/src/" --object-directory "$build" \
    --exclude-throw-branches --exclude-unreachable-branches \
    --print-summary --json-summary "$summary" "$build"
# The summary line is also kept for the CI log.
python3 - "$summary" "$build/coverage-src.txt" <<'PY'
import json, sys
s = json.load(open(sys.argv[1]))
lines, branches = s["line_percent"], s["branch_percent"]
line = f"coverage src: lines {lines:g}%, branches {branches:g}%"
print(line)
open(sys.argv[2], "w").write(line + "\n")
sys.exit(0 if lines >= 100 and branches >= 100 else 1)
PY
