#!/bin/sh
# Records per second into one installation's log file from one and from four processes at
# once, the logger against a bare loop of the same system calls.
#   bench/log_bench.sh <build dir>
set -eu
bin="${1:?build directory}/bin/log_bench"
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/local"
export QK_ROOT="$root" QK_LOCAL="$root/local" QK_KEY=$((3000 + $$ % 50000)) QK_LOGFILE_LIMIT=2000000000

rate() {  # benchmark name, process count: the summed items per second
  name=$1 count=$2 i=0
  while [ $i -lt "$count" ]; do
    "$bin" --benchmark_filter="^$name/" --benchmark_format=csv 2>/dev/null >"$root/out.$i" &
    i=$((i + 1))
  done
  wait
  # CSV columns: name, iterations, real_time, cpu_time, time_unit, bytes/s, items/s, ...
  cat "$root"/out.* | awk -F, -v n="$name" 'index($1, n) { s += $7 } END { printf "%.0f", s }'
  rm -f "$root"/out.*
}

for count in 1 4; do
  logger=$(rate BM_RecordToFile $count)
  bare=$(rate BM_BareSyscalls $count)
  echo "$count process(es): logger $logger records/s, bare loop $bare lines/s," \
       "ratio $(awk -v a="$logger" -v b="$bare" 'BEGIN { printf "%.0f%%", 100 * a / b }')"
done
