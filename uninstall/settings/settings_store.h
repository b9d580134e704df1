#pragma once
// settings/: the settings store, the portable settings file, the text file reader.
//
// Typed access to the archiver's settings and to any other registry key. A
// relative subkey of HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE lies below
// "Software\Velnox"; one that begins with "\" names a key directly below the
// root; subkeys of other roots are used as they stand. An elevated run reads
// and writes HKEY_CLASSES_ROOT requests in the machine's classes
// (HKEY_LOCAL_MACHINE "Software\Classes"), never in the user's copies. While a portable
// settings file is loaded, requests on the archiver's own settings are served
// from it, and its Integration switch can turn every other request off.
// Nothing here throws; reads fall back to the caller's default. The roots
// (settings_roots.h), the registry view, ComposeKeyPath and
// IsIntegrationEnabled (store_routing.h) come with this header.
#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "settings/settings_roots.h"
#include "settings/store_routing.h"

bool KeyExists(HKEY root, const wchar_t* subkey);
// Returns an open key the caller closes, or null. The registry view bits
// are added to the access mask. A key is created or written only when no
// registry link stands on its path: the program makes none.
HKEY CreateKeyForWrite(HKEY root, const wchar_t* subkey, LONG* status);

// Only a REG_DWORD of 4 bytes is a number; anything else reads as absent.
uint32_t GetInt(HKEY root, const wchar_t* subkey, const wchar_t* name, uint32_t defaultValue);
// The buffer always ends up holding the value or the default. Only a whole
// REG_SZ or REG_EXPAND_SZ text counts: another type, a text that does not fit
// (it is never cut), one with a NUL inside or half a character at its end is
// replaced by the default (and false returned).
bool GetString(HKEY root, const wchar_t* subkey, const wchar_t* name, wchar_t* buffer,
               const wchar_t* defaultValue, size_t capacity);

// What a read of a text value found, for data that must be kept exactly as
// it is (another program's registry entries).
enum class TextValue
{
    Absent,   // no such key or value; the buffer is empty
    Text,     // a whole text of the reported type; the buffer holds it
    Unusable, // there, but not a whole text that fits; the buffer is empty
};
// type receives REG_SZ or REG_EXPAND_SZ for a text (may be null). Trailing
// NULs are the terminator; an unterminated text reads whole.
TextValue ReadTextValue(HKEY root, const wchar_t* subkey, const wchar_t* name, wchar_t* buffer,
                        size_t capacity, DWORD* type);
// Whether the value is there, of any type and length.
bool ValueExists(HKEY root, const wchar_t* subkey, const wchar_t* name);
// Whether the key is there with no value and no subkey.
bool KeyIsEmpty(HKEY root, const wchar_t* subkey);

// Registry status codes: 0 on success, ERROR_ACCESS_DENIED when refused.
LONG SetString(HKEY root, const wchar_t* subkey, const wchar_t* name, const wchar_t* value);
// As SetString, with type REG_SZ or REG_EXPAND_SZ (the settings file keeps text only).
LONG SetText(HKEY root, const wchar_t* subkey, const wchar_t* name, const wchar_t* value,
             DWORD type);
LONG SetInt(HKEY root, const wchar_t* subkey, const wchar_t* name, uint32_t value);
// Deletions act in the selected registry view, never through a registry link
// on the path; a link that is itself the key named is deleted as a link.
void DeleteValue(HKEY root, const wchar_t* subkey, const wchar_t* name);
// Deletes a key without subkeys. True when no key is left there: deleted, or
// none there; false when one stays (with subkeys, refused, or unreachable).
bool DeleteKey(HKEY root, const wchar_t* subkey);
// Deletes a key with all its subkeys; never a root itself. A subkey that
// cannot be deleted is passed over and its siblings still go.
void DeleteKeyTree(HKEY root, const wchar_t* subkey);

// Writes the key's hive to the disk; true when the registry (not the
// settings file) holds the key and it reached the disk.
bool FlushKey(HKEY root, const wchar_t* subkey);

// Whether the settings file, not the registry, keeps the values of (root,
// subkey); looks for the file on first use.
bool IsKeptInSettingsFile(HKEY root, const wchar_t* subkey);
// Whether text written to (root, subkey) is kept whole: the settings file
// ends a text at a line break.
bool KeepsTextWhole(HKEY root, const wchar_t* subkey, const wchar_t* text);
// Puts the values under (root, subkey) on the disk: the registry key flushed,
// or the settings file written back and read again. True when they are
// there: the file read back holds each of them as this process has it.
bool MakeValuesDurable(HKEY root, const wchar_t* subkey);

// While one lives, the keys that writes walk through and the keys that reads
// open stay open, so that the next write below them starts there and the next
// read of them asks at once: one operation reads and writes many values under
// the same few keys. A key opened for a read serves reads only. Deletions
// forget them. held_keys.h states what each held or missing key serves.
class HeldRegistryKeys
{
public:
    HeldRegistryKeys();
    ~HeldRegistryKeys();
    HeldRegistryKeys(const HeldRegistryKeys&) = delete;
    HeldRegistryKeys& operator=(const HeldRegistryKeys&) = delete;
};

uint32_t GetUserInt(const wchar_t* subkey, const wchar_t* name, uint32_t defaultValue);
bool GetUserString(const wchar_t* subkey, const wchar_t* name, wchar_t* buffer,
                   const wchar_t* defaultValue, size_t capacity);
LONG SetUserString(const wchar_t* subkey, const wchar_t* name, const wchar_t* value);
LONG SetUserInt(const wchar_t* subkey, const wchar_t* name, uint32_t value);

template <size_t N>
inline bool GetString(HKEY root, const wchar_t* subkey, const wchar_t* name, wchar_t (&buffer)[N],
                      const wchar_t* defaultValue)
{
    return GetString(root, subkey, name, buffer, defaultValue, N);
}
template <size_t N>
inline bool GetUserString(const wchar_t* subkey, const wchar_t* name, wchar_t (&buffer)[N],
                          const wchar_t* defaultValue)
{
    return GetUserString(subkey, name, buffer, defaultValue, N);
}
