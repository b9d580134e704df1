#include "settings/portable_settings.h"

#include "common/strings.h"
#include "files/file_system.h"
#include "files/path_names.h"
#include "files/replacement_file.h"
#include "platform/platform_probes.h"
#include "settings/settings_roots.h"
#include "settings/text_file.h"

#include <cstring>
#include <cwchar>

PortableSettings Portable = {false, false, {0}, nullptr, true, true, true, false, false, false, false};

namespace
{

const wchar_t kFileName[] = L"Velnox.ini";
// The file's own switches, under the pseudo-root: they are no settings of
// the registry, so they are read and stored in the image directly.
const wchar_t kSwitchesKey[] = L"Global";

// Stored as the store stores any number in the file: plain digits.
void StoreSwitch(const wchar_t* name, bool on)
{
    wchar_t text[20];
    Int64ToText(static_cast<int64_t>(on ? 1 : 0), text, ARRAYSIZE(text));
    static_cast<void>(SetPortableValue(NoRoot, kSwitchesKey, name, text, Plain));
}

// Writes the image back and frees it when the process ends.
struct PortableSettingsAtExit
{
    ~PortableSettingsAtExit()
    {
        // During a removal the process ends at once: the cleanup waits for it.
        if (Portable.Removing)
            return;
        SavePortableSettings();
        FreePortableSettings();
    }
} portableSettingsAtExit;

} // namespace

bool GetProgramPath(wchar_t (&path)[SettingsPathCapacity])
{
    path[0] = 0;
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&GetProgramPath), &module))
        return false;
    const DWORD length = GetModuleFileNameW(module, path, SettingsPathCapacity);
    // A cut name would point at some other folder.
    if (length == 0 || length >= SettingsPathCapacity)
    {
        path[0] = 0;
        return false;
    }
    return true;
}

bool LocatePortableSettings(const wchar_t* programPath, wchar_t (&path)[SettingsPathCapacity])
{
    path[0] = 0;
    if (programPath != nullptr && *programPath != 0 && CopyString(path, programPath) &&
        SetName(path, kFileName) && FileExists(path))
        return true;
    wchar_t folder[SettingsPathCapacity];
    if (GetDefaultAppDataFolder(folder) && JoinPath(folder, kFileName, path) && FileExists(path))
        return true;
    path[0] = 0;
    return false;
}

// Whether path is the settings file of the user's own folder.
bool IsUserFolderFile(const wchar_t* path)
{
    wchar_t folder[SettingsPathCapacity];
    wchar_t userFile[SettingsPathCapacity];
    return GetDefaultAppDataFolder(folder) && JoinPath(folder, kFileName, userFile) &&
           CompareNoCase(path, userFile) == 0;
}

bool LoadPortableSettingsFile(const wchar_t* path)
{
    Portable.Attempted = true;
    Portable.Whole = false;
    Portable.InUserFolder = IsUserFolderFile(path);
    try
    {
        StringList lines;
        bool whole = false;
        // The file is written back under this name: it must be whole.
        if (!CopyString(Portable.Path, path) || !ReadTextFile(Portable.Path, lines, whole))
            return false;
        const wchar_t* line = nullptr;
        PortableEntry** end = EndOfEntries(Portable.First);
        while (lines.NextString(&line))
            ParseEntryLine(line, end);
        Portable.Whole = whole;
    }
    catch (...)
    {
        // Out of memory while reading: the error sink has recorded it; keep
        // the entries read so far, but never write them back over the file.
    }
    Portable.Loaded = true;
    // Read the switches, then store them back so that the saved file holds them.
    Portable.AppData = GetPortableInt(NoRoot, kSwitchesKey, L"AppData", 1) != 0;
    Portable.Integration = GetPortableInt(NoRoot, kSwitchesKey, L"Integration", 1) != 0;
    Portable.SaveSettings = GetPortableInt(NoRoot, kSwitchesKey, L"SaveSettings", 1) != 0;
    StoreSwitch(L"AppData", Portable.AppData);
    StoreSwitch(L"Integration", Portable.Integration);
    StoreSwitch(L"SaveSettings", Portable.SaveSettings);
    return true;
}

void LoadPortableSettings()
{
    if (Portable.Loaded || Portable.Attempted)
        return;
    Portable.Attempted = true;
    wchar_t program[SettingsPathCapacity];
    wchar_t path[SettingsPathCapacity];
    if (!GetProgramPath(program))
        program[0] = 0;
    if (LocatePortableSettings(program, path))
        LoadPortableSettingsFile(path);
}

bool SavePortableSettings()
{
    if (!Portable.Loaded || !Portable.SaveSettings || !Portable.Whole || Portable.Removing)
        return false;

    // Written beside the file and put in its place only when whole and on
    // the disk: the old file stays until then, and no link at either name
    // carries the write elsewhere.
    ReplacementFile file;
    if (!file.Create(Portable.Path, true))
        return false;
    static const BYTE kMark[2] = {0xFF, 0xFE};
    const bool written = file.Write(kMark, sizeof(kMark)) && WriteEntries(file, Portable.First);
    return written && file.Commit();
}

