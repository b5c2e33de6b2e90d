#!/usr/bin/env bash
# Launcher overhead: Brimvale starting a runtime that exits at once, against starting that
# same program directly with the same arguments, in one hyperfine run; then Brimvale's
# peak resident size from /usr/bin/time -v.
# Usage: bench/launcher_bench.sh [build-dir] [runs]
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/build/bench}
runs=${2:-200}
if [ ! -x "$build/bin/Brimvale" ]; then
  cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQK_TESTS=OFF -DQK_BENCH=ON >/dev/null
  ninja -C "$build" Brimvale >/dev/null
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/jre/bin" "$work/root/java/lib"
# The stand-in runtime: a program that exits at once.
cp /bin/true "$work/jre/bin/java"
export QK_ROOT=$work/root QK_LOCAL=$work/root QK_JRE_INSTALL_DIR=$work/jre
direct=("$work/jre/bin/java" -Xmx512M -cp ".;$work/root/java/lib" -jar "$work/root/java/lib/Brimvale.jar" a "b c" -N "$work/root")
hyperfine -N --warmup 20 --runs "$runs" --export-json "$work/h.json" \
  -n direct "$(printf '%q ' "${direct[@]}")" \
  -n brimvale "$build/bin/Brimvale a 'b c'"
python3 - "$work/h.json" <<'PY'
import json, sys
r = {x["command"]: x for x in json.load(open(sys.argv[1]))["results"]}
d, b = r["direct"]["median"], r["brimvale"]["median"]
print(f"median direct {d*1e3:.3f} ms, brimvale {b*1e3:.3f} ms, overhead {(b-d)*1e3:.3f} ms")
PY
/usr/bin/time -v "$build/bin/Brimvale" a "b c" 2>&1 >/dev/null | grep -E 'Maximum resident'
