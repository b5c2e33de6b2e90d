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

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# The two loops alternate, five times each, and the medians are compared: this machine's
# rate drifts too much between two single runs.
for count in 1 4; do
  : >"$root/logger.rates"; : >"$root/bare.rates"
  for round in 1 2 3 4 5; do
    rate BM_RecordToFile $count >>"$root/logger.rates"; echo >>"$root/logger.rates"
    rate BM_BareSyscalls $count >>"$root/bare.rates"; echo >>"$root/bare.rates"
  done
  logger=$(median <"$root/logger.rates")
  bare=$(median <"$root/bare.rates")
  echo "$count process(es): logger $logger records/s, bare loop $bare lines/s (medians of 5)," \
       "ratio $(awk -v a="$logger" -v b="$bare" 'BEGIN { printf "%.0f%%", 100 * a / b }')"
done
