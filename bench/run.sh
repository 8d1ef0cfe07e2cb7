#!/usr/bin/env bash
# The benchmark: quillmere_cli against what a user of this machine would run
# instead, on three workloads, and a Markdown table of the results.
#
#   bench/run.sh [--rounds N] [--only W1,W2,W3] [FOLDER]
#   bench/run.sh --report     prints the table of the last run again
#
# Builds quillmere_cli (Release) in build-bench/ (or $QUILLMERE_BENCH_BUILD),
# generates the workloads in FOLDER/quillmere-bench (FOLDER defaults to the
# build folder; it must be on the file system you want to measure, since the
# copies land next to their sources), and times every command at least 3
# times, interleaved: each round runs every command once, in an order that
# rotates from round to round. The page cache is dropped before every timed
# command when this user may do so (echo 3 > /proc/sys/vm/drop_caches); the
# table says when that was not possible. Each workload's files are removed
# once it is done; the table is printed and kept in bench-results.md in the
# build folder.
#
#   W1  one 2 GiB file of random bytes
#   W2  10,000 files of 4 KiB in 20 folders
#   W3  1,000 files of 1 KiB to 8 MiB (log-uniform sizes) in a nested tree
#
# Commands: quillmere_cli SRC DST; cp -r + sync; cp -r + sync + sha256sum of
# the source checked against the copy with sha256sum -c. And the floors of
# each stage of a verified copy, whose sum bounds what a copy that reads,
# writes through and re-reads every file can reach: for W1 a direct read (dd
# iflag=direct), a direct write-through write (dd oflag=direct,dsync, input
# from the page cache), a direct read of that copy, and SHA-256 with openssl
# from memory; for W2 and W3 the same stages file by file (bench/tree_floor:
# unbuffered reads, unbuffered write-through writes, buffered re-reads in
# 1 MiB pieces, SHA-256 from memory).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLMERE_BENCH_BUILD:-$repo/build-bench}
rounds=3
only=W1,W2,W3
parent=
report_only=no

usage() {
  sed -n '4,6p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
}

while [ $# -gt 0 ]; do
  case $1 in
    --rounds) rounds=${2:?}; shift 2 ;;
    --only) only=${2:?}; shift 2 ;;
    --report) report_only=yes; shift ;;
    -h|--help) usage ;;
    -*) usage ;;
    *) parent=$1; shift ;;
  esac
done
[[ $rounds =~ ^[0-9]+$ ]] && [ "$rounds" -ge 1 ] || { echo "--rounds needs a number" >&2; exit 2; }
if [ "$rounds" -lt 3 ]; then
  echo "note: fewer than 3 rounds; medians of $rounds round(s) are only indicative" >&2
fi

cli=$build/cli/quillmere_cli
timer=$build/bench/timed_run
floor=$build/bench/tree_floor
mkdir -p "$build"
parent=${parent:-$build}
mkdir -p "$parent"
work=$(cd "$parent" && pwd)/quillmere-bench
results=$build/bench-results
MiB=$((1024 * 1024))

log() { printf '%s\n' "$*" >&2; }

build_programs() {
  # The console program needs neither the Windows cross-build nor the window.
  QUILLMERE_SKIP_WINDOWS=${QUILLMERE_SKIP_WINDOWS:-1} "$repo/scripts/deps.sh"
  local tool
  for tool in openssl dd sha256sum cmake c++; do
    command -v "$tool" >/dev/null || { log "!! the bench needs $tool"; exit 1; }
  done
  log "== Building quillmere_cli (Release) in $build"
  local buildlog=$build/bench-build.log
  if ! { cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release \
           -DQUILLMERE_BUILD_TESTS=OFF -DQUILLMERE_BUILD_GUI=OFF &&
         cmake --build "$build" --target quillmere_cli -j "$(nproc)" &&
         mkdir -p "$build/bench" &&
         c++ -std=c++17 -O2 -Wall -Wextra -o "$timer" "$repo/bench/timed_run.cpp" &&
         c++ -std=c++17 -O2 -Wall -Wextra -o "$floor" "$repo/bench/tree_floor.cpp" -lcrypto; } \
       >"$buildlog" 2>&1; then
    cat "$buildlog" >&2
    log "Build failed (log: $buildlog)."
    exit 1
  fi
}

