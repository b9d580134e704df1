#pragma once
// Takes back what setup wrote into the registry and the shell: the apply
// operations run with nothing chosen, then the archiver's own keys go.

// Nothing is reported; a key that is missing or refused is passed over.
// Reads MsiMode: an installer package keeps its uninstall entry and App Paths.
void RemoveIntegration();
