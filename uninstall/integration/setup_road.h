#pragma once
// integration/: the setup road: options, its dialogs, everything setup writes.
//
// The setup road as the entry point runs it: the settings dialog, the copied
// settings file, the completion dialog, the note for 64-bit Windows and the
// program group opened in Explorer.

// Reads and sets the run's state; ExitCode is 1 when the settings dialog was
// cancelled or could not be shown.
void RunSetup();
