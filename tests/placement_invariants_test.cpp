// A long randomised run of the placement stage: whatever the keys, button and cursor do, the
// state stays in range, only the selected triangle changes, and fixed corners stay put.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "test_support.h"

namespace {

bool sameVertex(const Vertex& a, const Vertex& b) {
  return std::memcmp(&a, &b, sizeof(Vertex)) == 0;
}

TEST(PlacementInvariants, HoldOverAHundredThousandRandomFrames) {
  test::resetProgram();
  fake::recording = false;
  std::mt19937 random(20261208);
  std::uniform_real_distribution<double> cursor(-400.0, 1100.0);
  std::bernoulli_distribution keyDown(0.02);
  std::bernoulli_distribution buttonToggles(0.15);

  const int kFrames = 200000;
  const int otherKeys[] = {GLFW_KEY_KP_1, GLFW_KEY_KP_2, GLFW_KEY_0, GLFW_KEY_6, GLFW_KEY_SPACE};
  bool button = false;
  int completedPlacements = 0;
  int clicksCounted = 0;

  for (int frame = 0; frame < kFrames; ++frame) {
    fake::Input input = test::at(cursor(random), cursor(random));
    for (int key = GLFW_KEY_1; key <= GLFW_KEY_5; ++key) input.keys[key] = keyDown(random);
    for (int key : otherKeys) input.keys[key] = keyDown(random);
    if (buttonToggles(random)) button = !button;
    input.buttons[GLFW_MOUSE_BUTTON_LEFT] = button;
    input.buttons[GLFW_MOUSE_BUTTON_RIGHT] = keyDown(random);

    Triangle before[TRIANGLE_COUNT];
    std::memcpy(before, triangles, sizeof(triangles));
    const int selectedBefore = selectedTriangle;
    const int placedBefore = placedVertices;

    test::placementFrame(input);

    ASSERT_GE(selectedTriangle, -1);
    ASSERT_LE(selectedTriangle, TRIANGLE_COUNT - 1);
    ASSERT_GE(placedVertices, 0);
    ASSERT_LE(placedVertices, 3);
    ASSERT_TRUE(selectedTriangle >= 0 || placedVertices == 0) << "corners fixed, none selected";

    for (int i = 0; i < TRIANGLE_COUNT; ++i) {
      for (int v = 0; v < 3; ++v) {
        const bool mayMove = i == selectedBefore && v >= placedBefore && placedBefore < 3;
        if (!mayMove) {
          ASSERT_TRUE(sameVertex(triangles[i].vertices[v], before[i].vertices[v]))
              << "frame " << frame << ", triangle " << i << ", vertex " << v;
        }
      }
    }
    // A corner moves only to the cursor of this frame.
    if (selectedBefore >= 0 && placedBefore < 3) {
      const Vertex& moved = triangles[selectedBefore].vertices[2];
      ASSERT_EQ(moved.x, static_cast<float>(cursorX));
      ASSERT_EQ(moved.y, static_cast<float>(cursorY));
    }
    // Selection changes only from idle, and release only follows three fixed corners.
    if (selectedBefore >= 0 && selectedTriangle != selectedBefore) {
      ASSERT_EQ(placedBefore, 3);
      ASSERT_EQ(selectedTriangle, -1);
      ++completedPlacements;
    }
    if (placedVertices > placedBefore) {
      ASSERT_EQ(placedVertices, placedBefore + 1);
      ASSERT_TRUE(button);
      ++clicksCounted;
    }
  }
  // The run really exercised placement, not just idle frames.
  EXPECT_GT(completedPlacements, 1000);
  EXPECT_GT(clicksCounted, 3 * 1000);
}

}  // namespace
