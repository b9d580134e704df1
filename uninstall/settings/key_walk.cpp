#include "settings/key_walk.h"

#include <cwchar>

#include "settings/own_keys.h"

namespace
{

// One walk of OpenPathOwnKeys; fromHeld lets it start at a held key.
LONG WalkPathOwnKeys(HKEY root, const wchar_t* path, REGSAM access, bool create, size_t ownFrom,
                     bool fromHeld, HKEY* opened, bool& lastPlain)
{
    *opened = nullptr;
    lastPlain = false;
    if (*path == 0)
        return ERROR_BAD_PATHNAME;
    if (create)
        ForgetMissingKeys();
    RegistryKey parent;
    HKEY parentKey = root;
    const wchar_t* rest = path;
    size_t index = 0;
    const REGSAM through = RegistryView() | KEY_QUERY_VALUE | (create ? KEY_CREATE_SUB_KEY : 0);
    const HeldKey* held = fromHeld ? FindHeldKey(root, path, through, rest) : nullptr;
    if (held)
    {
        parentKey = held->Key;
        index = held->Names;
    }
    // A key the walk made is a plain key, and nothing lies below it yet.
    bool parentCreated = false;
    for (;; ++index)
    {
        wchar_t name[kKeyNameCapacity];
        if (!NextKeyName(rest, name))
            return ERROR_BAD_PATHNAME;
        const bool last = *rest == 0;
        const bool replaceLink = create && index >= ownFrom;
        const REGSAM wanted = RegistryView() | KEY_QUERY_VALUE | (replaceLink ? DELETE : 0) |
                              (last ? access : create ? KEY_CREATE_SUB_KEY : 0);
        HKEY opening = nullptr;
        bool created = false;
        LONG status = create ? OpenOrCreateOwnKey(parentKey, name, wanted, &opening,
                                                  parentCreated, created)
                             : OpenOwnKey(parentKey, name, wanted, &opening);
        if (status != ERROR_SUCCESS)
            return status;
        RegistryKey child(opening);
        if (!created && replaceLink && IsRegistryLink(child.Get()))
        {
            // Someone else's link where the program keeps its settings: its
            // records would land wherever it points.
            if (!DeleteOpenedKey(child.Get()))
                return kRefusedLink;
            child.Reset(nullptr);
            status = OpenOrCreateOwnKey(parentKey, name, wanted, &opening, false, created);
            if (status != ERROR_SUCCESS)
                return status;
            child.Reset(opening);
            if (!created && IsRegistryLink(child.Get()))
                return kRefusedLink;
        }
        if (last)
        {
            // Made here, or looked at (and a link replaced) just above.
            lastPlain = created || replaceLink;
            *opened = child.Detach();
            return ERROR_SUCCESS;
        }
        if (!created && IsRegistryLink(child.Get()))
            return kRefusedLink;
        parentCreated = created;
        parentKey = child.Get();
        if (HoldKey(root, path, rest - 1 - path, index + 1, wanted, parentKey))
            child.Detach();
        else
            parent.Reset(child.Detach());
    }
}

// A read's key, opened as any read opens it: a link on the path is followed.
LONG OpenPathForRead(HKEY root, const wchar_t* path, HKEY* opened)
{
    *opened = nullptr;
    const LONG status = RegOpenKeyExW(root, path, 0,
                                      RegistryView() | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS,
                                      opened);
    if (status != ERROR_SUCCESS)
        *opened = nullptr;
    return status;
}

} // namespace

LONG OpenPathOwnKeys(HKEY root, const wchar_t* path, REGSAM access, bool create, size_t ownFrom,
                     HKEY* opened, bool* lastPlain)
{
    bool plain = false;
    LONG status = WalkPathOwnKeys(root, path, access, create, ownFrom, true, opened, plain);
    if (status == ERROR_KEY_DELETED)
    {
        // A held key that was deleted since names nothing: walk from the root.
        ForgetHeldKeys();
        status = WalkPathOwnKeys(root, path, access, create, ownFrom, false, opened, plain);
    }
    if (lastPlain)
        *lastPlain = plain;
    return status;
}

LONG OpenPathForValues(HKEY root, const wchar_t* path, REGSAM access, bool create, size_t ownFrom,
                       HKEY* opened)
{
    RegistryKey key;
    HKEY walked = nullptr;
    bool plain = false;
    LONG status = OpenPathOwnKeys(root, path, access, create, ownFrom, &walked, &plain);
    key.Reset(walked);
    if (status != ERROR_SUCCESS)
        return status;
    if (!plain && IsRegistryLink(key.Get()))
        return kRefusedLink;
    *opened = key.Detach();
    return ERROR_SUCCESS;
}

HKEY CreateKeyAtPath(HKEY root, const wchar_t* path, size_t ownFrom, LONG* status)
{
    HKEY created = nullptr;
    LONG result = ERROR_SUCCESS;
    if (*path == 0)
        result = RegCreateKeyExW(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 RegistryView() | KEY_WRITE, nullptr, &created, nullptr);
    else
        // Nothing is written through a registry link: the program makes none.
        result = OpenPathForValues(root, path, KEY_WRITE, true, ownFrom, &created);
    if (result != ERROR_SUCCESS)
        created = nullptr;
    *status = result;
    return created;
}

void ReadKey::Open(bool fromHeld)
{
    key_ = nullptr;
    held_ = false;
    owned_.Close();
    wchar_t path[RegistryPathCapacity];
    HKEY root = root_;
    if (!RegistryPath(root, subkey_, path))
        return;
    const REGSAM access = RegistryView() | KEY_QUERY_VALUE;
    const wchar_t* rest = nullptr;
    if (const HeldKey* held =
            fromHeld ? FindHeldKey(root, path, access, rest, true, true) : nullptr)
    {
        key_ = held->Key;
        held_ = true;
        return;
    }
    if (IsKnownMissing(root, RegistryView(), path))
        return;
    HKEY opened = nullptr;
    const LONG status = OpenPathForRead(root, path, &opened);
    RememberIfMissing(status, root, RegistryView(), path);
    if (status != ERROR_SUCCESS)
        return;
    key_ = opened;
    held_ = HoldKey(root, path, wcslen(path), CountKeyNames(path), access, opened, true);
    if (!held_)
        owned_.Reset(opened);
}
