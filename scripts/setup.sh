#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian machine, if missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ make python3 zip
  googletest libgtest-dev libgmock-dev
  nlohmann-json3-dev
  clang libclang-rt-14-dev
  g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 binutils-mingw-w64-i686
  wine wine32:i386 wine64 xvfb xauth locales
  osslsigncode openssl
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
echo "setup: all packages present"

# The i386 emulator, for machines that execute no 32-bit code. Where the
# machine runs 32-bit Wine natively the tests only try the emulator once, so
# a failed fetch there is not fatal.
bash "$(dirname "$0")/fetch-emulator.sh" || echo "setup: no i386 emulator; Wine runs 32-bit programs only where the machine executes them"
