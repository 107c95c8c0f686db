/* Starts the program named on its command line with this process's standard handles, waits for
   it and ends with its exit status. Wine's server SIGKILLs a process whose Unix side outlives its
   last thread by half a second (a slow exit: the GL driver's clean-up on a busy machine), which
   shows as 137 on the Unix side whatever the program returned; the server still holds the real
   status, and this parent, which loads no GL and exits at once, passes it on. */
#include <stdio.h>

#include "arguments.h"

int main(void) {
  static char command[32768];
  const char* arguments = argumentsAfterName();
  if (*arguments == '\0' || strlen(arguments) >= sizeof command) {
    fprintf(stderr, "exit-relay: usage: exit-relay PROGRAM [ARGUMENTS]\n");
    return 2;
  }
  strcpy(command, arguments);

  STARTUPINFOA startup = {.cb = sizeof startup, .dwFlags = STARTF_USESTDHANDLES};
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  SetHandleInformation(startup.hStdInput, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  SetHandleInformation(startup.hStdOutput, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  SetHandleInformation(startup.hStdError, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);

  PROCESS_INFORMATION child;
  if (!CreateProcessA(NULL, command, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &child)) {
    fprintf(stderr, "exit-relay: cannot start %s (error %lu)\n", command, GetLastError());
    return 1;
  }
  DWORD status = 1;
  if (WaitForSingleObject(child.hProcess, INFINITE) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(child.hProcess, &status)) {
    fprintf(stderr, "exit-relay: lost %s (error %lu)\n", command, GetLastError());
    return 1;
  }
  return (int)status;
}
