# apt, dpkg and root for the scripts, sourced by each that installs or asks about packages:
# running as root (itself, or through sudo), apt's options, whether a package is installed,
# installing the missing ones, and apt entries derived from the machine's own. Messages start
# with $script_name, the sourcing script's name unless it sets another first.
# shellcheck shell=bash
script_name=${script_name:-$(basename "$0")}
# Another apt run (an unattended upgrade, a parallel build) holds the lock for a while at most.
apt_options=(-o DPkg::Lock::Timeout=600)
as_root=()

say() { echo "$script_name: $*"; }
fail() { say "$*" >&2; exit 1; }

# need_root TASK: makes "${as_root[@]}" run a command as root: as it is when this runs as root,
# else through sudo. Fails in one line naming TASK when neither is possible.
need_root() {
  [ "$(id -u)" -eq 0 ] && return
  command -v sudo >/dev/null || fail "cannot $1: not root, and no sudo"
  as_root=(sudo)
}

# apt-get as root, waiting for the lock, asking nothing. The caller has called need_root.
apt_get() { "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get "${apt_options[@]}" "$@"; }

is_installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

# install_missing PACKAGE...: installs those of the packages that are not installed, quietly but
# for one line naming them; does nothing when all are.
install_missing() {
  local package missing=()
  for package in "$@"; do
    [[ " ${missing[*]} " == *" $package "* ]] || is_installed "$package" || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return
  need_root "install ${missing[*]}"
  say "installing ${missing[*]}"
  apt_get update -qq
  apt_get install -y -qq "${missing[@]}" >/dev/null
}

# derived_apt_entries FORMAT TYPE [SUITE NEW_SUITE]: prints an entry of TYPE (deb or deb-src) for
# each enabled "deb" entry of the machine's FORMAT files, sources (deb822) or list (one-line), so
# that the project names no archive: derived entries use the machine's mirror, components and
# keyring. Without SUITE each keeps its suites; with SUITE only entries that list SUITE are
# derived, with NEW_SUITE (one suite or several) as their suites. Files named triangle-editor-*
# are derived ones and not read.
derived_apt_entries() {
  local format=$1 type=$2 suite=${3:-} new_suite=${4:-} file files
  files=(/etc/apt/sources.list.d/*."$format")
  [ "$format" = sources ] || files=(/etc/apt/sources.list "${files[@]}")
  for file in "${files[@]}"; do
    if [ ! -e "$file" ] || [[ $(basename "$file") == triangle-editor-* ]]; then continue; fi
    if [ "$format" = sources ]; then
      awk -v type="$type" -v from="$suite" -v to="$new_suite" '
        function flush(   count, names, i, kept) {
          kept = suites
          if (from != "") {
            kept = ""
            count = split(suites, names, /[ \t]+/)
            for (i = 1; i <= count; i++) if (names[i] == from) kept = to
          }
          if (is_deb && enabled && uris != "" && kept != "") {
            print "Types: " type; print "URIs: " uris; print "Suites: " kept
            if (components != "") print "Components: " components
            if (type == "deb" && architectures != "") print "Architectures: " architectures
            if (signed != "") print "Signed-By: " signed
            print ""
          }
          is_deb = 0; enabled = 1; uris = suites = components = architectures = signed = ""
        }
        BEGIN { flush() }
        /^[ \t]*$/ { flush(); next }
        /^#/ { next }
        /^Types:/ { is_deb = ($0 ~ /[ \t]deb([ \t]|$)/) }
        /^Enabled:/ { enabled = ($2 != "no") }
        /^URIs:/ { sub(/^URIs:[ \t]*/, ""); uris = $0 }
        /^Suites:/ { sub(/^Suites:[ \t]*/, ""); suites = $0 }
        /^Components:/ { sub(/^Components:[ \t]*/, ""); components = $0 }
        /^Architectures:/ { sub(/^Architectures:[ \t]*/, ""); architectures = $0 }
        /^Signed-By:/ { sub(/^Signed-By:[ \t]*/, ""); signed = $0 }
        END { flush() }' "$file"
    else
      # "deb [options] URI suite components..."
      awk -v type="$type" -v from="$suite" -v to="$new_suite" '
        /^[ \t]*deb[ \t]/ {
          line = $0; sub(/#.*/, "", line); sub(/[ \t]+$/, "", line)
          sub(/^[ \t]*deb[ \t]+/, "", line)
          options = ""
          if (line ~ /^\[/) {
            options = substr(line, 1, index(line, "]")) " "
            line = substr(line, index(line, "]") + 1); sub(/^[ \t]+/, "", line)
          }
          count = split(line, field, /[ \t]+/)
          if (from != "" && field[2] != from) next
          components = ""
          for (i = 3; i <= count; i++) components = components " " field[i]
          # A one-line entry names one suite: several new ones make as many entries.
          count = split(from != "" ? to : field[2], suites, /[ \t]+/)
          for (i = 1; i <= count; i++) print type " " options field[1] " " suites[i] components
        }' "$file"
    fi
  done
}

# write_derived_apt_entries TYPE TARGET [SUITE NEW_SUITE]: writes the entries derived_apt_entries
# gives into TARGET.sources and TARGET.list. Returns 1, writing nothing, when no entry qualifies.
write_derived_apt_entries() {
  local type=$1 target=$2 format entries status=1
  shift 2
  for format in sources list; do
    entries=$(derived_apt_entries "$format" "$type" "$@")
    [ -n "$entries" ] || continue
    need_root "write apt entries to $target.$format"
    printf '%s\n' "$entries" | "${as_root[@]}" tee "$target.$format" >/dev/null
    status=0
  done
  return "$status"
}

# apt_archive_uri SUITE: prints the URI of the machine's first enabled "deb" entry for SUITE;
# fails when there is none.
apt_archive_uri() {
  { derived_apt_entries sources deb "$1" "$1"; derived_apt_entries list deb "$1" "$1"; } | awk '
    $1 == "URIs:" && !found { found = 1; print $2 }
    $1 == "deb" && !found { found = 1; sub(/^deb[ \t]+(\[[^]]*\][ \t]*)?/, ""); print $1 }
    END { exit !found }'
}
