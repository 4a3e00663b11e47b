// What the command needs to know of the terminal its progress line goes to.
#pragma once

// Columns of the terminal on standard error; 0 when it is no terminal or
// does not say.
int TerminalColumns();

// From the first call on, a change of the terminal's size is noted (POSIX:
// SIGWINCH); TerminalResized() tells whether one came since it was last
// asked. Where the system sends no such signal (Windows), it always says
// yes, and the width is read again each time.
void WatchTerminalSize();
bool TerminalResized();
