#include "settings/settings_store.h"

#include <cwchar>

#include "common/handles.h"
#include "common/strings.h"
#include "platform/platform_probes.h"
#include "settings/portable_settings.h"

namespace
{

DWORD registryView = 0;

const wchar_t* OrEmpty(const wchar_t* text)
{
    return text ? text : L"";
}

// Copies text or the default into the caller's buffer, cut to its capacity.
void CopyBounded(wchar_t* buffer, const wchar_t* text, size_t capacity)
{
    if (capacity > 0)
        CopyStringCut(buffer, OrEmpty(text), capacity);
}

// Registry sizes are 32-bit byte counts.
DWORD ByteCapacity(size_t capacity)
{
    return capacity > MAXDWORD / 2 ? MAXDWORD - 1 : static_cast<DWORD>(capacity * 2);
}

// The longest name of one key, and its terminator: Windows allows 255
// characters, Wine 256.
const size_t kKeyNameCapacity = 257;
// Windows' limit for the depth of a tree; deeper keys are passed over, so
// the walk's stack stays bounded.
const unsigned kMaxTreeDepth = 512;

// Status given for a write or open refused because a registry link stands in
// the way, and for a path that would have to be cut.
const LONG kRefusedLink = ERROR_CANTWRITE;
const LONG kPathTooLong = ERROR_FILENAME_EXCED_RANGE;

// A key opened with REG_OPTION_OPEN_LINK is the link itself when it holds the
// target in its "SymbolicLinkValue".
bool IsRegistryLink(HKEY key)
{
    DWORD type = REG_NONE;
    LONG status = RegQueryValueExW(key, L"SymbolicLinkValue", nullptr, &type, nullptr, nullptr);
    return (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) && type == REG_LINK;
}

// Opens one name below parent without following a link there.
LONG OpenOwnKey(HKEY parent, const wchar_t* name, REGSAM access, HKEY* opened)
{
    *opened = nullptr;
    LONG status = RegOpenKeyExW(parent, name, REG_OPTION_OPEN_LINK, access, opened);
    if (status != ERROR_SUCCESS)
        *opened = nullptr;
    return status;
}

// Opens, or creates when missing, one name below parent; created tells
// whether this call made it, as a plain key. A key that someone else made
// between the two calls is opened again without following links, so a link
// planted in that moment is seen as a link. Below a key made a moment ago
// nothing is there yet to open: the first attempt creates at once.
LONG OpenOrCreateOwnKey(HKEY parent, const wchar_t* name, REGSAM access, HKEY* opened,
                        bool parentCreated, bool& created)
{
    created = false;
    for (int attempt = 0; attempt < 3; ++attempt)
    {
        LONG status = ERROR_FILE_NOT_FOUND;
        if (!parentCreated || attempt > 0)
            status = OpenOwnKey(parent, name, access, opened);
        if (status != ERROR_FILE_NOT_FOUND)
            return status;
        DWORD disposition = 0;
        status = RegCreateKeyExW(parent, name, 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                                 nullptr, opened, &disposition);
        if (status != ERROR_SUCCESS)
        {
            *opened = nullptr;
            return status;
        }
        created = disposition == REG_CREATED_NEW_KEY;
        if (created)
            return ERROR_SUCCESS;
        // Someone else's key, opened following links: drop it and look again.
        RegistryKey(*opened).Close();
        *opened = nullptr;
    }
    return kRefusedLink;
}

// Takes the next name of a path into name; false when the name is empty or
// longer than the registry allows (such a path names no key to act on).
bool NextKeyName(const wchar_t*& rest, wchar_t (&name)[kKeyNameCapacity])
{
    size_t length = 0;
    while (rest[length] && rest[length] != L'\\')
        ++length;
    if (length == 0 || length >= kKeyNameCapacity)
        return false;
    for (size_t i = 0; i < length; ++i)
        name[i] = rest[i];
    name[length] = 0;
    rest += rest[length] ? length + 1 : length;
    return true;
}

typedef LONG(NTAPI* DeleteOpenedKeyFunction)(HANDLE);

// Deletes the key behind an open handle: the key the handle was opened on,
// in its view, and a link as a link. Fails while the key has subkeys.
bool DeleteOpenedKey(HKEY key)
{
    static const DeleteOpenedKeyFunction deleteKey = reinterpret_cast<DeleteOpenedKeyFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey")));
    return deleteKey && deleteKey(key) >= 0;
}

// Relative paths of the settings roots lie in the program's own key from
// their second name on ("Software" is not its own).
const size_t kOwnKeysFromName = 1;
const size_t kNoOwnKeys = static_cast<size_t>(-1);

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

// Forgets the held keys at or below path of root, in either view; those of
// another root go too, since one key can be reached from two roots. Without
// a path, all.
void ForgetHeldKeys(HKEY root = nullptr, const wchar_t* path = nullptr)
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

// The deepest held key above the last name of path that grants access, or
// with whole the key of path itself; rest then points past its names. Keys
// held for reading are found only for a read.
const HeldKey* FindHeldKey(HKEY root, const wchar_t* path, REGSAM access, const wchar_t*& rest,
                           bool whole = false, bool forReading = false)
{
    const HeldKey* best = nullptr;
    size_t bestLength = 0;
    for (size_t i = 0; i < heldCount; ++i)
    {
        const HeldKey& held = heldKeys[i];
        const size_t length = wcslen(held.Path);
        if (held.Root == root && held.View == registryView && (held.Access & access) == access &&
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

// How many names a composed path has.
size_t CountKeyNames(const wchar_t* path)
{
    if (*path == 0)
        return 0;
    size_t names = 1;
    for (; *path; ++path)
        names += *path == L'\\';
    return names;
}

// Keeps a key the walk opened; false when nothing holds keys (the caller
// keeps and closes it).
bool HoldKey(HKEY root, const wchar_t* path, size_t length, size_t names, REGSAM access, HKEY key,
             bool forReading = false)
{
    if (holders == 0 || length >= RegistryPathCapacity)
        return false;
    bool occupied = false;
    HeldKey& slot = heldKeys[TakeRingSlot(heldCount, heldNext, kHeldKeys, occupied)];
    if (occupied)
        RegCloseKey(slot.Key);
    slot = {root, registryView, access, names, {}, key, forReading};
    wmemcpy(slot.Path, path, length);
    slot.Path[length] = 0;
    return true;
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

// Only a key that is not there counts: one refused or misnamed may be there.
void RememberIfMissing(LONG status, HKEY root, DWORD view, const wchar_t* path)
{
    if (status != ERROR_FILE_NOT_FOUND || holders == 0 || *path == 0 ||
        wcslen(path) >= RegistryPathCapacity)
        return;
    bool occupied = false;
    MissingKey& slot = missingKeys[TakeRingSlot(missingCount, missingNext, kMissingKeys, occupied)];
    slot.Root = root;
    slot.View = view;
    CopyBounded(slot.Path, path, RegistryPathCapacity);
}

// Walks a composed path one name at a time, each key opened relative to its
// parent and never through a registry link: a link above the last name fails
// the walk, except that a creating walk replaces a link in the program's own
// key (from the name ownFrom on) by a real key. The last key itself is opened
// as it is, link or not; the caller decides what a link there means, unless
// lastPlain tells that the walk made it or found it no link. The view bits
// go with every open.
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
    const REGSAM through = registryView | KEY_QUERY_VALUE | (create ? KEY_CREATE_SUB_KEY : 0);
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
        const REGSAM wanted = registryView | KEY_QUERY_VALUE | (replaceLink ? DELETE : 0) |
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

LONG OpenPathOwnKeys(HKEY root, const wchar_t* path, REGSAM access, bool create, size_t ownFrom,
                     HKEY* opened, bool* lastPlain = nullptr)
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

// The key of a path, for writing values into it: never a link.
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

// The access a key needs to be enumerated and deleted through its handle.
const REGSAM kDeleteAccess = DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE;

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
    if (OpenOwnKey(parent, name, registryView | kDeleteAccess, &opened) != ERROR_SUCCESS)
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

// One pass over a whole tree: the subkeys of the key at path, then the key.
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

// Where one request goes, decided once per call: the settings file serves
// the archiver's own settings while it is loaded; any other request reaches
// the registry unless the file switched integration off. The pseudo-root
// goes on to the registry side, which has no key for it: without a file it
// reads as nothing and a write of it fails.
enum class Route
{
    File,
    Registry,
    Dropped,
};

Route RouteOf(HKEY root, const wchar_t* subkey)
{
    if (IsFileRouted(root, subkey))
        return Route::File;
    return root != NoRoot && !IsIntegrationEnabled() ? Route::Dropped : Route::Registry;
}

// The classes root merges the user's classes over the machine's, and the
// user's win there and take its writes. An elevated run acts on the
// machine's own classes: what decides there, what it writes lands there, and
// what it deletes goes from there. Their key is opened as the system links
// it in each view (under WOW64 the 32-bit view's is a link), once per view
// for the whole run; null when it cannot be opened, and then nothing is done.
HKEY MachineClasses(DWORD view)
{
    static HKEY opened[2] = {nullptr, nullptr};
    HKEY& key = opened[view == KEY_WOW64_64KEY ? 1 : 0];
    if (key == nullptr &&
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes", 0,
                      view | KEY_READ | KEY_WRITE, &key) != ERROR_SUCCESS)
        key = nullptr;
    return key;
}

// The registry path of a request and the root it lies under, in view. The
// classes root itself stays the root, which nothing deletes.
bool ComposeRegistryPath(HKEY& root, const wchar_t* subkey, wchar_t (&path)[RegistryPathCapacity],
                         DWORD view = registryView)
{
    if (!ComposeKeyPath(root, subkey, path))
        return false;
    if (root != HKEY_CLASSES_ROOT || *path == 0 || !RunsElevated())
        return true;
    root = MachineClasses(view);
    return root != nullptr;
}

// The registry path of a request, and the root it lies under; false when
// there is no key to act on: the pseudo-root names none, and a cut path
// would name another.
bool RegistryPath(HKEY& root, const wchar_t* subkey, wchar_t (&path)[RegistryPathCapacity])
{
    return root != NoRoot && ComposeRegistryPath(root, subkey, path);
}

// A read's key, opened as any read opens it: a link on the path is followed.
LONG OpenPathForRead(HKEY root, const wchar_t* path, HKEY* opened)
{
    *opened = nullptr;
    const LONG status = RegOpenKeyExW(root, path, 0,
                                      registryView | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS,
                                      opened);
    if (status != ERROR_SUCCESS)
        *opened = nullptr;
    return status;
}

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
    void Open(bool fromHeld)
    {
        key_ = nullptr;
        held_ = false;
        owned_.Close();
        wchar_t path[RegistryPathCapacity];
        HKEY root = root_;
        if (!RegistryPath(root, subkey_, path))
            return;
        const REGSAM access = registryView | KEY_QUERY_VALUE;
        const wchar_t* rest = nullptr;
        if (const HeldKey* held =
                fromHeld ? FindHeldKey(root, path, access, rest, true, true) : nullptr)
        {
            key_ = held->Key;
            held_ = true;
            return;
        }
        if (IsKnownMissing(root, registryView, path))
            return;
        HKEY opened = nullptr;
        const LONG status = OpenPathForRead(root, path, &opened);
        RememberIfMissing(status, root, registryView, path);
        if (status != ERROR_SUCCESS)
            return;
        key_ = opened;
        held_ = HoldKey(root, path, wcslen(path), CountKeyNames(path), access, opened, true);
        if (!held_)
            owned_.Reset(opened);
    }

    const HKEY root_;
    const wchar_t* const subkey_;
    RegistryKey owned_;
    HKEY key_ = nullptr;
    bool held_ = false;
};

// Reads a text value whole or not at all: the registry neither checks the
// type nor terminates what it returns, and a cut text would name something
// else. The buffer is left empty unless a text is returned.
TextValue QueryText(ReadKey& key, const wchar_t* name, wchar_t* buffer, size_t capacity,
                    DWORD* type)
{
    DWORD size = 0;
    DWORD valueType = REG_NONE;
    const LONG status = key.Ask([&](HKEY opened) {
        size = ByteCapacity(capacity);
        return RegQueryValueExW(opened, OrEmpty(name), nullptr, &valueType,
                                reinterpret_cast<BYTE*>(buffer), &size);
    });
    TextValue found = TextValue::Unusable;
    if (status == ERROR_FILE_NOT_FOUND)
        found = TextValue::Absent;
    else if (status == ERROR_SUCCESS && (valueType == REG_SZ || valueType == REG_EXPAND_SZ) &&
             size % sizeof(wchar_t) == 0)
    {
        size_t length = size / sizeof(wchar_t);
        while (length > 0 && buffer[length - 1] == 0)
            --length;
        // Room for the terminator, and no NUL that would end the text early.
        if (length < capacity && wmemchr(buffer, 0, length) == nullptr)
        {
            buffer[length] = 0;
            if (type)
                *type = valueType;
            return TextValue::Text;
        }
    }
    buffer[0] = 0;
    return found;
}

// A read, routed: the file's text of the value (null when absent), or the
// key for reading (none when the read is dropped or the key missing).
struct RoutedRead
{
    RoutedRead(HKEY root, const wchar_t* subkey, const wchar_t* name)
        : Way(RouteOf(root, subkey)),
          Text(Way == Route::File ? FindPortableValue(root, subkey, name) : nullptr),
          Key(root, subkey, Way == Route::Registry)
    {
    }
    const Route Way;
    const wchar_t* const Text;
    ReadKey Key;
};

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

// From which name on a path lies in the program's own key, where a link
// planted by someone else is replaced on the way to a write.
size_t OwnKeysFrom(HKEY root, const wchar_t* subkey)
{
    return IsSettingsRoot(root) && !IsFromRoot(OrEmpty(subkey)) ? kOwnKeysFromName : kNoOwnKeys;
}

// Opens or creates the key of a composed path for writing; null on failure.
HKEY CreateKeyAtPath(HKEY root, const wchar_t* path, size_t ownFrom, LONG* status)
{
    HKEY created = nullptr;
    LONG result = ERROR_SUCCESS;
    if (*path == 0)
        result = RegCreateKeyExW(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 registryView | KEY_WRITE, nullptr, &created, nullptr);
    else
        // Nothing is written through a registry link: the program makes none.
        result = OpenPathForValues(root, path, KEY_WRITE, true, ownFrom, &created);
    if (result != ERROR_SUCCESS)
        created = nullptr;
    *status = result;
    return created;
}

// A write, routed: the file keeps the value as text, the registry as data
// of its type.
LONG WriteValue(HKEY root, const wchar_t* subkey, const wchar_t* name, const wchar_t* text,
                PortableKind kind, DWORD type, const void* data, DWORD size)
{
    const Route route = RouteOf(root, subkey);
    if (route == Route::File && !SetPortableValue(root, subkey, name, text, kind))
        return kPathTooLong;
    if (route != Route::Registry)
        return ERROR_SUCCESS;
    wchar_t path[RegistryPathCapacity];
    const REGSAM access = registryView | KEY_WRITE;
    const size_t ownFrom = OwnKeysFrom(root, subkey);
    const bool composed = RegistryPath(root, subkey, path);
    const auto setValue = [&](HKEY key) {
        return RegSetValueExW(key, OrEmpty(name), 0, type, static_cast<const BYTE*>(data), size);
    };
    LONG status = ERROR_SUCCESS;
    if (composed && ChangeHeldKey(root, path, access, setValue, status))
        return status;
    RegistryKey key(composed ? CreateKeyAtPath(root, path, ownFrom, &status) : nullptr);
    if (!composed)
        status = root == NoRoot ? ERROR_INVALID_HANDLE : kPathTooLong;
    if (!key.Get())
        return status;
    status = setValue(key.Get());
    // Walked to as a real key, with query access too: a later walk below it
    // may start there. A root's own key is opened without.
    const REGSAM heldAccess = *path ? access | KEY_QUERY_VALUE : access;
    if (composed && HoldKey(root, path, wcslen(path), CountKeyNames(path), heldAccess, key.Get()))
        key.Detach();
    return status;
}

// A deletion, routed: the file's entries go at once (for the empty value
// name, all the key's). True when the registry has a key to act on at path:
// an empty path would name the root itself.
bool RoutedDeletion(HKEY& root, const wchar_t* subkey, const wchar_t* name,
                    wchar_t (&path)[RegistryPathCapacity])
{
    const Route route = RouteOf(root, subkey);
    if (route == Route::File)
        RemovePortableValues(root, subkey, name);
    return route == Route::Registry && RegistryPath(root, subkey, path) && *path != 0;
}

} // namespace

bool ComposeKeyPath(HKEY root, const wchar_t* subkey, wchar_t (&path)[RegistryPathCapacity])
{
    subkey = OrEmpty(subkey);
    if (IsSettingsRoot(root) && !IsFromRoot(subkey))
        return FormatString(path, ARRAYSIZE(path), L"Software\\Velnox%s%s", *subkey ? L"\\" : L"",
                            subkey) >= 0;
    if (IsSettingsRoot(root))
        ++subkey; // the root's own path goes without its "\"
    return CopyString(path, subkey);
}

bool KeyExists(HKEY root, const wchar_t* subkey)
{
    const Route route = RouteOf(root, subkey);
    if (route == Route::File)
        return AnyPortableValueUnder(root, subkey);
    wchar_t path[RegistryPathCapacity];
    // Asked in the default view, whichever is selected.
    if (route == Route::Dropped || root == NoRoot || !ComposeRegistryPath(root, subkey, path, 0))
        return false;
    if (IsKnownMissing(root, 0, path))
        return false;
    HKEY opened = nullptr;
    const LONG status = RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE, &opened);
    RememberIfMissing(status, root, 0, path);
    if (status != ERROR_SUCCESS)
        return false;
    RegCloseKey(opened);
    return true;
}

HKEY CreateKeyForWrite(HKEY root, const wchar_t* subkey, LONG* status)
{
    LONG result = ERROR_INVALID_HANDLE;
    HKEY created = nullptr;
    wchar_t path[RegistryPathCapacity];
    const size_t ownFrom = OwnKeysFrom(root, subkey);
    if (root == NoRoot)
        result = ERROR_INVALID_HANDLE;
    else if (!ComposeRegistryPath(root, subkey, path))
        result = kPathTooLong;
    else
        created = CreateKeyAtPath(root, path, ownFrom, &result);
    if (status)
        *status = result;
    return created;
}

uint32_t GetInt(HKEY root, const wchar_t* subkey, const wchar_t* name, uint32_t defaultValue)
{
    RoutedRead read(root, subkey, name);
    if (read.Way == Route::File)
        return GetPortableInt(root, subkey, name, defaultValue);
    if (!read.Key.Get())
        return defaultValue;
    DWORD value = 0;
    DWORD size = 0;
    DWORD type = REG_NONE;
    const LONG status = read.Key.Ask([&](HKEY key) {
        size = sizeof(value);
        return RegQueryValueExW(key, OrEmpty(name), nullptr, &type,
                                reinterpret_cast<BYTE*>(&value), &size);
    });
    // A text, a byte string or a short number is not the number asked for.
    if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(value))
        return defaultValue;
    return value;
}

