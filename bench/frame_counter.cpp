// Frame counter for scripts/bench, preloaded into both programs it compares: it wraps
// glfwSwapBuffers and keeps the swaps done, and the first one's time, in a file the driver
// reads at any moment: the same code counts both, at no cost a frame would notice.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

struct GLFWwindow;

namespace {

// The layout the driver reads (bench/frame_rate.py): two little-endian 64-bit words.
struct FrameCount {
  std::uint64_t frames;
  std::int64_t firstSwapNanoseconds;  // CLOCK_MONOTONIC, as Python's time.monotonic_ns
};

using SwapBuffers = void (*)(GLFWwindow*);

SwapBuffers realSwapBuffers = nullptr;
FrameCount* count = nullptr;

FrameCount* mapCount() {
  const char* path = std::getenv("BENCH_FRAME_COUNT");
  if (path == nullptr) {
    return nullptr;
  }
  const int fd = open(path, O_RDWR);
  if (fd < 0) {
    return nullptr;
  }
  void* page = mmap(nullptr, sizeof(FrameCount), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  return page == MAP_FAILED ? nullptr : static_cast<FrameCount*>(page);
}

std::int64_t monotonicNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

}  // namespace

extern "C" void glfwSwapBuffers(GLFWwindow* window) {
  if (realSwapBuffers == nullptr) {
    void* symbol = dlsym(RTLD_NEXT, "glfwSwapBuffers");
    if (symbol == nullptr) {
      std::fputs("frame_counter: no glfwSwapBuffers to wrap\n", stderr);
      std::abort();
    }
    // dlsym returns an object pointer; copying its bits is the portable way to a function.
    std::memcpy(&realSwapBuffers, &symbol, sizeof realSwapBuffers);
    count = mapCount();
  }
  realSwapBuffers(window);
  if (count != nullptr) {
    if (count->frames == 0) {
      count->firstSwapNanoseconds = monotonicNanoseconds();
    }
    ++count->frames;
  }
}
