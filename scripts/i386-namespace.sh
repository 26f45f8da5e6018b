#!/usr/bin/env bash
# i386-namespace.sh EMULATOR COMMAND...
#
# Runs COMMAND with EMULATOR as the interpreter of i386 ELF executables, in a
# private user and mount namespace that has a binfmt_misc of its own (Linux
# 6.7 and later). Everything started inside (Xvfb, wineserver, Wine) sees the
# registration; nothing outside the namespace does, so no other program on
# the machine changes. Exits with COMMAND's status, or with one of its own:
#   96  the kernel gives no private user and mount namespace
#   97  the kernel refuses binfmt_misc inside it
#   98  the kernel refuses the registration
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: i386-namespace.sh EMULATOR COMMAND..." >&2; exit 2; }
emulator=$(realpath -m "$1")
shift

if [ "${QM_I386_NAMESPACE:-}" != inside ]; then
  if ! unshare --user --map-root-user --mount true 2>/dev/null; then
    echo "i386-namespace: no private user and mount namespace on this kernel" >&2
    exit 96
  fi
  QM_I386_NAMESPACE=inside exec unshare --user --map-root-user --mount bash "$0" "$emulator" "$@"
fi

if ! mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null; then
  echo "i386-namespace: the kernel refuses binfmt_misc in a private namespace (Linux 6.7 or later needed)" >&2
  exit 97
fi
# The i386 ELF header: class 32-bit, little-endian, type executable or shared
# object, machine 3. F: the kernel opens the emulator now, so it works from
# any mount namespace the command may enter.
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
if ! echo ":qm-i386:M::$magic:$mask:$emulator:F" >/proc/sys/fs/binfmt_misc/register 2>/dev/null; then
  echo "i386-namespace: the kernel refuses to register $emulator for i386 executables" >&2
  exit 98
fi
export QM_I386_NAMESPACE=active
exec "$@"
