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

  // Set up the library, the window and its context; library defaults throughout.
  if (glfwInit() == GLFW_FALSE) {
    return -1;
  }
  GLFWwindow* window =
      glfwCreateWindow(WINDOW_WIDTH, WINDOW_HEIGHT, WINDOW_TITLE, nullptr, nullptr);
  if (window == nullptr) {
    glfwTerminate();
    return -1;
  }
  glfwMakeContextCurrent(window);

#ifdef __EMSCRIPTEN__
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
