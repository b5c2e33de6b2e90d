#!/usr/bin/env bash
# Installs what the build, the tests and the demo need (Debian packages; idempotent).
set -euo pipefail
pkgs=(cmake ninja-build g++ clang libclang-rt-14-dev googletest libgtest-dev libbenchmark-dev
      libdw-dev libpcre2-dev pkg-config g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 hyperfine time)
command -v javac >/dev/null 2>&1 || pkgs+=(default-jdk-headless)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

# A mirror in the middle of a sync fails an update now and then: try again a few times, then
# go on with the lists that did arrive.
update() {
  local attempt
  for attempt in 1 2 3 4; do
    $SUDO apt-get update -qq && return 0
    echo "setup: apt-get update failed (attempt $attempt of 4)" >&2
    sleep $((attempt * 5))
  done
  return 1
}
install() {
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "$@"
}

if [ ${#missing[@]} -gt 0 ]; then
  update || true
  install "${missing[@]}"
fi

# The shipped program is the 32-bit Windows build: its tests run under 32-bit Wine, which
# needs the i386 architecture. Its packages come from other lists than the rest, so a mirror
# that is half-synced for i386 alone leaves it out; the tests then say that they did not run.
if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
    update || true
  fi
  for attempt in 1 2 3; do
    if install wine32:i386; then break; fi
    echo "setup: 32-bit Wine could not be installed (attempt $attempt of 3)" >&2
    if [ "$attempt" -lt 3 ]; then sleep 20; update || true; fi
  done
fi
exit 0
