# The display interface over a private headless sway: the editor as a native Wayland client,
# real input from a virtual keyboard and pointer (tests/wayland/virtual_input.c) and screenshots
# by grim, at any output scale.
import json
import os
import shutil
import subprocess
import tempfile

from harness.common import (STARTUP_TIMEOUT, EditorExited, HarnessError, die_with_parent,
                            stop_process, wait_for)
from harness.display import Display, Window
from harness.picture import Picture

WINDOW_TITLE = "Hello World"
LAYOUT = (800, 600)  # the output in layout units, whatever its scale

# Floating keeps the window at the size it asks for; no border, so the client area is the window;
# the pointer, drawn into the output's pixels, hides once it rests, so screenshots are clean.
CONFIG = """xwayland disable
seat * hide_cursor 100
default_border none
default_floating_border none
for_window [title="{title}"] floating enable
output HEADLESS-1 resolution {width}x{height} scale {scale}
"""


class Sway(Display):
    """A headless sway with one output, `scale` physical pixels per layout unit. `input_client`
    is the virtual_input executable."""

    # The cursor reaches the client in 1/256 units, and the report shows it in NDC.
    cursor_tolerance = 1.0 / 256 / 240 + 1e-6

    def __init__(self, input_client, scale=1):
        self.scale = scale
        self.runtime_dir = tempfile.mkdtemp(prefix="triangle-wayland-")  # mode 0700
        self.sway = self.input = None
        try:
            self._start(input_client)
        except BaseException:
            self.close()
            raise

    def _start(self, input_client):
        config = os.path.join(self.runtime_dir, "config")
        with open(config, "w") as f:
            f.write(CONFIG.format(title=WINDOW_TITLE, width=LAYOUT[0] * self.scale,
                                  height=LAYOUT[1] * self.scale, scale=self.scale))
        env = self._base_environment()
        env.update(WLR_BACKENDS="headless", WLR_LIBINPUT_NO_DEVICES="1", WLR_RENDERER="pixman")
        self.log = tempfile.TemporaryFile()
        self.sway = subprocess.Popen(["sway", "--config", config], env=env,
                                     stdin=subprocess.DEVNULL, stdout=self.log, stderr=self.log,
                                     preexec_fn=die_with_parent)

        def sockets():
            if self.sway.poll() is not None:
                raise EditorExited(f"sway exited with {self.sway.returncode}: {self._log()}")
            names = os.listdir(self.runtime_dir)
            ipc = [n for n in names if n.startswith("sway-ipc.")]
            wayland = [n for n in names if n.startswith("wayland-") and "." not in n]
            return ipc and wayland and (ipc[0], wayland[0])
        ipc, self.socket = wait_for(sockets, STARTUP_TIMEOUT, what="sway's sockets")
        self.ipc = os.path.join(self.runtime_dir, ipc)
        wait_for(lambda: self.swaymsg("-t", "get_outputs", check=False), STARTUP_TIMEOUT,
                 what="sway's output")
        self.input = subprocess.Popen([input_client], env=self.environment(), text=True,
                                      stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                      preexec_fn=die_with_parent)

    def _base_environment(self):
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        env["XDG_RUNTIME_DIR"] = self.runtime_dir
        return env

    def _log(self):
        self.log.seek(0)
        return self.log.read().decode(errors="replace")[-2000:]

    def environment(self):
        return dict(self._base_environment(), WAYLAND_DISPLAY=self.socket)

    def swaymsg(self, *args, check=True):
        """sway's answer to an IPC message, parsed; None on failure unless `check`."""
        run = subprocess.run(["swaymsg", "-s", self.ipc, "-r", *args], capture_output=True,
                             text=True, env=self._base_environment())
        if run.returncode != 0:
            if check:
                raise HarnessError(f"swaymsg {' '.join(args)}: {run.stdout}{run.stderr}")
            return None
        return json.loads(run.stdout)

    def _send(self, command):
        self.input.stdin.write(command + "\n")
        self.input.stdin.flush()
        answer = self.input.stdout.readline().strip()
        if answer != "ok":
            raise HarnessError(f"virtual input '{command}': {answer or 'no answer'}")

    def find_window(self, process, timeout):
        def look():
            if process is not None and process.poll() is not None:
                raise EditorExited(f"editor exited with {process.returncode} before showing "
                                   f"its window")
            nodes = [self.swaymsg("-t", "get_tree")]
            while nodes:
                node = nodes.pop()
                if (node.get("name") == WINDOW_TITLE and node.get("visible")
                        and (process is None or node.get("pid") == process.pid)):
                    return SwayWindow(self, node)
                nodes += node.get("nodes", []) + node.get("floating_nodes", [])
            return None
        return wait_for(look, timeout, what=f'a window titled "{WINDOW_TITLE}"')

    def key_down(self, key):
        self._send(f"key {key} 1")

    def key_up(self, key):
        self._send(f"key {key} 0")

    def button_down(self, button=1):
        self._send(f"button {button} 1")

    def button_up(self, button=1):
        self._send(f"button {button} 0")

    def move_to_layout(self, x, y):
        self._send(f"motion {round(x)} {round(y)} {LAYOUT[0]} {LAYOUT[1]}")

    def close(self):
        if self.input is not None:
            self.input.stdin.close()
            stop_process(self.input)
            self.input.stdout.close()
        stop_process(self.sway)
        shutil.rmtree(self.runtime_dir, ignore_errors=True)


class SwayWindow(Window):
    def __init__(self, sway, node):
        self.sway, self.id, self.name = sway, node["id"], node["name"]
        rect, content = node["rect"], node["window_rect"]
        self.origin = (rect["x"] + content["x"], rect["y"] + content["y"])
        self.width, self.height = content["width"], content["height"]

    def move_to(self, x, y):
        self.sway.move_to_layout(self.origin[0] + x, self.origin[1] + y)

    def grab(self):
        region = f"{self.origin[0]},{self.origin[1]} {self.width}x{self.height}"
        run = subprocess.run(["grim", "-t", "ppm", "-g", region, "-"], capture_output=True,
                             env=self.sway.environment())
        if run.returncode != 0:
            raise HarnessError(f"grim: {run.stderr.decode(errors='replace')}")
        return Picture.from_ppm(run.stdout)

    def size(self):
        return self.width, self.height

    def title(self):
        return self.name

    def request_close(self):
        self.sway.swaymsg(f"[con_id={self.id}]", "kill")
