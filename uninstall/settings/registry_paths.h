#pragma once
// Fixed keys of the system that setup writes and the removal deletes, each
// spelled once. The leading "\" puts them right below the root rather than
// under the archiver's own key.

// The archiver's entry in the list of installed programs.
const wchar_t kUninstallEntryKey[] =
    L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velnox archiver";
// Where the shell finds "Velnox.exe" by its bare name.
const wchar_t kAppPathsKey[] =
    L"\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Velnox.exe";
