#pragma once

// --help and --version: prints to standard output and returns true when the program
// is to end at once, before any window or the single-instance guard.
bool HandleInformationSwitches(int argc, char **argv);
