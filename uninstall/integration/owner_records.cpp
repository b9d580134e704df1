#include "integration/owner_records.h"

#include <windows.h>

#include <cwchar>

#include "common/strings.h"
#include "files/path_names.h"
#include "integration/app_registration.h"
#include "integration/integration_options.h"
#include "integration/new_file_templates.h"
#include "platform/platform_probes.h"
#include "settings/settings_store.h"
#include "settings/store_routing.h"

namespace
{
const size_t kSettingsKeyChars = 80;
const size_t kCommandChars = 2080;

// A record key cut to the buffer would be another extension's.
bool ComposeSettingsKey(const wchar_t* extension, wchar_t (&key)[kSettingsKeyChars])
{
    return FormatString(key, L"Setup\\%s", extension) >= 0;
}

// The records in the registry whichever store is in use: under
// HKEY_LOCAL_MACHINE the copies an elevated setup kept where only
// administrators write, under HKEY_CURRENT_USER those saved before a
// settings file took over.
const wchar_t kRecordsKey[] = L"\\Software\\Velnox\\Setup";
const wchar_t kArchiverKey[] = L"\\Software\\Velnox";

bool ComposeRegistryRecordKey(const wchar_t* extension, wchar_t (&key)[kSettingsKeyChars])
{
    return FormatString(key, L"%s\\%s", kRecordsKey, extension) >= 0;
}

// Records are always read and written in the process's own view, where
// the removal of the machine's settings finds them.
const bool kRecordsView64 = false;

// The registry records that a run in a settings file read.
wchar_t RegistryRecordRead[kAssociationExtensions + 1][kSettingsKeyChars];
size_t RegistryRecordsRead = 0;

// A record is there when it says what the extension held; "Set" alone is
// the user's choice, not a record.
bool RecordIn(HKEY root, const wchar_t* key)
{
    return ValueExists(root, key, L"Exist") || ValueExists(root, key, L"Type");
}

} // namespace

// This program's own templates belong to no previous owner: a record naming
// one would give back an entry for a file the removal deletes.
bool IsOwnTemplate(const wchar_t* path)
{
    wchar_t own[kPathChars];
    return path[0] != 0 &&
           ((ProgramFilePath(nullptr, kZipTemplateName, own) && CompareNoCase(path, own) == 0) ||
            (ProgramFilePath(nullptr, kOwnTemplateName, own) && CompareNoCase(path, own) == 0));
}

