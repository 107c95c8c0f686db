// The periodic status report: every eleventh frame the console is cleared and shows the
// coordinates of all triangles and the selected index.
#pragma once

// Frames counted since the last report, 0 to REPORT_PERIOD.
extern int frameCounter;

// The count at which the next frame reports instead of counting.
constexpr int REPORT_PERIOD = 10;

// One report stage: counts the frame, or, when REPORT_PERIOD frames have been counted,
// clears the console and writes six lines to standard output, each flushed: one per
// triangle, then the selection. Write failures are ignored and the next report tries again.
// Main thread only.
void reportStatus();
