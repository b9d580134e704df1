#include "integration/uninstall_entry.h"

#include "common/strings.h"
#include "files/path_names.h"
#include "localization/messages.h"
#include "resources/resource.h"
#include "settings/registry_paths.h"
#include "settings/settings_store.h"

namespace
{

const size_t kEntryTextChars = 2148;
const size_t kVersionPartChars = 100;

} // namespace

void AppendVersionText(wchar_t* text, size_t capacity)
{
    if (capacity == 0)
        return;
    wchar_t part[kVersionPartChars];
    if (*text)
        AppendStringCut(text, L" ", capacity);
    AppendStringCut(text, FormatInto(part, L"%d.%02d", VNX_VERSION_MAJOR, VNX_VERSION_MINOR),
                    capacity);
    AppendStringCut(text,
                    FormatInto(part, L" %s %d", MessageText(MSG_VERSION_LABEL), VNX_VERSION_BUILD),
                    capacity);
    AppendStringCut(text, FormatInto(part, L" (%s)", MessageText(MSG_NAME_SUFFIX)), capacity);
}

void WriteUninstallEntry(const wchar_t* programPath)
{
    wchar_t text[kEntryTextChars];
    CopyStringCut(text, L"Velnox");
    AppendVersionText(text);
    SetString(HKEY_LOCAL_MACHINE, kUninstallEntryKey, L"DisplayName", text);
    FormatInto(text, L"%d.%02d.%d", VNX_VERSION_MAJOR, VNX_VERSION_MINOR, VNX_VERSION_BUILD);
    SetString(HKEY_LOCAL_MACHINE, kUninstallEntryKey, L"DisplayVersion", text);
    SetInt(HKEY_LOCAL_MACHINE, kUninstallEntryKey, L"VersionMajor", VNX_VERSION_MAJOR);
    SetInt(HKEY_LOCAL_MACHINE, kUninstallEntryKey, L"VersionMinor", VNX_VERSION_MINOR);

    // A cut name would have the list of programs run, show or open another.
    wchar_t program[kEntryTextChars];
    if (programPath)
    {
        if (!CopyString(program, programPath))
            program[0] = 0;
    }
    else
    {
        DWORD length = GetModuleFileNameW(nullptr, program, ARRAYSIZE(program));
        if (length == 0 || length >= ARRAYSIZE(program))
            program[0] = 0;
    }
    // Quoted, so that a path with spaces cannot be read as a shorter program
    // ("C:\Program.exe") followed by arguments.
    if (FormatString(text, L"\"%s\"", program) >= 0)
        SetString(HKEY_LOCAL_MACHINE, kUninstallEntryKey, L"UninstallString", text);

    if (CopyString(text, program) && SetName(text, L"Velnox.exe"))
    {
        SetString(HKEY_LOCAL_MACHINE, kUninstallEntryKey, L"DisplayIcon", text);
        *PointToName(text) = 0;
        SetString(HKEY_LOCAL_MACHINE, kUninstallEntryKey, L"InstallLocation", text);
    }

    SetInt(HKEY_LOCAL_MACHINE, kUninstallEntryKey, L"NoModify", 1);
    SetInt(HKEY_LOCAL_MACHINE, kUninstallEntryKey, L"NoRepair", 1);
    SetInt(HKEY_LOCAL_MACHINE, kUninstallEntryKey, L"Language", 0);
    SetString(HKEY_LOCAL_MACHINE, kUninstallEntryKey, L"Publisher", L"Korvane");
}
