#pragma once
// Registry keys opened one name at a time, never through a registry link:
// the store's guard against a link that someone else planted on a path where
// it writes or deletes. Each function acts on one name below an open parent
// and keeps no handle. A name opened here that is a link is opened as the
// link itself, so a caller can tell it (IsRegistryLink) and delete it as a
// link; nothing here follows one.
#include <windows.h>

#include <cstddef>

// The longest name of one key, and its terminator: Windows allows 255
// characters, Wine 256.
const size_t kKeyNameCapacity = 257;

// Status given for a write or open refused because a registry link stands in
// the way.
const LONG kRefusedLink = ERROR_CANTWRITE;

// A key opened with REG_OPTION_OPEN_LINK is the link itself when it holds the
// target in its "SymbolicLinkValue".
bool IsRegistryLink(HKEY key);

// Opens one name below parent without following a link there.
LONG OpenOwnKey(HKEY parent, const wchar_t* name, REGSAM access, HKEY* opened);

// Opens, or creates when missing, one name below parent; created tells
// whether this call made it, as a plain key. A key that someone else made
// between the two calls is opened again without following links, so a link
// planted in that moment is seen as a link. Below a key made a moment ago
// nothing is there yet to open: the first attempt creates at once.
LONG OpenOrCreateOwnKey(HKEY parent, const wchar_t* name, REGSAM access, HKEY* opened,
                        bool parentCreated, bool& created);

// Takes the next name of a path into name; false when the name is empty or
// longer than the registry allows (such a path names no key to act on).
bool NextKeyName(const wchar_t*& rest, wchar_t (&name)[kKeyNameCapacity]);

// Deletes the key behind an open handle: the key the handle was opened on,
// in its view, and a link as a link. Fails while the key has subkeys.
bool DeleteOpenedKey(HKEY key);
