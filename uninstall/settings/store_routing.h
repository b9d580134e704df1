#pragma once
// Where a request of the settings store goes, and which registry key it
// names there. Each call decides its route once: the settings file serves
// the archiver's own settings while one is loaded, the registry the rest,
// unless the file switched integration off. On the registry side a subkey is
// composed into a path below its root, in the view selected for the run; an
// elevated run's classes requests land in the machine's own classes key.
// The view, ComposeKeyPath and IsIntegrationEnabled reach every caller
// through settings_store.h; the rest serves the store's own files.
#include <windows.h>

#include <cstddef>

#include "settings/settings_roots.h"

// A composed registry path: 511 characters and the terminator.
const size_t RegistryPathCapacity = 512;

// False when the path did not fit and was cut: a cut path names another key,
// so no operation acts on it.
bool ComposeKeyPath(HKEY root, const wchar_t* subkey, wchar_t (&path)[RegistryPathCapacity]);

// Extra access bits (KEY_WOW64_64KEY or 0) for key opens and creates; 0 at start.
void SetRegistryView(DWORD accessBits);
DWORD RegistryView();
// With a set 64-bit flag under WOW64 the store works in the 64-bit registry
// view from now on; otherwise in the process's own view.
void SelectRegistryView(bool is64Bit);

// The store works in the 64-bit view under WOW64 (is64Bit) or in the
// process's own view until the scope ends, then in the view it had.
class RegistryViewScope
{
public:
    explicit RegistryViewScope(bool is64Bit) : saved_(RegistryView()) { SelectRegistryView(is64Bit); }
    ~RegistryViewScope() { SetRegistryView(saved_); }
    RegistryViewScope(const RegistryViewScope&) = delete;
    RegistryViewScope& operator=(const RegistryViewScope&) = delete;

private:
    const DWORD saved_;
};

// False only when a loaded settings file switches integration off. Does not
// itself look for the file.
bool IsIntegrationEnabled();

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

Route RouteOf(HKEY root, const wchar_t* subkey);

// The registry path of a request and the root it lies under, in view. The
// classes root itself stays the root, which nothing deletes. The classes
// root merges the user's classes over the machine's, and the user's win
// there and take its writes: an elevated run acts on the machine's own
// classes, so what decides there, what it writes lands there, and what it
// deletes goes from there. False when that key cannot be opened, and then
// nothing is done.
bool ComposeRegistryPath(HKEY& root, const wchar_t* subkey, wchar_t (&path)[RegistryPathCapacity],
                         DWORD view = RegistryView());

// The registry path of a request, and the root it lies under; false when
// there is no key to act on: the pseudo-root names none, and a cut path
// would name another.
bool RegistryPath(HKEY& root, const wchar_t* subkey, wchar_t (&path)[RegistryPathCapacity]);
