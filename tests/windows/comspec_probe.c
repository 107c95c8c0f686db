/* Stands in for the command processor in the Wine test (ComSpec points at it): writes its command
   line, less its own name, as one marked line to stderr and then to the stdout it inherits, where
   the test sees each command the editor runs among the report's lines. */
#include <stdio.h>

#include "arguments.h"

int main(void) {
  fprintf(stderr, "comspec-probe: %s\n", argumentsAfterName());
  printf("comspec-probe: %s\n", argumentsAfterName());
  return fflush(stdout) == 0 ? 0 : 1;
}
