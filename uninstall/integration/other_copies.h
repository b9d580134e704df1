#pragma once
// Other copies of the archiver on this machine, installed or portable, each
// in a folder of its own. What of the integration names a folder where a
// copy still is belongs to that copy; a setup that replaces another copy's
// integration remembers that copy, so that its own removal can hand the
// integration back instead of taking it from the machine.
#include <windows.h>

#include "files/path_names.h"

// Whether two folder names are one folder: compared by identity where both
// can be opened, so that a short or differently spelt name is no other folder.
bool SameFolder(const wchar_t* a, const wchar_t* b);

// Whether a command or path, as setup writes it (the program first, quoted or
// not), names a file that is still there in another folder than this
// program's. folder receives that folder.
bool NamesAnotherCopy(const wchar_t* text, wchar_t (&folder)[kPathChars]);
bool NamesAnotherCopy(const wchar_t* text);

// A text value as the registry itself holds it, whatever a settings file
// routes or switches off: what the machine holds decides whose it is.
bool ReadMachineText(HKEY root, const wchar_t* subkey, const wchar_t* name,
                     wchar_t (&text)[kPathChars]);

// The archiver's classes or App Paths name the archiver in another folder
// where it still is; folder receives it.
bool IntegrationOfAnotherCopy(wchar_t (&folder)[kPathChars]);

// The single installed-programs entry runs the removal of another copy that
// is still there: it is that copy's.
bool EntryOfAnotherCopy();

// Called by setup before it writes: the integration on the machine names
// another copy that is still there, so this setup replaces it. Only an
// elevated run remembers, where only administrators write.
void RememberReplacedCopy();

// The program of the copy whose integration this installation's setup
// replaced, when that copy is still in its folder (the archiver and a
// program of this name both there): the integration goes back to it.
bool ReplacedCopyProgram(wchar_t (&program)[kPathChars]);

// The integration went back to the replaced copy, or to nobody.
void ForgetReplacedCopy();
