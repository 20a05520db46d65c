#pragma once

namespace fw::platform {

// The console's terminal, in graphics mode while the program draws: the kernel neither draws
// its text and cursor nor blanks it. Its keyboard mode is kept to give back (giveConsoleBack).
void takeTerminal();
// A crash or SIGQUIT ends the program as the signal does, with its status and any core dump,
// but with the console given back first; an exception that nothing catches ends the same way.
void giveBackOnCrash();

}
