# How Windows programs run on this machine, for the project's scripts.
# Sourced, not run.
#
# The product is a 32-bit executable, and Wine runs it in one of three modes:
#   native    the machine executes 32-bit code: 32-bit Wine runs as it is;
#   emulated  it does not: 32-bit Wine runs under the i386 user-mode emulator
#             kept by scripts/fetch-emulator.sh, registered as the handler of
#             i386 executables inside a private namespace only
#             (scripts/i386-namespace.sh); nothing outside sees it;
#   win64     neither works: the 64-bit build of the same sources under
#             64-bit Wine. A stand-in that every summary names, and that a
#             run under CI=true refuses.
# QM_WINE_MODE=native|emulated|win64 overrides the choice.

QM_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
QM_EMULATOR=${QM_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quillmark}/qemu-i386

qm_runs_32bit_natively() {
  # An emulator registered for the whole machine does not count: it would
  # change every 32-bit program here, and it may be one too slow for Wine.
  if grep -qs '^enabled' /proc/sys/fs/binfmt_misc/*i386* 2>/dev/null; then return 1; fi
  [ -x /usr/lib/wine/wine ] && timeout 30 /usr/lib/wine/wine --version >/dev/null 2>&1
}

qm_emulator_works() {
  [ -x "$QM_EMULATOR" ] &&
    timeout 120 bash "$QM_ROOT/scripts/i386-namespace.sh" "$QM_EMULATOR" /usr/lib/wine/wine --version >/dev/null 2>&1
}

qm_wine_mode() {
  if [ -n "${QM_WINE_MODE:-}" ]; then echo "$QM_WINE_MODE"
  elif qm_runs_32bit_natively; then echo native
  elif qm_emulator_works; then echo emulated
  else echo win64
  fi
}

qm_describe_mode() {  # mode
  case $1 in
    native) echo "the shipped 32-bit build (build/win-i686), 32-bit Wine running natively" ;;
    emulated) echo "the shipped 32-bit build (build/win-i686), 32-bit Wine under the i386 emulator in a private namespace" ;;
    win64) echo "the 64-bit STAND-IN (build/win-x86_64) under 64-bit Wine: the shipped 32-bit executables did NOT run" ;;
    *) echo "an unknown mode \"$1\"" ;;
  esac
}

qm_in_wine_mode() {  # mode, command...: runs the command where Windows programs of that mode run
  local mode=$1
  shift
  case $mode in
    emulated) QM_WINE_MODE=$mode bash "$QM_ROOT/scripts/i386-namespace.sh" "$QM_EMULATOR" "$@" ;;
    native | win64) QM_WINE_MODE=$mode "$@" ;;
    *) echo "QM_WINE_MODE must be native, emulated or win64, not \"$mode\"" >&2; return 2 ;;
  esac
}
