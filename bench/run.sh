#!/usr/bin/env bash
# The benchmark: quillmere_cli against the floor of a verified copy, round by
# round, on three workloads, and a Markdown table of the results.
#
#   bench/run.sh [--rounds N] [--only W1,W2,W3] [FOLDER]
#   bench/run.sh --report     prints the table of the last run again
#
# Builds quillmere_cli (Release) in build-bench/ (or $QUILLMERE_BENCH_BUILD),
# generates the workloads in FOLDER/quillmere-bench (FOLDER defaults to the
# build folder; it must be on the file system you want to measure, since the
# copies land next to their sources), and times every command once a round,
# 6 rounds by default. Each round runs quillmere_cli and the floor back to
# back (which goes first alternates from round to round, so an even number
# of rounds gives both orders the same weight), then the standard tools. The page cache is dropped before every timed command when this user
# may do so (echo 3 > /proc/sys/vm/drop_caches); the table says when that was
# not possible. Each workload's files are removed once it is done; the table
# is printed and kept in bench-results.md in the build folder. --report only
# prints: it drops no cache and runs nothing.
#
#   W1  one 2 GiB file of random bytes
#   W2  10,000 files of 4 KiB in 20 folders
#   W3  1,000 files of 1 KiB to 8 MiB (log-uniform sizes) in a nested tree
#
# Commands: quillmere_cli SRC DST; the floor, bench/copy_floor SRC DST: the
# same verified copy, file by file on one thread, with only the work it
# cannot do without (see its header); and, for information, cp -r + sync and
# cp -r + sync + sha256sum of the source checked against the copy with
# sha256sum -c. Disks here vary a lot from one minute to the next, so the
# target is judged on the ratio quillmere_cli ÷ floor of each round, whose
# median must be at most 1.15 over at least 5 rounds.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLMERE_BENCH_BUILD:-$repo/build-bench}
rounds=6
min_rounds=5
target_ratio=1.15
memory_limit_mib=48
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
if [ "$report_only" = no ] && [ "$rounds" -lt "$min_rounds" ]; then
  echo "note: fewer than $min_rounds rounds; the targets are not judged" >&2
fi

cli=$build/cli/quillmere_cli
timer=$build/bench/timed_run
floor=$build/bench/copy_floor
parent=${parent:-$build}
results=$build/bench-results
MiB=$((1024 * 1024))

log() { printf '%s\n' "$*" >&2; }

build_programs() {
  # The console program needs neither the Windows cross-build nor the window.
  QUILLMERE_SKIP_WINDOWS=${QUILLMERE_SKIP_WINDOWS:-1} "$repo/scripts/deps.sh"
  local tool
  for tool in openssl sha256sum cmake c++; do
    command -v "$tool" >/dev/null || { log "!! the bench needs $tool"; exit 1; }
  done
  log "== Building quillmere_cli (Release) in $build"
  local buildlog=$build/bench-build.log
  if ! { cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release \
           -DQUILLMERE_BUILD_TESTS=OFF -DQUILLMERE_BUILD_GUI=OFF &&
         cmake --build "$build" --target quillmere_cli -j 4 &&
         mkdir -p "$build/bench" &&
         c++ -std=c++17 -O2 -Wall -Wextra -o "$timer" "$repo/bench/timed_run.cpp" &&
         c++ -std=c++17 -O2 -Wall -Wextra -o "$floor" "$repo/bench/copy_floor.cpp" -lcrypto; } \
       >"$buildlog" 2>&1; then
    cat "$buildlog" >&2
    log "Build failed (log: $buildlog)."
    exit 1
  fi
}

# ---- Page cache --------------------------------------------------------------

# Found out by dropping it once, which a report of the last run must not do.
can_drop=no
probe_drop() {
  if (sync && echo 3 >/proc/sys/vm/drop_caches) 2>/dev/null; then can_drop=yes; fi
}

drop_caches() {
  sync
  if [ "$can_drop" = yes ]; then echo 3 >/proc/sys/vm/drop_caches; fi
}

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
# workload's source folder and a destination that does not exist yet; for W1
# quillmere_cli and the floor copy the one file into DST.

declare -A label
label[quillmere]='`quillmere_cli SRC DST`'
label[floor]='floor: `bench/copy_floor SRC DST`'
label[cp]='`cp -r` + `sync` (information)'
label[cpverify]='`cp -r` + `sync` + `sha256sum` / `sha256sum -c` (information)'

