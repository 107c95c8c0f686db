// The vertex placement controller.
#include "editor/placement.h"

#include <GLFW/glfw3.h>

#include "editor/triangle_set.h"

int placedVertices = 0;
bool clickLatched = false;
double cursorX = 0.0;
double cursorY = 0.0;

namespace {

constexpr int SELECT_KEYS[TRIANGLE_COUNT] = {GLFW_KEY_1, GLFW_KEY_2, GLFW_KEY_3, GLFW_KEY_4,
                                             GLFW_KEY_5};
constexpr int VERTICES_PER_TRIANGLE = 3;

void chooseTriangle(GLFWwindow* window) {
  // Every key is tested, so when several are down the highest-numbered one wins.
  for (int index = 0; index < TRIANGLE_COUNT; ++index) {
    if (glfwGetKey(window, SELECT_KEYS[index]) == GLFW_PRESS) {
      selectedTriangle = index;
    }
  }
}

void placeVertices(GLFWwindow* window) {
  glfwGetCursorPos(window, &cursorX, &cursorY);
  toNormalised(cursorX, cursorY);

  // The frame after the third click only releases the selection; nothing moves.
  if (placedVertices >= VERTICES_PER_TRIANGLE) {
    selectedTriangle = -1;
    placedVertices = 0;
    return;
  }

  const Vertex atCursor = {static_cast<float>(cursorX), static_cast<float>(cursorY)};
  Triangle& triangle = triangles[selectedTriangle];
  for (int v = placedVertices; v < VERTICES_PER_TRIANGLE; ++v) {
    triangle.vertices[v] = atCursor;
  }

  // A press counts once, however many frames the button stays down.
  if (glfwGetMouseButton(window, GLFW_MOUSE_BUTTON_LEFT) != GLFW_PRESS) {
    clickLatched = false;
  } else if (!clickLatched) {
    ++placedVertices;
    clickLatched = true;
  }
}

}  // namespace

void toNormalised(double& x, double& y) {
  x = x / (WINDOW_WIDTH / 2.0) - 1.0;
  y = 1.0 - y / (WINDOW_HEIGHT / 2.0);
}

void updatePlacement(GLFWwindow* window) {
  if (selectedTriangle < 0) {
    chooseTriangle(window);
  } else {
    placeVertices(window);
  }
}
