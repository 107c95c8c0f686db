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

  // Selects `triangle` and leaves it placing with `clicks` corners fixed at the cursor (0, 0).
  static void placing(int triangle, int clicks) {
    selectedTriangle = triangle;
    for (int i = 0; i < clicks; ++i) {
      test::placementFrame(test::pressedAt(0, 0));
      test::placementFrame(test::at(0, 0));
    }
    ASSERT_EQ(placedVertices, clicks);
  }
};

TEST_F(Placement, DigitKeySelectsItsTriangleAndMovesNothingUntilTheNextFrame) {
  test::placementFrame(test::at(480, 120, {GLFW_KEY_3}));

  EXPECT_EQ(selectedTriangle, 2);
  EXPECT_TRUE(fake::callsStartingWith("glfwGetCursorPos").empty());
  EXPECT_TRUE(fake::callsStartingWith("glfwGetMouseButton").empty());
  expectVertex(2, 0, 0.0f, 0.0f);

  test::placementFrame(test::at(480, 120));
  for (int v = 0; v < 3; ++v) expectVertex(2, v, 0.5f, 0.5f);
  EXPECT_EQ(placedVertices, 0);
}

TEST_F(Placement, HighestNumberedKeyDownWins) {
  test::placementFrame(test::at(0, 0, {GLFW_KEY_2, GLFW_KEY_4}));
  EXPECT_EQ(selectedTriangle, 3);
  // All five keys are tested, also after the first match.
  EXPECT_EQ(fake::callsStartingWith("glfwGetKey").size(), 5u);

  test::resetProgram();
  test::placementFrame(
      test::at(0, 0, {GLFW_KEY_1, GLFW_KEY_2, GLFW_KEY_3, GLFW_KEY_4, GLFW_KEY_5}));
  EXPECT_EQ(selectedTriangle, 4);
}

TEST_F(Placement, KeysOtherThanTheMainRowDigitsNeverSelect) {
  test::placementFrame(test::pressedAt(320, 240,
                                       {GLFW_KEY_KP_1, GLFW_KEY_KP_3, GLFW_KEY_KP_5, GLFW_KEY_0,
                                        GLFW_KEY_6, GLFW_KEY_A, GLFW_KEY_ESCAPE}));
  EXPECT_EQ(selectedTriangle, -1);
  EXPECT_EQ(placedVertices, 0);
  EXPECT_FALSE(clickLatched);
}

// Positions beyond the window map beyond -1..1 and are stored so; a fraction of a screen unit
// stays in the value, narrowed only to float.
TEST_F(Placement, CursorMapsToNormalisedDeviceCoordinatesAndIsStoredUnclamped) {
  struct Case {
    double x, y, expectedX, expectedY;
  };
  const Case cases[] = {
      {320, 240, 0.0, 0.0},
      {0, 0, -1.0, 1.0},
      {640, 480, 1.0, -1.0},
      {160, 120, -0.5, 0.5},
      {-320, 960, -2.0, -3.0},
      {1280, -240, 3.0, 2.0},
      {320.5, 239.75, 0.5 / 320, 0.25 / 240},
  };
  for (const Case& c : cases) {
    double x = c.x;
    double y = c.y;
    toNormalised(x, y);
    EXPECT_NEAR(x, c.expectedX, 1e-12) << "at " << c.x << "," << c.y;
    EXPECT_NEAR(y, c.expectedY, 1e-12) << "at " << c.x << "," << c.y;
    placing(1, 0);
    test::placementFrame(test::at(c.x, c.y));
    expectVertex(1, 2, static_cast<float>(c.expectedX), static_cast<float>(c.expectedY));
  }
}

TEST_F(Placement, ThreeClicksFixTheCornersOneByOneAndTheNextFrameReleases) {
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
  test::placementFrame(test::at(600, 20, {GLFW_KEY_4}));  // the release frame
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
}

TEST_F(Placement, ButtonHeldWhileTheCursorMovesFixesExactlyOneCorner) {
  placing(2, 0);
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

TEST_F(Placement, DigitHeldThroughTheReleaseSelectsAgainAndTheTriangleStartsOver) {
  placing(2, 2);
  test::placementFrame(test::pressedAt(480, 120, {GLFW_KEY_3}));  // third click
  test::placementFrame(test::at(480, 120, {GLFW_KEY_3}));         // release, no key tested
  ASSERT_EQ(selectedTriangle, -1);
  test::placementFrame(test::at(480, 120, {GLFW_KEY_3}));  // selects again
  EXPECT_EQ(selectedTriangle, 2);
  expectVertex(2, 2, 0.5f, 0.5f);
  expectVertex(2, 0, -1.0f, 1.0f);

  test::placementFrame(test::at(160, 360));  // all three old corners jump to the cursor
  for (int v = 0; v < 3; ++v) expectVertex(2, v, -0.5f, -0.5f);
  EXPECT_EQ(placedVertices, 0);
}

}  // namespace
