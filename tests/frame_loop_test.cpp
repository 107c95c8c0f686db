// The entry point: start-up, the order of the stages in each frame, shutdown and exit status.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using Calls = std::vector<std::string>;

class FrameLoop : public ::testing::Test {
 protected:
  void SetUp() override { test::resetProgram(); }
};

const Calls kDrawUntouched = [] {
  Calls calls;
  for (int i = 0; i < TRIANGLE_COUNT; ++i) {
    calls.insert(calls.end(), {"glBegin(4)", "glVertex2f(0,0)", "glVertex2f(0,0)",
                               "glVertex2f(0,0)", "glEnd()"});
  }
  return calls;
}();

const Calls kIdlePlacement = {"glfwGetKey(win,49)", "glfwGetKey(win,50)", "glfwGetKey(win,51)",
                              "glfwGetKey(win,52)", "glfwGetKey(win,53)"};

// The hints made before the window, by their numbers, so that a binary built with any GLFW
// header is checked alike: no alpha channel (GLFW_ALPHA_BITS 0), so no compositor or browser
// shows what lies behind the window where nothing is drawn; and a framebuffer that keeps the
// window's size (GLFW_SCALE_FRAMEBUFFER false, a hint that only GLFW 3.4 knows), so the picture
// fills the window at any output scale.
const Calls kHints = {"glfwWindowHint(0x21004,0)", "glfwWindowHint(0x2200d,0)"};

Calls concat(std::initializer_list<Calls> parts) {
  Calls all;
  for (const Calls& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

TEST_F(FrameLoop, OneFrameMakesEveryCallInOrderAndEndsWithZero) {
  fake::Input closing;
  closing.closeRequested = true;
  fake::polls = {closing};

  EXPECT_EQ(test::runEditor(), 0);

  const Calls expected = concat({
      {"prepareConsole()", "glfwInit()"},
      kHints,
      {"glfwCreateWindow(640,480,Hello World,null,null)", "glfwMakeContextCurrent(win)",
       "glfwWindowShouldClose(win)", "glClear(0x4000)"},
      kDrawUntouched,
      {"glfwSwapBuffers(win)", "glfwPollEvents()"},
      kIdlePlacement,
      {"glfwWindowShouldClose(win)", "glfwTerminate()"},
  });
  EXPECT_EQ(fake::calls, expected);
}

TEST_F(FrameLoop, EveryFrameRunsItsStagesInTheSameOrder) {
  fake::polls = {test::at(1, 1), test::at(2, 2), test::at(3, 3)};  // then the fake closes

  EXPECT_EQ(test::runEditor(), 0);

  // Four frames: three scripted polls, and the fourth poll reports the close.
  const Calls frame = concat({{"glfwWindowShouldClose(win)", "glClear(0x4000)"},
                              kDrawUntouched,
                              {"glfwSwapBuffers(win)", "glfwPollEvents()"},
                              kIdlePlacement});
  const Calls expected =
      concat({{"prepareConsole()", "glfwInit()"},
              kHints,
              {"glfwCreateWindow(640,480,Hello World,null,null)", "glfwMakeContextCurrent(win)"},
              frame,
              frame,
              frame,
              frame,
              {"glfwWindowShouldClose(win)", "glfwTerminate()"}});
  EXPECT_EQ(fake::calls, expected);
}

TEST_F(FrameLoop, FailedLibraryStartEndsWithMinusOneAndNoWindow) {
  fake::initSucceeds = false;

  EXPECT_EQ(test::runEditor(), -1);
  EXPECT_EQ(fake::calls, (Calls{"prepareConsole()", "glfwInit()"}));
}

TEST_F(FrameLoop, FailedWindowCreationTerminatesOnceAndEndsWithMinusOne) {
  fake::windowCreates = false;

  EXPECT_EQ(test::runEditor(), -1);
  EXPECT_EQ(fake::calls,
            concat({{"prepareConsole()", "glfwInit()"},
                    kHints,
                    {"glfwCreateWindow(640,480,Hello World,null,null)", "glfwTerminate()"}}));
}

TEST_F(FrameLoop, BothHintsComeRightBeforeTheWindowAndNeverAgain) {
  fake::polls = {test::at(1, 1), test::at(2, 2)};

  EXPECT_EQ(test::runEditor(), 0);

  // Hints given before glfwInit would be lost, and hints after the window change nothing.
  EXPECT_EQ(fake::callsStartingWith("glfwWindowHint"), kHints);
  const auto init = std::find(fake::calls.begin(), fake::calls.end(), "glfwInit()");
  ASSERT_NE(init, fake::calls.end());
  EXPECT_EQ(Calls(init + 1, init + 1 + kHints.size()), kHints);
  EXPECT_EQ(*(init + 1 + kHints.size()), "glfwCreateWindow(640,480,Hello World,null,null)");
}

TEST_F(FrameLoop, CloseRequestStillLetsThatFramesPlacementRun) {
  fake::Input keyAndClose = test::at(100, 100, {GLFW_KEY_3});
  keyAndClose.closeRequested = true;
  fake::polls = {keyAndClose};

  EXPECT_EQ(test::runEditor(), 0);
  EXPECT_EQ(selectedTriangle, 2);
  EXPECT_EQ(fake::callsStartingWith("glClear").size(), 1u);
}

TEST_F(FrameLoop, AnEditIsFirstDrawnInTheFrameAfterIt) {
  // Poll 1 selects triangle 0; poll 2 moves it to the cursor; frame 3 draws it there.
  fake::polls = {test::at(0, 0, {GLFW_KEY_1}), test::at(480, 120)};

  EXPECT_EQ(test::runEditor(), 0);

  const Calls vertices = fake::callsStartingWith("glVertex2f");
  ASSERT_EQ(vertices.size(), 3u * 3u * TRIANGLE_COUNT);
  EXPECT_EQ(vertices[0], "glVertex2f(0,0)");   // frame 1
  EXPECT_EQ(vertices[15], "glVertex2f(0,0)");  // frame 2: selected, not yet moved
  EXPECT_EQ(vertices[30], "glVertex2f(0.5,0.5)");
  EXPECT_EQ(vertices[32], "glVertex2f(0.5,0.5)");
}

}  // namespace
