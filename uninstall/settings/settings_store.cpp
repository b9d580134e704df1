#include "settings/settings_store.h"

#include <cwchar>

#include "common/handles.h"
#include "common/strings.h"
#include "settings/held_keys.h"
#include "settings/key_tree_deletion.h"
#include "settings/key_walk.h"
#include "settings/own_keys.h"
#include "settings/portable_settings.h"
#include "run/run_log.h"

namespace
{

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

// Status given for a path that would have to be cut.
const LONG kPathTooLong = ERROR_FILENAME_EXCED_RANGE;

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

// From which name on a path lies in the program's own key, where a link
// planted by someone else is replaced on the way to a write.
size_t OwnKeysFrom(HKEY root, const wchar_t* subkey)
{
    return IsSettingsRoot(root) && !IsFromRoot(OrEmpty(subkey)) ? kOwnKeysFromName : kNoOwnKeys;
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
    const REGSAM access = RegistryView() | KEY_WRITE;
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

// A key as the log names it: its root, the path a relative subkey of the
// user's or the machine's software key stands for, and a view chosen.
void DescribeKey(HKEY root, const wchar_t* subkey, wchar_t (&text)[kLogLineChars])
{
    const wchar_t* rootName = root == HKEY_CLASSES_ROOT    ? L"HKCR"
                              : root == HKEY_CURRENT_USER  ? L"HKCU"
                              : root == HKEY_LOCAL_MACHINE ? L"HKLM"
                                                           : L"settings file";
    subkey = OrEmpty(subkey);
    const bool own = (root == HKEY_CURRENT_USER || root == HKEY_LOCAL_MACHINE) && *subkey != L'\\';
    const DWORD view = RegistryView();
    FormatInto(text, L"%s\\%s%s%s", rootName, own ? L"Software\\Velnox\\" : L"",
               *subkey == L'\\' ? subkey + 1 : subkey,
               (view & KEY_WOW64_64KEY)   ? L" (64-bit view)"
               : (view & KEY_WOW64_32KEY) ? L" (32-bit view)"
                                          : L"");
}

void LogWrite(HKEY root, const wchar_t* subkey, const wchar_t* name, const wchar_t* text,
              LONG status)
{
    if (!RunLogOpen() || RouteOf(root, subkey) == Route::Dropped)
        return;
    wchar_t key[kLogLineChars];
    DescribeKey(root, subkey, key);
    if (status == ERROR_SUCCESS)
        LogLine(L"set %s [%s] = %s", key, OrEmpty(name), text);
    else
        LogLine(L"not set (error %ld): %s [%s] = %s", long(status), key, OrEmpty(name), text);
}

void LogDeletion(const wchar_t* what, HKEY root, const wchar_t* subkey, const wchar_t* name)
{
    if (!RunLogOpen())
        return;
    wchar_t key[kLogLineChars];
    DescribeKey(root, subkey, key);
    LogLine(name ? L"deleted %s %s [%s]" : L"deleted %s %s", what, key, OrEmpty(name));
}

} // namespace

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
    const LONG status = WriteValue(root, subkey, name, value, Quoted,
                                   type == REG_EXPAND_SZ ? REG_EXPAND_SZ : REG_SZ, value,
                                   static_cast<DWORD>(bytes));
    LogWrite(root, subkey, name, value, status);
    return status;
}

LONG SetInt(HKEY root, const wchar_t* subkey, const wchar_t* name, uint32_t value)
{
    wchar_t text[20];
    Int64ToText(static_cast<int64_t>(value), text, ARRAYSIZE(text));
    const DWORD data = value;
    const LONG status = WriteValue(root, subkey, name, text, Plain, REG_DWORD, &data, sizeof(data));
    LogWrite(root, subkey, name, text, status);
    return status;
}

void DeleteValue(HKEY root, const wchar_t* subkey, const wchar_t* name)
{
    wchar_t path[RegistryPathCapacity];
    const HKEY named = root;
    if (!RoutedDeletion(root, subkey, name, path))
        return;
    const auto deleteValue = [&](HKEY key) { return RegDeleteValueW(key, OrEmpty(name)); };
    LONG status = ERROR_SUCCESS;
    HKEY opened = nullptr;
    if (!ChangeHeldKey(root, path, RegistryView() | KEY_SET_VALUE, deleteValue, status))
    {
        if (OpenPathForValues(root, path, KEY_SET_VALUE, false, kNoOwnKeys, &opened) !=
            ERROR_SUCCESS)
            return;
        RegistryKey key(opened);
        status = deleteValue(key.Get());
    }
    if (status == ERROR_SUCCESS)
        LogDeletion(L"value", named, subkey, name);
}

bool DeleteKey(HKEY root, const wchar_t* subkey)
{
    wchar_t path[RegistryPathCapacity];
    const HKEY named = root;
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
    if (deleted)
        LogDeletion(L"key", named, subkey, nullptr);
    return deleted;
}

void DeleteKeyTree(HKEY root, const wchar_t* subkey)
{
    wchar_t path[RegistryPathCapacity];
    const HKEY named = root;
    if (!RoutedDeletion(root, subkey, L"", path))
        return;
    // A key made below the tree while a pass ran is taken by the next one;
    // a pass that deletes nothing ends it, as does the key itself going.
    unsigned deleted = 0;
    for (;;)
    {
        bool keyGone = false;
        const unsigned pass = DeleteTreePass(root, path, keyGone);
        deleted += pass;
        if (pass == 0 || keyGone)
            break;
    }
    ForgetHeldKeys(root, path);
    if (deleted > 0)
        LogDeletion(L"tree", named, subkey, nullptr);
}

bool FlushKey(HKEY root, const wchar_t* subkey)
{
    wchar_t path[RegistryPathCapacity];
    if (RouteOf(root, subkey) != Route::Registry || !RegistryPath(root, subkey, path) || *path == 0)
        return false;
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, path, 0, RegistryView() | KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS)
        return false;
    RegistryKey key(opened);
    return RegFlushKey(key.Get()) == ERROR_SUCCESS;
}

bool IsKeptInSettingsFile(HKEY root, const wchar_t* subkey)
{
    return IsFileRouted(root, subkey);
}

bool KeepsTextWhole(HKEY root, const wchar_t* subkey, const wchar_t* text)
{
    return !IsFileRouted(root, subkey) || std::wcspbrk(text, L"\r\n") == nullptr;
}

bool MakeValuesDurable(HKEY root, const wchar_t* subkey)
{
    if (!IsFileRouted(root, subkey))
        return FlushKey(root, subkey);
    wchar_t prefix[EntryNameCapacity];
    return SavePortableSettings() && ComposeEntryName(root, subkey, L"", prefix) &&
           PortableFileHolds(prefix);
}

HeldRegistryKeys::HeldRegistryKeys()
{
    StartHoldingKeys();
}

HeldRegistryKeys::~HeldRegistryKeys()
{
    StopHoldingKeys();
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
