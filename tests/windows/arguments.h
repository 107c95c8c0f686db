/* The command line a Windows program was started with, less the program's own name (quoted or
   not) and the blanks after it: what the Wine launcher's helper programs pass on or print. */
#pragma once
#include <string.h>
#include <windows.h>

static const char* argumentsAfterName(void) {
  const char* arguments = GetCommandLineA();
  if (*arguments == '"') {
    arguments = strchr(arguments + 1, '"');
    arguments = arguments != NULL ? arguments + 1 : "";
  } else {
    arguments += strcspn(arguments, " \t");
  }
  return arguments + strspn(arguments, " \t");
}
