# The display interface over a private headless sway: the editor as a native Wayland client,
# real input from a virtual keyboard and pointer (tests/wayland/virtual_input.c), screenshots by
# grim, at any output scale.
import json
import os
import shutil
import subprocess
import tempfile

from harness.common import (STARTUP_TIMEOUT, EditorExited, HarnessError, die_with_parent,
                            stop_process, wait_for)
from harness.display import Display, Window
from harness.picture import Picture

LAYOUT = (800, 600)  # the output in layout units, whatever its scale
# Floating keeps the window at the size it asks for, without a border; the pointer, drawn into
# the output's pixels, hides once it rests, so screenshots show the window alone.
CONFIG = """xwayland disable
seat * hide_cursor 100
default_border none
for_window [title="Hello World"] floating enable
output HEADLESS-1 resolution {}x{} scale {}
"""


class Sway(Display):
    """A headless sway with one output of `scale` physical pixels per layout unit; input comes
    from the virtual_input executable `input_client`."""

    # The client gets the cursor in 1/256 units; the report shows it divided by 320 or 240.
    cursor_tolerance = 1 / 256 / 240 + 1e-6

    def __init__(self, input_client, scale=1):
        self.scale, self.sway, self.input = scale, None, None
        self.dir = tempfile.mkdtemp(prefix="triangle-wayland-")  # mode 0700
        self.env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        self.env["XDG_RUNTIME_DIR"] = self.dir
        try:
            with open(os.path.join(self.dir, "config"), "w") as f:
                f.write(CONFIG.format(LAYOUT[0] * scale, LAYOUT[1] * scale, scale))
            self.sway = subprocess.Popen(
                ["sway", "--config", f.name], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL, preexec_fn=die_with_parent, env=dict(
                    self.env, WLR_BACKENDS="headless", WLR_LIBINPUT_NO_DEVICES="1",
                    WLR_RENDERER="pixman"))
            wait_for(self._ready, STARTUP_TIMEOUT, what="sway's sockets and output")
            self.input = subprocess.Popen([input_client], stdin=subprocess.PIPE, text=True,
                                          stdout=subprocess.PIPE, env=self.environment(),
                                          preexec_fn=die_with_parent)
            self.answered("the virtual keyboard and pointer")
        except BaseException:
            self.close()
            raise

    def _ready(self):
        if self.sway.poll() is not None:
            raise AssertionError(f"sway exited with {self.sway.returncode}")  # no use waiting
        names = os.listdir(self.dir)
        self.socket = next((n for n in names if n.startswith("wayland-") and "." not in n), None)
        ipc = next((n for n in names if n.startswith("sway-ipc.")), None)
        self.env["SWAYSOCK"] = os.path.join(self.dir, ipc or "")
        return self.socket and ipc and self.swaymsg("-t", "get_outputs")

    def environment(self):
        return dict(self.env, WAYLAND_DISPLAY=self.socket)

    def swaymsg(self, *args):
        run = subprocess.run(["swaymsg", "-r", *args], capture_output=True, text=True,
                             env=self.env)
        if run.returncode != 0:
            raise HarnessError(f"swaymsg {' '.join(args)}: {run.stdout}{run.stderr}")
        return json.loads(run.stdout)

    def send(self, command):
        """Has the virtual keyboard or pointer carry out a command, and waits until sway has."""
        self.input.stdin.write(command + "\n")
        self.input.stdin.flush()
        self.answered(command)

    def answered(self, what):
        answer = self.input.stdout.readline().strip()
        if answer != "ok":
            raise HarnessError(f"virtual input, {what}: {answer or 'no answer'}")

    def find_window(self, process, timeout):
        def look():
            if process is not None and process.poll() is not None:
                raise EditorExited(f"editor exited with {process.returncode}")
            nodes = [self.swaymsg("-t", "get_tree")]
            while nodes:
                node = nodes.pop()
                # Focused: keys reach it from then on.
                if node.get("name") == "Hello World" and node.get("focused") and (
                        process is None or node.get("pid") == process.pid):
                    return SwayWindow(self, node)
                nodes += node["nodes"] + node["floating_nodes"]
        return wait_for(look, timeout, what='a window titled "Hello World"')

    def key_down(self, key):
        self.send(f"key {key} 1")

    def key_up(self, key):
        self.send(f"key {key} 0")

    def button_down(self, button=1):
        self.send(f"button {button} 1")

    def button_up(self, button=1):
        self.send(f"button {button} 0")

    def close(self):
        if self.input is not None:
            self.input.stdin.close()
            stop_process(self.input)
            self.input.stdout.close()
        stop_process(self.sway)
        shutil.rmtree(self.dir, ignore_errors=True)


class SwayWindow(Window):
    def __init__(self, sway, node):
        self.sway, self.id, self.name = sway, node["id"], node["name"]
        # Without a border the container is the client area.
        rect = node["rect"]
        self.x, self.y, self.width, self.height = (rect[k] for k in ("x", "y", "width", "height"))

    def move_to(self, x, y):
        self.sway.send(f"motion {round(self.x + x)} {round(self.y + y)} {LAYOUT[0]} {LAYOUT[1]}")

    def grab(self):
        region = f"{self.x},{self.y} {self.width}x{self.height}"
        grim = subprocess.run(["grim", "-t", "ppm", "-g", region, "-"], check=True,
                              stdout=subprocess.PIPE, env=self.sway.environment())
        return Picture.from_ppm(grim.stdout)

    def size(self):
        return self.width, self.height

    def title(self):
        return self.name

    def request_close(self):
        self.sway.swaymsg(f"[con_id={self.id}]", "kill")
