#pragma once
// Typed access to the archiver's settings and to any other registry key. A
// relative subkey of HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE lies below
// "Software\Velnox"; one that begins with "\" names a key directly below the
// root; subkeys of other roots are used as they stand. While a portable
// settings file is loaded, requests on the archiver's own settings are served
// from it, and its Integration switch can turn every other request off.
// Nothing here throws; reads fall back to the caller's default.
#include <windows.h>

#include <cstddef>
#include <cstdint>

// Names no registry root: only the settings file's own "Global" switches use it.
const HKEY NoRoot = nullptr;

// A composed registry path: 511 characters and the terminator.
const size_t RegistryPathCapacity = 512;

// False when the path did not fit and was cut: a cut path names another key,
// so no operation acts on it.
bool ComposeKeyPath(HKEY root, const wchar_t* subkey, wchar_t (&path)[RegistryPathCapacity]);

bool KeyExists(HKEY root, const wchar_t* subkey);
// Both return an open key the caller closes, or null. The registry view bits
// are added to the access mask. A key is created or written only when no
// registry link stands on its path: the program makes none.
HKEY OpenKeyForRead(HKEY root, const wchar_t* subkey);
HKEY CreateKeyForWrite(HKEY root, const wchar_t* subkey, LONG* status);

uint32_t GetInt(HKEY root, const wchar_t* subkey, const wchar_t* name, uint32_t defaultValue);
// The buffer always ends up holding the value or the default; a value that
// does not fit is not cut, it is replaced by the default (and false returned).
bool GetString(HKEY root, const wchar_t* subkey, const wchar_t* name, wchar_t* buffer,
               const wchar_t* defaultValue, size_t capacity);
// Registry status codes: 0 on success, ERROR_ACCESS_DENIED when refused.
LONG SetString(HKEY root, const wchar_t* subkey, const wchar_t* name, const wchar_t* value);
LONG SetInt(HKEY root, const wchar_t* subkey, const wchar_t* name, uint32_t value);
// Deletions act in the selected registry view, never through a registry link
// on the path; a link that is itself the key named is deleted as a link.
void DeleteValue(HKEY root, const wchar_t* subkey, const wchar_t* name);
// Deletes a key without subkeys.
void DeleteKey(HKEY root, const wchar_t* subkey);
// Deletes a key with all its subkeys; never a root itself. A subkey that
// cannot be deleted is passed over and its siblings still go.
void DeleteKeyTree(HKEY root, const wchar_t* subkey);

uint32_t GetUserInt(const wchar_t* subkey, const wchar_t* name, uint32_t defaultValue);
bool GetUserString(const wchar_t* subkey, const wchar_t* name, wchar_t* buffer,
                   const wchar_t* defaultValue, size_t capacity);
LONG SetUserString(const wchar_t* subkey, const wchar_t* name, const wchar_t* value);
LONG SetUserInt(const wchar_t* subkey, const wchar_t* name, uint32_t value);

// Extra access bits (KEY_WOW64_64KEY or 0) for key opens and creates; 0 at start.
void SetRegistryView(DWORD accessBits);
DWORD RegistryView();

// False only when a loaded settings file switches integration off. Does not
// itself look for the file.
bool IsIntegrationEnabled();

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