# ---- Page cache --------------------------------------------------------------

# Found out by dropping it once, which a report of the last run must not do.
can_drop=no
if [ "$report_only" = no ] && (sync && echo 3 >/proc/sys/vm/drop_caches) 2>/dev/null; then
  can_drop=yes
fi

drop_caches() {
  sync
  if [ "$can_drop" = yes ]; then echo 3 >/proc/sys/vm/drop_caches; fi
}

warm() { cat "$@" >/dev/null; }
warm_tree() { find "$1" -type f -exec cat {} + >/dev/null; }

# ext4 without a journal passes over inodes freed in the last few seconds
# when it allocates new ones, which would charge one command's clean-up to
# the next: after each clean-up the bench waits that long, untimed.
settle() {
  sync
  sleep 6
}

# ---- Workloads ---------------------------------------------------------------

# An endless stream of random-looking bytes, the same for the same seed
# (AES-128 in counter mode over zeros: far faster than /dev/urandom).
random_stream() {
  openssl enc -aes-128-ctr -nosalt -K "$(printf '%032x' "$1")" -iv 0 -in /dev/zero 2>/dev/null
}

# Writes exactly $2 bytes of stream $1 to stdout.
random_bytes() { random_stream "$1" | head -c "$2" || true; }

make_w1() {
  mkdir -p "$1"
  random_bytes 1 $((2048 * MiB)) >"$1/random.bin"
}

make_w2() {
  local d
  for d in $(seq -w 0 19); do
    mkdir -p "$1/folder$d"
    random_bytes $((100 + 10#$d)) $((500 * 4096)) | split -b 4096 -a 3 -d - "$1/folder$d/file"
  done
}

# 1,000 "path size" lines: sizes log-uniform in [1 KiB, 8 MiB), files one to
# three folders deep in a tree of 5 x 4 x 5 folders.
w3_layout() {
  awk 'BEGIN {
    srand(20240607)
    for (i = 0; i < 1000; i++) {
      size = int(1024 * exp(rand() * log(8192)))
      path = sprintf("a%d", i % 5)
      if (i % 3 >= 1) path = path sprintf("/b%d", int(i / 5) % 4)
      if (i % 3 == 2) path = path sprintf("/c%d", int(i / 20) % 5)
      printf "%s/f%04d.bin %d\n", path, i, size
    }
  }'
}

make_w3() {
  local path size
  exec 3< <(random_stream 3)
  while read -r path size; do
    mkdir -p "$1/$(dirname "$path")"
    head -c "$size" <&3 >"$1/$path"
  done < <(w3_layout)
  exec 3<&-
}

# "files bytes" of the regular files under a folder.
tree_figures() {
  find "$1" -type f -printf '%s\n' | awk '{ n++; s += $1 } END { printf "%d %d\n", n, s }'
}

# ---- Commands ------------------------------------------------------------------
# Every command runs from $work/run (quillmere_cli writes its error log to the
# current folder) with its output in $work/run/<key>.log. SRC and DST are the
# workload's source folder and a destination that does not exist yet.

declare -A label
label[quillmere]='`quillmere_cli SRC DST`'
label[cp]='`cp -r` + `sync`'
label[cpverify]='`cp -r` + `sync` + `sha256sum` / `sha256sum -c`'
label[floor_read]='floor: direct read (`dd iflag=direct bs=16M`)'
label[floor_write]='floor: direct write (`dd oflag=direct,dsync bs=16M`)'
label[floor_readback]='floor: direct read of the copy'
label[floor_hash]='floor: `openssl dgst -sha256` from memory'
label[tfloor_read]='floor: direct reads, file by file'
label[tfloor_write]='floor: direct write-through writes, file by file'
label[tfloor_reread]='floor: re-read of the copy in 1 MiB pieces'
label[tfloor_hash]='floor: SHA-256 of every file from memory'

declare -A units
units[W1]='quillmere|cp|cpverify|floor_read|floor_write floor_readback|floor_hash'
units[W2]='quillmere|cp|cpverify|tfloor_read|tfloor_write tfloor_reread|tfloor_hash'
units[W3]='quillmere|cp|cpverify|tfloor_read|tfloor_write tfloor_reread|tfloor_hash'

# Prepares the command's run: what is dropped or warmed is part of the
# measurement's definition. Prints the command line to time.
prepare() {
  local key=$1 src=$2 dst=$3 workload=$4
  case $key in
    quillmere)
      if [ "$workload" = W1 ]; then
        mkdir -p "$dst"
        src=$src/random.bin dst=$dst/random.bin
      fi
      drop_caches
      printf '%s\0' "$cli" "$src" "$dst" ;;
    cp)
      drop_caches
      printf '%s\0' bash -c 'cp -r "$1" "$2" && sync' _ "$src" "$dst" ;;
    cpverify)
      drop_caches
      printf '%s\0' bash -c 'cp -r "$1" "$2" && sync &&
        (cd "$1" && find . -type f -print0 | xargs -0 sha256sum) >"$3" &&
        (cd "$2" && sha256sum -c --quiet "$3")' _ "$src" "$dst" "$work/sums.txt" ;;
    floor_read)
      drop_caches
      printf '%s\0' dd if="$src/random.bin" of=/dev/null iflag=direct bs=16M status=none ;;
    floor_write)
      mkdir -p "$dst"
      drop_caches
      warm "$src/random.bin"
      printf '%s\0' dd if="$src/random.bin" of="$dst/random.bin" oflag=direct,dsync bs=16M \
        status=none ;;
    floor_readback)
      drop_caches
      printf '%s\0' dd if="$work/w1-copy.bin" of=/dev/null iflag=direct bs=16M status=none ;;
    floor_hash)
      warm "$src/random.bin"
      printf '%s\0' openssl dgst -sha256 "$src/random.bin" ;;
    tfloor_read)
      drop_caches
      printf '%s\0' "$floor" read "$src" ;;
    tfloor_write)
      drop_caches
      printf '%s\0' "$floor" write "$src" "$dst" ;;
    tfloor_reread)
      drop_caches
      printf '%s\0' "$floor" reread "$work/tree-copy" ;;
    tfloor_hash)
      warm_tree "$src"
      printf '%s\0' "$floor" hash "$src" ;;
  esac
}

