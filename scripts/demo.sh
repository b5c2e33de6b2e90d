#!/usr/bin/env bash
# Builds Brimvale and the demo installation, then runs the demo loader through Brimvale.
# Extra arguments go to the loader: scripts/demo.sh hello "two words" --exit 3
set -uo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=${QK_BUILD_ROOT:-$src/build}/native
bash "$src/scripts/setup.sh"
cmake -S "$src" -B "$build" -G Ninja >/dev/null && ninja -C "$build" Brimvale demo_loader >/dev/null || exit 1
export QK_ROOT=$build/demo QK_LOCAL=$build/demo
echo "--- the command line (-V):"
"$build/bin/Brimvale" "$@" -V
echo "--- the run:"
"$build/bin/Brimvale" "$@"
rc=$?
echo "--- Brimvale exited with $rc"
echo "--- the newest records in $QK_ROOT/log:"
tail -n 4 "$(ls -t "$QK_ROOT"/log/stdlog.* | head -n 1)"
exit $rc
