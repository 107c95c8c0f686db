// Drawing: each triangle as its own filled primitive, in index order, coordinates as stored.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace {

TEST(Drawing, EachTriangleIsItsOwnPrimitiveInIndexAndVertexOrder) {
  test::resetProgram();
  for (int i = 0; i < TRIANGLE_COUNT; ++i) {
    for (int v = 0; v < 3; ++v) {
      triangles[i].vertices[v] = {static_cast<float>(i) + 0.25f * static_cast<float>(v),
                                  -static_cast<float>(v)};
    }
  }
  // Coordinates beyond the viewport are drawn as stored; the GL clips them.
  triangles[4].vertices[2] = {-7.0f, 2.5f};

  drawTriangles();

  std::vector<std::string> expected;
  for (int i = 0; i < TRIANGLE_COUNT; ++i) {
    expected.push_back("glBegin(4)");
    for (int v = 0; v < 3; ++v) {
      const Vertex& vertex = triangles[i].vertices[v];
      std::ostringstream call;
      call << "glVertex2f(" << vertex.x << "," << vertex.y << ")";
      expected.push_back(call.str());
    }
    expected.push_back("glEnd()");
  }
  EXPECT_EQ(fake::calls, expected);
  EXPECT_EQ(fake::calls[4 * 5 + 3], "glVertex2f(-7,2.5)");
  EXPECT_EQ(fake::calls[1 * 5 + 2], "glVertex2f(1.25,-1)");
}

}  // namespace