namespace
{
// Classes whose open command runs the file itself.
const wchar_t* const kRunningClasses[] = {L"exefile", L"batfile", L"cmdfile",
                                          L"comfile", L"scrfile", L"piffile"};

// Whether a class would run every file of an extension given to it as a
// program, or is one of the archiver's classes, which go with it.
bool IsUnsafeClass(const wchar_t* className)
{
    if (IsArchiverClass(className) || CompareNoCase(className, kRevisionClass) == 0)
        return true;
    for (const wchar_t* running : kRunningClasses)
        if (CompareNoCase(className, running) == 0)
            return true;
    wchar_t key[kPathChars];
    wchar_t command[kCommandChars];
    if (className[0] == 0 || FormatString(key, L"%s\\shell\\open\\command", className) < 0)
        return false;
    if (ReadTextValue(HKEY_CLASSES_ROOT, key, nullptr, command, kCommandChars, nullptr) !=
        TextValue::Text)
        return false;
    const wchar_t* program = command;
    while (*program == L' ' || *program == L'\t')
        ++program;
    if (*program == L'"')
        ++program;
    return program[0] == L'%' && program[1] == L'1' &&
           (program[2] == 0 || program[2] == L'"' || program[2] == L' ');
}

// A new-file entry every user's Explorer may open: a bare name, or a path on
// a drive of this machine, never a share or a device.
bool IsLocalTemplateName(const wchar_t* name, unsigned long kind)
{
    wchar_t expanded[kPathChars];
    if (kind == REG_EXPAND_SZ)
    {
        const DWORD length = ExpandEnvironmentStringsW(name, expanded, kPathChars);
        if (length == 0 || length > kPathChars)
            return false;
        name = expanded;
    }
    const bool separatorFirst = name[0] == L'\\' || name[0] == L'/';
    const bool rooted = separatorFirst || (name[0] != 0 && name[1] == L':');
    if (!rooted || (separatorFirst && name[1] != L'\\' && name[1] != L'/'))
        return std::wcschr(name, L':') == nullptr;
    return IsLocalFilePath(name);
}

const wchar_t kTypeExpand[] = L"TypeExpand";
const wchar_t kShellNewExpand[] = L"ShellNewExpand";
// Written with the record before the extension is taken and removed once the
// take-over is whole: only a record that still holds it belongs to a
// take-over that was stopped. Records of older versions have none.
const wchar_t kTakingMark[] = L"Taking";

// What the extension holds now; false when its class or new-file entry
// cannot be saved whole and in its type, so that taking it over would lose it.
bool ReadPreviousOwner(const wchar_t* extension, PreviousAssociation& previous)
{
    previous.Exist = KeyExists(HKEY_CLASSES_ROOT, extension) ? 1 : 0;
    if (ReadTextValue(HKEY_CLASSES_ROOT, extension, nullptr, previous.Type, kPreviousTypeChars,
                      &previous.TypeKind) == TextValue::Unusable)
        return false;
    wchar_t shellNewKey[kPathChars];
    if (!ShellNewKey(extension, shellNewKey))
        return false;
    switch (ReadTextValue(HKEY_CLASSES_ROOT, shellNewKey, L"FileName", previous.ShellNew,
                          kPreviousShellNewChars, &previous.ShellNewKind))
    {
    case TextValue::Unusable:
        return false;
    case TextValue::Text:
        // The record would give this back as a null file.
        if (previous.ShellNew[0] == L'*')
            return false;
        if (previous.ShellNew[0] != 0 && !IsOwnTemplate(previous.ShellNew))
            return true;
        // An empty name saves as empty, and the give-back leaves the value
        // where it stands. One naming the archiver's own template is no
        // owner's entry to keep.
        previous.ShellNew[0] = 0;
        previous.ShellNewKind = REG_SZ;
        [[fallthrough]];
    case TextValue::Absent:
        // A null file is a null file whatever its value holds.
        if (ValueExists(HKEY_CLASSES_ROOT, shellNewKey, L"NullFile"))
            CopyStringCut(previous.ShellNew, L"*");
        break;
    }
    return true;
}

bool SaveKind(HKEY root, const wchar_t* key, const wchar_t* name, unsigned long kind)
{
    if (kind == REG_EXPAND_SZ)
        return SetInt(root, key, name, 1) == ERROR_SUCCESS;
    DeleteValue(root, key, name);
    return true;
}

unsigned long LoadKind(HKEY root, const wchar_t* key, const wchar_t* name)
{
    return GetInt(root, key, name, 0) == 1 ? REG_EXPAND_SZ : REG_SZ;
}

// True when every value of the record was written.
bool WriteRecord(HKEY root, const wchar_t* key, const PreviousAssociation& previous)
{
    bool written = SetInt(root, key, L"Exist", previous.Exist) == ERROR_SUCCESS;
    written = SetString(root, key, L"Type", previous.Type) == ERROR_SUCCESS && written;
    written = SetString(root, key, L"ShellNew", previous.ShellNew) == ERROR_SUCCESS && written;
    written = SaveKind(root, key, kTypeExpand, previous.TypeKind) && written;
    written = SaveKind(root, key, kShellNewExpand, previous.ShellNewKind) && written;
    return SetInt(root, key, kTakingMark, 1) == ERROR_SUCCESS && written;
}

bool MarkedTaking(HKEY root, const wchar_t* key)
{
    return GetInt(root, key, kTakingMark, 0) == 1;
}

// Whose mark counts: the machine copy's, or in a run that is not elevated the
// user's own record; a mark the user could have set decides nothing
// machine-wide. Null when no stopped take-over left its record.
HKEY StoppedTakeOverRoot(const wchar_t* key, const wchar_t* machineKey)
{
    if (MarkedTaking(HKEY_LOCAL_MACHINE, machineKey))
        return HKEY_LOCAL_MACHINE;
    if (!RunsElevated() && MarkedTaking(HKEY_CURRENT_USER, key))
        return HKEY_CURRENT_USER;
    return nullptr;
}

} // namespace

// The extension's take-over is whole, or its give-back done: its record is
// no longer one a later take-over may reuse.
void ClearTakingMark(const wchar_t* extension)
{
    wchar_t key[kSettingsKeyChars];
    wchar_t machineKey[kSettingsKeyChars];
    if (!ComposeSettingsKey(extension, key) || !ComposeRegistryRecordKey(extension, machineKey))
        return;
    const RegistryViewScope view(kRecordsView64);
    if (ValueExists(HKEY_LOCAL_MACHINE, machineKey, kTakingMark))
        DeleteValue(HKEY_LOCAL_MACHINE, machineKey, kTakingMark);
    if (ValueExists(HKEY_CURRENT_USER, key, kTakingMark))
        DeleteValue(HKEY_CURRENT_USER, key, kTakingMark);
}

