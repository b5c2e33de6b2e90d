#!/usr/bin/env bash
# Builds and tests everything: native (g++), native under AddressSanitizer and
# UndefinedBehaviorSanitizer (clang), the framework's modules under ThreadSanitizer (clang),
# Windows x86_64 with its tests under Wine, and the shipped Windows i686 program (compiled
# and linked only). Ends with a summary line and
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

stage() {  # [targets="T..."] stage NAME CONFIGURE-ARGS... ; builds the targets (all by default)
  local name=$1; shift
  local dir=$out/$name
  echo "=== $name: configure and build"
  if ! cmake -S "$src" -B "$dir" -G Ninja "$@" >"$dir.configure.log" 2>&1; then
    cat "$dir.configure.log"; broken+=("$name: configure"); return
  fi
  # shellcheck disable=SC2086  # the targets are words
  if ! ninja -C "$dir" -j "$jobs" ${targets-} >"$dir.build.log" 2>&1; then
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

# Threads: the modules' own test programs under ThreadSanitizer. Every case is labelled
# with its program, so only those built run. A race report fails its case (exitcode 66).
# Calls that are not async-signal-safe are not reported: traces from a signal handler's
# context are a feature of the stack-trace engine, which allocates, and its tests raise
# the signal themselves, so that it never interrupts the allocator.
tsan_programs="log_tests memory_tests string_tests diag_tests platform_tests"
targets="$tsan_programs" stage tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DQK_SANITIZE=thread
if [[ ! " ${broken[*]-} " =~ "tsan:" ]]; then
  TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1 report_signal_unsafe=0" \
    run_ctest tsan -L "^($(tr ' ' '|' <<<"$tsan_programs"))\$"
fi

export WINEDEBUG=-all WINEPREFIX=$out/win64/wineprefix
stage win64 -DCMAKE_TOOLCHAIN_FILE="$src/cmake/toolchain-mingw-x86_64.cmake" \
  -DCMAKE_CROSSCOMPILING_EMULATOR=wine
if [[ ! " ${broken[*]-} " =~ "win64:" ]]; then
  wineboot -i >/dev/null 2>&1 || true
  run_ctest win64 -j 1
  wineserver -k >/dev/null 2>&1 || true
fi

stage win32 -DCMAKE_TOOLCHAIN_FILE="$src/cmake/toolchain-mingw-i686.cmake" -DQK_TESTS=OFF

echo
echo "=== summary"
for b in "${broken[@]-}"; do [ -n "$b" ] && echo "FAILED: $b"; done
echo "tests: $passed passed, $failed failed"
[ ${#broken[@]} -eq 0 ] && [ "$failed" -eq 0 ]