bool GetString(HKEY root, const wchar_t* subkey, const wchar_t* name, wchar_t* buffer,
               const wchar_t* defaultValue, size_t capacity)
{
    const Route route = RouteOf(root, subkey);
    if (route == Route::File)
    {
        const wchar_t* text = FindPortableValue(root, subkey, name);
        CopyBounded(buffer, text ? text : defaultValue, capacity);
        return true;
    }
    CopyBounded(buffer, defaultValue, capacity);
    // Dropped while integration is off: the default counts as read.
    if (route == Route::Dropped)
        return true;
    if (capacity == 0)
        return false;
    ReadKey key(root, subkey);
    if (!key.Get())
        return false;
    if (QueryText(key, name, buffer, capacity, nullptr) != TextValue::Text)
    {
        CopyBounded(buffer, defaultValue, capacity);
        return false;
    }
    return true;
}

TextValue ReadTextValue(HKEY root, const wchar_t* subkey, const wchar_t* name, wchar_t* buffer,
                        size_t capacity, DWORD* type)
{
    if (type)
        *type = REG_SZ;
    if (capacity == 0)
        return TextValue::Unusable;
    buffer[0] = 0;
    RoutedRead read(root, subkey, name);
    if (read.Way == Route::File)
    {
        if (read.Text == nullptr)
            return TextValue::Absent;
        if (wcslen(read.Text) >= capacity)
            return TextValue::Unusable;
        return CopyString(buffer, read.Text, capacity) ? TextValue::Text : TextValue::Unusable;
    }
    if (!read.Key.Get())
        return TextValue::Absent;
    return QueryText(read.Key, name, buffer, capacity, type);
}

