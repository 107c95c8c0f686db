// Substitute GLFW: scripted input and a record of calls.
#include <sstream>

#include "fakes/fakes.h"

namespace fake {

Input input;
std::deque<Input> polls;
bool initSucceeds = true;
bool windowCreates = true;
std::vector<std::string> calls;
bool recording = true;

GLFWwindow* window() {
  static char storage;
  return reinterpret_cast<GLFWwindow*>(&storage);
}

void reset() {
  input = Input{};
  polls.clear();
  initSucceeds = true;
  windowCreates = true;
  calls.clear();
  recording = true;
}

std::vector<std::string> callsStartingWith(const std::string& prefix) {
  std::vector<std::string> matching;
  for (const std::string& call : calls) {
    if (call.compare(0, prefix.size(), prefix) == 0) matching.push_back(call);
  }
  return matching;
}

std::string handle(GLFWwindow* w) { return w == window() ? "win" : "other"; }

}  // namespace fake

using fake::handle;
using fake::record;

extern "C" {

int glfwInit(void) {
  record("glfwInit()");
  return fake::initSucceeds ? GLFW_TRUE : GLFW_FALSE;
}

void glfwTerminate(void) { record("glfwTerminate()"); }

void glfwWindowHint(int hint, int value) {
  record([&] {
    std::ostringstream call;
    call << "glfwWindowHint(0x" << std::hex << hint << "," << std::dec << value << ")";
    return call.str();
  });
}

GLFWwindow* glfwCreateWindow(int width, int height, const char* title, GLFWmonitor* monitor,
                             GLFWwindow* share) {
  record([&] {
    return "glfwCreateWindow(" + std::to_string(width) + "," + std::to_string(height) + "," +
           title + "," + (monitor ? "monitor" : "null") + "," + (share ? "share" : "null") + ")";
  });
  return fake::windowCreates ? fake::window() : nullptr;
}

void glfwMakeContextCurrent(GLFWwindow* window) {
  record([&] { return "glfwMakeContextCurrent(" + handle(window) + ")"; });
}

int glfwWindowShouldClose(GLFWwindow* window) {
  record([&] { return "glfwWindowShouldClose(" + handle(window) + ")"; });
  return fake::input.closeRequested ? GLFW_TRUE : GLFW_FALSE;
}

void glfwSwapBuffers(GLFWwindow* window) {
  record([&] { return "glfwSwapBuffers(" + handle(window) + ")"; });
}

void glfwPollEvents(void) {
  record("glfwPollEvents()");
  if (fake::polls.empty()) {
    fake::input.closeRequested = true;
    return;
  }
  fake::input = fake::polls.front();
  fake::polls.pop_front();
}

int glfwGetKey(GLFWwindow* window, int key) {
  record([&] { return "glfwGetKey(" + handle(window) + "," + std::to_string(key) + ")"; });
  const bool valid = key >= 0 && key <= GLFW_KEY_LAST;
  return valid && fake::input.keys[key] ? GLFW_PRESS : GLFW_RELEASE;
}

int glfwGetMouseButton(GLFWwindow* window, int button) {
  record(
      [&] { return "glfwGetMouseButton(" + handle(window) + "," + std::to_string(button) + ")"; });
  const bool valid = button >= 0 && button <= GLFW_MOUSE_BUTTON_LAST;
  return valid && fake::input.buttons[button] ? GLFW_PRESS : GLFW_RELEASE;
}

void glfwGetCursorPos(GLFWwindow* window, double* xpos, double* ypos) {
  record([&] { return "glfwGetCursorPos(" + handle(window) + ")"; });
  if (xpos) *xpos = fake::input.cursorX;
  if (ypos) *ypos = fake::input.cursorY;
}

}  // extern "C"
