// Substitute OpenGL: records the immediate-mode calls the editor makes.
#ifdef _WIN32
// The headers declare these functions imported from opengl32.dll; here they are defined.
#define WINGDIAPI
#endif
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

void APIENTRY glEnd(void) { fake::record("glEnd()"); }

}  // extern "C"

#ifdef _WIN32
// The editor's code calls these functions through the import table, as its headers declare them
// imported from opengl32.dll: each call reads the pointer __imp_<symbol>. These pointers lead
// those calls here. A 32-bit stdcall symbol ends in the size of its arguments.
#ifdef _WIN64
#define IMPORT_POINTER(function, argumentBytes) \
  extern "C" decltype(&function) const function##Pointer asm("__imp_" #function) = &function
#else
#define IMPORT_POINTER(function, argumentBytes) \
  extern "C" decltype(&function)                \
      const function##Pointer asm("__imp__" #function "@" #argumentBytes) = &function
#endif
IMPORT_POINTER(glClear, 4);
IMPORT_POINTER(glBegin, 4);
IMPORT_POINTER(glVertex2f, 8);
IMPORT_POINTER(glEnd, 0);
#endif
