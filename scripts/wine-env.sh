# Wine for the project's scripts: which Windows build Wine runs here, and
# the loader to run it with. Sourced, not run.
#
# The product is a 32-bit executable. Where this machine runs 32-bit code,
# Wine runs it (WINEARCH=win32). Some virtual machines cannot execute 32-bit
# code at all; there Wine runs the 64-bit build of the same sources instead
# (WINEARCH=win64), and the 32-bit executable is checked without running it.
# QM_WINE_ARCH=win32|win64 overrides the choice.

qm_runs_32bit_natively() {
  # An emulator registered for i386 binaries does not count: Wine under it
  # is far too slow and hangs.
  if grep -qs '^enabled' /proc/sys/fs/binfmt_misc/qemu-i386; then return 1; fi
  [ -x /usr/lib/wine/wine ] && timeout 10 /usr/lib/wine/wine --version >/dev/null 2>&1
}

qm_wine_arch() {
  if [ -n "${QM_WINE_ARCH:-}" ]; then echo "$QM_WINE_ARCH"
  elif qm_runs_32bit_natively; then echo win32
  else echo win64
  fi
}

qm_wine_loader() {  # arch
  if [ "$1" = win32 ]; then echo /usr/lib/wine/wine; else echo /usr/lib/wine/wine64; fi
}

qm_windows_build_dir() {  # arch
  if [ "$1" = win32 ]; then echo build/win-i686; else echo build/win-x86_64; fi
}
