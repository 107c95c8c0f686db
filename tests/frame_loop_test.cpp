// The entry point: start-up, the order of the stages in each frame, shutdown and exit status.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace {

using Calls = std::vector<std::string>;

class FrameLoop : public ::testing::Test {
 protected:
  void SetUp() override { test::resetProgram(); }
};

Calls concat(std::initializer_list<Calls> parts) {
  Calls all;
  for (const Calls& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// Start-up to the window; the hints (by number, so that any GLFW header is checked alike) follow
// glfwInit, which would forget them: no alpha channel (GLFW_ALPHA_BITS 0), so nothing behind shows
// through; a framebuffer of the window's size (GLFW_SCALE_FRAMEBUFFER false), at any scale.
const Calls kStart = {"prepareConsole()", "glfwInit()", "glfwWindowHint(0x21004,0)",
                      "glfwWindowHint(0x2200d,0)",
                      "glfwCreateWindow(640,480,Hello World,null,null)"};

const Calls kDrawCentred = {"glBegin(4)", "glVertex2f(0,0)", "glVertex2f(0,0)", "glVertex2f(0,0)",
                            "glEnd()"};
const Calls kDrawUntouched =
    concat({kDrawCentred, kDrawCentred, kDrawCentred, kDrawCentred, kDrawCentred});

const Calls kIdlePlacement = {"glfwGetKey(win,49)", "glfwGetKey(win,50)", "glfwGetKey(win,51)",
                              "glfwGetKey(win,52)", "glfwGetKey(win,53)"};

TEST_F(FrameLoop, EveryFrameRunsItsStagesInOrderAndTheEleventhReportsBetweenClearAndDrawing) {
  fake::polls.assign(REPORT_PERIOD, test::at(1, 1));  // then the eleventh poll closes
  test::CapturedStdout out;

  EXPECT_EQ(test::runEditor(), 0);

  Calls expected = concat({kStart, {"glfwMakeContextCurrent(win)"}});
  for (int frame = 1; frame <= REPORT_PERIOD + 1; ++frame) {
    const Calls report = frame > REPORT_PERIOD ? Calls{"clearConsole()"} : Calls{};
    expected = concat({expected,
                       {"glfwWindowShouldClose(win)", "glClear(0x4000)"},
                       report,
                       kDrawUntouched,
                       {"glfwSwapBuffers(win)", "glfwPollEvents()"},
                       kIdlePlacement});
  }
  EXPECT_EQ(fake::calls, concat({expected, {"glfwWindowShouldClose(win)", "glfwTerminate()"}}));
  EXPECT_NE(out.text(), "");
}

TEST_F(FrameLoop, FailedStartEndsWithMinusOneAndTerminatesOnlyAStartedLibrary) {
  fake::initSucceeds = false;
  EXPECT_EQ(test::runEditor(), -1);
  EXPECT_EQ(fake::calls, (Calls{"prepareConsole()", "glfwInit()"}));

  test::resetProgram();
  fake::windowCreates = false;
  EXPECT_EQ(test::runEditor(), -1);
  EXPECT_EQ(fake::calls, concat({kStart, {"glfwTerminate()"}}));
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
