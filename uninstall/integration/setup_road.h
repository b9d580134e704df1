#pragma once
// integration/: the setup road: options, its dialogs, everything setup writes.
//
// The setup road as the entry point runs it: the settings file copied from
// beside the installer, the settings dialog, the completion dialog, the note
// for 64-bit Windows and the program group opened for the user.

// Reads and sets the run's state; its outcome is cancelled when the settings
// dialog was cancelled or could not be shown.
void RunSetup();
