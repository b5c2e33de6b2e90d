#!/usr/bin/env bash
# Builds and tests everything: native (g++), native under AddressSanitizer and
# UndefinedBehaviorSanitizer (clang), the framework's modules under ThreadSanitizer (clang),
# a short run of every fuzz target (clang, libFuzzer), Windows x86_64 with its tests under
# Wine, and the shipped Windows i686 program with its tests under 32-bit Wine. Ends with a
# summary line and
# a non-zero exit code when anything failed.
set -uo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
out=${QK_BUILD_ROOT:-$src/build}
jobs=${QK_JOBS:-$(nproc)}
mkdir -p "$out"
passed=0 failed=0 broken=() skipped=()

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
  # Failures only.
  grep -E '\*\*\*(Failed|Timeout|Exception)|Failed  |\(Failed\)|\(Timeout\)' "$dir.test.log" | head -n 200
  # Where one test program is one CTest test (the Windows builds), the failed cases by name.
  grep -E '^\[  FAILED  \] [A-Za-z_0-9/]+\.[A-Za-z_0-9/]+' "$dir.test.log" | sort -u | head -n 50
  grep -E 'tests passed, [0-9]+ tests? failed out of' "$dir.test.log" | tail -n 1
  if ! count "$dir.test.log"; then broken+=("$name: ctest gave no summary"); fi
  [ $rc -eq 0 ] || broken+=("$name: tests")
}

# The native build has the benchmarks too: its tests include one short pass of each
# (label "bench"), so that none stops building or running unnoticed.
stage native -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQK_BENCH=ON
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

# --- Fuzz smoke: every libFuzzer target for a short while, each in an installation of its own.

# The targets, one a line: name, longest input, extra options. The block targets take a
# whole shared log block and text after it, seeded with a real block.
fuzz_targets() {
  cat <<'TARGETS'
memlgqk_fuzz 11264
qklog_fuzz 11264
shared_folder_fuzz 4096
qkenv_fuzz 4096
qkos_fuzz 4096
utf8_fuzz 4096 -close_fd_mask=2
regexp_fuzz 4096
memdebug_fuzz 4096
TARGETS
}

# block_seed BUILD-DIR FILE: the shared log block that Brimvale leaves in a new
# installation, with a filter and a time offset set by qklog, then a source name.
block_seed() {
  local bin=$1/bin scratch
  scratch=$(mktemp -d)
  (
    export QK_ROOT=$scratch QK_LOCAL=$scratch QK_KEY=4242 QK_JRE_INSTALL_DIR=$scratch ASAN_OPTIONS=detect_leaks=0
    "$bin/Brimvale" -V >/dev/null 2>&1
    "$bin/qklog" filter add --source Brimvale --level MILESTONE >/dev/null
    "$bin/qklog" filter add --pid 4711 --level VERBOSE >/dev/null
    "$bin/qklog" offset 12.34 >/dev/null
  )
  { cat "$scratch"/site/shm/00001093; printf 'Brimvale\0'; } >"$2"
  rm -rf "$scratch"
  [ "$(wc -c <"$2")" -eq 10785 ]
}

fuzz_smoke() {
  local dir=$out/fuzz seconds=${QK_FUZZ_SECONDS:-25} name max_len options scratch
  echo "=== fuzz: ${seconds} s per target"
  if ! block_seed "$dir" "$dir.block-seed"; then broken+=("fuzz: no block seed"); return; fi
  while read -r name max_len options; do
    mkdir -p "$dir/corpus/$name"
    case $name in memlgqk_fuzz | qklog_fuzz) cp "$dir.block-seed" "$dir/corpus/$name/real-block" ;; esac
    scratch=$(mktemp -d)
    # shellcheck disable=SC2086
    if ! (cd "$scratch" && QK_ROOT=$scratch QK_LOCAL=$scratch QK_LOG_NOKEY=1 QK_KEY= \
          ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1 \
          "$dir/bin/$name" -max_total_time="$seconds" -max_len="$max_len" $options "$dir/corpus/$name") \
          >"$dir.$name.log" 2>&1; then
      tail -n 30 "$dir.$name.log"; broken+=("fuzz: $name")
    fi
    rm -rf "$scratch"
  done < <(fuzz_targets)
}

stage fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQK_FUZZ=ON -DQK_SANITIZE=address,undefined \
  -DQK_TESTS=OFF
[[ ! " ${broken[*]-} " =~ "fuzz:" ]] && fuzz_smoke

windows_stage() {  # windows_stage NAME TOOLCHAIN WINEARCH: builds, then runs ctest under Wine
  local name=$1 toolchain=$2
  # Each build has a Wine prefix of its own.
  export WINEDEBUG=-all WINEPREFIX=$out/$name/wineprefix WINEARCH=$3
  stage "$name" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/$toolchain" -DCMAKE_CROSSCOMPILING_EMULATOR=wine
  if [ "$3" = win32 ] && ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
    # setup.sh could not install it (a mirror half-synced for i386): built, not run.
    echo "=== $name: tests NOT RUN: 32-bit Wine is not installed"
    skipped+=("$name: tests not run (no 32-bit Wine)")
    return
  fi
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
for b in "${skipped[@]-}"; do [ -n "$b" ] && echo "SKIPPED: $b"; done
for b in "${broken[@]-}"; do [ -n "$b" ] && echo "FAILED: $b"; done
echo "tests: $passed passed, $failed failed"
[ ${#broken[@]} -eq 0 ] && [ "$failed" -eq 0 ]
