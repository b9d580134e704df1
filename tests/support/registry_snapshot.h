#pragma once
// A registry tree read into an ordered map, and the differences between two
// such readings as one readable line each. Keys are recorded on their own
// too, so an empty key left behind shows up.
#include <windows.h>

#include <map>
#include <string>
#include <vector>

struct RegistryEntry
{
    std::wstring Key; // below the snapshot's root key, "" for the root itself
    bool IsValue = false;
    std::wstring Name; // value name, "" for the default value
    DWORD Type = 0;
    std::wstring Data; // readable: strings as text, numbers in hex, the rest as hex bytes

    // "HKCR\.zip [Content Type] REG_SZ "text"" or "HKCR\.zip\ShellNew (key)".
    std::wstring Describe(const std::wstring& rootLabel) const;
};

struct RegistrySnapshot
{
    std::wstring Label; // e.g. "HKCR" or "HKLM\Software (64)"; starts every line
    bool Exists = false;
    // Ordered by key path and value name without regard to letter case, as
    // the registry compares them; values of a key come before its subkeys.
    std::map<std::wstring, RegistryEntry> Entries;
};

// view: 0, KEY_WOW64_32KEY or KEY_WOW64_64KEY. A missing key gives an empty
// snapshot; keys that cannot be opened are skipped.
// skipTop: names of subkeys right below the key that are left out (another
// snapshot covers them), ending with a null.
RegistrySnapshot TakeRegistrySnapshot(HKEY root, const wchar_t* path, REGSAM view = 0,
                                      const wchar_t* label = nullptr,
                                      const wchar_t* const* skipTop = nullptr);

struct RegistryDifference
{
    enum Kind
    {
        Added,
        Removed,
        Changed
    } What;
    RegistryEntry Before; // empty for Added
    RegistryEntry After;  // empty for Removed
    const RegistryEntry& Entry() const { return What == Added ? After : Before; }
};

std::vector<RegistryDifference> CompareRegistrySnapshots(const RegistrySnapshot& before,
                                                         const RegistrySnapshot& after);
// "added   HKCR\.zip [x] REG_SZ "y"", "removed ...", "changed ... -> ...".
std::wstring DescribeDifference(const RegistryDifference& difference, const std::wstring& label);
// Every difference, one line each; empty when the two are equal.
std::vector<std::wstring> ListRegistryDifferences(const RegistrySnapshot& before,
                                                  const RegistrySnapshot& after);

// For GoogleTest messages.
std::string WideToUtf8(const std::wstring& text);
std::string JoinLines(const std::vector<std::wstring>& lines);
