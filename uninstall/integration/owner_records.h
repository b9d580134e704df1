#pragma once
// The records of who owned each archive extension before the archiver took
// it: read from the extension, saved with a mark while the take-over runs,
// put on the disk, loaded for the give-back and deleted after it.
#include <cstddef>
#include <cstdint>

// Who owned an extension before the archiver took it over, saved once under
// "Setup\" + extension in the per-user settings.
const size_t kPreviousTypeChars = 512;
const size_t kPreviousShellNewChars = 2048;
// A text saved from a REG_EXPAND_SZ value is marked by "TypeExpand" or
// "ShellNewExpand" = 1, so that it goes back in its own type; plain texts
// leave the record as it always was.
struct PreviousAssociation
{
    uint32_t Exist;                           // "Exist": the extension's key was there
    wchar_t Type[kPreviousTypeChars];         // "Type": its class, may be empty
    wchar_t ShellNew[kPreviousShellNewChars]; // "ShellNew": template file, "*" for a null file
    unsigned long TypeKind;                   // REG_SZ or REG_EXPAND_SZ
    unsigned long ShellNewKind;               // of "FileName"
};

// Where a save left the records of the extensions about to be taken.
struct SavedRecords
{
    bool Any = false;         // some record was saved
    bool AllOnMachine = true; // each saved record has its machine copy
};

// Saves who owns the extension now in the settings and, in an elevated run,
// a machine copy that the user cannot change, each marked as taken until
// ClearTakingMark. False when nothing was saved: the owner cannot be kept
// whole and in its type.
bool SavePreviousAssociation(const wchar_t* extension, SavedRecords& saved);

// Puts the records just saved on the disk before any extension is taken.
bool MakeRecordsDurable(const SavedRecords& saved);

// The record of an extension for its give-back; false when it cannot be
// named.
bool LoadPreviousAssociation(const wchar_t* extension, PreviousAssociation& previous);

// The take-over is whole, or the give-back done: the record is spent.
void ClearTakingMark(const wchar_t* extension);

// A key without a class that this installation's stopped take-over made.
bool IsStoppedTakeOver(const wchar_t* extension);

// This program's own templates, which belong to no previous owner.
bool IsOwnTemplate(const wchar_t* path);

// The machine copies of the records, and the registry records that a
// settings file took over from; after every give-back.
void DeletePreviousOwnerRecords();

// Each per-user record of the store in use has its machine copy.
bool EveryRecordOnMachine();

// A full path on a drive of this machine, not on a share, a device or in
// the long-path form: safe to hand to every user of the machine.
bool IsLocalFilePath(const wchar_t* path);
