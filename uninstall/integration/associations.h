#pragma once
// The archive extensions taken over by the archiver's classes and given back
// to their previous owners, and the classes themselves.
#include "integration/owner_records.h"

#include "integration/integration_options.h"

// Every extension of every row: associated when the row's flag is set, given
// back when it is clear. The owners of all extensions to take are saved, and
// put on the disk, before the first one is taken; one whose owner cannot be
// kept stays with it. An elevated run also keeps a copy of each record where
// only administrators write, and the give-back prefers it; a record the user
// could have changed gives no class that runs the file itself and no
// new-file entry on a share or a device to every user. False when a chosen
// extension was not taken; its row's stored choice ("Set") is then cleared.
// The new-file templates are those beside programPath (null: this program).
bool AssociateExtensions(const IntegrationOptions& options, const wchar_t* programPath = nullptr);

// Associates one extension (saving its previous owner unless it is already
// ours) or, with associate clear, gives it back when it is still ours. An
// owner whose class or new-file entry cannot be saved whole and in its type
// keeps the extension. The row of the own format adds the old-style volume
// extensions, and with shellExt the rows of the own format and of ZIP add the
// new-file template. Given back or not, nothing of the extension's family is left
// pointing at the archiver: volume extensions of its class and a new-file
// entry naming its template go.
void SetExtensionAssociation(const wchar_t* extension, const AssociationRow& row, bool associate,
                             bool shellExt);

// Gives ".ace", no longer offered, back to its previous owner while it still
// opens in the archiver.
void GiveBackAce();

// The classes "Velnox", "Velnox.ZIP" and "Velnox.REV" and the extension
// ".rev"; an icon already set is kept. False only when the first class write
// is refused with access denied, and then nothing else is written. The
// classes open the archiver beside programPath (null: this program).
bool RegisterProgIds(const wchar_t* programPath = nullptr);

// Tells the shell that associations, classes or handlers changed. Sent once
// after a whole set of changes: each notice makes the shell reread them all.
void NotifyAssociationChange();
