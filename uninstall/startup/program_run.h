#pragma once
// The whole run of the program, from start-up to the exit code.
#include <windows.h>

int RunProgram(HINSTANCE instance);
// The setup road: settings dialog, post-setup steps, completion dialog.
void RunSetupRoad();
