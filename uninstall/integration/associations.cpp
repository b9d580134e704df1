#include "integration/associations.h"

#include <shlobj.h>

#include <cwchar>

#include "common/strings.h"
#include "files/path_names.h"
#include "integration/app_registration.h"
#include "integration/integration_options.h"
#include "integration/new_file_templates.h"
#include "localization/messages.h"
#include "resources/resource.h"
#include "settings/portable_settings.h"
#include "settings/settings_store.h"

namespace
{
const size_t kSettingsKeyChars = 80;
const size_t kCommandChars = 2080;

// A record key cut to the buffer would be another extension's.
bool ComposeSettingsKey(const wchar_t* extension, wchar_t (&key)[kSettingsKeyChars])
{
    return FormatString(key, L"Setup\\%s", extension) >= 0;
}

const wchar_t kTypeExpand[] = L"TypeExpand";
const wchar_t kShellNewExpand[] = L"ShellNewExpand";

// The settings file ends a text at a line break: such a text cannot be
// saved there whole.
bool RecordKeepsText(const wchar_t* key, const wchar_t* text)
{
    return !IsFileRouted(HKEY_CURRENT_USER, key) || std::wcspbrk(text, L"\r\n") == nullptr;
}

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
        // The record would give these back as no entry or as a null file.
        return previous.ShellNew[0] != 0 && previous.ShellNew[0] != L'*';
    case TextValue::Absent:
        // A null file is a null file whatever its value holds.
        if (ValueExists(HKEY_CLASSES_ROOT, shellNewKey, L"NullFile"))
            CopyStringCut(previous.ShellNew, L"*");
        break;
    }
    return true;
}

void SaveKind(const wchar_t* key, const wchar_t* name, unsigned long kind)
{
    if (kind == REG_EXPAND_SZ)
        SetUserInt(key, name, 1);
    else
        DeleteValue(HKEY_CURRENT_USER, key, name);
}

unsigned long LoadKind(const wchar_t* key, const wchar_t* name)
{
    return GetUserInt(key, name, 0) == 1 ? REG_EXPAND_SZ : REG_SZ;
}

bool SavePreviousAssociation(const wchar_t* extension)
{
    PreviousAssociation previous;
    wchar_t key[kSettingsKeyChars];
    if (!ComposeSettingsKey(extension, key) || !ReadPreviousOwner(extension, previous) ||
        !RecordKeepsText(key, previous.Type) || !RecordKeepsText(key, previous.ShellNew))
        return false;
    SetUserInt(key, L"Exist", previous.Exist);
    SetUserString(key, L"Type", previous.Type);
    SetUserString(key, L"ShellNew", previous.ShellNew);
    SaveKind(key, kTypeExpand, previous.TypeKind);
    SaveKind(key, kShellNewExpand, previous.ShellNewKind);
    return true;
}

// A damaged record reads safely: an "Exist" that is not a number counts as
// 1, so another program's key is given a class back rather than deleted.
// False when the record cannot be named.
bool LoadPreviousAssociation(const wchar_t* extension, PreviousAssociation& previous)
{
    wchar_t key[kSettingsKeyChars];
    if (!ComposeSettingsKey(extension, key))
        return false;
    previous.Exist = GetUserInt(key, L"Exist", 1);
    // An extension that had no key gets none back, whatever else was saved.
    if (previous.Exist == 0)
    {
        previous.Type[0] = 0;
        previous.ShellNew[0] = 0;
        previous.TypeKind = REG_SZ;
        previous.ShellNewKind = REG_SZ;
        return true;
    }
    GetUserString(key, L"Type", previous.Type, L"");
    // An older installation may have saved its own class: giving that back
    // would keep the extension with the archiver.
    if (IsArchiverClass(previous.Type))
        previous.Type[0] = 0;
    GetUserString(key, L"ShellNew", previous.ShellNew, L"");
    previous.TypeKind = LoadKind(key, kTypeExpand);
    previous.ShellNewKind = LoadKind(key, kShellNewExpand);
    return true;
}

void RestorePreviousAssociation(const wchar_t* extension, const PreviousAssociation& previous)
{
    wchar_t shellNewKey[kPathChars];
    if (!ShellNewKey(extension, shellNewKey))
        return;
    if (previous.Exist != 0)
    {
        SetText(HKEY_CLASSES_ROOT, extension, nullptr, previous.Type, previous.TypeKind);
        DeleteValue(HKEY_CLASSES_ROOT, shellNewKey, L"FileName");
        // A null-file entry still there is the owner's own, whatever it holds.
        if (previous.ShellNew[0] == L'*')
        {
            if (!ValueExists(HKEY_CLASSES_ROOT, shellNewKey, L"NullFile"))
                SetString(HKEY_CLASSES_ROOT, shellNewKey, L"NullFile", L"");
        }
        else if (previous.ShellNew[0] != 0)
            SetText(HKEY_CLASSES_ROOT, shellNewKey, L"FileName", previous.ShellNew,
                    previous.ShellNewKind);
    }
    else
    {
        // Most such keys hold nothing below them and go at once. One that
        // stays loses its new-file entry and is tried again; a key that
        // gained other subkeys meanwhile survives that too, and only then is
        // its class emptied, as writing it first would be moot.
        if (DeleteKey(HKEY_CLASSES_ROOT, extension))
            return;
        DeleteKey(HKEY_CLASSES_ROOT, shellNewKey);
        if (!DeleteKey(HKEY_CLASSES_ROOT, extension))
            SetString(HKEY_CLASSES_ROOT, extension, nullptr, L"");
    }
}