// A key without a class that this installation's take-over made before it
// was stopped: the record that run saved still carries its mark.
bool IsStoppedTakeOver(const wchar_t* extension)
{
    wchar_t key[kSettingsKeyChars];
    wchar_t machineKey[kSettingsKeyChars];
    if (!ComposeSettingsKey(extension, key) || !ComposeRegistryRecordKey(extension, machineKey) ||
        !KeyExists(HKEY_CLASSES_ROOT, extension) ||
        ValueExists(HKEY_CLASSES_ROOT, extension, nullptr))
        return false;
    const RegistryViewScope view(kRecordsView64);
    return StoppedTakeOverRoot(key, machineKey) != nullptr;
}

namespace
{

void ReadRecord(HKEY root, const wchar_t* key, PreviousAssociation& previous)
{
    previous.Exist = GetInt(root, key, L"Exist", 1);
    GetString(root, key, L"Type", previous.Type, L"");
    GetString(root, key, L"ShellNew", previous.ShellNew, L"");
    previous.TypeKind = LoadKind(root, key, kTypeExpand);
    previous.ShellNewKind = LoadKind(root, key, kShellNewExpand);
}

} // namespace

// Saves who owns the extension now in the settings and, in an elevated run,
// a machine copy that the user cannot change. False when nothing was saved.
bool SavePreviousAssociation(const wchar_t* extension, SavedRecords& saved)
{
    PreviousAssociation previous;
    wchar_t key[kSettingsKeyChars];
    wchar_t machineKey[kSettingsKeyChars];
    if (!ComposeSettingsKey(extension, key) || !ComposeRegistryRecordKey(extension, machineKey) ||
        !ReadPreviousOwner(extension, previous) ||
        !KeepsTextWhole(HKEY_CURRENT_USER, key, previous.Type) ||
        !KeepsTextWhole(HKEY_CURRENT_USER, key, previous.ShellNew))
        return false;
    const RegistryViewScope view(kRecordsView64);
    // A take-over ended between making the extension's key and writing its
    // class leaves a key without one: the record that run saved still says
    // who had the extension, and is kept, in both stores. Only a record that
    // still carries its take-over's mark is such a one: any other was spent
    // by a give-back, and the key is another program's now.
    if (previous.Exist != 0 && previous.Type[0] == 0 &&
        !ValueExists(HKEY_CLASSES_ROOT, extension, nullptr))
    {
        const HKEY root = StoppedTakeOverRoot(key, machineKey);
        if (root != nullptr)
            ReadRecord(root, root == HKEY_LOCAL_MACHINE ? machineKey : key, previous);
    }
    bool stored = WriteRecord(HKEY_CURRENT_USER, key, previous);
    const bool onMachine = RunsElevated() && WriteRecord(HKEY_LOCAL_MACHINE, machineKey, previous);
    stored = stored || onMachine;
    if (stored)
    {
        saved.Any = true;
        saved.AllOnMachine = saved.AllOnMachine && onMachine;
    }
    return stored;
}

// Puts the records just saved on the disk before any extension is taken: a
// run ended after the take-over must still find its owner. True when they
// are there: the machine copies flushed, or the per-user records flushed or
// written to the settings file and read back from it.
bool MakeRecordsDurable(const SavedRecords& saved)
{
    if (!saved.Any)
        return true;
    const RegistryViewScope view(kRecordsView64);
    // The settings file gets its records now too where it may be written, so
    // that a run ended later leaves it as a whole setup would.
    const bool inFile = IsKeptInSettingsFile(HKEY_CURRENT_USER, L"Setup");
    const bool fileHolds = inFile && MakeValuesDurable(HKEY_CURRENT_USER, L"Setup");
    if (saved.AllOnMachine && FlushKey(HKEY_LOCAL_MACHINE, kRecordsKey))
        return true;
    return inFile ? fileHolds : FlushKey(HKEY_CURRENT_USER, L"Setup");
}

