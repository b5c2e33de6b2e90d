#!/usr/bin/env bash
# Builds and tests everything: native (g++), native under AddressSanitizer and
# UndefinedBehaviorSanitizer (clang), Windows x86_64 with its tests under Wine, and the
# shipped Windows i686 program with its tests under 32-bit Wine. Ends with a summary line and
# a non-zero exit code when anything failed.
set -uo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
out=${QK_BUILD_ROOT:-$src/build}
jobs=${QK_JOBS:-$(nproc)}
mkdir -p "$out"
passed=0 failed=0 broken=()

count() {  # reads ctest's summary line from a log
  local log=$1 line total nfail
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [ -z "$line" ]; then return 1; fi
  total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
  nfail=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
  passed=$((passed + total - nfail)); failed=$((failed + nfail))
}

stage() {  # stage NAME CONFIGURE-ARGS... ; builds and runs ctest
  local name=$1; shift
  local dir=$out/$name
  echo "=== $name: configure and build"
  if ! cmake -S "$src" -B "$dir" -G Ninja "$@" >"$dir.configure.log" 2>&1; then
    cat "$dir.configure.log"; broken+=("$name: configure"); return
  fi
  if ! ninja -C "$dir" -j "$jobs" >"$dir.build.log" 2>&1; then
    tail -n 60 "$dir.build.log"; broken+=("$name: build"); return
  fi
}

run_ctest() {  # run_ctest NAME [ctest args]
  local name=$1; shift
  local dir=$out/$name
  echo "=== $name: tests"
  (cd "$dir" && ctest --output-on-failure -j "$jobs" "$@") >"$dir.test.log" 2>&1
  local rc=$?
  # Failures only; disabled tests are the child halves of process-level tests.
  grep -E '\*\*\*(Failed|Timeout|Exception)|Failed  |\(Failed\)|\(Timeout\)' "$dir.test.log" | head -n 200
  grep -E 'tests passed, [0-9]+ tests? failed out of' "$dir.test.log" | tail -n 1
  if ! count "$dir.test.log"; then broken+=("$name: ctest gave no summary"); fi
  [ $rc -eq 0 ] || broken+=("$name: tests")
}

stage native -DCMAKE_BUILD_TYPE=RelWithDebInfo
[ -d "$out/native" ] && [[ ! " ${broken[*]-} " =~ "native:" ]] && run_ctest native

stage sanitize -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DQK_SANITIZE=address,undefined
if [[ ! " ${broken[*]-} " =~ "sanitize:" ]]; then
  ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1 run_ctest sanitize
fi

windows_stage() {  # windows_stage NAME TOOLCHAIN WINEARCH: builds, then runs ctest under Wine
  local name=$1 toolchain=$2
  # Each build has a Wine prefix of its own.
  export WINEDEBUG=-all WINEPREFIX=$out/$name/wineprefix WINEARCH=$3
  stage "$name" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/$toolchain" -DCMAKE_CROSSCOMPILING_EMULATOR=wine
  if [[ ! " ${broken[*]-} " =~ "$name:" ]]; then
    wineboot -i >/dev/null 2>&1 || true
    run_ctest "$name" -j 1
    wineserver -k >/dev/null 2>&1 || true
  fi
}

windows_stage win64 toolchain-mingw-x86_64.cmake win64
# The shipped program: the i686 build and its tests under 32-bit Wine.
windows_stage win32 toolchain-mingw-i686.cmake win32

echo
echo "=== summary"
for b in "${broken[@]-}"; do [ -n "$b" ] && echo "FAILED: $b"; done
echo "tests: $passed passed, $failed failed"
[ ${#broken[@]} -eq 0 ] && [ "$failed" -eq 0 ]
