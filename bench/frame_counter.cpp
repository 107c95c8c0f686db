// Frame counter for scripts/bench, preloaded into both programs it compares: it wraps
// glfwSwapBuffers and keeps the swaps done, and the first one's time, in a file the driver reads
// at any moment, so the same code counts both.
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

void (*realSwapBuffers)(GLFWwindow*) = nullptr;
FrameCount* count = nullptr;

FrameCount* mapCount() {
  const char* path = std::getenv("BENCH_FRAME_COUNT");
  const int fd = path == nullptr ? -1 : open(path, O_RDWR);
  if (fd < 0) {
    return nullptr;
  }
  void* page = mmap(nullptr, sizeof(FrameCount), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  return page == MAP_FAILED ? nullptr : static_cast<FrameCount*>(page);
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
      timespec now{};
      clock_gettime(CLOCK_MONOTONIC, &now);
      count->firstSwapNanoseconds =
          static_cast<std::int64_t>(now.tv_sec) * 1000000000LL + now.tv_nsec;
    }
    ++count->frames;
  }
}
