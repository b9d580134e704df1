#pragma once
// Fixed keys of the system that setup writes and the removal deletes, each
// spelled once. The leading "\" puts them right below the root rather than
// under the archiver's own key.

// A key of this list as a plain registry call names it, below the root.
inline const wchar_t* BelowRoot(const wchar_t* fromRoot)
{
    return fromRoot[0] == L'\\' ? fromRoot + 1 : fromRoot;
}

// The archiver's entry in the list of installed programs.
const wchar_t kUninstallEntryKey[] =
    L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velnox archiver";
// Where the shell finds "Velnox.exe" by its bare name.
const wchar_t kAppPathsKey[] =
    L"\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Velnox.exe";
