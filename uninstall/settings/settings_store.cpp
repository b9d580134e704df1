#include "settings/settings_store.h"

#include <cwchar>

#include "common/strings.h"
#include "settings/portable_settings.h"

namespace
{

DWORD registryView = 0;

class RegistryKey
{
public:
    explicit RegistryKey(HKEY key) : key_(key) {}
    ~RegistryKey()
    {
        if (key_)
            RegCloseKey(key_);
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    HKEY Get() const { return key_; }

private:
    HKEY key_;
};

bool IsSettingsRoot(HKEY root)
{
    return root == HKEY_CURRENT_USER || root == HKEY_LOCAL_MACHINE;
}

// A request that the file does not serve reaches the registry unless the file
// switched integration off. The pseudo-root never reaches it.
bool RegistryAllowed(HKEY root)
{
    return root != NoRoot && IsIntegrationEnabled();
}

const wchar_t* OrEmpty(const wchar_t* text)
{
    return text ? text : L"";
}

// Copies text or the default into the caller's buffer, cut to its capacity.
void CopyBounded(wchar_t* buffer, const wchar_t* text, size_t capacity)
{
    if (capacity > 0)
        CopyString(buffer, OrEmpty(text), capacity);
}

// Registry sizes are 32-bit byte counts.
DWORD ByteCapacity(size_t capacity)
{
    return capacity > MAXDWORD / 2 ? MAXDWORD - 1 : static_cast<DWORD>(capacity * 2);
}

// Reads a text value whole or not at all: the registry neither checks the
// type nor terminates what it returns, and a cut text would name something
// else. The buffer is left empty unless a text is returned.
TextValue QueryText(HKEY key, const wchar_t* name, wchar_t* buffer, size_t capacity, DWORD* type)
{
    DWORD size = ByteCapacity(capacity);
    DWORD valueType = REG_NONE;
    const LONG status = RegQueryValueExW(key, OrEmpty(name), nullptr, &valueType,
                                         reinterpret_cast<BYTE*>(buffer), &size);
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

// Empty path: a root is never deleted.
bool DeleteTreePass(HKEY root, const wchar_t* path, unsigned& deleted)
{
    if (*path == 0)
        return false;
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return false;
    {
        RegistryKey key(opened);
        for (DWORD index = 0;; ++index)
        {
            wchar_t name[200];
            DWORD length = ARRAYSIZE(name);
            if (RegEnumKeyExW(key.Get(), index, name, &length, nullptr, nullptr, nullptr,
                              nullptr) != ERROR_SUCCESS)
                break;
            wchar_t child[RegistryPathCapacity];
            FormatString(child, ARRAYSIZE(child), L"%s\\%s", path, name);
            DeleteTreePass(root, child, deleted);
        }
    }
    if (RegDeleteKeyW(root, path) != ERROR_SUCCESS)
        return false;
    ++deleted;
    return true;
}

} // namespace

void ComposeKeyPath(HKEY root, const wchar_t* subkey, wchar_t (&path)[RegistryPathCapacity])
{
    subkey = OrEmpty(subkey);
    if (IsSettingsRoot(root) && subkey[0] != L'\\')
        FormatString(path, ARRAYSIZE(path), L"Software\\Velnox%s%s", *subkey ? L"\\" : L"", subkey);
    else if (IsSettingsRoot(root))
        CopyString(path, subkey + 1);
    else
        CopyString(path, subkey);
}

bool KeyExists(HKEY root, const wchar_t* subkey)
{
    if (IsFileRouted(root, subkey))
        return AnyPortableValueUnder(root, subkey);
    if (!RegistryAllowed(root))
        return false;
    wchar_t path[RegistryPathCapacity];
    ComposeKeyPath(root, subkey, path);
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS)
        return false;
    RegCloseKey(opened);
    return true;
}

HKEY OpenKeyForRead(HKEY root, const wchar_t* subkey)
{
    if (root == NoRoot)
        return nullptr;
    wchar_t path[RegistryPathCapacity];
    ComposeKeyPath(root, subkey, path);
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, path, 0, registryView | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS,
                      &opened) != ERROR_SUCCESS)
        return nullptr;
    return opened;
}

