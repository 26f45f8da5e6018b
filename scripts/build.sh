#!/usr/bin/env bash
# Builds everything: native (tests, tools), native with sanitizers, and the
# 32-bit Windows executables; the 64-bit stand-in only where Wine runs
# nothing else (scripts/wine-env.sh). Warnings are errors here, as in every
# script of ours; a plain cmake build leaves them warnings.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-env.sh

configure() {  # dir, extra cmake arguments...
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DQM_WERROR=ON "$@" >/dev/null
}

# Release: the build type most users pick, and GCC's strictest warnings.
configure build/native -DCMAKE_BUILD_TYPE=Release
configure build/native-asan -DCMAKE_BUILD_TYPE=Debug -DQM_SANITIZE=ON
configure build/win-i686 -DCMAKE_BUILD_TYPE=MinSizeRel -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
if [ "$(qm_wine_mode)" = win64 ]; then
  configure build/win-x86_64 -DCMAKE_BUILD_TYPE=MinSizeRel -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
fi

for dir in build/native build/native-asan build/win-i686 build/win-x86_64; do
  [ -d "$dir" ] || continue
  echo "build: $dir"
  cmake --build "$dir" -- -j"$(nproc)" --quiet
done

# The distribution a Windows user downloads.
python3 scripts/package.py build/win-i686 build/quillmark-windows.zip
