// The triangle set and its immediate-mode drawing.
#include "editor/triangle_set.h"

#include <GLFW/glfw3.h>

Triangle triangles[TRIANGLE_COUNT] = {};
int selectedTriangle = -1;

void drawTriangles() {
  // One begin/end pair per triangle keeps each primitive on its own, whatever the others hold.
  for (const Triangle& triangle : triangles) {
    glBegin(GL_TRIANGLES);
    for (const Vertex& vertex : triangle.vertices) {
      glVertex2f(vertex.x, vertex.y);
    }
    glEnd();
  }
}
