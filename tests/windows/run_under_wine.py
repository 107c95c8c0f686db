#!/usr/bin/python3
"""Runs a Windows program, with our stdin and stdout, under Wine in a fresh prefix removed
afterwards, and exits with its status; every program the tests run under Wine goes through here
(PYTHONPATH=tests). --display passes DISPLAY on; --comspec makes PROBE the command processor;
--prefix DIR keeps the prefix there for later runs with the same ARCH and PROBE; SECONDS limits
the whole run, set-up included (124 past it, 137 if killed). SIGTERM, SIGINT, SIGHUP or the
parent's death end every Wine process and the prefix."""
import contextlib, getopt, os, re, shutil, signal, subprocess, sys, tempfile, time

from harness.common import die_with_parent, stop_process

LOADERS = {"i686": ("/usr/lib/wine/wine", "win32"), "x86_64": ("/usr/lib/wine/wine64", "win64")}
SERVER = "/usr/lib/wine/wineserver"
# No crash debugger: winedbg shows a dialog where there is a display and can leave the process
# hanging. Without it Wine still writes "wine: Unhandled page fault ..." to stderr and ends the
# process with the exception's code (0xc0000005 becomes 5). A Unix COMSPEC does not reach Wine.
SETTINGS = r"""REGEDIT4

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\AeDebug]
"Debugger"=""
"Auto"="1"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000
"""
COMSPEC = r"""
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Session Manager\Environment]
"ComSpec"="C:\\comspec-probe.exe"
"""
# Stop signals (and SIGCHLD) stay blocked and are taken only in run_step's wait: a stop always
# finds the run in a known state, and nothing cuts the clean-up short.
STOPS = {signal.SIGTERM, signal.SIGINT, signal.SIGHUP}
WAITED = STOPS | {signal.SIGCHLD}


def say(text, status=None):
    with contextlib.suppress(OSError):  # a parent that died may have taken the other end
        print(f"run_under_wine: {text}", file=sys.stderr, flush=True)
    if status is not None:
        sys.exit(status)


def unblock():  # each child takes its signals as usual
    signal.pthread_sigmask(signal.SIG_UNBLOCK, WAITED)


def run_step(*command, **streams):
    """Runs a step, in a process group of its own, until it ends (its status as sh gives it) or
    the time is up (124, or 137 if it had to be killed); a stop signal meanwhile ends the run."""
    global step
    step = subprocess.Popen(command, env=env, preexec_fn=unblock, start_new_session=True, **streams)
    while step.poll() is None:
        if time.monotonic() >= deadline:
            say(f"stopped after {limit} s")
            stop_process(step, group=True)
            return 137 if step.returncode == -signal.SIGKILL else 124
        taken = signal.sigtimedwait(WAITED, max(deadline - time.monotonic(), 0))
        if taken and taken.si_signo in STOPS:
            say(f"stopped by {signal.Signals(taken.si_signo).name}", 128 + taken.si_signo)
    return step.returncode if step.returncode >= 0 else 128 - step.returncode


def windows_path(path):  # Wine names the Unix root Z:
    return "Z:" + os.path.realpath(path).replace("/", "\\")


def set_up():
    # reg makes the prefix and writes the settings with no display, so that Wine's first-start
    # windows never show; the program then starts on a fresh server.
    with open(settings, "w") as file:
        file.write(SETTINGS + (COMSPEC if probe else ""))
    with open(os.path.join(scratch, "setup.log"), "w+", errors="replace") as log:
        if status := run_step(loader, "reg", "import", windows_path(settings), stdout=log,
                              stderr=log):
            log.seek(0)
            say(f"setting up the Wine prefix failed with status {status}:\n{log.read()}", status)
    if probe:
        shutil.copy(probe, os.path.join(prefix, "drive_c", "comspec-probe.exe"))
    if status := run_step(SERVER, "-w"):
        say(f"the Wine server did not finish after setting up the prefix (status {status})", status)
    open(ready, "w").close()


def set_up_and_run():
    if not os.path.exists(ready):
        set_up()
    if ("--display", "") in options and os.environ.get("DISPLAY"):
        env["DISPLAY"] = os.environ["DISPLAY"]
    # Through exit-relay.exe, which passes on the program's own status (see exit_relay.c).
    status = run_step(loader, os.path.realpath(relay), windows_path(exe), *args)
    if status == 137 and time.monotonic() < deadline:
        say("the program was killed (SIGKILL) before its time limit")
    return status


signal.pthread_sigmask(signal.SIG_BLOCK, WAITED)
die_with_parent(signal.SIGTERM)  # taken in run_step's wait, so the clean-up still runs
try:
    options, (arch, limit, exe, *args) = getopt.getopt(sys.argv[1:], "",
                                                       ["display", "comspec=", "prefix="])
except (getopt.GetoptError, ValueError):
    say("usage: run_under_wine.py [--display] [--comspec PROBE.exe] [--prefix DIR] i686|x86_64 "
        "SECONDS PROGRAM.exe [ARGS...]", 2)
probe = dict(options).get("--comspec")
if arch not in LOADERS:
    say(f"unknown architecture '{arch}' (i686, x86_64)", 2)
if not re.fullmatch("[0-9]+", limit):
    say(f"SECONDS must be a whole number, not '{limit}'", 2)
loader, winearch = LOADERS[arch]
for tool in loader, SERVER:
    if not os.access(tool, os.X_OK):
        say(f"{tool} is missing (scripts/install-deps windows)", 1)
relay = os.path.join(os.path.dirname(__file__), f"../../build/windows-{arch}/exit-relay.exe")
for file in [exe, relay] + ([probe] if probe else []):
    if not os.path.isfile(file):
        say(f"{file} does not exist: run scripts/build-windows first", 1)
deadline, step = time.monotonic() + int(limit), None

# Programs in the prefix find neither Mono nor Gecko, and Wine does not offer to install them.
overrides = "mscoree,mshtml="
# Wine 8's XInput (GLFW loads it, glfwTerminate frees it) can fault in its worker thread once
# unmapped, after the program's work; Wine 10 keeps it mapped. Those between were not measured.
version = subprocess.run([loader, "--version"], capture_output=True, text=True, preexec_fn=unblock)
if not (match := re.match(r"wine-(\d+)", version.stdout)) or int(match[1]) < 10:
    overrides += ";xinput1_1,xinput1_2,xinput1_3,xinput1_4,xinput9_1_0="
scratch = tempfile.mkdtemp(prefix="run-under-wine-")
prefix = dict(options).get("--prefix") or os.path.join(scratch, "prefix")
settings, ready = os.path.join(scratch, "settings.reg"), os.path.join(prefix, "set-up")
env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
env.update(WINEPREFIX=prefix, WINEARCH=winearch, WINEDEBUG="-all", WINEDLLOVERRIDES=overrides)
try:
    sys.exit(set_up_and_run())
finally:
    # The step's group, then every process of the prefix (services, explorer and the program,
    # which the server knows even where they left the group), then the server.
    stop_process(step, group=True)
    for option in ("-k", "-w") if os.path.isdir(prefix) else ():  # else no server of it runs
        with contextlib.suppress(subprocess.TimeoutExpired):
            subprocess.run([SERVER, option], env=env, preexec_fn=unblock, timeout=10,
                           stderr=subprocess.DEVNULL)
    shutil.rmtree(scratch, ignore_errors=True)
