#include "settings/portable_settings.h"

#include "common/dyn_array.h"
#include "common/error_sink.h"
#include "common/strings.h"
#include "files/file_system.h"
#include "files/path_names.h"
#include "files/replacement_file.h"
#include "platform/platform_probes.h"
#include "settings/settings_roots.h"
#include "settings/text_file.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

PortableSettings Portable = {false, false, {0}, nullptr, true, true, true, false, false, false, false};

namespace
{

const wchar_t kFileName[] = L"Velnox.ini";
const wchar_t kQuote[] = L"\"";
const wchar_t kBinPrefix[] = L"bin:";
const size_t kBinPrefixLength = 4;

wchar_t* DuplicateString(const wchar_t* text, size_t length)
{
    wchar_t* copy = static_cast<wchar_t*>(std::malloc((length + 1) * sizeof(wchar_t)));
    if (copy == nullptr)
        ReportMemoryError();
    std::memcpy(copy, text, length * sizeof(wchar_t));
    copy[length] = 0;
    return copy;
}

void FreeEntry(PortableEntry* entry)
{
    std::free(entry->Name);
    std::free(entry->Value);
    std::free(entry);
}

// The link that a new entry goes into: the end of the image.
PortableEntry** EndLink()
{
    PortableEntry** link = &Portable.First;
    while (*link)
        link = &(*link)->Next;
    return link;
}

// Appends at end, which is then moved on to the new entry's link; the loader
// keeps it across lines so that a long file does not walk the image per line.
void AppendEntry(wchar_t* name, wchar_t* value, PortableKind kind, PortableEntry**& end)
{
    PortableEntry* entry = static_cast<PortableEntry*>(std::malloc(sizeof(PortableEntry)));
    if (entry == nullptr)
    {
        std::free(name);
        std::free(value);
        ReportMemoryError();
    }
    entry->Name = name;
    entry->Value = value;
    entry->Kind = kind;
    entry->Next = nullptr;
    *end = entry;
    end = &entry->Next;
}

bool IsAsciiLetter(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

void ParseLine(const wchar_t* line, PortableEntry**& end)
{
    if (!IsAsciiLetter(line[0]))
        return;
    const wchar_t* equals = std::wcschr(line, L'=');
    if (equals == nullptr)
        return;
    const wchar_t* value = equals + 1;
    size_t valueLength = std::wcslen(value);
    PortableKind kind = Plain;
    if (*value == L'"')
    {
        kind = Quoted;
        ++value;
        --valueLength;
        if (valueLength > 0 && value[valueLength - 1] == L'"')
            --valueLength;
    }
    else if (std::wcsncmp(value, kBinPrefix, kBinPrefixLength) == 0)
    {
        kind = BinValue;
        value += kBinPrefixLength;
        valueLength -= kBinPrefixLength;
    }
    wchar_t* name = DuplicateString(line, static_cast<size_t>(equals - line));
    wchar_t* copy = nullptr;
    try
    {
        copy = DuplicateString(value, valueLength);
    }
    catch (...)
    {
        std::free(name);
        throw;
    }
    AppendEntry(name, copy, kind, end);
}

bool StartsWith(const wchar_t* text, const wchar_t* prefix, size_t prefixLength)
{
    return std::wcsncmp(text, prefix, prefixLength) == 0;
}

// An entry and its place in the image: of entries with equal names, the
// first is the one that counts, so it must stay first in the written file.
struct SortedEntry
{
    PortableEntry* Entry;
    uint32_t Position;
};

int CompareEntryNames(const void* a, const void* b)
{
    const SortedEntry* first = static_cast<const SortedEntry*>(a);
    const SortedEntry* second = static_cast<const SortedEntry*>(b);
    const int order = std::wcscmp(first->Entry->Name, second->Entry->Name);
    if (order != 0)
        return order;
    return first->Position < second->Position ? -1 : first->Position > second->Position;
}

// A line break inside a stored text would end its line early and let the
// rest read as an entry of its own.
size_t SafeLength(const wchar_t* text)
{
    return std::wcscspn(text, L"\r\n");
}

bool WriteText(ReplacementFile& file, const wchar_t* text, size_t length)
{
    return file.Write(text, static_cast<DWORD>(length * sizeof(wchar_t)));
}

bool WriteEntry(ReplacementFile& file, const PortableEntry& entry)
{
    const size_t valueLength = SafeLength(entry.Value);
    bool written = WriteText(file, entry.Name, std::wcslen(entry.Name)) && WriteText(file, L"=", 1);
    if (written && entry.Kind == Quoted)
        written = WriteText(file, kQuote, 1);
    else if (written && entry.Kind == BinValue)
        written = WriteText(file, kBinPrefix, kBinPrefixLength);
    written = written && WriteText(file, entry.Value, valueLength);
    if (written && entry.Kind == Quoted)
        written = WriteText(file, kQuote, 1);
    return written && WriteText(file, L"\r\n", 2);
}

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
        PortableEntry** end = EndLink();
        while (lines.NextString(&line))
            ParseLine(line, end);
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

    DynArray<SortedEntry> sorted;
    uint32_t position = 0;
    for (PortableEntry* entry = Portable.First; entry; entry = entry->Next)
        sorted.Push(SortedEntry{entry, position++});
    SortArray(sorted.Data(), sorted.Size(), sizeof(SortedEntry), CompareEntryNames);

    // Written beside the file and put in its place only when whole and on
    // the disk: the old file stays until then, and no link at either name
    // carries the write elsewhere.
    ReplacementFile file;
    if (!file.Create(Portable.Path, true))
        return false;
    static const BYTE kMark[2] = {0xFF, 0xFE};
    bool written = file.Write(kMark, sizeof(kMark));
    for (uint32_t i = 0; written && i < sorted.Size(); ++i)
    {
        // A name with a line break could not be read back as itself.
        const PortableEntry& entry = *sorted[i].Entry;
        if (entry.Name[SafeLength(entry.Name)] != 0)
            continue;
        written = WriteEntry(file, entry);
    }
    return written && file.Commit();
}

void FreePortableSettings()
{
    PortableEntry* entry = Portable.First;
    while (entry)
    {
        PortableEntry* next = entry->Next;
        FreeEntry(entry);
        entry = next;
    }
    Portable.First = nullptr;
    Portable.Loaded = false;
    Portable.IntegrationForced = false;
    Portable.Attempted = false;
    Portable.Whole = false;
}

void StopPortableWriteBack()
{
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
                ParseLine(line, end);
            holds = true;
            for (PortableEntry* entry = Portable.First; holds && entry; entry = entry->Next)
            {
                if (!StartsWith(entry->Name, prefix, length) ||
                    FindPortableValue(entry->Name) != entry->Value)
                    continue;
                // The first entry of a name is the one that counts.
                const PortableEntry* found = read;
                while (found && std::wcscmp(found->Name, entry->Name) != 0)
                    found = found->Next;
                holds = found && std::wcscmp(found->Value, entry->Value) == 0;
            }
        }
    }
    catch (...)
    {
        holds = false;
    }
    while (read)
    {
        PortableEntry* next = read->Next;
        FreeEntry(read);
        read = next;
    }
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
    for (PortableEntry* entry = Portable.First; entry; entry = entry->Next)
        if (std::wcscmp(entry->Name, name) == 0)
            return entry->Value;
    return nullptr;
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
    wchar_t* copy = DuplicateString(value, std::wcslen(value));
    for (PortableEntry* entry = Portable.First; entry; entry = entry->Next)
        if (std::wcscmp(entry->Name, name) == 0)
        {
            std::free(entry->Value);
            entry->Value = copy;
            entry->Kind = kind;
            return true;
        }
    wchar_t* nameCopy = nullptr;
    try
    {
        nameCopy = DuplicateString(name, std::wcslen(name));
    }
    catch (...)
    {
        std::free(copy);
        throw;
    }
    PortableEntry** end = EndLink();
    AppendEntry(nameCopy, copy, kind, end);
    return true;
}

void RemovePortableValues(HKEY root, const wchar_t* subkey, const wchar_t* valueName)
{
    const bool wholeKey = valueName == nullptr || *valueName == 0;
    wchar_t name[EntryNameCapacity];
    if (!ComposeEntryName(root, subkey, valueName, name))
        return;
    const size_t length = std::wcslen(name);
    PortableEntry** link = &Portable.First;
    while (*link)
    {
        PortableEntry* entry = *link;
        const bool matches =
            wholeKey ? StartsWith(entry->Name, name, length) : std::wcscmp(entry->Name, name) == 0;
        if (matches)
        {
            *link = entry->Next;
            FreeEntry(entry);
        }
        else
        {
            link = &entry->Next;
        }
    }
}

bool AnyPortableValueUnder(HKEY root, const wchar_t* subkey)
{
    wchar_t name[EntryNameCapacity];
    if (!ComposeEntryName(root, subkey, L"", name))
        return false;
    const size_t length = std::wcslen(name);
    for (PortableEntry* entry = Portable.First; entry; entry = entry->Next)
        if (StartsWith(entry->Name, name, length))
            return true;
    return false;
}
