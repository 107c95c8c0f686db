// Per-stage timings of one frame, over the link-seam fakes of GLFW, OpenGL and the console
// with call recording off, so that only the editor's own work is measured.
#include <benchmark/benchmark.h>

#include <fstream>

#include "test_support.h"

namespace {

// Every triangle placed, at coordinates of several digits; none selected, idle, not recorded.
void prepareEditedState() {
  test::resetProgram();
  fake::recording = false;
  for (int t = 0; t < TRIANGLE_COUNT; ++t) {
    const float offset = 0.1f * static_cast<float>(t);
    triangles[t] = Triangle{{{-0.5f + offset, 0.5f}, {0.25f, -0.0416667f + offset}, {0.0f, -1.0f}}};
  }
}

// A frame while placing: cursor mapped, unfixed corners moved, button up (so it never completes).
void placingFrame(benchmark::State& state) {
  prepareEditedState();
  fake::input = test::at(417, 123);
  for (auto _ : state) {
    selectedTriangle = 2;
    placedVertices = 1;
    updatePlacement(fake::window());
    benchmark::DoNotOptimize(triangles);
  }
}
BENCHMARK(placingFrame);

// A frame with nothing selected and no key down: the five key queries.
void choosingFrame(benchmark::State& state) {
  prepareEditedState();
  for (auto _ : state) {
    updatePlacement(fake::window());
    benchmark::DoNotOptimize(selectedTriangle);
  }
}
BENCHMARK(choosingFrame);

// Ten frames in eleven: the report stage only counts.
void countingReportFrame(benchmark::State& state) {
  prepareEditedState();
  for (auto _ : state) {
    frameCounter = 0;
    reportStatus();
    benchmark::DoNotOptimize(frameCounter);
  }
}
BENCHMARK(countingReportFrame);

// The eleventh frame: six lines formatted and flushed to the null device, one write each.
void reportFrameToDevNull(benchmark::State& state) {
  prepareEditedState();
  std::ofstream devNull("/dev/null");
  test::RedirectedStdout redirect(devNull.rdbuf());
  for (auto _ : state) {
    frameCounter = REPORT_PERIOD;
    reportStatus();
  }
}
BENCHMARK(reportFrameToDevNull);

// The same report with the writes discarded in memory: formatting alone.
void reportFrameFormattingOnly(benchmark::State& state) {
  prepareEditedState();
  test::NullBuffer sink;
  test::RedirectedStdout redirect(&sink);
  for (auto _ : state) {
    frameCounter = REPORT_PERIOD;
    reportStatus();
  }
}
BENCHMARK(reportFrameFormattingOnly);

// Five begin/end pairs of three vertices each, against a GL that does nothing.
void drawingFrame(benchmark::State& state) {
  prepareEditedState();
  for (auto _ : state) {
    drawTriangles();
    benchmark::ClobberMemory();
  }
}
BENCHMARK(drawingFrame);

// The editor's own share of an average frame: every stage, the report 1 in 11, to /dev/null.
void averageFrame(benchmark::State& state) {
  prepareEditedState();
  std::ofstream devNull("/dev/null");
  test::RedirectedStdout redirect(devNull.rdbuf());
  for (auto _ : state) {
    reportStatus();
    drawTriangles();
    updatePlacement(fake::window());
  }
}
BENCHMARK(averageFrame);

}  // namespace

BENCHMARK_MAIN();
