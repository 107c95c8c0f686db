// The editor allocates nothing while it runs: every stage is counted over many frames, report
// frames included. Every replaceable form of new and delete (plain, array, nothrow, over-aligned,
// sized) is replaced on the C allocator: a form left to the library would hand out blocks that a
// replaced delete frees the wrong way, which AddressSanitizer and valgrind rightly report.
// Over-aligned blocks come from the platform's aligned allocator, freed only by its own free.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "test_support.h"

namespace {

bool counting = false;
long allocations = 0;

constexpr std::align_val_t PLAIN{0};

void* allocate(std::size_t size, std::align_val_t alignment = PLAIN) noexcept {
  if (counting) ++allocations;
  if (size == 0) size = 1;
  if (alignment == PLAIN) return std::malloc(size);
  const std::size_t align = std::max(static_cast<std::size_t>(alignment), sizeof(void*));
#ifdef _WIN32
  return _aligned_malloc(size, align);
#else
  return std::aligned_alloc(align, (size + align - 1) / align * align);  // whole alignments
#endif
}

// Out of line, so that the compiler never sees a block from new reach free (and warn about it).
[[gnu::noinline]] void release(void* block) noexcept { std::free(block); }

[[gnu::noinline]] void releaseAligned(void* block) noexcept {
#ifdef _WIN32
  _aligned_free(block);
#else
  std::free(block);
#endif
}

void* orThrow(void* block) {
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

}  // namespace

void* operator new(std::size_t size) { return orThrow(allocate(size)); }
void* operator new[](std::size_t size) { return orThrow(allocate(size)); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new(std::size_t size, std::align_val_t alignment) {
  return orThrow(allocate(size, alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return orThrow(allocate(size, alignment));
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return allocate(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return allocate(size, alignment);
}

void operator delete(void* block) noexcept { release(block); }
void operator delete[](void* block) noexcept { release(block); }
void operator delete(void* block, std::size_t) noexcept { release(block); }
void operator delete[](void* block, std::size_t) noexcept { release(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { release(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { release(block); }
void operator delete(void* block, std::align_val_t) noexcept { releaseAligned(block); }
void operator delete[](void* block, std::align_val_t) noexcept { releaseAligned(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { releaseAligned(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept {
  releaseAligned(block);
}
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  releaseAligned(block);
}
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  releaseAligned(block);
}

namespace {

TEST(Allocation, NoStageAllocatesOverManyFramesIncludingReports) {
  test::resetProgram();
  fake::recording = false;
  const fake::Input frames[] = {test::at(0, 0, {GLFW_KEY_2}), test::at(100, 50),
                                test::pressedAt(200, 300), test::at(-50, 700),
                                test::pressedAt(600, 10)};
  test::NullBuffer sink;
  test::RedirectedStdout redirect(&sink);
  counting = true;
  for (int frame = 0; frame < 20000; ++frame) {
    reportStatus();
    drawTriangles();
    test::placementFrame(frames[frame % 5]);
  }
  counting = false;
  EXPECT_EQ(allocations, 0);
}

struct alignas(4 * alignof(std::max_align_t)) OverAligned {
  char byte;
};

TEST(Allocation, CounterSeesEveryFormOfNew) {
  // Guards the test above against a counter that never counts, or misses a form. The blocks
  // go through a volatile pointer so that the compiler cannot drop a new and delete pair.
  counting = true;
  allocations = 0;
  int* volatile single = new int(7);
  int* volatile array = new int[3];
  int* volatile quiet = new (std::nothrow) int(1);
  OverAligned* volatile wide = new OverAligned;
  OverAligned* volatile wideArray = new OverAligned[2];
  counting = false;
  EXPECT_EQ(allocations, 5);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(wide) % alignof(OverAligned), 0u);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(wideArray) % alignof(OverAligned), 0u);
  delete single;
  delete[] array;
  delete quiet;
  delete wide;
  delete[] wideArray;
}

}  // namespace
