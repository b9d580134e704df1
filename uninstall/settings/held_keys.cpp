#include "settings/held_keys.h"

#include <cwchar>

#include "common/strings.h"

namespace
{

// Room for every key one setup or removal walks through, so that none is
// opened twice.
const size_t kHeldKeys = 64;
HeldKey heldKeys[kHeldKeys];
size_t heldCount = 0;
size_t heldNext = 0;
unsigned holders = 0;

// Whether path names base itself or a key below it.
bool IsAtOrBelow(const wchar_t* path, const wchar_t* base)
{
    const size_t length = wcslen(base);
    return wcsncmp(path, base, length) == 0 && (path[length] == 0 || path[length] == L'\\');
}

// The slot of a ring of capacity that the next entry takes: a free one while
// there are, else the oldest. occupied tells that the slot held an entry.
size_t TakeRingSlot(size_t& count, size_t& next, size_t capacity, bool& occupied)
{
    const size_t slot = next;
    occupied = slot < count;
    if (!occupied)
        ++count;
    next = (next + 1) % capacity;
    return slot;
}

// Keys a read found missing while an operation holds keys, each with the view
// it was asked in: a later read of the same key, or of one below it, is
// answered without asking. A walk that may make keys forgets them all, since
// one key can be reached from several roots; walks never take an answer from
// here, as a read that follows a link to nowhere finds the link "missing".
struct MissingKey
{
    HKEY Root;
    DWORD View;
    wchar_t Path[RegistryPathCapacity];
};
const size_t kMissingKeys = 16;
MissingKey missingKeys[kMissingKeys];
size_t missingCount = 0;
size_t missingNext = 0;

} // namespace

void StartHoldingKeys()
{
    ++holders;
}

void StopHoldingKeys()
{
    if (--holders == 0)
    {
        ForgetHeldKeys();
        ForgetMissingKeys();
    }
}

void ForgetHeldKeys(HKEY root, const wchar_t* path)
{
    size_t kept = 0;
    for (size_t i = 0; i < heldCount; ++i)
    {
        HeldKey& held = heldKeys[i];
        if (path && held.Root == root && !IsAtOrBelow(held.Path, path))
            heldKeys[kept++] = held;
        else
            RegCloseKey(held.Key);
    }
    heldCount = kept;
    heldNext = kept % kHeldKeys;
}

const HeldKey* FindHeldKey(HKEY root, const wchar_t* path, REGSAM access, const wchar_t*& rest,
                           bool whole, bool forReading)
{
    const HeldKey* best = nullptr;
    size_t bestLength = 0;
    for (size_t i = 0; i < heldCount; ++i)
    {
        const HeldKey& held = heldKeys[i];
        const size_t length = wcslen(held.Path);
        if (held.Root == root && held.View == RegistryView() && (held.Access & access) == access &&
            (forReading || !held.ForReading) &&
            length > bestLength && wcsncmp(held.Path, path, length) == 0 &&
            (whole ? path[length] == 0 : path[length] == L'\\' && path[length + 1] != 0))
        {
            best = &held;
            bestLength = length;
        }
    }
    if (best)
        rest = path + bestLength + 1;
    return best;
}

size_t CountKeyNames(const wchar_t* path)
{
    if (*path == 0)
        return 0;
    size_t names = 1;
    for (; *path; ++path)
        names += *path == L'\\';
    return names;
}

bool HoldKey(HKEY root, const wchar_t* path, size_t length, size_t names, REGSAM access, HKEY key,
             bool forReading)
{
    if (holders == 0 || length >= RegistryPathCapacity)
        return false;
    bool occupied = false;
    HeldKey& slot = heldKeys[TakeRingSlot(heldCount, heldNext, kHeldKeys, occupied)];
    if (occupied)
        RegCloseKey(slot.Key);
    slot = {root, RegistryView(), access, names, {}, key, forReading};
    wmemcpy(slot.Path, path, length);
    slot.Path[length] = 0;
    return true;
}

void ForgetMissingKeys()
{
    missingCount = 0;
    missingNext = 0;
}

bool IsKnownMissing(HKEY root, DWORD view, const wchar_t* path)
{
    for (size_t i = 0; i < missingCount; ++i)
    {
        const MissingKey& missing = missingKeys[i];
        if (missing.Root == root && missing.View == view && IsAtOrBelow(path, missing.Path))
            return true;
    }
    return false;
}

void RememberIfMissing(LONG status, HKEY root, DWORD view, const wchar_t* path)
{
    if (status != ERROR_FILE_NOT_FOUND || holders == 0 || *path == 0 ||
        wcslen(path) >= RegistryPathCapacity)
        return;
    bool occupied = false;
    MissingKey& slot = missingKeys[TakeRingSlot(missingCount, missingNext, kMissingKeys, occupied)];
    slot.Root = root;
    slot.View = view;
    CopyStringCut(slot.Path, path, RegistryPathCapacity);
}
