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
  # deb822 stanzas: fields in any order and any case, a stanza ends at a
  # blank line or at the end of its file, and "Enabled: no" turns it off.
  mirror=$(awk -v c="$codename" '
    function flush(  n, i, s, u) {
      if (uris != "" && enabled != "no" && types ~ /(^| )deb( |$)/) {
        n = split(suites, s, " ")
        for (i = 1; i <= n; i++) if (s[i] == c) { split(uris, u, " "); print u[1]; found = 1; exit }
      }
      uris = suites = types = ""; enabled = "yes"
    }
    BEGIN { enabled = "yes" }
    FNR == 1 { flush() }
    /^#/ { next }
    /^[ \t]*$/ { flush(); next }
    /^[A-Za-z][A-Za-z0-9-]*:/ {
      key = tolower(substr($0, 1, index($0, ":") - 1)); value = substr($0, index($0, ":") + 1)
      gsub(/^[ \t]+|[ \t]+$/, "", value)
      if (key == "uris") uris = value; else if (key == "suites") suites = value
      else if (key == "types") types = value; else if (key == "enabled") enabled = tolower(value)
    }
    END { if (!found) flush() }' "$etc"/sources.list.d/*.sources 2>/dev/null)
  if [ -z "$mirror" ]; then
    mirror=$(grep -hs '^deb ' "$etc"/sources.list "$etc"/sources.list.d/*.list |
      awk '{ for (i = 2; i <= NF; i++) if ($i ~ /^(https?|file):/ && $(i + 1) == c) { print $i; exit } }' c="$codename")
  fi
  echo "$mirror"
}

# apt's own words: what every apt-get run through qm_apt_get wrote to its
# error output, for the message that ends a failed set-up.
qm_apt_said=""

qm_apt_get() {  # apt-get arguments...: its output hidden, its errors shown indented and kept
  local said status=0
  said=$({ ${SUDO:-} apt-get "$@" >/dev/null; } 2>&1) || status=$?
  if [ -n "$said" ]; then
    printf '%s\n' "$said" | sed 's/^/  apt: /'
    qm_apt_said+="$said"$'\n'
  fi
  return $status
}

qm_apt_failure() {  # what, step, advice: the one line, on standard error, that ends a failed set-up
  local what=$1 step=$2 advice=$3 error
  error=$(printf '%s' "$qm_apt_said" | grep '^E: ' | tail -n 1)
  if printf '%s' "$qm_apt_said" | grep -qE 'File has unexpected size|Mirror sync in progress|Hash Sum mismatch'; then
    advice="the package archive looks mid-sync: run bash scripts/setup.sh again in an hour, or $advice"
  fi
  echo "setup: FAILED to $what at the step \"$step\"${error:+ (apt: $error)}; $advice" >&2
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
