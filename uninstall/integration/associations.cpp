#include "integration/associations.h"

#include <shlobj.h>

#include "common/strings.h"
#include "files/path_names.h"
#include "integration/app_registration.h"
#include "integration/integration_options.h"
#include "integration/new_file_templates.h"
#include "localization/messages.h"
#include "resources/resource.h"
#include "settings/settings_store.h"

namespace
{
const size_t kSettingsKeyChars = 80;
const size_t kCommandChars = 2080;

const wchar_t kShellNewFormat[] = L"%s\\ShellNew";

void ComposeSettingsKey(const wchar_t* extension, wchar_t (&key)[kSettingsKeyChars])
{
    FormatInto(key, L"Setup\\%s", extension);
}

void SavePreviousAssociation(const wchar_t* extension)
{
    PreviousAssociation previous;
    GetString(HKEY_CLASSES_ROOT, extension, nullptr, previous.Type, L"");
    wchar_t shellNewKey[kPathChars];
    FormatInto(shellNewKey, kShellNewFormat, extension);
    GetString(HKEY_CLASSES_ROOT, shellNewKey, L"FileName", previous.ShellNew, L"");
    wchar_t nullFile[10];
    const bool hadNullFile = GetString(HKEY_CLASSES_ROOT, shellNewKey, L"NullFile", nullFile, L"");
    if (previous.ShellNew[0] == 0 && hadNullFile)
        CopyString(previous.ShellNew, L"*");
    previous.Exist = KeyExists(HKEY_CLASSES_ROOT, extension) ? 1 : 0;

    wchar_t key[kSettingsKeyChars];
    ComposeSettingsKey(extension, key);
    SetUserInt(key, L"Exist", previous.Exist);
    SetUserString(key, L"Type", previous.Type);
    SetUserString(key, L"ShellNew", previous.ShellNew);
}

void RestorePreviousAssociation(const wchar_t* extension, bool ownFormat)
{
    wchar_t key[kSettingsKeyChars];
    ComposeSettingsKey(extension, key);
    PreviousAssociation previous;
    previous.Exist = GetUserInt(key, L"Exist", 1);
    GetUserString(key, L"Type", previous.Type, L"");
    // An older installation may have saved its own class: giving that back
    // would keep the extension with the archiver.
    if (IsArchiverClass(previous.Type))
        previous.Type[0] = 0;

    wchar_t shellNewKey[kPathChars];
    FormatInto(shellNewKey, kShellNewFormat, extension);
    if (previous.Exist != 0)
    {
        SetString(HKEY_CLASSES_ROOT, extension, nullptr, previous.Type);
        GetUserString(key, L"ShellNew", previous.ShellNew, L"");
        DeleteValue(HKEY_CLASSES_ROOT, shellNewKey, L"FileName");
        if (previous.ShellNew[0] == L'*')
            SetString(HKEY_CLASSES_ROOT, shellNewKey, L"NullFile", L"");
        else if (previous.ShellNew[0] != 0)
            SetString(HKEY_CLASSES_ROOT, shellNewKey, L"FileName", previous.ShellNew);
    }
    else
    {
        // A key that gained subkeys meanwhile survives the deletion, so its
        // class is emptied first.
        DeleteKey(HKEY_CLASSES_ROOT, shellNewKey);
        SetString(HKEY_CLASSES_ROOT, extension, nullptr, L"");
        DeleteKey(HKEY_CLASSES_ROOT, extension);
    }
    if (ownFormat)
        RestoreVolumeExtensions(previous.Exist != 0, previous.Type);
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
    FormatInto(key, L"%s\\shell\\open\\command", entry.ClassName);
    SetString(HKEY_CLASSES_ROOT, key, nullptr, openCommand);
    FormatInto(key, L"%s\\DefaultIcon", entry.ClassName);
    // An icon chosen by the user or another tool is kept.
    wchar_t icon[kPathChars];
    GetString(HKEY_CLASSES_ROOT, key, nullptr, icon, L"");
    if (icon[0] == 0)
    {
        wchar_t newIcon[kCommandChars];
        SetString(HKEY_CLASSES_ROOT, key, nullptr,
                  FormatInto(newIcon, entry.IconFormat, archiverPath));
    }
}
} // namespace

void SetExtensionAssociation(const wchar_t* extension, bool associate, bool shellExt,
                             bool ownFormat, bool zip)
{
    if (!associate)
    {
        // Taken over by another program since, or never ours: left alone.
        if (IsOwnAssociation(extension))
            RestorePreviousAssociation(extension, ownFormat);
        return;
    }
    // Only the first take-over saves: later ones would save the archiver itself.
    if (!IsOwnAssociation(extension))
        SavePreviousAssociation(extension);
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
    wchar_t archiverPath[kPathChars];
    ProgramFilePath(nullptr, L"Velnox.exe", archiverPath);
    wchar_t openCommand[kCommandChars];
    FormatInto(openCommand, L"\"%s\" \"%%1\"", archiverPath);

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

    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
    return true;
}
