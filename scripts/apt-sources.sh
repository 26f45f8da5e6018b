# The machine's own Debian release and package archive, read from its apt
# configuration, for the scripts that fetch packages through a private apt
# configuration of their own. Sourced, not run.
#
# QM_APT_ETC (default /etc/apt) lets a test point these at a stand-in
# configuration.

qm_debian_codename() {
  (. /etc/os-release && echo "${VERSION_CODENAME:-}")
}

qm_debian_mirror() {  # codename: the archive that the machine's sources name for that suite
  local etc=${QM_APT_ETC:-/etc/apt} codename=$1 mirror
  mirror=$(cat "$etc"/sources.list.d/*.sources 2>/dev/null |
    awk '/^URIs:/ {uri = $2} /^Suites:/ && uri != "" { for (i = 2; i <= NF; i++) if ($i == c) { print uri; exit } }' c="$codename")
  if [ -z "$mirror" ]; then
    mirror=$(grep -hs '^deb ' "$etc"/sources.list "$etc"/sources.list.d/*.list |
      awk '{ for (i = 2; i <= NF; i++) if ($i ~ /^(https?|file):/ && $(i + 1) == c) { print $i; exit } }' c="$codename")
  fi
  echo "$mirror"
}

qm_private_apt() {  # folder, sources line...: fills the folder and sets qm_apt_options
  local work=$1 keyring=/usr/share/keyrings/debian-archive-keyring.gpg signed="" line
  shift
  mkdir -p "$work/lists/partial"
  [ -f $keyring ] && signed="[signed-by=$keyring] "
  : >"$work/sources.list"
  for line in "$@"; do echo "deb ${signed}$line" >>"$work/sources.list"; done
  qm_apt_options=(
    -o Dir::Etc::SourceList="$work/sources.list" -o Dir::Etc::SourceParts=/dev/null
    -o Dir::State::Lists="$work/lists" -o APT::Sandbox::User=root -qq
  )
}
