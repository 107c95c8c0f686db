# Waiting on conditions, the harness's errors, and stopping the processes a test started.
import contextlib
import ctypes
import os
import signal
import time

# Input is polled once a frame, so each press and release is held this long and until the
# editor has drawn a few frames since (it can stall, say on a slow terminal).
HOLD_SECONDS = 0.1
SEEN_FRAMES = 3

# Generous: the machine has two cores and ctest may run several of these tests at once.
STARTUP_TIMEOUT = 30.0
CONDITION_TIMEOUT = 20.0
POLL_SECONDS = 0.02


class HarnessError(AssertionError):
    """A condition not (yet) met; wait_for retries on it."""


class EditorExited(AssertionError):
    """The editor ended while a test still expected it to run; never worth waiting on."""


def wait_for(condition, timeout=CONDITION_TIMEOUT, what="condition"):
    """Polls condition() until it returns something truthy; returns that, or raises. A
    HarnessError from the condition means "not yet"; any other error ends the wait."""
    deadline = time.monotonic() + timeout
    last_error = None
    while True:
        try:
            value = condition()
            if value:
                return value
        except HarnessError as error:
            last_error = error
        if time.monotonic() >= deadline:
            detail = f": {last_error}" if last_error else ""
            raise HarnessError(f"timed out after {timeout:.0f} s waiting for {what}{detail}")
        time.sleep(POLL_SECONDS)


def die_with_parent(signum=signal.SIGKILL):
    """preexec_fn for every child: a test killed by ctest's timeout leaves nothing running."""
    ctypes.CDLL(None).prctl(1, signum)  # PR_SET_PDEATHSIG


def stop_process(process, group=False):
    """Ends a child if it still runs: SIGCONT (a measurement may have stopped it), SIGTERM and
    SIGKILL 5 s later; with `group`, the whole group it leads (start_new_session)."""
    if process is None:
        return

    def send(signum):
        with contextlib.suppress(ProcessLookupError):
            if group:
                os.killpg(process.pid, signum)
            elif process.poll() is None:
                process.send_signal(signum)

    def gone():
        if process.poll() is None:
            return False
        with contextlib.suppress(ProcessLookupError):
            if group:
                os.killpg(process.pid, 0)
                return False
        return True

    if gone():
        return
    send(signal.SIGCONT)
    send(signal.SIGTERM)
    try:
        wait_for(gone, 5, what="the process to end")
    except HarnessError:
        send(signal.SIGKILL)
        wait_for(gone, STARTUP_TIMEOUT, what="the killed process to end")


class Closing:
    """Closed at the end of a with statement."""

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