# Checks (untimed) that a copy has the source's file count and bytes, and
# tidies up after the command.
finish() {
  local key=$1 src=$2 dst=$3 expected=$4
  case $key in
    quillmere|cp|cpverify)
      local got
      got=$(tree_figures "$dst")
      if [ "$got" != "$expected" ]; then
        log "!! $key: the copy holds $got (files bytes), the source $expected"
        exit 1
      fi ;;
  esac
  case $key in
    floor_write) mv "$dst/random.bin" "$work/w1-copy.bin" ;;
    floor_readback) rm -f "$work/w1-copy.bin" ;;
    tfloor_write) mv "$dst" "$work/tree-copy" ;;
    tfloor_reread) rm -rf "$work/tree-copy" ;;
  esac
  rm -rf "$dst" "$work/sums.txt"
  settle
}

# Times one command once and appends "seconds rss" to its result file.
time_one() {
  local workload=$1 key=$2 src=$3 dst=$4 expected=$5
  local -a command
  mapfile -d '' command < <(prepare "$key" "$src" "$dst" "$workload")
  local out status seconds rss
  out=$(cd "$work/run" && "$timer" "$work/run/$key.log" -- "${command[@]}")
  read -r seconds rss status <<<"$out"
  if [ "$status" != 0 ]; then
    log "!! $key failed with status $status; its output:"
    tail -c 2000 "$work/run/$key.log" >&2
    exit 1
  fi
  finish "$key" "$src" "$dst" "$expected"
  printf '%s %s\n' "$seconds" "$rss" >>"$results/$workload.$key"
  log "   $(printf '%-16s %8.2f s  %7d KiB' "$key" "$seconds" "$rss")"
}

