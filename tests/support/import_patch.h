#pragma once
// Faults that Wine cannot produce (an access-denied registry, a junction) are
// made inside the test binary by swapping one of its own import slots.
#include <windows.h>

// Writes the replacement into this module's import slot of library!function
// and returns the address it held, or null when the module does not import it.
void* SwapImport(const char* library, const char* function, void* replacement);
