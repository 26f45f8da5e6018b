#!/usr/bin/env bash
# Checks the 32-bit Windows executables that ship, as the zip holds them,
# without running them.
set -euo pipefail
cd "$(dirname "$0")/.."
status=0
shipped=$(mktemp -d)
trap 'rm -rf "$shipped"' EXIT
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' build/quillmark-windows.zip "$shipped"
python3 tests/static/check_pe.py "$shipped/QuillmarkLauncher.exe" --launcher --max-size $((420 * 1024)) || status=1
for tool in qmtool usbscan; do python3 tests/static/check_pe.py "$shipped/$tool.exe" || status=1; done
echo "checked: imports, XP compatibility, headers, resources and size of the shipped executables"

# Every Windows program of the build (unstripped) carries the stack guard we
# seed ourselves and never the toolchain runtime's, which seeds through a
# crypto provider DLL.
for exe in build/win-i686/*.exe; do
  symbols=$(i686-w64-mingw32-nm "$exe")
  for symbol in ___stack_chk_guard ___stack_chk_fail __ZN12_GLOBAL__N_114SeedStackGuardEv; do
    grep -q " $symbol\$" <<<"$symbols" || { echo "$exe: no $symbol: built without the stack protector"; status=1; }
  done
  if grep -q "CryptAcquireContext" <<<"$symbols"; then echo "$exe: seeds its stack guard through a crypto provider"; status=1; fi
done
echo "checked: the stack protector in every Windows program"

# The native tools: PIE, full RELRO, fortified calls.
for tool in build/native/qmtool build/native/usbscan; do
  readelf -h "$tool" | grep -q 'Type:.*DYN' || { echo "$tool is not position independent"; status=1; }
  readelf -lW "$tool" | grep -q GNU_RELRO || { echo "$tool has no RELRO segment"; status=1; }
  readelf -dW "$tool" | grep -Eq 'BIND_NOW|FLAGS.*NOW' || { echo "$tool binds lazily: RELRO is partial"; status=1; }
  nm -D "$tool" | grep -q '__stack_chk_fail' || { echo "$tool has no stack protector"; status=1; }
done
# Fortified calls: every source of the native build is compiled for them, and
# usbscan's formatted output shows them in use.
# (fortification needs an optimised build: -O2 or, in Release, -O3).
unfortified=$(python3 -c 'import json, re, sys; print("\n".join(c["file"] for c in json.load(open(sys.argv[1]))
  if "-D_FORTIFY_SOURCE=2" not in c["command"] or not re.search(r" -O[23] ", c["command"])))' build/native/compile_commands.json)
[ -z "$unfortified" ] || { echo "compiled without fortified calls: $unfortified"; status=1; }
nm -D build/native/usbscan | grep -q '__snprintf_chk' || { echo "usbscan calls no fortified function"; status=1; }
echo "checked: hardening of the native tools"

# The distribution holds exactly what ships.
contents=$(python3 -c 'import sys, zipfile; print(" ".join(zipfile.ZipFile(sys.argv[1]).namelist()))' build/quillmark-windows.zip)
if [ "$contents" != "QuillmarkLauncher.exe qmtool.exe usbscan.exe README.txt" ]; then
  echo "the distribution holds: $contents"
  status=1
fi

# Reproducible: a second build in another directory gives the same bytes.
[ -f build/win-i686-again/build.ninja ] || cmake -S . -B build/win-i686-again -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel -DQM_WERROR=ON \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
cmake --build build/win-i686-again -- --quiet QuillmarkLauncher qmtool usbscan
python3 scripts/package.py build/win-i686-again build/win-i686-again/quillmark-windows.zip >/dev/null
for file in QuillmarkLauncher.exe qmtool.exe usbscan.exe; do
  cmp -s build/win-i686/$file build/win-i686-again/$file || { echo "$file differs between two builds"; status=1; }
done
cmp -s build/quillmark-windows.zip build/win-i686-again/quillmark-windows.zip || { echo "the zip differs between two builds"; status=1; }
echo "checked: the distribution's contents, and that two builds give the same bytes"
exit $status
