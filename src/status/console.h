// The text console the program starts with: the one place that knows how each platform
// clears it and keeps it safe to write to.
#pragma once

// Makes standard output safe to write to for the whole run; call first thing in main.
// On POSIX, descriptors 0 to 2 that are closed are opened on the null device, so that no
// later file or socket (such as the X connection) takes their place, and a reader that goes
// away makes writes fail instead of raising SIGPIPE. Elsewhere it does nothing.
void prepareConsole();

// Clears the console so the next text stands alone at its top. On Windows it runs "cls"; in a
// browser it asks the page to empty its console panel; elsewhere it writes the terminal's clear
// sequence to standard output when that is a terminal, and nothing when it is a file or pipe.
void clearConsole();
