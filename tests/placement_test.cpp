// Placement: choosing a triangle with the digit keys, fixing its corners with left clicks,
// the cursor mapping, and the latch that makes a held button count once.
#include <gtest/gtest.h>

#include "test_support.h"

namespace {

class Placement : public ::testing::Test {
 protected:
  void SetUp() override { test::resetProgram(); }

  static void expectVertex(int triangle, int vertex, float x, float y) {
    EXPECT_FLOAT_EQ(triangles[triangle].vertices[vertex].x, x) << "vertex " << vertex;
    EXPECT_FLOAT_EQ(triangles[triangle].vertices[vertex].y, y) << "vertex " << vertex;
  }
};

// While nothing is selected exactly the five digit keys are read (the highest down wins) and a
// button down neither counts nor sets the latch; the selected triangle moves from the next frame.
TEST_F(Placement, OnlyMainRowDigitsSelectAndTheHighestDownWins) {
  const struct {
    std::initializer_list<int> keys;
    int selected;
  } cases[] = {
      {{GLFW_KEY_3}, 2},
      {{GLFW_KEY_2, GLFW_KEY_4}, 3},
      {{GLFW_KEY_1, GLFW_KEY_2, GLFW_KEY_3, GLFW_KEY_4, GLFW_KEY_5}, 4},
      {{GLFW_KEY_KP_1, GLFW_KEY_KP_3, GLFW_KEY_0, GLFW_KEY_6, GLFW_KEY_A, GLFW_KEY_ESCAPE}, -1}};
  for (const auto& c : cases) {
    test::resetProgram();
    test::placementFrame(test::pressedAt(480, 120, c.keys));
    EXPECT_EQ(selectedTriangle, c.selected);
    EXPECT_EQ(fake::calls, (std::vector<std::string>{"glfwGetKey(win,49)", "glfwGetKey(win,50)",
                                                     "glfwGetKey(win,51)", "glfwGetKey(win,52)",
                                                     "glfwGetKey(win,53)"}));
    EXPECT_FALSE(clickLatched);
    if (c.selected < 0) continue;
    expectVertex(c.selected, 0, 0.0f, 0.0f);
    test::placementFrame(test::at(480, 120));
    for (int v = 0; v < 3; ++v) expectVertex(c.selected, v, 0.5f, 0.5f);
    EXPECT_EQ(placedVertices, 0);
  }
}

// Positions beyond the window map beyond -1..1 and are stored so; a fraction of a screen unit
// stays in the value, narrowed only to float.
TEST_F(Placement, CursorMapsToNormalisedDeviceCoordinatesAndIsStoredUnclamped) {
  struct Case {
    double x, y, expectedX, expectedY;
  };
  // clang-format off
  const Case cases[] = {
      {320, 240, 0.0, 0.0}, {0, 0, -1.0, 1.0}, {640, 480, 1.0, -1.0}, {160, 120, -0.5, 0.5},
      {-320, 960, -2.0, -3.0}, {1280, -240, 3.0, 2.0}, {320.5, 239.75, 0.5 / 320, 0.25 / 240}};
  // clang-format on
  for (const Case& c : cases) {
    double x = c.x, y = c.y;
    toNormalised(x, y);
    EXPECT_NEAR(x, c.expectedX, 1e-12) << "at " << c.x << "," << c.y;
    EXPECT_NEAR(y, c.expectedY, 1e-12) << "at " << c.x << "," << c.y;
    selectedTriangle = 1;
    test::placementFrame(test::at(c.x, c.y));
    expectVertex(1, 2, static_cast<float>(c.expectedX), static_cast<float>(c.expectedY));
  }
}

TEST_F(Placement, ThreeClicksFixTheCornersOneByOneTheNextFrameReleasesAndAgainStartsOver) {
  test::placementFrame(test::at(0, 0, {GLFW_KEY_2}));
  ASSERT_EQ(selectedTriangle, 1);

  test::placementFrame(test::pressedAt(160, 120));  // first click
  for (int v = 0; v < 3; ++v) expectVertex(1, v, -0.5f, 0.5f);

  // A line: corners 1 and 2 follow. Only the cursor and the left button are read while placing:
  // the digit keys do not select, and the other buttons neither count nor keep the latch set.
  fake::Input line = test::at(480, 120, {GLFW_KEY_1, GLFW_KEY_5});
  line.buttons[GLFW_MOUSE_BUTTON_RIGHT] = line.buttons[GLFW_MOUSE_BUTTON_MIDDLE] = true;
  fake::calls.clear();
  test::placementFrame(line);
  EXPECT_EQ(fake::calls,
            (std::vector<std::string>{"glfwGetCursorPos(win)", "glfwGetMouseButton(win,0)"}));
  EXPECT_EQ(selectedTriangle, 1);
  EXPECT_EQ(placedVertices, 1);
  expectVertex(1, 0, -0.5f, 0.5f);
  expectVertex(1, 1, 0.5f, 0.5f);
  expectVertex(1, 2, 0.5f, 0.5f);

  test::placementFrame(test::pressedAt(480, 360));  // second click
  test::placementFrame(test::at(320, 240));         // the rubber band: corner 2 follows
  expectVertex(1, 1, 0.5f, -0.5f);
  expectVertex(1, 2, 0.0f, 0.0f);

  test::placementFrame(test::pressedAt(160, 360));  // third click
  EXPECT_EQ(placedVertices, 3);
  EXPECT_EQ(selectedTriangle, 1);  // still selected for the rest of this frame

  fake::calls.clear();
  test::placementFrame(test::at(600, 20, {GLFW_KEY_2}));  // the release frame
  EXPECT_EQ(selectedTriangle, -1);
  EXPECT_EQ(placedVertices, 0);
  EXPECT_TRUE(clickLatched);
  EXPECT_EQ(fake::calls, (std::vector<std::string>{"glfwGetCursorPos(win)"}));
  expectVertex(1, 0, -0.5f, 0.5f);
  expectVertex(1, 1, 0.5f, -0.5f);
  expectVertex(1, 2, -0.5f, -0.5f);
  for (int other : {0, 2, 3, 4}) {
    for (int v = 0; v < 3; ++v) expectVertex(other, v, 0.0f, 0.0f);
  }

  // The digit held through the release selects the triangle again, and it starts over.
  test::placementFrame(test::at(600, 20, {GLFW_KEY_2}));
  EXPECT_EQ(selectedTriangle, 1);
  test::placementFrame(test::at(480, 120));
  for (int v = 0; v < 3; ++v) expectVertex(1, v, 0.5f, 0.5f);
  EXPECT_EQ(placedVertices, 0);
}

TEST_F(Placement, ButtonHeldWhileTheCursorMovesFixesExactlyOneCorner) {
  selectedTriangle = 2;
  test::placementFrame(test::pressedAt(160, 120));
  for (int x = 161; x < 600; x += 7) test::placementFrame(test::pressedAt(x, 300));
  EXPECT_EQ(placedVertices, 1);
  expectVertex(2, 0, -0.5f, 0.5f);
  expectVertex(2, 2, static_cast<float>(595.0 / 320 - 1), -0.25f);  // the last x

  test::placementFrame(test::at(599, 300));
  test::placementFrame(test::pressedAt(599, 300));
  EXPECT_EQ(placedVertices, 2);
}

TEST_F(Placement, ButtonAlreadyDownCountsAtOnceOnlyInTheFirstPlacementOfTheRun) {
  // First placement of the run: the latch starts clear, so a held button fixes corner 0 at once.
  test::placementFrame(test::pressedAt(0, 0, {GLFW_KEY_1}));
  test::placementFrame(test::pressedAt(160, 120));
  EXPECT_EQ(placedVertices, 1);
  expectVertex(0, 0, -0.5f, 0.5f);

  for (int click = 2; click <= 3; ++click) {  // the third leaves the latch set
    test::placementFrame(test::at(0, 0));
    test::placementFrame(test::pressedAt(0, 0));
  }
  test::placementFrame(test::pressedAt(0, 0));  // release frame
  ASSERT_EQ(selectedTriangle, -1);

  // Next placement: the button still down does not count until it is released and pressed.
  test::placementFrame(test::pressedAt(0, 0, {GLFW_KEY_4}));
  test::placementFrame(test::pressedAt(480, 360));
  test::placementFrame(test::pressedAt(480, 360));
  EXPECT_EQ(placedVertices, 0);
  test::placementFrame(test::at(480, 360));
  test::placementFrame(test::pressedAt(480, 360));
  EXPECT_EQ(placedVertices, 1);
  expectVertex(3, 0, 0.5f, -0.5f);
}

}  // namespace
