#pragma once
// Takes back what setup wrote into the registry and the shell: the apply
// operations run with nothing chosen, then the archiver's own keys go.

// Nothing is reported; a key that is missing or refused is passed over.
// Reads MsiMode: an installer package keeps its App Paths. The uninstall
// entry stays: it goes last, with RemoveUninstallEntry.
void RemoveIntegration();

// The entry in the list of installed programs, which lets the user run the
// removal again until it is done; an installer package keeps its own.
void RemoveUninstallEntry();
