#!/usr/bin/env bash
# qklog tail on a full ring of ten 100000-byte log files (about 8500 records), in one
# hyperfine run: the last 10 records (one file), the last 5000 (reaching back through six
# files), every WARNING of the ring, a pattern, and the last 1000 as JSON; tail(1) of the
# current file for reference, and a baseline qklog when one is given.
# Usage: bench/qklog_tail_bench.sh [build-dir] [runs] [baseline-qklog]
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/build/bench}
runs=${2:-50}
baseline=${3:-}
if [ ! -x "$build/bin/Brimvale" ] || [ ! -x "$build/bin/qklog" ]; then
  cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQK_TESTS=OFF -DQK_BENCH=ON >/dev/null
  ninja -C "$build" Brimvale qklog >/dev/null
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/jre/bin" "$work/root/java/lib" "$work/root/log"
export QK_ROOT=$work/root QK_LOCAL=$work/root QK_JRE_INSTALL_DIR=$work/jre QK_KEY=$((50000 + RANDOM))
unset QK_LOG QK_LOG_NOKEY QK_LOG_LEVEL QK_LOGFILE_LIMIT
# The files as the writers leave them, stdlog.9 the newest: the first open of the entry
# takes it as the current file.
python3 - "$work/root/log" <<'PY'
import os, sys, time
levels = ["ERROR", "WARNING", "INFORMATION", "MILESTONE"]
n = 0
for number in range(10):
    lines = []
    size = 0
    while size <= 100000:
        prefix = "%02d/%02d %02d:%02d:%02d.%02d %-14.14s %-17.17s %7d %-12.12s %-20.20s %5d " % (
            12, 9, 10, n // 3600 % 24, n // 60 % 60, n % 60, "benchhost", "Loader", 4000 + n % 7,
            levels[n % 4], "Brimvale", n % 900)
        line = prefix + "record %d of the bench, with some words after it\n" % n
        lines.append(line)
        size += len(line)
        n += 1
    path = os.path.join(sys.argv[1], "stdlog.%d" % number)
    with open(path, "w") as f:
        f.writelines(lines)
    os.utime(path, (time.time() - 100 + number, time.time() - 100 + number))
PY
"$build/bin/Brimvale" -V 2>/dev/null || true
"$build/bin/qklog" tail -n 1 >/dev/null
commands=(-n tail1-n10 "tail -n 10 $work/root/log/stdlog.9"
          -n n10 "$build/bin/qklog tail -n 10"
          -n n5000 "$build/bin/qklog tail -n 5000"
          -n warnings "$build/bin/qklog tail -n 100000 --level WARNING --source Brimvale"
          -n match "$build/bin/qklog tail -n 100000 --match 'record [0-9]*7 of'"
          -n json1000 "$build/bin/qklog tail -n 1000 --json")
if [ -n "$baseline" ]; then
  commands+=(-n base-n10 "$baseline tail -n 10" -n base-n5000 "$baseline tail -n 5000")
fi
hyperfine -N --warmup 5 --runs "$runs" --export-json "$work/h.json" "${commands[@]}" >/dev/null
python3 - "$work/h.json" <<'PY'
import json, sys
for r in json.load(open(sys.argv[1]))["results"]:
    print(f"{r['command']:>11}: median {r['median']*1e3:8.3f} ms")
PY