HKEY CreateKeyForWrite(HKEY root, const wchar_t* subkey, LONG* status)
{
    LONG result = ERROR_INVALID_HANDLE;
    HKEY created = nullptr;
    if (root != NoRoot)
    {
        wchar_t path[RegistryPathCapacity];
        ComposeKeyPath(root, subkey, path);
        result = RegCreateKeyExW(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 registryView | KEY_WRITE, nullptr, &created, nullptr);
        if (result != ERROR_SUCCESS)
            created = nullptr;
    }
    if (status)
        *status = result;
    return created;
}

uint32_t GetInt(HKEY root, const wchar_t* subkey, const wchar_t* name, uint32_t defaultValue)
{
    if (IsFileRouted(root, subkey))
    {
        wchar_t entry[EntryNameCapacity];
        ComposeEntryName(root, subkey, name, entry);
        const wchar_t* text = FindPortableValue(entry);
        return text ? static_cast<uint32_t>(ParseInt64(text)) : defaultValue;
    }
    if (!RegistryAllowed(root))
        return defaultValue;
    RegistryKey key(OpenKeyForRead(root, subkey));
    if (!key.Get())
        return defaultValue;
    DWORD value = 0;
    DWORD size = sizeof(value);
    DWORD type = REG_NONE;
    // A text, a byte string or a short number is not the number asked for.
    if (RegQueryValueExW(key.Get(), OrEmpty(name), nullptr, &type, reinterpret_cast<BYTE*>(&value),
                         &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(value))
        return defaultValue;
    return value;
}

bool GetString(HKEY root, const wchar_t* subkey, const wchar_t* name, wchar_t* buffer,
               const wchar_t* defaultValue, size_t capacity)
{
    if (IsFileRouted(root, subkey))
    {
        wchar_t entry[EntryNameCapacity];
        ComposeEntryName(root, subkey, name, entry);
        const wchar_t* text = FindPortableValue(entry);
        CopyBounded(buffer, text ? text : defaultValue, capacity);
        return true;
    }
    CopyBounded(buffer, defaultValue, capacity);
    if (root == NoRoot)
        return false;
    // Dropped while integration is off: the default counts as read.
    if (!IsIntegrationEnabled())
        return true;
    if (capacity == 0)
        return false;
    RegistryKey key(OpenKeyForRead(root, subkey));
    if (!key.Get())
        return false;
    if (QueryText(key.Get(), name, buffer, capacity, nullptr) != TextValue::Text)
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
    if (IsFileRouted(root, subkey))
    {
        wchar_t entry[EntryNameCapacity];
        ComposeEntryName(root, subkey, name, entry);
        const wchar_t* text = FindPortableValue(entry);
        if (text == nullptr)
            return TextValue::Absent;
        if (wcslen(text) >= capacity)
            return TextValue::Unusable;
        CopyString(buffer, text, capacity);
        return TextValue::Text;
    }
    if (!RegistryAllowed(root))
        return TextValue::Absent;
    RegistryKey key(OpenKeyForRead(root, subkey));
    if (!key.Get())
        return TextValue::Absent;
    return QueryText(key.Get(), name, buffer, capacity, type);
}

bool ValueExists(HKEY root, const wchar_t* subkey, const wchar_t* name)
{
    if (IsFileRouted(root, subkey))
    {
        wchar_t entry[EntryNameCapacity];
        ComposeEntryName(root, subkey, name, entry);
        return FindPortableValue(entry) != nullptr;
    }
    if (!RegistryAllowed(root))
        return false;
    RegistryKey key(OpenKeyForRead(root, subkey));
    return key.Get() && RegQueryValueExW(key.Get(), OrEmpty(name), nullptr, nullptr, nullptr,
                                         nullptr) == ERROR_SUCCESS;
}

bool KeyIsEmpty(HKEY root, const wchar_t* subkey)
{
    if (IsFileRouted(root, subkey) || !RegistryAllowed(root))
        return false;
    RegistryKey key(OpenKeyForRead(root, subkey));
    DWORD subkeys = 0, values = 0;
    return key.Get() &&
           RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                            &values, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
           subkeys == 0 && values == 0;
}

LONG SetString(HKEY root, const wchar_t* subkey, const wchar_t* name, const wchar_t* value)
{
    return SetText(root, subkey, name, value, REG_SZ);
}

LONG SetText(HKEY root, const wchar_t* subkey, const wchar_t* name, const wchar_t* value,
             DWORD type)
{
    value = OrEmpty(value);
    if (IsFileRouted(root, subkey))
    {
        wchar_t entry[EntryNameCapacity];
        ComposeEntryName(root, subkey, name, entry);
        SetPortableValue(entry, value, Quoted);
        return ERROR_SUCCESS;
    }
    if (root != NoRoot && !IsIntegrationEnabled())
        return ERROR_SUCCESS;
    LONG status = ERROR_SUCCESS;
    RegistryKey key(CreateKeyForWrite(root, subkey, &status));
    if (!key.Get())
        return status;
    size_t bytes = (wcslen(value) + 1) * sizeof(wchar_t);
    return RegSetValueExW(key.Get(), OrEmpty(name), 0,
                          type == REG_EXPAND_SZ ? REG_EXPAND_SZ : REG_SZ,
                          reinterpret_cast<const BYTE*>(value), static_cast<DWORD>(bytes));
}

LONG SetInt(HKEY root, const wchar_t* subkey, const wchar_t* name, uint32_t value)
{
    if (IsFileRouted(root, subkey))
    {
        wchar_t entry[EntryNameCapacity];
        ComposeEntryName(root, subkey, name, entry);
        wchar_t text[20];
        Int64ToText(static_cast<int64_t>(value), text, ARRAYSIZE(text));
        SetPortableValue(entry, text, Plain);
        return ERROR_SUCCESS;
    }
    if (root != NoRoot && !IsIntegrationEnabled())
        return ERROR_SUCCESS;
    LONG status = ERROR_SUCCESS;
    RegistryKey key(CreateKeyForWrite(root, subkey, &status));
    if (!key.Get())
        return status;
    DWORD data = value;
    return RegSetValueExW(key.Get(), OrEmpty(name), 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&data), sizeof(data));
}