# Prints the command line to time, after dropping the page cache.
prepare() {
  local key=$1 src=$2 dst=$3 workload=$4
  case $key in
    quillmere|floor)
      if [ "$workload" = W1 ]; then
        mkdir -p "$dst"
        src=$src/random.bin dst=$dst/random.bin
      fi ;;
  esac
  drop_caches
  case $key in
    quillmere) printf '%s\0' "$cli" "$src" "$dst" ;;
    floor) printf '%s\0' "$floor" "$src" "$dst" ;;
    cp) printf '%s\0' bash -c 'cp -r "$1" "$2" && sync' _ "$src" "$dst" ;;
    cpverify)
      printf '%s\0' bash -c 'cp -r "$1" "$2" && sync &&
        (cd "$1" && find . -type f -print0 | xargs -0 sha256sum) >"$3" &&
        (cd "$2" && sha256sum -c --quiet "$3")' _ "$src" "$dst" "$work/sums.txt" ;;
  esac
}

# Checks (untimed) that the copy has the source's file count and bytes, and
# tidies up after the command.
finish() {
  local key=$1 dst=$2 expected=$3
  local got
  got=$(tree_figures "$dst")
  if [ "$got" != "$expected" ]; then
    log "!! $key: the copy holds $got (files bytes), the source $expected"
    exit 1
  fi
  rm -rf "$dst" "$work/sums.txt"
  settle
}

# Times one command once and appends "seconds rss cpu" to its result file.
time_one() {
  local workload=$1 key=$2 src=$3 dst=$4 expected=$5
  local -a command
  mapfile -d '' command < <(prepare "$key" "$src" "$dst" "$workload")
  local out status seconds rss cpu
  out=$(cd "$work/run" && "$timer" "$work/run/$key.log" -- "${command[@]}")
  read -r seconds rss status cpu <<<"$out"
  if [ "$status" != 0 ]; then
    log "!! $key failed with status $status; its output:"
    tail -c 2000 "$work/run/$key.log" >&2
    exit 1
  fi
  finish "$key" "$dst" "$expected"
  printf '%s %s %s\n' "$seconds" "$rss" "$cpu" >>"$results/$workload.$key"
  log "   $(printf '%-10s %8.2f s  %7d KiB  CPU %6.2f s' "$key" "$seconds" "$rss" "$cpu")"
}

# Each round: quillmere_cli and the floor back to back, the one that goes
# first alternating, so that a slow minute of the disk weighs on both; then
# the standard tools.
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
  local round key
  for ((round = 0; round < rounds; round++)); do
    log "-- $workload round $((round + 1))/$rounds"
    local -a order=(quillmere floor)
    [ $((round % 2)) = 1 ] && order=(floor quillmere)
    for key in "${order[@]}" cp cpverify; do
      time_one "$workload" "$key" "$src" "$dst" "$expected"
    done
  done
  rm -rf "$src" "$dst"
  settle
}

# ---- Report ----------------------------------------------------------------------

# The median of the numbers on standard input, one a line.
median_of() {
  sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) exit; if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
seconds_of() { cut -d' ' -f1 "$results/$1.$2"; }
median() { seconds_of "$1" "$2" | median_of; }
# quillmere_cli ÷ floor of each round, in round order.
paired_ratios() {
  paste -d' ' <(seconds_of "$1" quillmere) <(seconds_of "$1" floor) | awk '{ printf "%.3f\n", $1 / $2 }'
}
median_ratio() { paired_ratios "$1" | median_of; }
joined() { awk -v f="$1" '{ printf "%s" f, (NR > 1 ? " / " : ""), $1 }'; }
peak_rss() { cut -d' ' -f2 "$results/$1.$2" | sort -n | tail -1; }
# Median CPU seconds, or a dash for results of a timer that did not give them.
median_cpu() {
  local cpu
  cpu=$(awk 'NF >= 3 { print $3 }' "$results/$1.$2" | median_of)
  if [ -n "$cpu" ]; then calc '%.2f' "$cpu"; else echo '—'; fi
}
calc() { awk "BEGIN { printf \"$1\", ($2) }"; }
has_pairs() { [ -f "$results/$1.quillmere" ] && [ -f "$results/$1.floor" ]; }

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

