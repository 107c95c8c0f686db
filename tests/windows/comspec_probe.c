/* Stands in for the command processor in the Wine test, which points ComSpec at it: it writes
   its command line, less its own name, as one marked line to the standard output it inherits,
   so that the test sees each command the editor runs and where it falls among the report. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

int main(void) {
  const char* arguments = GetCommandLineA();
  if (*arguments == '"') {
    arguments = strchr(arguments + 1, '"');
    arguments = arguments != NULL ? arguments + 1 : "";
  } else {
    arguments += strcspn(arguments, " \t");
  }
  arguments += strspn(arguments, " \t");
  printf("comspec-probe: %s\n", arguments);
  return fflush(stdout) == 0 ? 0 : 1;
}
