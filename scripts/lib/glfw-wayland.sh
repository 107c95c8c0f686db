# Whether this release's GLFW runs programs as native Wayland clients: its libglfw3 has a Wayland
# backend from 3.4 on (Debian 13); Debian 12's 3.3.8 has X11 only. The installed version counts,
# else the one apt would install. Sourced by scripts/install-deps and scripts/release.
# shellcheck shell=bash

glfw_has_wayland() {
  local version
  version=$(dpkg-query -W -f='${Version}' libglfw3 2>/dev/null || true)
  [ -n "$version" ] || version=$(apt-cache policy libglfw3 2>/dev/null | awk '/Candidate:/ { print $2 }')
  [ -n "$version" ] && [ "$version" != "(none)" ] && dpkg --compare-versions "$version" ge 3.4
}
