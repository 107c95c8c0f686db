# apt, dpkg and root for the scripts. Messages start with $script_name, by default the script's.
# shellcheck shell=bash
script_name=${script_name:-$(basename "$0")}
apt_options=(-o DPkg::Lock::Timeout=600 -o Acquire::Retries=3)
as_root=()

say() { echo "$script_name: $*"; }
fail() { say "$*" >&2; exit 1; }

# need_root TASK: makes "${as_root[@]}" run as root, as is or through sudo, or fails naming TASK.
need_root() {
  [ "$(id -u)" -eq 0 ] && return
  command -v sudo >/dev/null || fail "cannot $1: not root, and no sudo"
  as_root=(sudo)
}

# apt-get as root, waiting for the lock, asking nothing. The caller has called need_root.
apt_get() { "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get "${apt_options[@]}" "$@"; }

# apt_update: an index that cannot be had (a mirror in mid-sync) warns in one line; apt goes on
# with the lists it has. A suite whose index failed for one architecture would offer a Multi-Arch:
# same library (the 32-bit Wine's) at versions apt cannot mix, so it serves only what no other has.
apt_update() {
  local errors suite
  errors=$(apt_get update -qq 2>&1 >/dev/null) && return
  say "warning: apt-get update failed, going on with the package lists apt has:" \
      "$(grep -m1 '^E: ' <<<"$errors" | cut -c4- || head -n 1 <<<"$errors")" >&2
  [ -z "${apt_preferences:-}" ] || return 0
  apt_preferences=$(mktemp)
  trap 'rm -f "$apt_preferences"' EXIT
  cat /etc/apt/preferences >"$apt_preferences" 2>/dev/null || true
  for suite in $(grep -o 'Failed to fetch [^ ]*/dists/[^/ ]*/' <<<"$errors" |
                 sed 's|.*/dists/||; s|/$||' | sort -u); do
    printf '\nPackage: *\nPin: release n=%s\nPin-Priority: 100\n' "$suite" >>"$apt_preferences"
  done
  apt_options+=(-o Dir::Etc::Preferences="$apt_preferences")
}

# installed_version PACKAGE: prints the installed version of PACKAGE; fails when there is none.
installed_version() {
  dpkg-query -W -f='${Status} ${Version}\n' "$1" 2>/dev/null |
    awk '$3 == "installed" && !found { print $4; found = 1 } END { exit !found }'
}

# candidate_version PACKAGE [SUITE]: what apt would install (from SUITE); none compares lowest.
candidate_version() {
  apt-cache ${2:+-t "$2"} policy "$1" 2>/dev/null |
    awk '$1 == "Candidate:" && $2 != "(none)" { print $2 }'
}

# install_missing PACKAGE...: installs those not installed, quietly but for one line naming them.
install_missing() {
  local package missing=()
  for package in "$@"; do
    [[ " ${missing[*]} " == *" $package "* ]] || installed_version "$package" >/dev/null ||
      missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return
  need_root "install ${missing[*]}"
  say "installing ${missing[*]}"
  apt_update
  apt_get install -y -qq "${missing[@]}" >/dev/null
}

# derived_apt_entries FORMAT TYPE [SUITE NEW_SUITE]: a TYPE (deb, deb-src) twin, keyring and all,
# of each enabled "deb" entry in the FORMAT (sources, list) files but our triangle-editor-* ones,
# so that the project names no archive; with SUITE, only its entries, for NEW_SUITE (one or more).
derived_apt_entries() {
  local format=$1 type=$2 suite=${3:-} new_suite=${4:-} file files
  files=(/etc/apt/sources.list.d/*."$format")
  [ "$format" = sources ] || files=(/etc/apt/sources.list "${files[@]}")
  for file in "${files[@]}"; do
    [[ -e $file && $file != */triangle-editor-* ]] || continue
    if [ "$format" = sources ]; then
      # Fields by name in f; a continuation line (an embedded key) belongs to the field above.
      awk -v type="$type" -v from="$suite" -v to="$new_suite" '
        function has(list, word) {  # whether the blank-separated list holds word
          gsub(/[ \t\n]+/, " ", list); return index(" " list " ", " " word " ") > 0
        }
        function flush(   suites, names, count, i) {
          suites = from == "" ? f["Suites"] : has(f["Suites"], from) ? to : ""
          if (has(f["Types"], "deb") && f["Enabled"] != "no" && f["URIs"] != "" && suites != "") {
            f["Types"] = type; f["Suites"] = suites
            if (type != "deb") f["Architectures"] = ""
            count = split("Types URIs Suites Components Architectures Signed-By", names)
            for (i = 1; i <= count; i++) if (f[names[i]] != "") print names[i] ": " f[names[i]]
            print ""
          }
          split("", f); name = ""
        }
        /^[ \t]*$/ { flush(); next }
        /^[^#: \t]+:/ {
          name = substr($0, 1, index($0, ":") - 1); sub(/^[^:]*:[ \t]*/, ""); f[name] = $0
        }
        /^[ \t]/ && name != "" { f[name] = f[name] "\n" $0 }
        END { flush() }' "$file"
    else
      # "deb [options] URI suite components..."
      awk -v type="$type" -v from="$suite" -v to="$new_suite" '
        /^[ \t]*deb[ \t]/ {
          sub(/#.*/, ""); sub(/^[ \t]*deb[ \t]+/, "")
          options = /^\[/ ? substr($0, 1, index($0, "]")) " " : ""
          if (options != "") $0 = substr($0, index($0, "]") + 1)
          if (from != "" && $2 != from) next
          components = ""
          for (i = 3; i <= NF; i++) components = components " " $i
          # A one-line entry names one suite: several new ones make as many entries.
          count = split(from != "" ? to : $2, suites)
          for (i = 1; i <= count; i++) print type " " options $1 " " suites[i] components
        }' "$file"
    fi
  done
}

# write_derived_apt_entries TYPE TARGET [SUITE NEW_SUITE]: writes them to TARGET.{sources,list};
# returns 1, writing nothing, when there are none.
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

# apt_archive_uri SUITE: the URI of the machine's first enabled "deb" entry for SUITE, or fails.
apt_archive_uri() {
  { derived_apt_entries sources deb "$1" "$1"; derived_apt_entries list deb "$1" "$1"; } | awk '
    !found && /^(URIs:|deb) / { sub(/^[^ ]+ (\[[^]]*\] )?/, ""); print $1; found = 1 }
    END { exit !found }'
}

# glfw_has_wayland: whether the installed, else candidate, libglfw3 has Wayland (3.4, Debian 13).
glfw_has_wayland() {
  dpkg --compare-versions "$(installed_version libglfw3 || candidate_version libglfw3)" ge 3.4
}
