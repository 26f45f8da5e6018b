#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian machine, if missing.
#
# A package archive caught mid-sync must not stop a fresh machine: a failed
# update is retried a few times and then only warned about, and an install
# that fails (say the newer security suite's libraries have no i386 twins
# yet, which wine32 needs at the same version) is tried again from the
# release's main suites alone, through a private sources list and lists
# folder, where both architectures match. Only then does set-up fail, with
# one line naming the step that failed and apt's last error. No install
# ever removes a package to make room (--no-remove).
set -euo pipefail
here=$(dirname "$0")
source "$here/apt-sources.sh"
update_attempts=${QM_SETUP_UPDATE_ATTEMPTS:-3}
retry_pause=${QM_SETUP_RETRY_PAUSE:-10}

packages=(
  cmake ninja-build g++ make python3 zip
  googletest libgtest-dev libgmock-dev
  nlohmann-json3-dev
  clang libclang-rt-14-dev
  g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 binutils-mingw-w64-i686
  wine wine32:i386 wine64 xvfb xauth locales
  osslsigncode openssl
)

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
work=""
trap '[ -z "$work" ] || $SUDO rm -rf "$work"' EXIT

update_lists() {  # apt-get options...
  local attempt
  for ((attempt = 1; ; attempt++)); do
    qm_apt_get "$@" update -qq && return 0
    if ((attempt >= update_attempts)); then
      echo "setup: warning: apt-get update failed $attempt times; going on with the package lists it fetched"
      return 0
    fi
    echo "setup: apt-get update failed; trying again in $retry_pause s"
    sleep "$retry_pause"
  done
}

install() {  # apt-get options...
  DEBIAN_FRONTEND=noninteractive qm_apt_get "$@" install -y -qq --no-install-recommends --no-remove "${missing[@]}"
}

# The release's own suites of the archive the machine's sources name,
# without its security suite.
install_from_main_suites() {
  local codename mirror
  codename=$(qm_debian_codename)
  mirror=$(qm_debian_mirror "$codename")
  if [ -z "$codename" ] || [ -z "$mirror" ]; then
    echo "setup: cannot tell this machine's Debian release and archive from its sources"
    return 1
  fi
  echo "setup: installing again from $codename and $codename-updates alone"
  failed_step="install from the release's suites"
  if ! work=$(mktemp -d); then
    work=""
    echo "setup: FAILED: cannot make a temporary folder for the private package lists (mktemp -d)" >&2
    exit 1
  fi
  qm_private_apt "$work" "$mirror $codename main" "$mirror $codename-updates main"
  update_lists "${qm_apt_options[@]}"
  install "${qm_apt_options[@]}"
}

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  update_lists
  failed_step=install
  if ! install; then
    echo "setup: the install failed"
    if ! install_from_main_suites; then
      qm_apt_failure "install ${missing[*]}" "$failed_step" "install those packages by hand"
      exit 1
    fi
  fi
fi
echo "setup: all packages present"

# The i386 emulator, for machines that execute no 32-bit code. Where the
# machine runs 32-bit Wine natively the tests only try the emulator once, so
# a failed fetch there is not fatal.
bash "$here/fetch-emulator.sh" || echo "setup: no i386 emulator; Wine runs 32-bit programs only where the machine executes them"
