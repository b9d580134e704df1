#include "settings/key_tree_deletion.h"

#include "common/handles.h"
#include "settings/key_walk.h"
#include "settings/own_keys.h"

namespace
{

// Windows' limit for the depth of a tree; deeper keys are passed over, so
// the walk's stack stays bounded.
const unsigned kMaxTreeDepth = 512;

unsigned DeleteSubkeys(HKEY parent, unsigned depth);

// A key opened without following links is entered only when it has subkeys
// and is no link. One without subkeys is deleted as it is, a link as a link,
// so most keys of a tree need not be asked what they are. A key that cannot
// tell counts as having subkeys.
bool IsToBeEntered(HKEY key)
{
    DWORD subkeys = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
        subkeys == 0)
        return false;
    return !IsRegistryLink(key);
}

// Deletes a subkey with what lies below it; a link is deleted, not entered.
bool DeleteSubtree(HKEY parent, const wchar_t* name, unsigned depth, unsigned& deleted)
{
    HKEY opened = nullptr;
    if (OpenOwnKey(parent, name, RegistryView() | kDeleteAccess, &opened) != ERROR_SUCCESS)
        return false;
    RegistryKey key(opened);
    if (depth < kMaxTreeDepth && IsToBeEntered(key.Get()))
        deleted += DeleteSubkeys(key.Get(), depth + 1);
    if (!DeleteOpenedKey(key.Get()))
        return false;
    ++deleted;
    return true;
}

// One pass over the subkeys of an open key; returns how many keys went. A
// subkey that cannot be deleted is passed over and its siblings still go.
unsigned DeleteSubkeys(HKEY parent, unsigned depth)
{
    unsigned deleted = 0;
    DWORD index = 0;
    for (;;)
    {
        wchar_t name[kKeyNameCapacity];
        DWORD length = ARRAYSIZE(name);
        LONG status =
            RegEnumKeyExW(parent, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA)
        {
            // Longer than the registry allows: no name to open it by.
            ++index;
            continue;
        }
        if (status != ERROR_SUCCESS)
            break;
        // A deleted subkey hands its index to the next sibling.
        if (!DeleteSubtree(parent, name, depth, deleted))
            ++index;
    }
    return deleted;
}

} // namespace

unsigned DeleteTreePass(HKEY root, const wchar_t* path, bool& keyGone)
{
    keyGone = true;
    HKEY opened = nullptr;
    if (OpenPathOwnKeys(root, path, kDeleteAccess, false, kNoOwnKeys, &opened) != ERROR_SUCCESS)
        return 0;
    RegistryKey key(opened);
    unsigned deleted = 0;
    if (IsToBeEntered(key.Get()))
        deleted += DeleteSubkeys(key.Get(), 1);
    keyGone = DeleteOpenedKey(key.Get());
    return keyGone ? deleted + 1 : deleted;
}
