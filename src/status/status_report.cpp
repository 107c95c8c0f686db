// The periodic status report.
#include "status/status_report.h"

#include <iostream>

#include "editor/triangle_set.h"
#include "status/console.h"

int frameCounter = 0;

namespace {

void writeTriangleLine(int index) {
  const Vertex* v = triangles[index].vertices;
  std::cout << "nowRendered = " << index             //
            << " | 0: x" << v[0].x << "y" << v[0].y  //
            << " 1: x" << v[1].x << "y" << v[1].y    //
            << " 2: x" << v[2].x << "y" << v[2].y << std::endl;
}

}  // namespace

void reportStatus() {
  if (frameCounter != REPORT_PERIOD) {
    ++frameCounter;
    return;
  }

  // A failed write (a reader gone, a full device) leaves the stream failed; forget that so
  // each report is attempted again rather than silenced for the rest of the run.
  std::cout.clear();
  clearConsole();
  for (int index = 0; index < TRIANGLE_COUNT; ++index) {
    writeTriangleLine(index);
  }
  std::cout << selectedTriangle << std::endl;
  frameCounter = 0;
}
