// The editor's document: five triangles in normalised device coordinates and the index of the
// one being placed, plus the drawing of all five.
#pragma once

// One corner in normalised device coordinates: -1..+1 across the viewport, x right, y up.
struct Vertex {
  float x;
  float y;
};

// Three corners in the order in which placement fixes them.
struct Triangle {
  Vertex vertices[3];
};

constexpr int TRIANGLE_COUNT = 5;

// All coordinates start at 0.0, so every triangle starts collapsed at the centre.
extern Triangle triangles[TRIANGLE_COUNT];

// Index of the triangle being placed, 0 to TRIANGLE_COUNT - 1, or -1 while none is.
extern int selectedTriangle;

// Draws every triangle, in index order, in the current GL colour as a filled GL_TRIANGLES
// primitive of its own. Needs the window's context to be current on the calling thread.
void drawTriangles();
