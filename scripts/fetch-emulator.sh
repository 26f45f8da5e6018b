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
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
mirror=$(cat /etc/apt/sources.list.d/*.sources 2>/dev/null |
  awk '/^URIs:/ {uri = $2} /^Suites:/ && uri != "" { for (i = 2; i <= NF; i++) if ($i == c) { print uri; exit } }' c="$codename")
if [ -z "$mirror" ]; then
  mirror=$(grep -hs '^deb ' /etc/apt/sources.list /etc/apt/sources.list.d/*.list |
    awk '{ for (i = 2; i <= NF; i++) if ($i ~ /^(https?|file):/ && $(i + 1) == c) { print $i; exit } }' c="$codename")
fi
if [ -z "$codename" ] || [ -z "$mirror" ]; then
  echo "emulator: cannot tell this machine's Debian release and mirror" >&2
  exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/lists/partial" "$work/cache/archives/partial"
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
signed=""
[ -f $keyring ] && signed="[signed-by=$keyring] "
echo "deb ${signed}$mirror $codename-backports main" >"$work/sources.list"
apt_options=(
  -o Dir::Etc::SourceList="$work/sources.list" -o Dir::Etc::SourceParts=/dev/null
  -o Dir::State::Lists="$work/lists" -o Dir::Cache="$work/cache" -o Dir::State::Status=/dev/null
  -o APT::Sandbox::User=root -o Debug::NoLocking=1 -qq
)
apt-get "${apt_options[@]}" update >/dev/null
(cd "$work" && apt-get "${apt_options[@]}" download qemu-user >/dev/null)
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
