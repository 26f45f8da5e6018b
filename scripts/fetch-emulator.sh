#!/usr/bin/env bash
# fetch-emulator.sh: keeps the i386 user-mode emulator that 32-bit Wine runs
# under on machines that execute no 32-bit code (scripts/wine-env.sh).
#
# It is qemu-i386 from Debian's backports suite of this machine's release,
# version 10 or later: older ones are far too slow for Wine. The package is
# fetched with a private apt configuration (its own sources list naming the
# Debian mirror this machine already uses, its own lists and cache, no
# package status), so the machine's apt state and installed packages stay as
# they are; only the one static binary is kept, in the cache folder.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
minimum_major=10

emulator_major() {  # path: the major version it reports, or 0
  "$1" --version 2>/dev/null | sed -n '1s/.* version \([0-9]*\)\..*/\1/p' | grep . || echo 0
}

if [ -x "$QM_EMULATOR" ] && [ "$(emulator_major "$QM_EMULATOR")" -ge $minimum_major ]; then
  echo "emulator: $("$QM_EMULATOR" --version | head -1)"
  exit 0
fi

# This machine's release and the Debian mirror its sources already name.
source "$(dirname "$0")/apt-sources.sh"
codename=$(qm_debian_codename)
mirror=$(qm_debian_mirror "$codename")
if [ -z "$codename" ] || [ -z "$mirror" ]; then
  echo "emulator: cannot tell this machine's Debian release and mirror" >&2
  exit 1
fi

work=$(mktemp -d) || { echo "emulator: cannot make a temporary folder (mktemp -d)" >&2; exit 1; }
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/cache/archives/partial"
qm_private_apt "$work" "$mirror $codename-backports main"
apt_options=("${qm_apt_options[@]}" -o Dir::Cache="$work/cache" -o Dir::State::Status=/dev/null -o Debug::NoLocking=1)
cd "$work"  # apt-get download writes into the current folder
if ! qm_apt_get "${apt_options[@]}" update || ! qm_apt_get "${apt_options[@]}" download qemu-user; then
  qm_apt_failure "fetch qemu-user from $codename-backports" "the emulator" "install qemu-user 10 or later by hand"
  exit 1
fi
package=$(ls "$work"/qemu-user_*.deb)

mkdir -p "$(dirname "$QM_EMULATOR")"
dpkg-deb --fsys-tarfile "$package" | tar -xO ./usr/bin/qemu-i386 >"$QM_EMULATOR.tmp"
chmod 755 "$QM_EMULATOR.tmp"
major=$(emulator_major "$QM_EMULATOR.tmp")
if [ "$major" -lt $minimum_major ]; then
  rm -f "$QM_EMULATOR.tmp"
  echo "emulator: $codename-backports has qemu-i386 $major, Wine needs $minimum_major or later" >&2
  exit 1
fi
mv "$QM_EMULATOR.tmp" "$QM_EMULATOR"
echo "emulator: $("$QM_EMULATOR" --version | head -1), kept in $QM_EMULATOR"
