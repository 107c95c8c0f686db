# What the GLFW that the editor loads was built with: whether it has Wayland.
import ctypes


def version():
    """libglfw.so.3's own version string, e.g. "3.4.0 Wayland X11 GLX ... shared"."""
    get = ctypes.CDLL("libglfw.so.3").glfwGetVersionString
    get.restype = ctypes.c_char_p
    return get().decode()


def has_wayland():
    """Whether that GLFW has a Wayland backend (3.4 on Debian 13; Debian 12's 3.3.8 has not)."""
    return "Wayland" in version().split()