bool ValueExists(HKEY root, const wchar_t* subkey, const wchar_t* name)
{
    RoutedRead read(root, subkey, name);
    if (read.Way == Route::File)
        return read.Text != nullptr;
    return read.Key.Ask([&](HKEY key) {
        return RegQueryValueExW(key, OrEmpty(name), nullptr, nullptr, nullptr, nullptr);
    }) == ERROR_SUCCESS;
}

bool KeyIsEmpty(HKEY root, const wchar_t* subkey)
{
    // The file holds values, not keys: no key of it counts as empty.
    RoutedRead read(root, subkey, nullptr);
    DWORD subkeys = 0, values = 0;
    return read.Key.Ask([&](HKEY key) {
        return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                &values, nullptr, nullptr, nullptr, nullptr);
    }) == ERROR_SUCCESS && subkeys == 0 && values == 0;
}

LONG SetString(HKEY root, const wchar_t* subkey, const wchar_t* name, const wchar_t* value)
{
    return SetText(root, subkey, name, value, REG_SZ);
}

LONG SetText(HKEY root, const wchar_t* subkey, const wchar_t* name, const wchar_t* value,
             DWORD type)
{
    value = OrEmpty(value);
    const size_t bytes = (wcslen(value) + 1) * sizeof(wchar_t);
    return WriteValue(root, subkey, name, value, Quoted,
                      type == REG_EXPAND_SZ ? REG_EXPAND_SZ : REG_SZ, value,
                      static_cast<DWORD>(bytes));
}

