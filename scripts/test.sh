#!/usr/bin/env bash
# Installs what is missing, builds Quillmere and runs the whole test suite.
# Usage: scripts/test.sh [build-folder]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
build=${1:-build}
jobs=$(nproc 2>/dev/null || echo 4)

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo ${QUILLMERE_CMAKE_ARGS:-}
cmake --build "$build" -j "$jobs"
ctest --test-dir "$build" --output-on-failure -j "$jobs"