table_rows() {
  local workload=$1 files key
  has_pairs "$workload" || return 0
  files=$(cut -d' ' -f1 "$results/$workload.figures")
  local floor_median
  floor_median=$(median "$workload" floor)
  for key in quillmere floor cp cpverify; do
    [ -f "$results/$workload.$key" ] || continue
    local m ratio perfile rss
    m=$(median "$workload" "$key")
    case $key in
      quillmere) ratio="$(calc '%.2f' "$(median_ratio "$workload")") (paired)" ;;
      floor) ratio='1.00' ;;
      *) ratio=$(calc '%.2f' "$m / $floor_median") ;;
    esac
    perfile='—'
    [ "$workload" = W1 ] || perfile=$(calc '%.0f' "$files / $m")
    rss='—'
    [ "$key" = quillmere ] && rss=$(calc '%.1f MiB' "$(peak_rss "$workload" "$key") / 1024")
    printf '| %s | %s | %s | %s | %s | %s | %s | %s |\n' "$workload" "${label[$key]}" \
      "$(calc '%.2f' "$m")" "$(seconds_of "$workload" "$key" | joined '%.2f')" "$ratio" \
      "$(median_cpu "$workload" "$key")" "$perfile" "$rss"
  done
  printf '| %s | quillmere_cli ÷ floor, round by round | | %s | %s | | | |\n' "$workload" \
    "$(paired_ratios "$workload" | joined '%.2f')" "$(calc '%.2f' "$(median_ratio "$workload")")"
}

verdict() {  # met (1/0)
  if [ "$rounds" -lt "$min_rounds" ]; then
    echo "not judged ($rounds rounds)"
  elif [ "$1" = 1 ]; then
    echo met
  else
    echo MISSED
  fi
}

targets() {
  local w v peak=0 rss
  for w in W1 W2 W3; do
    has_pairs "$w" || continue
    v=$(calc '%.2f' "$(median_ratio "$w")")
    printf '| %s: quillmere_cli ÷ floor | median of the paired ratios at most %s | %s | %s |\n' \
      "$w" "$target_ratio" "$v" "$(verdict "$(calc '%d' "$v <= $target_ratio")")"
    rss=$(peak_rss "$w" quillmere)
    [ "$rss" -gt "$peak" ] && peak=$rss
  done
  [ "$peak" -gt 0 ] || return 0
  v=$(calc '%.1f' "$peak / 1024")
  printf '| quillmere_cli peak resident memory, all workloads | at most %s MiB | %s MiB | %s |\n' \
    "$memory_limit_mib" "$v" "$(verdict "$(calc '%d' "$v <= $memory_limit_mib")")"
}

report() {
  local w3bytes='?'
  [ -f "$results/W3.figures" ] && w3bytes=$(calc '%.0f' "$(cut -d' ' -f2 "$results/W3.figures") / $MiB")
  echo "Machine: $(machine_line)."
  echo
  echo "Wall times of $rounds rounds; page cache dropped before every timed command: $can_drop$([ "$can_drop" = yes ] || echo ' (this user may not drop it: times after the first round may be from memory)')."
  echo "W1: one 2 GiB file of random bytes. W2: 10,000 files of 4 KiB in 20 folders."
  echo "W3: 1,000 files of 1 KiB to 8 MiB (log-uniform, $w3bytes MiB in all) in a nested tree."
  echo "Floor: the same verified copy with only the work it cannot do without (bench/copy_floor.cpp)."
  echo "Each round runs quillmere_cli and the floor back to back; the rounds column lists each round in"
  echo "order, so each round's pair is the same position in both rows. \"÷ floor\": for quillmere_cli the"
  echo "median of the per-round ratios, for the other commands median ÷ the floor's median. CPU: median"
  echo "user + system time, which hardly depends on how busy the disk is."
  echo
  echo '| Workload | Command | Median (s) | Rounds (s) | ÷ floor | CPU (s) | Files/s | Peak RSS |'
  echo '|---|---|---:|---|---:|---:|---:|---:|'
  local w
  for w in W1 W2 W3; do table_rows "$w"; done
  echo
  echo '| Target | Needed | Measured | |'
  echo '|---|---|---|---|'
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

mkdir -p "$build" "$parent"
work=$(cd "$parent" && pwd)/quillmere-bench
cleanup() { rm -rf "$work"; }
trap cleanup EXIT

build_programs
probe_drop
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
