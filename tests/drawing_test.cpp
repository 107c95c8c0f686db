// Drawing: each triangle as its own filled primitive, in index order, coordinates as stored.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace {

TEST(Drawing, EachTriangleIsItsOwnPrimitiveInIndexAndVertexOrder) {
  test::resetProgram();
  // Every corner differs from every other, so a corner out of order or out of its triangle shows.
  triangles[0] = Triangle{{{0.0f, 0.5f}, {0.25f, -0.5f}, {0.5f, -1.5f}}};
  triangles[1] = Triangle{{{1.0f, 0.5f}, {1.25f, -0.5f}, {1.5f, -1.5f}}};
  triangles[2] = Triangle{{{-0.75f, 0.125f}, {0.375f, -0.0625f}, {-1.0f, 1.0f}}};
  triangles[3] = Triangle{{{0.1f, -0.9f}, {-0.333333f, 0.666667f}, {0.0f, 0.0f}}};
  // Coordinates beyond the viewport are drawn as stored; the GL clips them.
  triangles[4] = Triangle{{{4.0f, -2.0f}, {4.25f, 3.0f}, {-7.0f, 2.5f}}};

  drawTriangles();

  // GL_TRIANGLES is 4.
  // clang-format off
  const std::vector<std::string> expected = {
      "glBegin(4)", "glVertex2f(0,0.5)", "glVertex2f(0.25,-0.5)", "glVertex2f(0.5,-1.5)", "glEnd()",
      "glBegin(4)", "glVertex2f(1,0.5)", "glVertex2f(1.25,-0.5)", "glVertex2f(1.5,-1.5)", "glEnd()",
      "glBegin(4)", "glVertex2f(-0.75,0.125)", "glVertex2f(0.375,-0.0625)", "glVertex2f(-1,1)",
      "glEnd()",
      "glBegin(4)", "glVertex2f(0.1,-0.9)", "glVertex2f(-0.333333,0.666667)", "glVertex2f(0,0)",
      "glEnd()",
      "glBegin(4)", "glVertex2f(4,-2)", "glVertex2f(4.25,3)", "glVertex2f(-7,2.5)", "glEnd()"};
  // clang-format on
  EXPECT_EQ(fake::calls, expected);
}

}  // namespace
