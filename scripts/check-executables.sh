#!/usr/bin/env bash
# Checks the 32-bit Windows executables without running them.
set -euo pipefail
cd "$(dirname "$0")/.."
status=0
python3 tests/static/check_pe.py build/win-i686/QuillmarkLauncher.exe --launcher || status=1
echo "checked: imports, XP compatibility, headers and resources of build/win-i686/QuillmarkLauncher.exe"
exit $status
