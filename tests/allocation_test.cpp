// The editor allocates nothing while it runs: every stage is counted over many frames,
// report frames included, with the global allocation functions replaced.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "test_support.h"

namespace {

bool counting = false;
long allocations = 0;

void* allocate(std::size_t size) {
  if (counting) ++allocations;
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }

namespace {

TEST(Allocation, NoStageAllocatesOverManyFramesIncludingReports) {
  test::resetProgram();
  fake::recording = false;
  const fake::Input frames[] = {test::at(0, 0, {GLFW_KEY_2}), test::at(100, 50),
                                test::pressedAt(200, 300), test::at(-50, 700),
                                test::pressedAt(600, 10)};
  {
    test::NullBuffer sink;
    test::RedirectedStdout redirect(&sink);
    counting = true;
    for (int frame = 0; frame < 20000; ++frame) {
      reportStatus();
      drawTriangles();
      test::placementFrame(frames[frame % 5]);
    }
    counting = false;
  }

  EXPECT_EQ(allocations, 0);
}

TEST(Allocation, CounterSeesAnAllocation) {
  // Guards the test above against a counter that never counts.
  counting = true;
  allocations = 0;
  delete new int(7);
  counting = false;
  EXPECT_EQ(allocations, 1);
}

}  // namespace
