// Console handling for Windows and for POSIX terminals.
#include "status/console.h"

#ifdef _WIN32

#include <cstdlib>

void prepareConsole() {}

void clearConsole() { std::system("cls"); }

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
