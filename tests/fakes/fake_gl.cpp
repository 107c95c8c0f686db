// Substitute OpenGL: records the immediate-mode calls the editor makes.
#include <sstream>
#include <string>

#include "fakes/fakes.h"

extern "C" {

void APIENTRY glClear(GLbitfield mask) {
  fake::record([&] {
    std::ostringstream call;
    call << "glClear(0x" << std::hex << mask << ")";
    return call.str();
  });
}

void APIENTRY glBegin(GLenum mode) {
  fake::record([&] { return "glBegin(" + std::to_string(mode) + ")"; });
}

void APIENTRY glVertex2f(GLfloat x, GLfloat y) {
  fake::record([&] {
    std::ostringstream call;
    call << "glVertex2f(" << x << "," << y << ")";
    return call.str();
  });
}

void APIENTRY glEnd(void) {
  fake::record([] { return std::string("glEnd()"); });
}

}  // extern "C"
