#!/usr/bin/env bash
# Launcher overhead: Brimvale starting a runtime that exits at once, against starting that
# same program directly with the same arguments, in one hyperfine run; then Brimvale's
# peak resident size from /usr/bin/time -v.
# Usage: bench/launcher_bench.sh [build-dir] [runs] [baseline-Brimvale]
# A baseline Brimvale (another build's bin/Brimvale) runs in the same hyperfine run, so
# that a change is measured against the same load.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/build/bench}
runs=${2:-200}
baseline=${3:-}
compare=()
if [ -n "$baseline" ]; then compare=(-n brimvale-baseline "$baseline a 'b c'"); fi
if [ ! -x "$build/bin/Brimvale" ]; then
  cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQK_TESTS=OFF -DQK_BENCH=ON >/dev/null
  ninja -C "$build" Brimvale >/dev/null
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/jre/bin" "$work/root/java/lib"
# The stand-in runtime: a program that exits at once.
cp /bin/true "$work/jre/bin/java"
# A real installation: its own key, so Brimvale attaches the shared log block and opens
# the default log file at start-up as it does in the field.
export QK_ROOT=$work/root QK_LOCAL=$work/root QK_JRE_INSTALL_DIR=$work/jre QK_KEY=$((40000 + RANDOM))
unset QK_LOG QK_LOG_NOKEY QK_LOG_LEVEL
# The floor for any launcher: a minimal C program that only spawns the runtime and waits.
cat > "$work/spawner.c" <<'C'
#include <spawn.h>
#include <sys/wait.h>
extern char **environ;
int main(int argc, char **argv) {
  pid_t pid;
  int status;
  (void)argc;
  if (posix_spawn(&pid, argv[1], 0, 0, argv + 1, environ)) return 1;
  waitpid(pid, &status, 0);
  return WEXITSTATUS(status);
}
C
cc -O2 "$work/spawner.c" -o "$work/spawner"
direct=("$work/jre/bin/java" -Xmx512M -cp ".;$work/root/java/lib" -jar "$work/root/java/lib/Brimvale.jar" a "b c" -N "$work/root")
hyperfine -N --warmup 20 --runs "$runs" --export-json "$work/h.json" \
  -n direct "$(printf '%q ' "${direct[@]}")" \
  -n minimal-launcher "$work/spawner $(printf '%q ' "${direct[@]}")" \
  -n brimvale "$build/bin/Brimvale a 'b c'" \
  "${compare[@]}"
python3 - "$work/h.json" <<'PY'
import json, sys
r = {x["command"]: x for x in json.load(open(sys.argv[1]))["results"]}
d, m, b = (r[k]["median"] for k in ("direct", "minimal-launcher", "brimvale"))
print(f"median direct {d*1e3:.3f} ms, minimal launcher {m*1e3:.3f} ms, brimvale {b*1e3:.3f} ms")
print(f"overhead: brimvale {(b-d)*1e3:.3f} ms, minimal launcher {(m-d)*1e3:.3f} ms")
print(f"brimvale over the minimal launcher: {(b-m)*1e3:.3f} ms")
if "brimvale-baseline" in r:
    o = r["brimvale-baseline"]["median"]
    print(f"baseline brimvale {o*1e3:.3f} ms, over the minimal launcher: {(o-m)*1e3:.3f} ms")
PY
/usr/bin/time -v "$build/bin/Brimvale" a "b c" 2>&1 >/dev/null | grep -E 'Maximum resident'
