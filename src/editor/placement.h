// The vertex placement controller: turns the polled keys, left button and cursor into edits of
// the triangle set and the selection.
#pragma once

struct GLFWwindow;

// The size the window is created with; the cursor mapping is tied to it and ignores resizes.
constexpr int WINDOW_WIDTH = 640;
constexpr int WINDOW_HEIGHT = 480;

// Number of corners of the selected triangle already fixed (0 to 3); the first corner that
// still follows the cursor.
extern int placedVertices;

// True once a press of the left button has been counted, until a placing frame finds it up.
// It carries over from one placement to the next.
extern bool clickLatched;

// The cursor as last read, in normalised device coordinates once mapped.
extern double cursorX;
extern double cursorY;

// Maps a cursor position in window coordinates (origin top-left, y down) in place to
// normalised device coordinates (origin centre, y up) of a window of the creation size.
void toNormalised(double& x, double& y);

// One placement stage. While no triangle is selected, the highest of the keys 1 to 5 found
// down selects triangle key - 1. While one is selected, its unfixed corners move to the
// cursor and a fresh press of the left button fixes one more; the frame after the third
// press releases the selection. Reads input as of the last glfwPollEvents; main thread only.
void updatePlacement(GLFWwindow* window);
