#pragma once
// The keys one operation of the store holds open, and the keys it found
// missing. While a HeldRegistryKeys lives (settings_store.h), the keys that
// walks and reads open stay open, so that the next request under the same
// few keys starts there, and the keys a read found missing are remembered.
//
// What a held key may be used for:
// - a key walked to name by name without following a link (key_walk.h),
//   the key of a write among them, serves later walks, writes and deletions
//   below or at it, and reads;
// - a key opened for a read followed any link on its path, as every read
//   does: it serves reads only, never a walk, a write or a deletion;
// - each is found only by its root and path, in the view and with at least
//   the access it was opened with.
// A missing key answers later reads of it, and of keys below it, in the same
// root and view, until the store makes a key: a walk that may create forgets
// them all, since one key can be reached from several roots. Walks never
// take an answer from them: a read that follows a link to nowhere finds the
// link "missing".
//
// When entries are forgotten: a deletion forgets the held keys at or below
// its path, in either view, and those of every other root, since one key can
// be reached from two roots; everything goes when the last holder ends. The
// rings keep 64 held and 16 missing keys: a new entry takes the place of the
// oldest, whose held handle is closed then.
// How a deleted or relinked key is noticed: a held handle names the key it
// was opened on, so a key deleted since, by anyone (and one put back as a
// link), answers ERROR_KEY_DELETED through it. Whoever gets that answer
// forgets every held key and asks again from the root: a walk then sees a
// link now in the way as one, a read follows it as every read does.
#include <windows.h>

#include <cstddef>

#include "settings/store_routing.h"

// The keys a walk passed through, kept open while an operation holds them:
// its next write below one of them starts there instead of at the root. Each
// was opened as a real key, never through a link; a deletion forgets those
// it may have taken, since a deleted key's handle names nothing any more.
struct HeldKey
{
    HKEY Root;
    DWORD View;
    REGSAM Access;
    size_t Names; // how many names of the path it stands for
    wchar_t Path[RegistryPathCapacity];
    HKEY Key;
    // Opened as any read opens a key, following a link on its path: it
    // serves later reads, never a walk or a write.
    bool ForReading;
};

// An operation begins to hold keys; at the end of the last one, every held
// and missing key is forgotten.
void StartHoldingKeys();
void StopHoldingKeys();

// Forgets the held keys at or below path of root, in either view; those of
// another root go too, since one key can be reached from two roots. Without
// a path, all.
void ForgetHeldKeys(HKEY root = nullptr, const wchar_t* path = nullptr);

// The deepest held key above the last name of path that grants access, or
// with whole the key of path itself; rest then points past its names. Keys
// held for reading are found only for a read.
const HeldKey* FindHeldKey(HKEY root, const wchar_t* path, REGSAM access, const wchar_t*& rest,
                           bool whole = false, bool forReading = false);

// How many names a composed path has.
size_t CountKeyNames(const wchar_t* path);

// Keeps a key the walk opened; false when nothing holds keys (the caller
// keeps and closes it).
bool HoldKey(HKEY root, const wchar_t* path, size_t length, size_t names, REGSAM access, HKEY key,
             bool forReading = false);

void ForgetMissingKeys();
// Whether a read found the key of path, or one above it, missing in view.
bool IsKnownMissing(HKEY root, DWORD view, const wchar_t* path);
// Only a key that is not there counts: one refused or misnamed may be there.
void RememberIfMissing(LONG status, HKEY root, DWORD view, const wchar_t* path);

// Applies change to the key of path when the operation holds it from an
// earlier write, which checked it. False when none is held, or when the held
// one was deleted since, by anyone: the key of that name is looked up again.
template <class Change>
bool ChangeHeldKey(HKEY root, const wchar_t* path, REGSAM access, Change change, LONG& status)
{
    const wchar_t* rest = nullptr;
    const HeldKey* held = FindHeldKey(root, path, access, rest, true);
    if (!held)
        return false;
    status = change(held->Key);
    if (status != ERROR_KEY_DELETED)
        return true;
    ForgetHeldKeys();
    return false;
}
