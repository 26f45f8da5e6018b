#!/usr/bin/env bash
# wine-usb.sh [--trace] DESCRIPTION.json: gives the Wine prefix $WINEPREFIX
# the USB machine a description of the simulated stack describes
# (docs/usb-sim-format.md), served by the test USB driver through Wine's
# own object manager, setupapi and I/O manager: the next program started in
# that prefix sees it. A folder that is not a prefix yet (missing or empty)
# is made one first. The first time it installs the driver into the prefix
# (one root-enumerated device per host controller interface it can list,
# from tests/usbdriver/qmusbsim.inf); each call then waits for the driver's
# answer (starting it when a new Wine session has not) and has it read the
# new answers.
#
#   --trace   the driver appends one line per open, request and close to
#             $WINEPREFIX/drive_c/windows/qmusbsim-trace.txt (started anew)
#
# Exit 0, or 1 with one line why (a description the driver cannot serve, a
# driver that did not load). Wine runs as scripts/wine-env.sh decides; a
# test component, never installed by anything a user runs.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"

trace=()
if [ "${1:-}" = --trace ]; then
  trace=(--trace '\??\C:\windows\qmusbsim-trace.txt')
  shift
fi
if [ $# -ne 1 ] || [ -z "${WINEPREFIX:-}" ]; then
  echo "usage: WINEPREFIX=PREFIX bash scripts/wine-usb.sh [--trace] DESCRIPTION.json" >&2
  exit 2
fi
description=$1
mode=$(qm_wine_mode)
if [ "$mode" = win64 ]; then
  arch=x86_64 build="$QM_ROOT/build/win-x86_64" loader=/usr/lib/wine/wine64
  export WINEARCH=${WINEARCH:-win64}
else
  arch=i686 build="$QM_ROOT/build/win-i686" loader=/usr/lib/wine/wine
  export WINEARCH=${WINEARCH:-win32}
fi
export WINEDEBUG=${WINEDEBUG:--all}

# Windows programs run inside the emulator's namespace when they need it.
wine_run() {
  if [ "$mode" = emulated ] && [ "${QM_I386_NAMESPACE:-}" != active ]; then
    qm_in_wine_mode emulated "$loader" "$@"
  else
    "$loader" "$@"
  fi
}

fail() { echo "wine-usb.sh: $*" >&2; exit 1; }

windows="$WINEPREFIX/drive_c/windows"
if [ ! -d "$windows" ]; then
  # Made as the tests make theirs; a folder with other things in it is left alone.
  [ ! -e "$WINEPREFIX" ] || [ -z "$(ls -A "$WINEPREFIX")" ] ||
    fail "$WINEPREFIX is neither a Wine prefix nor an empty folder"
  WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=} wine_run wineboot -i >/dev/null 2>&1 ||
    fail "wineboot could not make a prefix in $WINEPREFIX"
  [ -d "$windows" ] || fail "wineboot made no prefix in $WINEPREFIX"
  # The session that made it keeps the service database locked for a long
  # while: the driver is installed and started in a session of its own.
  wineserver -w
fi
[ -x "$QM_ROOT/build/native/usbsim-answers" ] && [ -f "$build/qmusbsim-$arch.sys" ] ||
  fail "the test USB driver is not built (bash scripts/build.sh)"

# The answers first: a description the driver cannot serve changes nothing.
"$QM_ROOT/build/native/usbsim-answers" "$description" "$windows/qmusbsim.bin" "${trace[@]}" 2>"$windows/qmusbsim-answers.err" ||
  fail "$(sed 's/^usbsim-answers: //' "$windows/qmusbsim-answers.err")"
rm -f "$windows/qmusbsim-answers.err"
[ ${#trace[@]} -eq 0 ] || : >"$windows/qmusbsim-trace.txt"

# Wine's output goes to a file: a service started meanwhile inherits it, and
# a pipe would never close.
log=$(mktemp)
trap 'rm -f "$log"' EXIT
staged="$WINEPREFIX/drive_c/qmusbsim"
mkdir -p "$staged"
cmp -s "$build/qmusbsim-setup.exe" "$staged/qmusbsim-setup.exe" || cp "$build/qmusbsim-setup.exe" "$staged/"
if ! cmp -s "$build/qmusbsim-$arch.sys" "$windows/system32/drivers/qmusbsim.sys"; then
  cp "$QM_ROOT/tests/usbdriver/qmusbsim.inf" "$staged/"
  cp "$build/qmusbsim-$arch.sys" "$staged/qmusbsim.sys"
  wine_run 'C:\qmusbsim\qmusbsim-setup.exe' install 'C:\qmusbsim\qmusbsim.inf' >"$log" 2>&1 ||
    fail "$(grep -m1 '^qmusbsim-setup' "$log" || echo 'the driver could not be installed')"
fi
wine_run 'C:\qmusbsim\qmusbsim-setup.exe' reload >"$log" 2>&1 ||
  fail "$(grep -m1 '^qmusbsim-setup' "$log" | sed 's/^qmusbsim-setup: //' || echo 'the driver did not answer')"
