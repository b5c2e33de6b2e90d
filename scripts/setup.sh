#!/usr/bin/env bash
# Installs what the build, the tests and the demo need (Debian packages; idempotent).
set -euo pipefail
pkgs=(cmake ninja-build g++ clang libclang-rt-14-dev googletest libgtest-dev libbenchmark-dev
      libdw-dev libpcre2-dev g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 hyperfine time)
command -v javac >/dev/null 2>&1 || pkgs+=(default-jdk-headless)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
