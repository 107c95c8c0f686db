// Shared helpers for the unit tests and the stage benchmarks: a clean program state, scripted
// input frames and redirections of standard output.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <iostream>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "editor/placement.h"
#include "editor/triangle_set.h"
#include "fakes/fakes.h"
#include "status/status_report.h"

// The program's entry point, compiled under this name for the tests.
int editorMain(int argc, char** argv);

namespace test {

// Puts every piece of program-wide state and the fakes back to how a run starts.
inline void resetProgram() {
  for (Triangle& triangle : triangles) triangle = Triangle{};
  selectedTriangle = -1;
  placedVertices = 0;
  clickLatched = false;
  cursorX = 0.0;
  cursorY = 0.0;
  frameCounter = 0;
  fake::reset();
}

// An input state with the cursor at (x, y) in window coordinates and the given keys down; the
// left button is down in pressedAt's.
inline fake::Input at(double x, double y, std::initializer_list<int> keys = {}) {
  fake::Input input;
  input.cursorX = x;
  input.cursorY = y;
  for (int key : keys) input.keys[key] = true;
  return input;
}
inline fake::Input pressedAt(double x, double y, std::initializer_list<int> keys = {}) {
  fake::Input input = at(x, y, keys);
  input.buttons[GLFW_MOUSE_BUTTON_LEFT] = true;
  return input;
}

// Runs one placement stage on `input`, as the frame loop would after the poll that brought it.
inline void placementFrame(const fake::Input& input) {
  fake::input = input;
  updatePlacement(fake::window());
}

// Runs the program's entry point on the polls scripted so far.
inline int runEditor() {
  char name[] = "triangle-editor";
  char* argv[] = {name, nullptr};
  return editorMain(1, argv);
}

// Accepts and discards everything, without a buffer that could grow.
class NullBuffer : public std::streambuf {
 protected:
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// Sends std::cout to `target` for as long as it lives.
class RedirectedStdout {
 public:
  explicit RedirectedStdout(std::streambuf* target) : previous_(std::cout.rdbuf(target)) {}
  ~RedirectedStdout() { std::cout.rdbuf(previous_); }
  RedirectedStdout(const RedirectedStdout&) = delete;
  RedirectedStdout& operator=(const RedirectedStdout&) = delete;

 private:
  std::streambuf* previous_;
};

// Sends std::cout into a string for as long as it lives, noting the text's length at each flush.
class CapturedStdout : std::stringbuf {
 public:
  CapturedStdout() : std::stringbuf(std::ios::out) {}
  std::string text() const { return str(); }
  const std::vector<std::size_t>& flushedLengths() const { return flushedLengths_; }

 private:
  int sync() override {
    flushedLengths_.push_back(str().size());
    return 0;
  }
  std::vector<std::size_t> flushedLengths_;
  RedirectedStdout redirect_{this};
};

}  // namespace test
