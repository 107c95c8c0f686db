// The status report: when it comes, and its exact text.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

// A report's text: triangle `edited` (none if -1) shows `corners`, the others the centre.
std::string reportText(int edited, const std::string& corners, int selected) {
  std::string text;
  for (int i = 0; i < TRIANGLE_COUNT; ++i) {
    text += "nowRendered = " + std::to_string(i) + " | " +
            (i == edited ? corners : "0: x0y0 1: x0y0 2: x0y0") + "\n";
  }
  return text + std::to_string(selected) + "\n";
}

class StatusReport : public ::testing::Test {
 protected:
  void SetUp() override { test::resetProgram(); }
};

TEST_F(StatusReport, EveryEleventhFrameClearsAndWritesTheFixedLinesEachFlushed) {
  triangles[1] = Triangle{{{-0.5f, 0.5f}, {0.25f, 0.0f}, {0.0f, -1.0f}}};
  selectedTriangle = 1;
  std::vector<int> reportFrames;
  for (int frame = 1; frame <= 50; ++frame) {
    test::CapturedStdout out;
    reportStatus();
    if (out.text().empty()) {
      EXPECT_EQ(frameCounter, frame % 11) << "frame " << frame;
    } else {
      reportFrames.push_back(frame);
      EXPECT_EQ(frameCounter, 0);
      EXPECT_EQ(out.text(), reportText(1, "0: x-0.5y0.5 1: x0.25y0 2: x0y-1", 1));
      // Each line is flushed as soon as it ends, so a reader of a file or pipe never waits for
      // a line the editor has written, nor sees half of one.
      std::vector<std::size_t> lineEnds;
      for (std::size_t end = out.text().find('\n'); end != std::string::npos;
           end = out.text().find('\n', end + 1)) {
        lineEnds.push_back(end + 1);
      }
      EXPECT_EQ(out.flushedLengths(), lineEnds);
    }
    EXPECT_EQ(fake::calls, std::vector<std::string>(reportFrames.size(), "clearConsole()"))
        << "frame " << frame;
  }
  EXPECT_EQ(reportFrames, (std::vector<int>{11, 22, 33, 44}));
}

TEST_F(StatusReport, CoordinatesUseTheStreamsDefaultFloatFormat) {
  struct Case {
    float value;
    const char* text;
  };
  // clang-format off
  const Case cases[] = {
      {0.0f, "0"}, {-1.0f, "-1"}, {-0.0f, "-0"}, {0.5f, "0.5"}, {-0.3125f, "-0.3125"},
      {1.0f / 3.0f, "0.333333"}, {0.0001f, "0.0001"}, {0.00001f, "1e-05"},
      {123456.0f, "123456"}, {1234567.0f, "1.23457e+06"}};
  // clang-format on
  for (const Case& c : cases) {
    triangles[4].vertices[2] = {c.value, -c.value};
    test::CapturedStdout out;
    for (int frame = 0; frame <= REPORT_PERIOD; ++frame) reportStatus();
    const std::string report = out.text();
    const std::string expected = std::string(" 2: x") + c.text + "y";
    EXPECT_NE(report.find(expected, report.find("nowRendered = 4")), std::string::npos)
        << report << " lacks " << expected;
  }
}

TEST_F(StatusReport, ShowsWhatThePreviousFramesPlacementLeft) {
  // Frames 1 and 2 select triangle 3 and move it to the cursor; frame 11 reports while it is
  // being placed, frames 12, 14 and 21 click, and frame 22 reports it placed.
  fake::polls.push_back(test::at(0, 0, {GLFW_KEY_4}));
  for (int frame = 2; frame <= 10; ++frame) fake::polls.push_back(test::at(160, 120));
  fake::polls.push_back(test::at(480, 360));         // frame 11: moves after the report
  fake::polls.push_back(test::pressedAt(160, 360));  // frame 12
  fake::polls.push_back(test::at(480, 360));
  fake::polls.push_back(test::pressedAt(480, 360));
  for (int frame = 15; frame <= 20; ++frame) fake::polls.push_back(test::at(320, 0));
  fake::polls.push_back(test::pressedAt(320, 0));  // frame 21: third click

  test::CapturedStdout out;
  EXPECT_EQ(test::runEditor(), 0);

  EXPECT_EQ(out.text(), reportText(3, "0: x-0.5y0.5 1: x-0.5y0.5 2: x-0.5y0.5", 3) +
                            reportText(3, "0: x-0.5y-0.5 1: x0.5y-0.5 2: x0y1", 3));
  EXPECT_EQ(fake::callsStartingWith("clearConsole").size(), 2u);
}

TEST_F(StatusReport, KeepsReportingAfterAFailedWrite) {
  test::CapturedStdout out;
  for (int i = 0; i < REPORT_PERIOD; ++i) reportStatus();
  std::cout.setstate(std::ios::badbit);  // as a write to a vanished reader leaves it
  reportStatus();
  EXPECT_EQ(out.text(), reportText(-1, "", -1));
}

}  // namespace
