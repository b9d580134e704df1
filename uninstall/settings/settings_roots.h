#pragma once
// The roots a settings request names, shared by the settings store and the
// portable settings file: the two roots that hold the archiver's own key, the
// pseudo-root of the file's own switches, and the subkey that starts right
// below its root.
#include <windows.h>

// Names no registry root: only the settings file's own "Global" switches use it.
const HKEY NoRoot = nullptr;

// The roots below which the archiver keeps its own settings.
inline bool IsSettingsRoot(HKEY root)
{
    return root == HKEY_CURRENT_USER || root == HKEY_LOCAL_MACHINE;
}

// The archiver's own key ("Software\Velnox") itself: a subkey of
// HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE without a leading "\" lies below
// it, so the empty one names it, with all of the archiver's settings.
const wchar_t kOwnSettingsKey[] = L"";

// A subkey of HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE that begins with "\"
// names a key right below the root, not one below "Software\Velnox".
inline bool IsFromRoot(const wchar_t* subkey)
{
    return subkey != nullptr && subkey[0] == L'\\';
}
