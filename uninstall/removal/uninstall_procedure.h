#pragma once
// removal/: the uninstall road: takes the integration back, deletes the files.
//
// The uninstall mode: after the user agrees, the integration is removed, the
// files named in "Uninstall.lst" are deleted (those in use at the next
// restart), and a hidden command processor deletes the program and its folder
// through a batch file once the program has ended. Nothing is removed before
// the list is known to read to its end, the command processor is found and
// the cleanup folder is made (removal/removal_checks.h, cleanup_folder.h);
// the passes over the list are removal/list_removal.h, the batch file and
// its start removal/cleanup_batch.h.

void RunUninstall();
