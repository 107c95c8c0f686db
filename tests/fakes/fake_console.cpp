// Substitute console: records that it was asked to clear instead of touching the terminal.
#include "fakes/fakes.h"
#include "status/console.h"

void prepareConsole() { fake::record("prepareConsole()"); }

void clearConsole() { fake::record("clearConsole()"); }