LONG SetInt(HKEY root, const wchar_t* subkey, const wchar_t* name, uint32_t value)
{
    wchar_t text[20];
    Int64ToText(static_cast<int64_t>(value), text, ARRAYSIZE(text));
    const DWORD data = value;
    return WriteValue(root, subkey, name, text, Plain, REG_DWORD, &data, sizeof(data));
}

void DeleteValue(HKEY root, const wchar_t* subkey, const wchar_t* name)
{
    wchar_t path[RegistryPathCapacity];
    if (!RoutedDeletion(root, subkey, name, path))
        return;
    const auto deleteValue = [&](HKEY key) { return RegDeleteValueW(key, OrEmpty(name)); };
    LONG status = ERROR_SUCCESS;
    HKEY opened = nullptr;
    if (ChangeHeldKey(root, path, registryView | KEY_SET_VALUE, deleteValue, status) ||
        OpenPathForValues(root, path, KEY_SET_VALUE, false, kNoOwnKeys, &opened) != ERROR_SUCCESS)
        return;
    RegistryKey key(opened);
    deleteValue(key.Get());
}

bool DeleteKey(HKEY root, const wchar_t* subkey)
{
    wchar_t path[RegistryPathCapacity];
    const bool toRegistry = RouteOf(root, subkey) == Route::Registry;
    if (!RoutedDeletion(root, subkey, L"", path))
        return !toRegistry;
    HKEY opened = nullptr;
    const LONG status = OpenPathOwnKeys(root, path, kDeleteAccess, false, kNoOwnKeys, &opened);
    if (status != ERROR_SUCCESS)
        return status == ERROR_FILE_NOT_FOUND;
    RegistryKey key(opened);
    const bool deleted = DeleteOpenedKey(key.Get());
    ForgetHeldKeys(root, path);
    return deleted;
}

