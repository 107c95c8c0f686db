/* Stands in for the command processor in the Wine test, which points ComSpec at it: it writes
   its command line, less its own name, as one marked line to the standard output it inherits,
   so that the test sees each command the editor runs and where it falls among the report. */
#include <stdio.h>

#include "arguments.h"

int main(void) {
  printf("comspec-probe: %s\n", argumentsAfterName());
  return fflush(stdout) == 0 ? 0 : 1;
}
