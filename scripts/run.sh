#!/usr/bin/env bash
# The main job in one command: installs what is missing, builds quillmere_cli
# (Release, in build-run/) and copies with it.
#
#   scripts/run.sh SRC DST   copies SRC to DST: a folder's contents land
#                            directly in DST; any other source is copied as
#                            one file to the path DST. The error log
#                            quillmere_errors.log goes to the current folder.
#   scripts/run.sh           generates a small sample tree in a temporary
#                            folder, copies it, and shows both trees and
#                            whether every file matches.
#
# The exit code is quillmere_cli's (or 1 when the sample copy differs).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=$repo/build-run
cli=$build/cli/quillmere_cli

build_cli() {
  # The console program needs neither the Windows cross-build nor the window.
  QUILLMERE_SKIP_WINDOWS=${QUILLMERE_SKIP_WINDOWS:-1} "$repo/scripts/deps.sh"
  echo "== Building quillmere_cli (Release) in $build"
  local log=$build/build.log
  mkdir -p "$build"
  if ! { cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release \
           -DQUILLMERE_BUILD_TESTS=OFF -DQUILLMERE_BUILD_GUI=OFF &&
         cmake --build "$build" --target quillmere_cli -j "$(nproc 2>/dev/null || echo 4)"; } \
       >"$log" 2>&1; then
    cat "$log" >&2
    echo "Build failed (log: $log)." >&2
    exit 1
  fi
}

# A few folders (one empty), files of several sizes including an empty one
# and one over the 4 MiB block size, names with spaces and Vietnamese letters.
make_sample() {
  local src=$1
  mkdir -p "$src/Tài liệu/báo cáo 2024" "$src/ảnh" "$src/thư mục trống"
  printf 'Xin chào từ Quillmere!\n' >"$src/chào.txt"
  : >"$src/rỗng.txt"
  head -c 1000 /dev/urandom >"$src/Tài liệu/ghi chú.bin"
  head -c 70000 /dev/urandom >"$src/Tài liệu/báo cáo 2024/tháng 3.dat"
  head -c 4096 /dev/urandom >"$src/ảnh/nhỏ.raw"
  head -c $((5 * 1024 * 1024 + 123)) /dev/urandom >"$src/ảnh/lớn.raw"
}

# One line per entry, sorted by path: kind, size in bytes, relative path.
list_tree() {
  (cd "$1" && find . -mindepth 1 -printf '%P\t%y\t%s\n') | LC_ALL=C sort |
    awk -F'\t' '{ if ($2 == "d") printf "  folder %12s  %s/\n", "", $1;
                  else printf "  file   %12s  %s\n", $3, $1 }'
}

# "sha256  relative path" for every file, sorted by path.
hash_tree() {
  (cd "$1" && find . -type f -printf '%P\0' | LC_ALL=C sort -z | xargs -0 -r sha256sum --)
}

run_sample() {
  local work
  work=$(mktemp -d "${TMPDIR:-/tmp}/quillmere-sample.XXXXXX")
  make_sample "$work/nguồn"
  echo "== Copying the sample tree: quillmere_cli nguồn đích   (in $work)"
  local status=0
  (cd "$work" && "$cli" "nguồn" "đích") || status=$?
  echo "== quillmere_cli exited with $status"
  echo "== Source tree nguồn/"
  list_tree "$work/nguồn"
  echo "== Destination tree đích/"
  if [ -d "$work/đích" ]; then list_tree "$work/đích"; else echo "  (missing)"; fi
  if [ -f "$work/quillmere_errors.log" ]; then
    echo "== Error log"
    cat "$work/quillmere_errors.log"
  fi
  echo "== SHA-256 comparison"
  if [ -d "$work/đích" ] && diff <(list_tree "$work/nguồn") <(list_tree "$work/đích") >/dev/null &&
     diff <(hash_tree "$work/nguồn") <(hash_tree "$work/đích"); then
    echo "  The trees match: same folders, same sizes, every file's SHA-256 identical."
  else
    echo "  The trees DIFFER."
    [ "$status" -ne 0 ] || status=1
  fi
  echo "(sample kept in $work; remove it with: rm -r '$work')"
  return "$status"
}

build_cli
if [ $# -eq 0 ]; then
  run_sample
else
  exec "$cli" "$@"
fi
