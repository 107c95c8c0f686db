// Baseline for scripts/bench: the editor's window, and per frame only the clear, the swap and
// the poll: what the window system and GL driver allow by themselves. Given 30 numbers (x y of
// three corners for five triangles) it draws those as the editor draws its own.
#include <GLFW/glfw3.h>

#include <cstdlib>

constexpr int CORNER_VALUES = 5 * 3 * 2;

int main(int argc, char** argv) {
  float corners[CORNER_VALUES] = {};
  const bool drawTriangles = argc == 1 + CORNER_VALUES;
  if (argc != 1 && !drawTriangles) {
    return 2;
  }
  for (int i = 0; drawTriangles && i < CORNER_VALUES; ++i) {
    corners[i] = std::strtof(argv[i + 1], nullptr);
  }

  if (!glfwInit()) {
    return -1;
  }
  GLFWwindow* window = glfwCreateWindow(640, 480, "Hello World", nullptr, nullptr);
  if (window == nullptr) {
    glfwTerminate();
    return -1;
  }
  glfwMakeContextCurrent(window);

  while (!glfwWindowShouldClose(window)) {
    glClear(GL_COLOR_BUFFER_BIT);
    // One begin/end pair per triangle, as the editor does.
    for (int t = 0; drawTriangles && t < 5; ++t) {
      glBegin(GL_TRIANGLES);
      for (int v = 0; v < 3; ++v) {
        glVertex2f(corners[t * 6 + v * 2], corners[t * 6 + v * 2 + 1]);
      }
      glEnd();
    }
    glfwSwapBuffers(window);
    glfwPollEvents();
  }

  glfwTerminate();
  return 0;
}
