#!/usr/bin/env bash
# Cross-builds the engine, quillmere_cli, quillmere_gui and their test
# programs for Windows x86-64 with mingw-w64 and runs the tests under Wine, in
# a Wine prefix made for this run in a temporary folder and removed
# afterwards. Then the windowed program itself runs under Wine on a virtual
# display, driven by a test built natively in the host build folder.
#
# The window needs GLFW 3.4 and Dear ImGui 1.92.8 source trees, named by
# QUILLMERE_GLFW_DIR and QUILLMERE_IMGUI_DIR; without them it is left out.
#
# Usage: scripts/test-windows.sh [build-folder] [host-build-folder]
#        (defaults: build-windows; the build folder's name without its
#        "-windows" ending, else build)
# Exits 0 with a message, doing nothing, when the cross compiler, Wine or
# GoogleTest's sources are not installed, or when QUILLMERE_SKIP_WINDOWS=1.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${QUILLMERE_SKIP_WINDOWS:-0}" = 1 ]; then
  echo "test-windows: skipped, QUILLMERE_SKIP_WINDOWS=1."
  exit 0
fi
# Flags meant for the host compiler (a sanitizer build, say) do not apply to
# the cross compiler.
unset CFLAGS CXXFLAGS LDFLAGS

build=${1:-build-windows}
host_build=${2:-${build%-windows}}
[ "$host_build" != "$build" ] || host_build=build
jobs=$(nproc 2>/dev/null || echo 4)
compiler=x86_64-w64-mingw32-g++-posix
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver

skip() {
  echo "test-windows: skipped, $1 is not installed (Debian package $2)."
  exit 0
}
command -v "$compiler" >/dev/null 2>&1 || skip "$compiler" g++-mingw-w64-x86-64-posix
[ -x "$wine" ] || skip "$wine" wine64
[ -d /usr/src/googletest ] || skip /usr/src/googletest googletest

# A fresh prefix: nothing from an earlier run or from the user's own Wine
# set-up takes part. The Mono and Gecko add-ons are not needed by console
# programs, and no window is shown.
prefix=$(mktemp -d "${TMPDIR:-/tmp}/quillmere-wine.XXXXXX")
export WINEPREFIX="$prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
cleanup() {
  "$wineserver" -k >/dev/null 2>&1 || true
  rm -rf "$prefix"
}
trap cleanup EXIT

# One Wine server for the whole run: a program started while a server that
# has just lost its last client is shutting down can hang.
echo "== Wine prefix in $prefix"
"$wineserver" -p
"$wine" wineboot --init >/dev/null 2>&1

# The window's Windows build loads C:\Windows\Fonts\segoeui.ttf, which a fresh
# prefix lacks: DejaVu Sans stands in for it, as fontconfig has it do on Linux.
dejavu=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
[ -f "$dejavu" ] && cp "$dejavu" "$prefix/drive_c/windows/Fonts/segoeui.ttf"

with_window=0
if [ -n "${QUILLMERE_GLFW_DIR:-}" ] && [ -n "${QUILLMERE_IMGUI_DIR:-}" ]; then
  with_window=1
else
  echo "test-windows: the window's Windows build is skipped: set QUILLMERE_GLFW_DIR and QUILLMERE_IMGUI_DIR to GLFW 3.4 and Dear ImGui 1.92.8 source trees."
fi

echo "== Windows cross-build in $build"
cmake -S . -B "$build" \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLMERE_BUILD_GUI=ON \
  -DQUILLMERE_GLFW_DIR="${QUILLMERE_GLFW_DIR:-}" -DQUILLMERE_IMGUI_DIR="${QUILLMERE_IMGUI_DIR:-}"
# (The window is asked for anew: a build folder made before it could be built
# for Windows holds QUILLMERE_BUILD_GUI=OFF.) The test programs are listed by
# running them under Wine as they are built.
cmake --build "$build" -j "$jobs"

echo "== Engine, console and window tests under Wine"
# A start that Wine failed, here and in the listing of the tests while
# building, is made again by the emulator, cmake/wine-run.sh; a test that ran
# and failed fails the run.
ctest --test-dir "$build" --output-on-failure -j "$jobs"

[ "$with_window" = 1 ] || exit 0
gui_exe="$(cd "$build" && pwd)/gui/quillmere_gui.exe"
echo "== quillmere_gui.exe under Wine on a virtual display"
# The test is a Linux program from the host build; it makes a display and a
# Wine prefix of its own. It runs on its own, not through the host build's
# CTest, whose log keeps the host suite's run.
[ -f "$host_build/CMakeCache.txt" ] || cmake -S . -B "$host_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$host_build" -j "$jobs" --target quillmere_wine_window_tests
wine_window_tests="$host_build/tests/gui/window/quillmere_wine_window_tests"
# Run once more on failure: this program starts Wine itself, in a fresh
# prefix of its own, without the emulator's retried start.
QUILLMERE_WINDOWS_GUI_PROGRAM="$gui_exe" "$wine_window_tests" ||
  QUILLMERE_WINDOWS_GUI_PROGRAM="$gui_exe" "$wine_window_tests"