void DeleteKeyTree(HKEY root, const wchar_t* subkey)
{
    wchar_t path[RegistryPathCapacity];
    if (!RoutedDeletion(root, subkey, L"", path))
        return;
    // A key made below the tree while a pass ran is taken by the next one;
    // a pass that deletes nothing ends it, as does the key itself going.
    for (;;)
    {
        bool keyGone = false;
        if (DeleteTreePass(root, path, keyGone) == 0 || keyGone)
            break;
    }
    ForgetHeldKeys(root, path);
}

bool FlushKey(HKEY root, const wchar_t* subkey)
{
    wchar_t path[RegistryPathCapacity];
    if (RouteOf(root, subkey) != Route::Registry || !RegistryPath(root, subkey, path) || *path == 0)
        return false;
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, path, 0, registryView | KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS)
        return false;
    RegistryKey key(opened);
    return RegFlushKey(key.Get()) == ERROR_SUCCESS;
}

HeldRegistryKeys::HeldRegistryKeys()
{
    ++holders;
}

HeldRegistryKeys::~HeldRegistryKeys()
{
    if (--holders == 0)
    {
        ForgetHeldKeys();
        ForgetMissingKeys();
    }
}

uint32_t GetUserInt(const wchar_t* subkey, const wchar_t* name, uint32_t defaultValue)
{
    return GetInt(HKEY_CURRENT_USER, subkey, name, defaultValue);
}

bool GetUserString(const wchar_t* subkey, const wchar_t* name, wchar_t* buffer,
                   const wchar_t* defaultValue, size_t capacity)
{
    return GetString(HKEY_CURRENT_USER, subkey, name, buffer, defaultValue, capacity);
}

LONG SetUserString(const wchar_t* subkey, const wchar_t* name, const wchar_t* value)
{
    return SetString(HKEY_CURRENT_USER, subkey, name, value);
}

LONG SetUserInt(const wchar_t* subkey, const wchar_t* name, uint32_t value)
{
    return SetInt(HKEY_CURRENT_USER, subkey, name, value);
}

void SetRegistryView(DWORD accessBits)
{
    registryView = accessBits;
}

DWORD RegistryView()
{
    return registryView;
}

bool IsIntegrationEnabled()
{
    return !Portable.Loaded || Portable.Integration || Portable.IntegrationForced;
}