run_workload() {
  local workload=$1
  local src=$work/$workload-src dst=$work/$workload-dst
  rm -rf "$src" "$dst"
  log "== $workload: generating in $src"
  "make_${workload,,}" "$src"
  local expected
  expected=$(tree_figures "$src")
  echo "$expected" >"$results/$workload.figures"
  settle
  local -a list
  IFS='|' read -r -a list <<<"${units[$workload]}"
  local round i n=${#list[@]} key
  for ((round = 0; round < rounds; round++)); do
    log "-- $workload round $((round + 1))/$rounds"
    for ((i = 0; i < n; i++)); do
      for key in ${list[(i + round) % n]}; do
        time_one "$workload" "$key" "$src" "$dst" "$expected"
      done
    done
  done
  rm -rf "$src" "$dst" "$work/w1-copy.bin" "$work/tree-copy"
  settle
}

# ---- Report ----------------------------------------------------------------------

# Median seconds (or, with "rss", the largest peak) of a command's rounds.
median() {
  cut -d' ' -f1 "$results/$1.$2" | sort -g |
    awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
all_rounds() { cut -d' ' -f1 "$results/$1.$2" | awk '{ printf "%s%.2f", (NR > 1 ? " / " : ""), $1 }'; }
peak_rss() { cut -d' ' -f2 "$results/$1.$2" | sort -n | tail -1; }
calc() { awk "BEGIN { printf \"$1\", ($2) }"; }

machine_line() {
  local cores memory model fs device kernel
  cores=$(nproc)
  memory=$(awk '/MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)
  model=$(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo)
  fs=$(df -PT "$work" | awk 'NR == 2 { print $2 }')
  device=$(df -PT "$work" | awk 'NR == 2 { print $1 }')
  kernel=$(uname -r)
  printf '%s cores (%s), %s memory, %s file system on %s, Linux %s' \
    "$cores" "${model:-unknown processor}" "$memory" "$fs" "$device" "$kernel"
}

has_floors() { [ -f "$results/$1.floor_hash" ] || [ -f "$results/$1.tfloor_hash" ]; }

# Read + hash + write + read back + hash: the stages a verified copy goes
# through one after the other, each at its floor.
floor_sum() {
  if [ "$1" = W1 ]; then
    calc '%.3f' "$(median W1 floor_read) + $(median W1 floor_write) + $(median W1 floor_readback) + 2 * $(median W1 floor_hash)"
  else
    calc '%.3f' "$(median "$1" tfloor_read) + $(median "$1" tfloor_write) + $(median "$1" tfloor_reread) + 2 * $(median "$1" tfloor_hash)"
  fi
}

table_rows() {
  local workload=$1 q files key
  [ -f "$results/$workload.quillmere" ] || return 0
  q=$(median "$workload" quillmere)
  files=$(cut -d' ' -f1 "$results/$workload.figures")
  local -a list
  IFS='| ' read -r -a list <<<"${units[$workload]}"
  for key in "${list[@]}"; do
    [ -f "$results/$workload.$key" ] || continue
    local m ratio perfile rss
    m=$(median "$workload" "$key")
    ratio='—'
    case $key in
      quillmere) ratio='1.00' ;;
      cp|cpverify) ratio=$(calc '%.2f' "$m / $q") ;;
    esac
    perfile='—'
    [ "$workload" = W2 ] && [[ $key != *floor_* ]] && perfile=$(calc '%.0f' "$files / $m")
    rss='—'
    [ "$key" = quillmere ] && rss=$(calc '%.1f MiB' "$(peak_rss "$workload" "$key") / 1024")
    printf '| %s | %s | %s | %s | %s | %s | %s |\n' "$workload" "${label[$key]}" "$(calc '%.2f' "$m")" \
      "$(all_rounds "$workload" "$key")" "$ratio" "$perfile" "$rss"
  done
  if has_floors "$workload"; then
    printf '| %s | sum of the floors (read + hash + write + re-read + hash) | %s | | | — | — |\n' \
      "$workload" "$(calc '%.2f' "$(floor_sum "$workload")")"
  fi
}

target_row() {  # name, needed, measured, met (1/0), design floor
  printf '| %s | %s | %s | %s | %s |\n' "$1" "$2" "$3" "$([ "$4" = 1 ] && echo met || echo MISSED)" "$5"
}

# The ratio against cp + sync + sha256sum verify of a copy that took as long
# as its floor sum. Not a strict limit: a buffered re-read overlaps its disk
# reads with the hashing (read-ahead), which the sum counts one after the
# other.
floor_bound() {
  if has_floors "$1"; then
    calc '%.2f' "$(median "$1" cpverify) / $(floor_sum "$1")"
  else
    echo '—'
  fi
}

# "verify ÷ quillmere_cli" against a needed factor.
speed_target() {  # workload, needed factor, wording
  local v
  v=$(calc '%.2f' "$(median "$1" cpverify) / $(median "$1" quillmere)")
  target_row "$1 against cp + sync + sha256sum verify" "$3" "$v" "$(calc '%d' "$v >= $2")" \
    "$(floor_bound "$1")"
}

targets() {
  local v
  if [ -f "$results/W1.quillmere" ]; then
    if has_floors W1; then
      v=$(calc '%.2f' "$(median W1 quillmere) / $(floor_sum W1)")
      target_row "W1 against its stage floors" "quillmere_cli ÷ floor sum at most 1.15" "$v" \
        "$(calc '%d' "$v <= 1.15")" "$(calc '%.2f s' "$(floor_sum W1)")"
    fi
    speed_target W1 3 "verify ÷ quillmere_cli at least 3"
    v=$(calc '%.1f' "$(peak_rss W1 quillmere) / 1024")
    target_row "W1 peak resident memory" "at most 48 MiB" "$v MiB" "$(calc '%d' "$v <= 48")" '—'
  fi
  [ -f "$results/W2.quillmere" ] && speed_target W2 1 "verify ÷ quillmere_cli at least 1"
  [ -f "$results/W3.quillmere" ] && speed_target W3 2 "verify ÷ quillmere_cli at least 2"
  return 0
}

report() {
  local w3bytes='?'
  [ -f "$results/W3.figures" ] && w3bytes=$(calc '%.0f' "$(cut -d' ' -f2 "$results/W3.figures") / $MiB")
  echo "Machine: $(machine_line)."
  echo
  echo "Median wall time of $rounds interleaved rounds; page cache dropped before every timed command: $can_drop$([ "$can_drop" = yes ] || echo ' (this user may not drop it: times after the first round may be from memory)')."
  echo "W1: one 2 GiB file of random bytes. W2: 10,000 files of 4 KiB in 20 folders."
  echo "W3: 1,000 files of 1 KiB to 8 MiB (log-uniform, $w3bytes MiB in all) in a nested tree."
  echo "Ratio: the command's time over quillmere_cli's (above 1: quillmere_cli is faster)."
  echo "Floors: each stage of a verified copy alone (see bench/run.sh); their sum bounds a copy that"
  echo "reads, writes through and re-reads every file one stage after the other, as quillmere_cli does"
  echo "(its re-read overlaps disk reads with hashing, so a copy can come in a little under the sum)."
  echo "Design floor: for the ratios, verify ÷ floor sum, what a copy taking exactly the floor sum would show."
  echo
  echo '| Workload | Command | Median (s) | Rounds (s) | Ratio | Files/s | Peak RSS |'
  echo '|---|---|---:|---|---:|---:|---:|'
  local w
  for w in W1 W2 W3; do table_rows "$w"; done
  echo
  echo '| Target | Needed | Measured | | Design floor |'
  echo '|---|---|---|---|---|'
  targets
}

# ---- Main ------------------------------------------------------------------------

if [ "$report_only" = yes ]; then
  [ -f "$results/rounds" ] || { log "no finished run in $results"; exit 1; }
  work=$(cat "$results/work")
  rounds=$(cat "$results/rounds")
  can_drop=$(cat "$results/can_drop")
  report
  exit 0
fi

cleanup() { rm -rf "$work"; }
trap cleanup EXIT

build_programs
rm -rf "$work" "$results"
mkdir -p "$work/run" "$results"
if [ "$can_drop" = no ]; then
  log "note: this user may not drop the page cache; times are taken with whatever it holds"
fi

IFS=',' read -r -a selected <<<"$only"
for w in "${selected[@]}"; do
  case $w in
    W1) need=$((5 * 1024)) ;;
    W2|W3) need=$((3 * 1024)) ;;
    *) log "unknown workload $w (W1, W2, W3)"; exit 2 ;;
  esac
  avail=$(df -Pm "$work" | awk 'NR == 2 { print $4 }')
  if [ "$avail" -lt "$need" ]; then
    log "!! $w needs about $need MiB free in $work; $avail MiB are free"
    exit 1
  fi
  run_workload "$w"
done

echo "$rounds" >"$results/rounds"
echo "$can_drop" >"$results/can_drop"
echo "$(dirname "$work")" >"$results/work"
report | tee "$build/bench-results.md"