void DeleteValue(HKEY root, const wchar_t* subkey, const wchar_t* name)
{
    if (IsFileRouted(root, subkey))
    {
        RemovePortableValues(root, subkey, name);
        return;
    }
    if (!RegistryAllowed(root))
        return;
    wchar_t path[RegistryPathCapacity];
    ComposeKeyPath(root, subkey, path);
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_WRITE, &opened) != ERROR_SUCCESS)
        return;
    RegistryKey key(opened);
    RegDeleteValueW(key.Get(), OrEmpty(name));
}

void DeleteKey(HKEY root, const wchar_t* subkey)
{
    if (IsFileRouted(root, subkey))
    {
        RemovePortableValues(root, subkey, L"");
        return;
    }
    if (!RegistryAllowed(root))
        return;
    wchar_t path[RegistryPathCapacity];
    ComposeKeyPath(root, subkey, path);
    // An empty path would name the root itself.
    if (*path)
        RegDeleteKeyW(root, path);
}

void DeleteKeyTree(HKEY root, const wchar_t* subkey)
{
    if (IsFileRouted(root, subkey))
    {
        RemovePortableValues(root, subkey, L"");
        return;
    }
    if (!RegistryAllowed(root))
        return;
    wchar_t path[RegistryPathCapacity];
    ComposeKeyPath(root, subkey, path);
    // Enumeration moves on while the visited subkey is gone, so one pass can
    // skip siblings; repeat until a pass deletes nothing.
    for (;;)
    {
        unsigned deleted = 0;
        DeleteTreePass(root, path, deleted);
        if (deleted == 0)
            break;
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
