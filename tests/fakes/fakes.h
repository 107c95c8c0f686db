// Link-time substitutes for GLFW, OpenGL and the console: the code under test calls them by
// their real names, and these record each call and answer from a scripted input state.
#pragma once

#include <GLFW/glfw3.h>

#include <deque>
#include <string>
#include <vector>

namespace fake {

// What the input queries report until the next glfwPollEvents.
struct Input {
  bool keys[GLFW_KEY_LAST + 1] = {};
  bool buttons[GLFW_MOUSE_BUTTON_LAST + 1] = {};
  double cursorX = 0.0;
  double cursorY = 0.0;
  bool closeRequested = false;
};

// The input state visible now.
extern Input input;

// Each glfwPollEvents makes the next of these the visible state. When none is left, the poll
// asks the window to close, so a scripted run of the frame loop always ends.
extern std::deque<Input> polls;

// Whether glfwInit succeeds and glfwCreateWindow returns a window.
extern bool initSucceeds;
extern bool windowCreates;

// Every call made while `recording`, as "name(arguments)"; the window handed out prints as
// "win", any other handle as "other". With recording off the fakes build no text, so they
// allocate nothing.
extern std::vector<std::string> calls;
extern bool recording;

template <typename Describe>
void record(Describe describe) {
  if (recording) calls.push_back(describe());
}
inline void record(const char* call) {
  if (recording) calls.emplace_back(call);
}

// The handle glfwCreateWindow hands out.
GLFWwindow* window();

// Back to a succeeding library, idle input, no polls and an empty log, recording.
void reset();

std::vector<std::string> callsStartingWith(const std::string& prefix);

}  // namespace fake
