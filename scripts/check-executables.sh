#!/usr/bin/env bash
# Checks the 32-bit Windows executables that ship, as the zip holds them,
# without running them.
set -euo pipefail
cd "$(dirname "$0")/.."
status=0
shipped=$(mktemp -d)
trap 'rm -rf "$shipped"' EXIT
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' build/quillmark-windows.zip "$shipped"
python3 tests/static/check_pe.py "$shipped/QuillmarkLauncher.exe" --launcher --max-size $((400 * 1024)) || status=1
for tool in qmtool usbscan; do python3 tests/static/check_pe.py "$shipped/$tool.exe" || status=1; done
echo "checked: imports, XP compatibility, headers, resources and size of the shipped executables"

# The distribution holds exactly what ships.
contents=$(python3 -c 'import sys, zipfile; print(" ".join(zipfile.ZipFile(sys.argv[1]).namelist()))' build/quillmark-windows.zip)
if [ "$contents" != "QuillmarkLauncher.exe qmtool.exe usbscan.exe README.txt" ]; then
  echo "the distribution holds: $contents"
  status=1
fi

# Reproducible: a second build in another directory gives the same bytes.
[ -f build/win-i686-again/build.ninja ] || cmake -S . -B build/win-i686-again -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
cmake --build build/win-i686-again -- --quiet QuillmarkLauncher qmtool usbscan
python3 scripts/package.py build/win-i686-again build/win-i686-again/quillmark-windows.zip >/dev/null
for file in QuillmarkLauncher.exe qmtool.exe usbscan.exe; do
  cmp -s build/win-i686/$file build/win-i686-again/$file || { echo "$file differs between two builds"; status=1; }
done
cmp -s build/quillmark-windows.zip build/win-i686-again/quillmark-windows.zip || { echo "the zip differs between two builds"; status=1; }
echo "checked: the distribution's contents, and that two builds give the same bytes"
exit $status
