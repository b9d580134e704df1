#pragma once
// startup/: the top layer: entry point, option parser, the choice of road.
//
// The whole run of the program, from start-up to the exit code.
#include <windows.h>

int RunProgram(HINSTANCE instance);
