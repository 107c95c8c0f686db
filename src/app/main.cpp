// Triangle editor: opens a 640 x 480 window and, every frame, draws five white triangles on
// black. Keys 1 to 5 pick a triangle, three left clicks place its corners, and every eleventh
// frame the console shows all coordinates.
#include <GLFW/glfw3.h>

#ifdef __EMSCRIPTEN__
#include <emscripten/emscripten.h>
#endif

#include "editor/placement.h"
#include "editor/triangle_set.h"
#include "status/console.h"
#include "status/status_report.h"

namespace {

constexpr const char* WINDOW_TITLE = "Hello World";

// GLFW_SCALE_FRAMEBUFFER, which GLFW 3.4 added; its value is part of GLFW's ABI.
constexpr int SCALE_FRAMEBUFFER_HINT = 0x0002200D;
#ifdef GLFW_SCALE_FRAMEBUFFER
static_assert(SCALE_FRAMEBUFFER_HINT == GLFW_SCALE_FRAMEBUFFER, "GLFW renumbered the hint");
#endif

#ifdef __EMSCRIPTEN__
// GLFW_SCALE_TO_MONITOR, which GLFW 3.3 added; Emscripten's GLFW header before 3.1.51 lacks it.
constexpr int SCALE_TO_MONITOR_HINT = 0x0002200C;
#ifdef GLFW_SCALE_TO_MONITOR
static_assert(SCALE_TO_MONITOR_HINT == GLFW_SCALE_TO_MONITOR, "GLFW renumbered the hint");
#endif

// The picture fills the canvas's backing store, whatever its size in device pixels.
void fillFramebuffer(GLFWwindow* /*window*/, int width, int height) {
  glViewport(0, 0, width, height);
}
#endif

// One frame. Placement runs last, on the input just polled, so its edits are drawn and
// reported from the next frame on.
void runFrame(GLFWwindow* window) {
  glClear(GL_COLOR_BUFFER_BIT);
  reportStatus();
  drawTriangles();
  glfwSwapBuffers(window);
  glfwPollEvents();
  updatePlacement(window);
}

}  // namespace

int main(int /*argc*/, char** /*argv*/) {
  prepareConsole();

  // Set up the library, the window and its context; library defaults throughout but two hints.
  if (glfwInit() == GLFW_FALSE) {
    return -1;
  }
  // The picture has no alpha channel. The clear leaves alpha 0 where nothing is drawn, and a
  // compositor that blends a surface by its alpha (GNOME's mutter) would show what lies behind
  // the window there; in a browser the page would show through the canvas. Without alpha bits
  // the window is opaque everywhere. The per-frame calls stay as they are.
  glfwWindowHint(GLFW_ALPHA_BITS, 0);
  // On a Wayland output scaled by 2, GLFW 3.4 gives the window a 1280 x 960 framebuffer after
  // its first frame, while the viewport keeps 640 x 480: the picture would fill a quarter of the
  // window, away from the cursor. A framebuffer of the window's own 640 x 480, which the
  // compositor scales, keeps the picture filling it at any scale. X11 and Windows ignore the
  // hint: their framebuffers always have the window's size. The hint is set whatever GLFW this
  // was compiled against, since the binary may meet a newer GLFW at run time (a package built
  // with 3.3's header and installed beside 3.4); GLFW 3.3 does not know it and only raises an
  // error that no callback reports.
  glfwWindowHint(SCALE_FRAMEBUFFER_HINT, GLFW_FALSE);
#ifdef __EMSCRIPTEN__
  // A screen with several device pixels per CSS pixel shows a 640 x 480 canvas stretched, and
  // blurred. In Emscripten's HiDPI mode (3.1.51 on; older ones ignore the hint) the canvas gets
  // a backing store of as many device pixels while the window, and so the cursor mapping, stays
  // 640 x 480. Nothing else sets the viewport for that store, so the program does, at start-up
  // and whenever the store changes (zooming, another screen).
  glfwWindowHint(SCALE_TO_MONITOR_HINT, GLFW_TRUE);
#endif
  GLFWwindow* window =
      glfwCreateWindow(WINDOW_WIDTH, WINDOW_HEIGHT, WINDOW_TITLE, nullptr, nullptr);
  if (window == nullptr) {
    glfwTerminate();
    return -1;
  }
  glfwMakeContextCurrent(window);

#ifdef __EMSCRIPTEN__
  int framebufferWidth = 0;
  int framebufferHeight = 0;
  glfwGetFramebufferSize(window, &framebufferWidth, &framebufferHeight);
  fillFramebuffer(window, framebufferWidth, framebufferHeight);
  glfwSetFramebufferSizeCallback(window, fillFramebuffer);

  // In a browser the page owns the loop: it runs one frame per animation frame and must get
  // control back in between. A page is never closed from inside, so this call does not return.
  emscripten_set_main_loop_arg([](void* handle) { runFrame(static_cast<GLFWwindow*>(handle)); },
                               window, 0, true);
#else
  // Main loop: a close request polled in a frame ends the loop before the next one.
  while (glfwWindowShouldClose(window) == GLFW_FALSE) {
    runFrame(window);
  }
#endif

  // Terminating the library destroys the window and its context too.
  glfwTerminate();
  return 0;
}
