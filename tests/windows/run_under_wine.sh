#!/bin/sh
# Runs a Windows program under Wine, in a private Wine prefix that is removed afterwards, and
# exits with the program's status. This is the one place the tests start a program under Wine:
# the unit tests run through it, and the end-to-end test uses it as the editor's command prefix.
# An i686 program runs on the 32-bit loader (through qemu's user emulation where the kernel cannot
# run 32-bit code; scripts/install-deps sets that up).
#
# Usage: run_under_wine.sh [--display] [--comspec PROBE.exe] i686|x86_64 SECONDS PROGRAM.exe [ARGS...]
#   --display         keep DISPLAY, so the program's windows open there; without it the
#                     program gets no display at all
#   --comspec PROBE   make PROBE the prefix's command processor (C:\comspec-probe.exe)
#   SECONDS           limit for the whole run, the prefix's set-up included; a run over it is
#                     stopped and fails (124, or 137 if it had to be killed)
#
# The program's standard output is passed through unchanged; this script's own messages go to
# standard error, each line starting "run_under_wine: ". SIGTERM or SIGINT ends the program and
# every Wine process of the prefix, and removes the prefix.
set -u

say() {
  echo "run_under_wine: $*" >&2
}
usage() {
  say "usage: run_under_wine.sh [--display] [--comspec PROBE.exe] i686|x86_64 SECONDS PROGRAM.exe [ARGS...]"
  exit 2
}

keep_display=no
probe=
while [ $# -gt 0 ]; do
  case "$1" in
    --display) keep_display=yes; shift ;;
    --comspec) [ $# -ge 2 ] || usage; probe=$2; shift 2 ;;
    --) shift; break ;;
    -*) usage ;;
    *) break ;;
  esac
done
[ $# -ge 3 ] || usage
arch=$1
limit=$2
shift 2
case "$arch" in
  i686) loader=/usr/lib/wine/wine winearch=win32 ;;
  x86_64) loader=/usr/lib/wine/wine64 winearch=win64 ;;
  *) say "unknown architecture '$arch' (i686, x86_64)"; exit 2 ;;
esac
case "$limit" in
  '' | *[!0-9]*) say "SECONDS must be a whole number, not '$limit'"; exit 2 ;;
esac
server=/usr/lib/wine/wineserver
for tool in "$loader" "$server"; do
  if [ ! -x "$tool" ]; then
    say "$tool is missing (scripts/install-deps windows)"
    exit 1
  fi
done
relay=$(dirname "$0")/../../build/windows-$arch/exit-relay.exe
for file in "$1" ${probe:+"$probe"} "$relay"; do
  if [ ! -f "$file" ]; then
    say "$file does not exist: run scripts/build-windows first"
    exit 1
  fi
done
deadline=$(($(date +%s) + limit))

# Programs in the prefix find neither Mono nor Gecko, and Wine does not offer to install them.
overrides="mscoree,mshtml="
# Wine 8.0's XInput races with its own unloading: GLFW loads xinput1_4.dll at start-up (for
# joysticks) and glfwTerminate frees it, and the DLL's worker thread may still be returning from
# setting its "done" event when the DLL is unmapped. It then faults on execute inside the gone
# DLL ("Unhandled page fault on execute access"), after the program has done all its work; under
# load that happens in a few percent of closes. Wine 10.0 keeps the DLL mapped on FreeLibrary and
# does not fault. Versions in between were not measured, so every Wine before 10 gets the DLLs
# disabled: GLFW then runs without XInput (no joysticks, which nothing here uses). All five names
# GLFW tries are disabled, as each is the same Wine code.
version=$("$loader" --version 2>/dev/null)
major=${version#wine-}
major=${major%%.*}
case "$major" in '' | *[!0-9]*) major=0 ;; esac
if [ "$major" -lt 10 ]; then
  overrides="$overrides;xinput1_1,xinput1_2,xinput1_3,xinput1_4,xinput9_1_0="
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/run-under-wine-XXXXXX") || exit 1
prefix=$scratch/prefix
export WINEPREFIX="$prefix" WINEARCH="$winearch" WINEDEBUG=-all WINEDLLOVERRIDES="$overrides"
unset WAYLAND_DISPLAY
display=${DISPLAY-}
unset DISPLAY

