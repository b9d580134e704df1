#include "integration/uninstall_entry.h"

#include "common/strings.h"
#include "files/path_names.h"
#include "localization/messages.h"
#include "resources/resource.h"
#include "settings/registry_paths.h"
#include "settings/settings_store.h"
#include "settings/text_file.h"

#include <cwchar>

namespace
{

const size_t kEntryTextChars = 2148;
const size_t kVersionPartChars = 100;

// A line of the list that names a file inside the folder by a plain relative
// path; anything else is not counted (the removal decides on its own).
bool IsCountableEntry(const wchar_t* line)
{
    if (line[0] == L'\\' || line[0] == L'/' || std::wcschr(line, L':') != nullptr)
        return false;
    for (const wchar_t* part = line; *part != 0;)
    {
        const wchar_t* end = part;
        while (*end != 0 && *end != L'\\' && *end != L'/')
            ++end;
        if (end - part == 2 && part[0] == L'.' && part[1] == L'.')
            return false;
        part = *end != 0 ? end + 1 : end;
    }
    return true;
}

// The size in KiB, rounded up, of the plain files that "Uninstall.lst" beside
// the program names; 0 when there is no list.
DWORD ListedFilesKiB(const wchar_t* folder)
{
    wchar_t name[kPathChars];
    StringList lines;
    if (!JoinPath(folder, L"Uninstall.lst", name) || !ReadTextFile(name, lines))
        return 0;
    unsigned long long bytes = 0;
    const wchar_t* line = nullptr;
    while (lines.NextString(&line))
    {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!IsCountableEntry(line) || !JoinPath(folder, line, name) ||
            !GetFileAttributesExW(name, GetFileExInfoStandard, &data) ||
            (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
            continue;
        bytes += (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }
    const unsigned long long kib = (bytes + 1023) / 1024;
    return kib > MAXDWORD ? MAXDWORD : static_cast<DWORD>(kib);
}

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
    AppendStringCut(
        text, FormatInto(part, L" %s %d", SharedMessageText(MSG_VERSION_LABEL), VNX_VERSION_BUILD),
        capacity);
    AppendStringCut(text, FormatInto(part, L" (%s)", SharedMessageText(MSG_NAME_SUFFIX)), capacity);
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
    // Package managers remove the archiver without a question this way.
    if (FormatString(text, L"\"%s\" /S", program) >= 0)
        SetString(HKEY_LOCAL_MACHINE, kUninstallEntryKey, L"QuietUninstallString", text);

    if (CopyString(text, program) && SetName(text, L"Velnox.exe"))
    {
        SetString(HKEY_LOCAL_MACHINE, kUninstallEntryKey, L"DisplayIcon", text);
        *PointToName(text) = 0;
        SetString(HKEY_LOCAL_MACHINE, kUninstallEntryKey, L"InstallLocation", text);
        SetInt(HKEY_LOCAL_MACHINE, kUninstallEntryKey, L"EstimatedSize", ListedFilesKiB(text));
    }

    SetInt(HKEY_LOCAL_MACHINE, kUninstallEntryKey, L"NoModify", 1);
    SetInt(HKEY_LOCAL_MACHINE, kUninstallEntryKey, L"NoRepair", 1);
    SetInt(HKEY_LOCAL_MACHINE, kUninstallEntryKey, L"Language", 0);
    SetString(HKEY_LOCAL_MACHINE, kUninstallEntryKey, L"Publisher", L"Korvane");

    SYSTEMTIME today;
    GetLocalTime(&today);
    if (FormatString(text, L"%04u%02u%02u", today.wYear, today.wMonth, today.wDay) >= 0)
        SetString(HKEY_LOCAL_MACHINE, kUninstallEntryKey, L"InstallDate", text);
    // The address the completion dialog opens; a translation that is no web
    // address leaves the value out. Every user of the machine reads it.
    const wchar_t* address = SharedMessageWebAddress(MSG_WEB_ADDRESS);
    if (address[0] != 0)
        SetString(HKEY_LOCAL_MACHINE, kUninstallEntryKey, L"URLInfoAbout", address);
}