void GiveBack(const wchar_t* extension, bool ownFormat, bool zip)
{
    PreviousAssociation previous;
    const bool own = IsOwnAssociation(extension);
    if ((own || ownFormat) && !LoadPreviousAssociation(extension, previous))
        return;
    if (own)
        RestorePreviousAssociation(extension, previous);
    else if (ownFormat || zip)
        // Taken by another program since: its class stays, but an entry
        // naming the archiver's template would outlive the template.
        RemoveOwnTemplateEntry(extension, zip);
    // The volume extensions still opening in the archiver go back whoever has
    // the own format now: the archiver's class is about to go.
    if (ownFormat)
        RestoreVolumeExtensions(previous.Exist != 0, previous.Type, previous.TypeKind);
}

struct ClassEntry
{
    const wchar_t* ClassName;
    uint32_t Description;
    const wchar_t* IconFormat;
};

const ClassEntry kClasses[] = {
    {kArchiverClass, MSG_TYPE_VELNOX, L"%s,0"},
    {kZipClass, MSG_TYPE_ZIP, L"%s,0"},
    {kRevisionClass, MSG_TYPE_REV, L"%s,1"},
};

void WriteClass(const ClassEntry& entry, const wchar_t* openCommand, const wchar_t* archiverPath)
{
    wchar_t key[kSettingsKeyChars];
    if (FormatString(key, L"%s\\shell\\open\\command", entry.ClassName) >= 0)
        SetString(HKEY_CLASSES_ROOT, key, nullptr, openCommand);
    if (FormatString(key, L"%s\\DefaultIcon", entry.ClassName) < 0)
        return;
    // An icon chosen by the user or another tool is kept, even one this
    // program cannot read.
    wchar_t icon[kPathChars];
    wchar_t newIcon[kCommandChars];
    if (ReadTextValue(HKEY_CLASSES_ROOT, key, nullptr, icon, kPathChars, nullptr) !=
            TextValue::Unusable &&
        icon[0] == 0 && FormatString(newIcon, entry.IconFormat, archiverPath) >= 0)
        SetString(HKEY_CLASSES_ROOT, key, nullptr, newIcon);
}
} // namespace

void SetExtensionAssociation(const wchar_t* extension, bool associate, bool shellExt,
                             bool ownFormat, bool zip)
{
    if (!associate)
    {
        GiveBack(extension, ownFormat, zip);
        return;
    }
    // Only the first take-over saves: later ones would save the archiver
    // itself. An owner that cannot be saved whole keeps its extension.
    if (!IsOwnAssociation(extension) && !SavePreviousAssociation(extension))
        return;
    SetString(HKEY_CLASSES_ROOT, extension, nullptr, zip ? kZipClass : kArchiverClass);
    if (ownFormat)
        AssociateVolumeExtensions();
    if (shellExt && (ownFormat || zip))
        WriteNewFileTemplate(extension, zip);
}

void AssociateExtensions(const IntegrationOptions& options)
{
    for (size_t row = 0; row < kAssociationRows; row++)
    {
        ExtensionList extensions;
        SplitExtensionGroup(AssociationTable[row].Group, extensions);
        for (size_t i = 0; i < extensions.Count; i++)
            SetExtensionAssociation(extensions.Items[i], options.Associate[row], options.ShellExt,
                                    row == 0, row == kAssociationRowZip);
    }
}

bool RegisterProgIds()
{
    // Cut, the name would make the classes open another program.
    wchar_t archiverPath[kPathChars];
    wchar_t openCommand[kCommandChars];
    if (!ProgramFilePath(nullptr, L"Velnox.exe", archiverPath) ||
        FormatString(openCommand, L"\"%s\" \"%%1\"", archiverPath) < 0)
        return true;

    // The first write tells whether the classes can be written at all.
    if (SetString(HKEY_CLASSES_ROOT, kArchiverClass, nullptr,
                  MessageText(kClasses[0].Description)) == ERROR_ACCESS_DENIED)
        return false;
    WriteClass(kClasses[0], openCommand, archiverPath);
    SetString(HKEY_CLASSES_ROOT, kZipClass, nullptr, MessageText(kClasses[1].Description));
    WriteClass(kClasses[1], openCommand, archiverPath);
    SetString(HKEY_CLASSES_ROOT, kRevisionExtension, nullptr, kRevisionClass);
    SetString(HKEY_CLASSES_ROOT, kRevisionClass, nullptr, MessageText(kClasses[2].Description));
    WriteClass(kClasses[2], openCommand, archiverPath);
    return true;
}

void NotifyAssociationChange()
{
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}