// The record of an extension: the machine copy when setup kept one, else
// the per-user record from the store in use or, saved before a settings file
// appeared, from the registry. A damaged record reads safely: an "Exist" that
// is not a number counts as 1, so another program's key is given a class back
// rather than deleted. False when the record cannot be named.
bool LoadPreviousAssociation(const wchar_t* extension, PreviousAssociation& previous)
{
    wchar_t key[kSettingsKeyChars];
    wchar_t registryKey[kSettingsKeyChars];
    if (!ComposeSettingsKey(extension, key) || !ComposeRegistryRecordKey(extension, registryKey))
        return false;
    bool trusted = true;
    {
        const RegistryViewScope view(kRecordsView64);
        if (RecordIn(HKEY_LOCAL_MACHINE, registryKey))
            ReadRecord(HKEY_LOCAL_MACHINE, registryKey, previous);
        else
        {
            const bool older = !RecordIn(HKEY_CURRENT_USER, key) &&
                               IsKeptInSettingsFile(HKEY_CURRENT_USER, key) &&
                               RecordIn(HKEY_CURRENT_USER, registryKey);
            ReadRecord(HKEY_CURRENT_USER, older ? registryKey : key, previous);
            if (older && RegistryRecordsRead < ARRAYSIZE(RegistryRecordRead))
                CopyStringCut(RegistryRecordRead[RegistryRecordsRead++], registryKey);
            // Any program of the user may have written it since.
            trusted = !RunsElevated();
        }
    }
    // An extension that had no key gets none back, whatever else was saved.
    if (previous.Exist == 0)
    {
        previous.Type[0] = 0;
        previous.ShellNew[0] = 0;
        previous.TypeKind = REG_SZ;
        previous.ShellNewKind = REG_SZ;
        return true;
    }
    // An older installation may have saved its own class or template: giving
    // those back would keep the extension with the archiver.
    if (IsArchiverClass(previous.Type) || (!trusted && IsUnsafeClass(previous.Type)))
    {
        previous.Type[0] = 0;
        previous.TypeKind = REG_SZ;
    }
    if (IsOwnTemplate(previous.ShellNew) ||
        (!trusted && previous.ShellNew[0] != L'*' &&
         !IsLocalTemplateName(previous.ShellNew, previous.ShellNewKind)))
    {
        previous.ShellNew[0] = 0;
        previous.ShellNewKind = REG_SZ;
    }
    return true;
}


bool IsLocalFilePath(const wchar_t* path)
{
    const wchar_t drive = path[0];
    if (!((drive >= L'A' && drive <= L'Z') || (drive >= L'a' && drive <= L'z')) ||
        path[1] != L':' || (path[2] != L'\\' && path[2] != L'/'))
        return false;
    const wchar_t root[] = {drive, L':', L'\\', 0};
    switch (GetDriveTypeW(root))
    {
    case DRIVE_FIXED:
    case DRIVE_REMOVABLE:
    case DRIVE_CDROM:
    case DRIVE_RAMDISK:
        return true;
    default:
        return false;
    }
}

// Each record of the store in use has its machine copy: the store's own may
// go, and the machine copies still give every extension back.
bool EveryRecordOnMachine()
{
    const RegistryViewScope view(kRecordsView64);
    auto onMachine = [](const wchar_t* extension)
    {
        wchar_t key[kSettingsKeyChars];
        wchar_t machineKey[kSettingsKeyChars];
        return ComposeSettingsKey(extension, key) &&
               ComposeRegistryRecordKey(extension, machineKey) &&
               (!RecordIn(HKEY_CURRENT_USER, key) || RecordIn(HKEY_LOCAL_MACHINE, machineKey));
    };
    for (size_t row = 0; row < kAssociationRows; ++row)
    {
        ExtensionList extensions;
        SplitExtensionGroup(AssociationTable[row].Group, extensions);
        for (size_t i = 0; i < extensions.Count; ++i)
            if (!onMachine(extensions.Items[i]))
                return false;
    }
    return onMachine(kAceRow.Group);
}

void DeletePreviousOwnerRecords()
{
    const RegistryViewScope view(kRecordsView64);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kRecordsKey);
    if (KeyIsEmpty(HKEY_LOCAL_MACHINE, kArchiverKey))
        DeleteKey(HKEY_LOCAL_MACHINE, kArchiverKey);
    // Saved before a settings file took over: those the removal read are
    // its own; the rest may be another copy's, which keeps the registry.
    for (size_t i = 0; i < RegistryRecordsRead; i++)
        DeleteKeyTree(HKEY_CURRENT_USER, RegistryRecordRead[i]);
    RegistryRecordsRead = 0;
}
