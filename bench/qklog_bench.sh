#!/usr/bin/env bash
# qklog against Brimvale -V on an installation with a live log block, in one hyperfine
# run: "qklog status" and "qklog filter add" should take no longer than "Brimvale -V"
# (all three start the framework, read the settings and attach the block).
# Usage: bench/qklog_bench.sh [build-dir] [runs]
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/build/bench}
runs=${2:-200}
if [ ! -x "$build/bin/Brimvale" ] || [ ! -x "$build/bin/qklog" ]; then
  cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQK_TESTS=OFF -DQK_BENCH=ON >/dev/null
  ninja -C "$build" Brimvale qklog >/dev/null
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/jre/bin" "$work/root/java/lib"
export QK_ROOT=$work/root QK_LOCAL=$work/root QK_JRE_INSTALL_DIR=$work/jre QK_KEY=$((50000 + RANDOM))
unset QK_LOG QK_LOG_NOKEY QK_LOG_LEVEL
# A live block: one run of the launcher makes and initialises it.
"$build/bin/Brimvale" -V 2>/dev/null || true
"$build/bin/qklog" status >/dev/null
hyperfine -N --warmup 20 --runs "$runs" -i --export-json "$work/h.json" \
  -n brimvale-V "$build/bin/Brimvale -V" \
  -n qklog-status "$build/bin/qklog status" \
  -n qklog-filter-add "$build/bin/qklog filter add --source Bench --level MILESTONE"
python3 - "$work/h.json" <<'PY'
import json, sys
r = {x["command"]: x for x in json.load(open(sys.argv[1]))["results"]}
b, s, f = (r[k]["median"] for k in ("brimvale-V", "qklog-status", "qklog-filter-add"))
print(f"median Brimvale -V {b*1e3:.3f} ms, qklog status {s*1e3:.3f} ms, qklog filter add {f*1e3:.3f} ms")
PY