void FreePortableSettings()
{
    FreeEntries(Portable.First);
    Portable.Loaded = false;
    Portable.IntegrationForced = false;
    Portable.Attempted = false;
    Portable.Whole = false;
}

void StopPortableWriteBack()
{
    // Beside the program the file may be one the removal deletes. The one in
    // the user's own folder outlives the installation: the removal of the
    // archiver's settings must reach it, so it is written back.
    LoadPortableSettings();
    if (!(Portable.Loaded && Portable.InUserFolder))
        Portable.Removing = true;
}

bool OverrideUserIntegrationSwitch(bool registeredHere)
{
    LoadPortableSettings();
    if (!Portable.Loaded || Portable.Integration || !RunsElevated() ||
        !(Portable.InUserFolder || registeredHere))
        return false;
    Portable.IntegrationForced = true;
    return true;
}

bool PortableFileHolds(const wchar_t* prefix)
{
    if (!Portable.Loaded)
        return false;
    const size_t length = std::wcslen(prefix);
    PortableEntry* read = nullptr;
    bool holds = false;
    try
    {
        StringList lines;
        bool whole = false;
        if (ReadTextFile(Portable.Path, lines, whole) && whole)
        {
            const wchar_t* line = nullptr;
            PortableEntry** end = &read;
            while (lines.NextString(&line))
                ParseEntryLine(line, end);
            holds = true;
            for (PortableEntry* entry = Portable.First; holds && entry; entry = entry->Next)
            {
                // The first entry of a name is the one that counts.
                if (std::wcsncmp(entry->Name, prefix, length) != 0 ||
                    FindEntry(Portable.First, entry->Name) != entry)
                    continue;
                const PortableEntry* found = FindEntry(read, entry->Name);
                holds = found && std::wcscmp(found->Value, entry->Value) == 0;
            }
        }
    }
    catch (...)
    {
        holds = false;
    }
    FreeEntries(read);
    return holds;
}

bool IsFileRouted(HKEY root, const wchar_t* subkey)
{
    LoadPortableSettings();
    if (!Portable.Loaded)
        return false;
    if (root != HKEY_CURRENT_USER && root != HKEY_LOCAL_MACHINE && root != NoRoot)
        return false;
    return !IsFromRoot(subkey);
}

bool ComposeEntryName(HKEY root, const wchar_t* subkey, const wchar_t* valueName,
                      wchar_t (&name)[EntryNameCapacity])
{
    const wchar_t* const prefix = root == HKEY_CURRENT_USER    ? L"HKCU\\"
                                  : root == HKEY_LOCAL_MACHINE ? L"HKLM\\"
                                                               : L"";
    if (!CopyString(name, prefix) || !AppendString(name, subkey ? subkey : L""))
        return false;
    const size_t length = std::wcslen(name);
    if (length > 0 && name[length - 1] != L'\\' && !AppendString(name, L"\\"))
        return false;
    return AppendString(name, valueName ? valueName : L"");
}

const wchar_t* FindPortableValue(const wchar_t* name)
{
    const PortableEntry* entry = FindEntry(Portable.First, name);
    return entry ? entry->Value : nullptr;
}

const wchar_t* FindPortableValue(HKEY root, const wchar_t* subkey, const wchar_t* valueName)
{
    wchar_t name[EntryNameCapacity];
    return ComposeEntryName(root, subkey, valueName, name) ? FindPortableValue(name) : nullptr;
}

uint32_t GetPortableInt(HKEY root, const wchar_t* subkey, const wchar_t* valueName,
                        uint32_t defaultValue)
{
    const wchar_t* text = FindPortableValue(root, subkey, valueName);
    return text ? static_cast<uint32_t>(ParseInt64(text)) : defaultValue;
}

bool SetPortableValue(HKEY root, const wchar_t* subkey, const wchar_t* valueName,
                      const wchar_t* value, PortableKind kind)
{
    wchar_t name[EntryNameCapacity];
    if (!ComposeEntryName(root, subkey, valueName, name))
        return false;
    SetEntry(Portable.First, name, value, kind);
    return true;
}

void RemovePortableValues(HKEY root, const wchar_t* subkey, const wchar_t* valueName)
{
    const bool wholeKey = valueName == nullptr || *valueName == 0;
    wchar_t name[EntryNameCapacity];
    if (!ComposeEntryName(root, subkey, valueName, name))
        return;
    RemoveEntries(Portable.First, name, wholeKey);
}

bool AnyPortableValueUnder(HKEY root, const wchar_t* subkey)
{
    wchar_t name[EntryNameCapacity];
    if (!ComposeEntryName(root, subkey, L"", name))
        return false;
    return AnyEntryUnder(Portable.First, name);
}
