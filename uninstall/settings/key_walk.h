#pragma once
// The way from a root to the key of a composed path. Writes and deletions
// walk it one name at a time, never through a registry link, starting from
// the deepest key the operation holds (held_keys.h) and holding the keys
// they pass; a read opens its key as any read does, following links, and
// holds it for reads only. A held key deleted since, by anyone, makes the
// walk or the read start again from the root.
#include <windows.h>

#include <cstddef>

#include "common/handles.h"
#include "settings/held_keys.h"
#include "settings/store_routing.h"

// Relative paths of the settings roots lie in the program's own key from
// their second name on ("Software" is not its own).
const size_t kOwnKeysFromName = 1;
const size_t kNoOwnKeys = static_cast<size_t>(-1);

// Walks a composed path one name at a time, each key opened relative to its
// parent and never through a registry link: a link above the last name fails
// the walk, except that a creating walk replaces a link in the program's own
// key (from the name ownFrom on) by a real key. The last key itself is opened
// as it is, link or not; the caller decides what a link there means, unless
// lastPlain tells that the walk made it or found it no link. The view bits
// go with every open.
LONG OpenPathOwnKeys(HKEY root, const wchar_t* path, REGSAM access, bool create, size_t ownFrom,
                     HKEY* opened, bool* lastPlain = nullptr);

// The key of a path, for writing values into it: never a link.
LONG OpenPathForValues(HKEY root, const wchar_t* path, REGSAM access, bool create, size_t ownFrom,
                       HKEY* opened);

// Opens or creates the key of a composed path for writing; null on failure.
HKEY CreateKeyAtPath(HKEY root, const wchar_t* path, size_t ownFrom, LONG* status);

// The key of one read: the one the operation holds already, or one opened
// for it, held when an operation holds keys, so that the next read of the
// same key asks at once. A link on the path is followed, as by any read.
class ReadKey
{
public:
    ReadKey(HKEY root, const wchar_t* subkey, bool open = true) : root_(root), subkey_(subkey)
    {
        if (open)
            Open(true);
    }
    ReadKey(const ReadKey&) = delete;
    ReadKey& operator=(const ReadKey&) = delete;

    HKEY Get() const { return key_; }

    // Runs one query on the key. A held key deleted since, by anyone, names
    // nothing any more: the key of that name is opened again and asked once
    // more.
    template <class Query> LONG Ask(Query query)
    {
        LONG status = key_ ? query(key_) : ERROR_FILE_NOT_FOUND;
        if (status == ERROR_KEY_DELETED && held_)
        {
            ForgetHeldKeys();
            Open(false);
            status = key_ ? query(key_) : ERROR_FILE_NOT_FOUND;
        }
        return status;
    }

private:
    void Open(bool fromHeld);

    const HKEY root_;
    const wchar_t* const subkey_;
    RegistryKey owned_;
    HKEY key_ = nullptr;
    bool held_ = false;
};
