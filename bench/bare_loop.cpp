// Measuring baseline for scripts/bench: the same window as the editor (size, title, library
// defaults), and per frame only the clear, the swap and the poll, so that the editor's frame
// rate can be read against what the window system and the GL driver allow by themselves.
#include <GLFW/glfw3.h>

#include <csignal>
#include <cstdio>
#include <ctime>

namespace {

volatile std::sig_atomic_t sampleRequested = 0;

void requestSample(int) { sampleRequested = 1; }

long long monotonicNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

}  // namespace

int main() {
  // SIGUSR1 asks for the count so far, so the driver can measure over a window of time that
  // leaves start-up out. Nothing is written otherwise until the window closes.
  std::signal(SIGUSR1, requestSample);

  if (!glfwInit()) {
    return -1;
  }
  GLFWwindow* window = glfwCreateWindow(640, 480, "Hello World", nullptr, nullptr);
  if (window == nullptr) {
    glfwTerminate();
    return -1;
  }
  glfwMakeContextCurrent(window);

  long long frames = 0;
  long long firstFrameAt = 0;
  while (!glfwWindowShouldClose(window)) {
    glClear(GL_COLOR_BUFFER_BIT);
    glfwSwapBuffers(window);
    glfwPollEvents();
    if (++frames == 1) firstFrameAt = monotonicNanoseconds();
    if (sampleRequested) {
      sampleRequested = 0;
      std::printf("sample %lld %lld\n", frames, monotonicNanoseconds());
      std::fflush(stdout);
    }
  }

  // Times are CLOCK_MONOTONIC nanoseconds, the clock the driver reads too.
  std::printf("frames %lld first-frame %lld\n", frames, firstFrameAt);
  glfwTerminate();
  return 0;
}