# Every step runs in the background with the script waiting for it: a shell runs no trap while a
# foreground command runs, so only thus does SIGTERM end the run at once. timeout makes each
# step the leader of a process group of its own.
exec 3<&0
step=
run_step() { # SECONDS COMMAND...
  seconds=$1
  shift
  timeout --kill-after=10 "$seconds" "$@" <&3 3<&- &
  step=$!
  echo "$step" >"$scratch/step"
  wait "$step"
  status=$?
  step=
  rm -f "$scratch/step"
  return "$status"
}
remaining() {
  left=$((deadline - $(date +%s)))
  [ "$left" -gt 0 ] || left=1
  echo "$left"
}
# Ends whatever still runs: the current step's process group, then every process of the prefix
# (services, explorer and the program itself, which wineserver knows even where they left the
# group), then the server; and removes the scratch folder (and the prefix in it).
clean_up() {
  [ -n "$watcher" ] && kill "$watcher" 2>/dev/null
  running=$(cat "$scratch/step" 2>/dev/null)
  [ -n "$running" ] && kill -s TERM -- "-$running" 2>/dev/null
  [ -d "$prefix" ] && "$server" -k 2>/dev/null
  [ -n "$running" ] && kill -s KILL -- "-$running" 2>/dev/null
  [ -n "$step" ] && wait "$step" 2>/dev/null
  if [ -d "$prefix" ]; then
    timeout 10 "$server" -k 2>/dev/null
    timeout 10 "$server" -w 2>/dev/null
  fi
  rm -rf "$scratch"
}
# SIGKILL reaches no trap, and a test harness that dies sends it (PR_SET_PDEATHSIG): a watcher
# then cleans up in the script's place, as soon as the script is gone or a zombie.
watcher=
(
  trap 'kill "$nap" 2>/dev/null; exit 0' TERM
  trap '' INT
  while [ -e "/proc/$$" ] && ! grep -q ') Z' "/proc/$$/stat" 2>/dev/null; do
    sleep 1 &
    nap=$!
    wait "$nap"
  done
  clean_up
) </dev/null >/dev/null 2>&1 &
watcher=$!
trap clean_up EXIT
trap 'say "stopped by SIGTERM"; exit 143' TERM
trap 'say "stopped by SIGINT"; exit 130' INT

# The prefix: made by the first program run in it, here reg, which also writes the settings.
# - No crash debugger: by default Wine starts winedbg on an unhandled exception, which shows a
#   crash dialog where there is a display and can leave the process hanging. With an empty
#   Debugger (and Auto set, so that Wine does not ask first) no debugger starts: Wine still
#   writes "wine: Unhandled page fault ..." to standard error and ends the process with the
#   exception's code, so a crash is a non-zero status (0xc0000005 becomes 5). Should winedbg
#   still be started, ShowCrashDialog=0 keeps it to a backtrace on standard error.
# - With --comspec, the probe as the command processor: a Unix COMSPEC does not reach Wine.
# It is set up without a display, so that Wine's first-start windows never show, and the
# server is then left to finish, so that the program starts on a fresh one with its own
# environment.
settings=$scratch/settings.reg
{
  echo 'REGEDIT4'
  echo
  echo '[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\AeDebug]'
  echo '"Debugger"=""'
  echo '"Auto"="1"'
  echo
  echo '[HKEY_CURRENT_USER\Software\Wine\WineDbg]'
  echo '"ShowCrashDialog"=dword:00000000'
  if [ -n "$probe" ]; then
    echo
    echo '[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Session Manager\Environment]'
    echo '"ComSpec"="C:\\comspec-probe.exe"'
  fi
} >"$settings"
run_step "$(remaining)" "$loader" reg import "$(
  # reg wants a Windows path; Wine maps Z: to the Unix root.
  echo "Z:$settings" | sed 's|/|\\|g'
)" >"$scratch/setup.log" 2>&1
status=$?
if [ "$status" -ne 0 ]; then
  sed 's/^/run_under_wine: /' "$scratch/setup.log" >&2
  say "setting up the Wine prefix failed with status $status"
  [ "$(date +%s)" -ge "$deadline" ] && say "stopped after $limit s"
  exit "$status"
fi
if [ -n "$probe" ]; then
  cp "$probe" "$prefix/drive_c/comspec-probe.exe" || exit 1
fi
run_step "$(remaining)" "$server" -w
status=$?
if [ "$status" -ne 0 ]; then
  say "the Wine server did not finish after setting up the prefix (status $status)"
  exit "$status"
fi

if [ "$keep_display" = yes ] && [ -n "$display" ]; then
  export DISPLAY="$display"
fi
# The program runs as the child of exit-relay.exe, which ends with the program's own status: Wine's
# server kills a process with SIGKILL when its Unix side is still there half a second after its
# last thread ended, which a slow exit on a busy machine (the GL driver's clean-up, emulated) can
# make it, and the status seen here would then be 137 whatever the program returned.
# Wine names the Unix root drive Z:, and quotes the arguments into the relay's command line.
program=Z:$(realpath "$1" | tr / '\\')
shift
run_step "$(remaining)" "$loader" "$(realpath "$relay")" "$program" "$@"
status=$?
if [ "$(date +%s)" -ge "$deadline" ] && { [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; }; then
  say "stopped after $limit s"
elif [ "$status" -eq 137 ]; then
  say "the program was killed (SIGKILL) before its time limit"
fi
exit "$status"
