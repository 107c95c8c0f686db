#!/bin/sh
# Runs a Windows console program under Wine, in a private Wine prefix that is removed afterwards,
# and exits with the program's status. An i686 program runs on the 32-bit loader (through qemu's
# user emulation where the kernel cannot run 32-bit code; scripts/install-deps sets that up); a
# run that outlasts its time limit is stopped and fails.
#
# Usage: run_under_wine.sh i686|x86_64 SECONDS program.exe [arguments...]
set -u
arch=$1
limit=$2
shift 2
case "$arch" in
  i686) loader=/usr/lib/wine/wine winearch=win32 ;;
  x86_64) loader=/usr/lib/wine/wine64 winearch=win64 ;;
  *) echo "run_under_wine: unknown architecture '$arch' (i686, x86_64)" >&2; exit 2 ;;
esac
if [ ! -x "$loader" ]; then
  echo "run_under_wine: $loader is missing (scripts/install-deps windows)" >&2
  exit 1
fi
if [ ! -f "$1" ]; then
  echo "run_under_wine: $1 does not exist: run scripts/build-windows first" >&2
  exit 1
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/triangle-editor-unit-tests-XXXXXX") || exit 1
# No display: the program needs none, and Wine's first-start dialogs then stay hidden.
unset DISPLAY
export WINEPREFIX="$scratch/prefix" WINEARCH="$winearch" WINEDEBUG=-all \
  WINEDLLOVERRIDES="mscoree,mshtml="
# The prefix's own processes (services, explorer) outlive the program; end them with it.
server=/usr/lib/wine/wineserver
trap '"$server" -k 2>/dev/null; "$server" -w 2>/dev/null; rm -rf "$scratch"' EXIT
trap 'exit 1' INT TERM

timeout --kill-after=10 "$limit" "$loader" "$@"
status=$?
if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
  echo "run_under_wine: stopped after $limit s" >&2
fi
exit "$status"
