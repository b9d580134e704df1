#pragma once
// What the uninstall looks at before it removes anything, so that a removal
// that could not reach its end never begins: the command processor that
// will delete the program, whether the list reads to its end, and whether
// an earlier run has left nothing but the program's own deletion to do.
// None of them changes anything on the disk or in the registry.
#include <cstdio>

#include "files/path_names.h"

// The command processor from "COMSPEC". An elevated run takes the one in
// the system folder: the user's environment must not choose what runs with
// the administrator's rights.
bool CommandProcessor(wchar_t (&path)[kPathChars]);

// Whether every line of the list can be read, asked before anything is
// removed; the list is back at its start afterwards.
bool ListReadsToItsEnd(FILE* list);

// A run ended after the list went and before the command processor took
// over leaves the program alone in its folder (beside files that wait for
// the restart), with no entry in the list of installed programs: all that
// is left to do is the program's own deletion.
bool OnlyTheProgramRemains(const wchar_t* folder, const wchar_t* programPath);

// Whether a deletion at the next restart, this run's or an earlier one's,
// names something inside folder (which ends with a backslash): until then
// the removal is not complete.
bool RestartDeletesFrom(const wchar_t* folder);
