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
# The shipped program is the 32-bit Windows build: its tests run under 32-bit Wine, which
# needs the i386 architecture.
dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed" || missing+=(wine32:i386)
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
if [ ${#missing[@]} -gt 0 ]; then
  if [[ " ${missing[*]} " == *" wine32:i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
