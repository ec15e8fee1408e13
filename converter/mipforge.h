// The converter's main routine, callable from tests.
#pragma once

// Prints the usage lines, checks the arguments, opens the device and runs
// one mode.  Returns the exit code (the process keeps its low 8 bits).
// The caller installs the output hook first.
int MipforgeMain(int argc, char** argv);
