# Derives apt entries from the machine's own "deb" entries, so that the project names no archive:
# the derived entries use whatever mirror, components and keyring the machine already uses.
# Sourced by scripts/build-windows (deb-src twins for apt-get source) and scripts/lib/enable-i386
# (the release's backports suite); the caller sets as_root (empty, or sudo).
# shellcheck shell=bash disable=SC2154

# write_derived_apt_entries TYPE TARGET [SUITE NEW_SUITE]
# Writes TARGET.sources (from deb822 .sources files) and TARGET.list (from one-line entries) with
# an entry of TYPE (deb or deb-src) for each enabled "deb" entry. Without SUITE each keeps its
# suites; with SUITE only entries that list SUITE are derived, with NEW_SUITE as their only suite.
# Files named triangle-editor-* are derived ones and not read. Returns 1, writing nothing, when no
# entry qualifies.
write_derived_apt_entries() {
  local type=$1 target=$2 suite=${3:-} new_suite=${4:-}
  local file deb822="" one_line=""
  for file in /etc/apt/sources.list.d/*.sources; do
    if [ ! -e "$file" ] || [[ $(basename "$file") == triangle-editor-* ]]; then continue; fi
    deb822+=$(awk -v type="$type" -v from="$suite" -v to="$new_suite" '
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
      END { flush() }' "$file")$'\n\n'
  done
  # One-line entries: "deb [options] URI suite components...".
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    if [ ! -e "$file" ] || [[ $(basename "$file") == triangle-editor-* ]]; then continue; fi
    one_line+=$(awk -v type="$type" -v from="$suite" -v to="$new_suite" '
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
        entry = type " " options field[1] " " (from != "" ? to : field[2])
        for (i = 3; i <= count; i++) entry = entry " " field[i]
        print entry
      }' "$file")$'\n'
  done
  if [ -z "${deb822//[$'\n']/}" ] && [ -z "${one_line//[$'\n']/}" ]; then
    return 1
  fi
  if [ -n "${deb822//[$'\n']/}" ]; then
    printf '%s' "$deb822" | "${as_root[@]}" tee "$target.sources" >/dev/null
  fi
  if [ -n "${one_line//[$'\n']/}" ]; then
    printf '%s' "$one_line" | "${as_root[@]}" tee "$target.list" >/dev/null
  fi
}
