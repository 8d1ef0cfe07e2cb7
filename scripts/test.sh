#!/usr/bin/env bash
# Installs what is missing, builds Quillmere and runs the whole test suite;
# then cross-builds the Windows programs and runs their tests under Wine
# (skipped with a message when the cross tools are missing, or with
# QUILLMERE_SKIP_WINDOWS=1).
# Usage: scripts/test.sh [build-folder]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
build=${1:-build}
jobs=$(nproc 2>/dev/null || echo 4)

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j "$jobs"
ctest --test-dir "$build" --output-on-failure -j "$jobs"

scripts/test-windows.sh "${build}-windows"
