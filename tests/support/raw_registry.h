#pragma once
// Registry keys made, read and removed with plain Windows calls rather than
// the settings store under test, in a chosen view (0, KEY_WOW64_32KEY or
// KEY_WOW64_64KEY).
#include <windows.h>

#include <string>
#include <vector>

const wchar_t kMissing[] = L"<missing>";

bool RawKeyExists(HKEY root, const std::wstring& path, REGSAM view = 0);
// The value's text, a number in decimal, or kMissing; its type goes to *type
// when asked.
std::wstring RawValue(HKEY root, const std::wstring& path, const wchar_t* name, REGSAM view = 0,
                      DWORD* type = nullptr);
// The value's text, "<no key>" or "<no value>".
std::wstring RawString(HKEY root, const std::wstring& path, const wchar_t* name);
DWORD RawValueCount(HKEY root, const std::wstring& path, REGSAM view = 0);
// The names of the subkeys right below the key.
std::vector<std::wstring> Subkeys(HKEY root, const std::wstring& path, REGSAM view = 0);

void RawSet(HKEY root, const std::wstring& path, const wchar_t* name, DWORD type, const void* data,
            DWORD size, REGSAM view = 0);
void RawSetString(HKEY root, const std::wstring& path, const wchar_t* name,
                  const std::wstring& value, REGSAM view = 0);
void RawDeleteValue(HKEY root, const std::wstring& path, const wchar_t* name, REGSAM view = 0);
// The key with all below it; a registry link goes as a link, its target stays.
void RemoveRegistryTree(HKEY root, const std::wstring& path, REGSAM view = 0);

// Both views under WOW64; the one view otherwise.
std::vector<REGSAM> Views(bool wow64);

// The files scheduled for the next restart, every name of
// PendingFileRenameOperations in order.
std::vector<std::wstring> PendingRenames();
// How many of them end with name, without regard to case.
int PendingCount(const std::wstring& name);
inline bool IsPending(const std::wstring& name)
{
    return PendingCount(name) > 0;
}
// Scheduled renames would run at the prefix's next start.
void ForgetPendingRenames();
