#!/bin/sh
# One short pass of a benchmark program or script in a scratch installation of its own, so
# that every benchmark keeps building and running; no figure is judged. CTest runs it for
# each benchmark (label "bench"). The Google Benchmark programs take the least time
# (BENCHMARK_MIN_TIME, a plain number of seconds in this library's version); a script
# that has a short mode finds QK_BENCH_QUICK set.
#   bench/quick_run.sh <program or interpreter> [arguments...]
set -eu
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/local"
export QK_ROOT="$root" QK_LOCAL="$root/local" QK_KEY=$((20000 + $$ % 20000))
export BENCHMARK_MIN_TIME=0.001 QK_BENCH_QUICK=1
unset QK_LOG QK_LOG_NOKEY QK_LOG_LEVEL
cd "$root"
"$@"
