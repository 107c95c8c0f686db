// Console handling for Windows, for a browser page and for POSIX terminals.
#include "status/console.h"

#ifdef _WIN32

#include <cstdlib>

void prepareConsole() {}

void clearConsole() { std::system("cls"); }

#elif defined(__EMSCRIPTEN__)

#include <emscripten/emscripten.h>

// The page's console is a text panel that the page itself empties (its Module.clearConsole).
// Lines reach the panel as each is flushed, so everything printed before this call is there
// already and everything after lands in the emptied panel.
EM_JS(void, clearPagePanel, (), {
  if (Module["clearConsole"]) Module["clearConsole"]();
});

void prepareConsole() {}

void clearConsole() { clearPagePanel(); }

#else

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <iostream>

void prepareConsole() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      // open() takes the lowest free descriptor, which is this one.
      open("/dev/null", O_RDWR);
    }
  }
  std::signal(SIGPIPE, SIG_IGN);
}

void clearConsole() {
  // Cursor home, erase the screen, erase the scroll-back. Standard output does not change
  // kind during the run, so it is examined once.
  static const bool isTerminal = isatty(STDOUT_FILENO) == 1;
  if (isTerminal) {
    std::cout << "\033[H\033[2J\033[3J";
  }
}

#endif
