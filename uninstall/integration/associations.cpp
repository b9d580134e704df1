#include "integration/associations.h"

#include <shlobj.h>

#include <cwchar>

#include "common/strings.h"
#include "files/path_names.h"
#include "integration/app_registration.h"
#include "integration/integration_options.h"
#include "integration/new_file_templates.h"
#include "integration/owner_records.h"
#include "localization/messages.h"
#include "platform/platform_probes.h"
#include "resources/resource.h"
#include "run/run_log.h"
#include "settings/settings_store.h"

namespace
{
const size_t kClassKeyChars = 80;
const size_t kCommandChars = 2080;

void RestorePreviousAssociation(const wchar_t* extension, const PreviousAssociation& previous)
{
    wchar_t shellNewKey[kPathChars];
    if (!ShellNewKey(extension, shellNewKey))
        return;
    if (previous.Exist != 0)
    {
        // The class goes back last: until then the extension is still the
        // archiver's, and a run ended on the way gives the rest back again.
        // An empty name is never the archiver's: it is the owner's own, kept.
        wchar_t named[kPreviousShellNewChars];
        const TextValue found = ReadTextValue(HKEY_CLASSES_ROOT, shellNewKey, L"FileName", named,
                                              kPreviousShellNewChars, nullptr);
        const bool ownTemplate = found == TextValue::Text && IsOwnTemplate(named);
        if (found != TextValue::Text || named[0] != 0)
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
        // The entry that held only the archiver's template goes, as it does
        // when a take-over stopped right after emptying it: it makes no new
        // file.
        else if (ownTemplate && KeyIsEmpty(HKEY_CLASSES_ROOT, shellNewKey))
            DeleteKey(HKEY_CLASSES_ROOT, shellNewKey);
        SetText(HKEY_CLASSES_ROOT, extension, nullptr, previous.Type, previous.TypeKind);
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

void GiveBack(const wchar_t* extension, const AssociationRow& row)
{
    const bool ownFormat = row.OwnFormat, zip = row.Zip;
    PreviousAssociation previous;
    // A take-over stopped before it wrote the class is given back as a whole
    // one would be.
    const bool own = IsOwnAssociation(extension) || IsStoppedTakeOver(extension);
    if ((own || ownFormat) && !LoadPreviousAssociation(extension, previous))
        return;
    if (own)
    {
        RestorePreviousAssociation(extension, previous);
        // Given back: the record is spent.
        ClearTakingMark(extension);
    }
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
    wchar_t key[kClassKeyChars];
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

void TakeOver(const wchar_t* extension, const AssociationRow& row, bool shellExt,
              const wchar_t* programPath = nullptr)
{
    SetString(HKEY_CLASSES_ROOT, extension, nullptr, ClassOf(row));
    if (row.OwnFormat)
        AssociateVolumeExtensions();
    if (shellExt && (row.OwnFormat || row.Zip))
        WriteNewFileTemplate(extension, row.Zip, programPath);
}
} // namespace


void SetExtensionAssociation(const wchar_t* extension, const AssociationRow& row, bool associate,
                             bool shellExt)
{
    if (!associate)
    {
        GiveBack(extension, row);
        return;
    }
    // Only the first take-over saves: later ones would save the archiver
    // itself. An owner that cannot be saved whole and for good keeps its
    // extension.
    SavedRecords saved;
    if (!IsOwnAssociation(extension) &&
        (!SavePreviousAssociation(extension, saved) || !MakeRecordsDurable(saved)))
        return;
    TakeOver(extension, row, shellExt);
    ClearTakingMark(extension);
}

bool AssociateExtensions(const IntegrationOptions& options, const wchar_t* programPath)
{
    // Every owner is saved, and on the disk, before the first extension is
    // taken; an extension whose owner could not be kept stays with it.
    bool whole = true;
    bool taken[kAssociationRows][kExtensionGroupChars] = {};
    SavedRecords saved;
    for (size_t row = 0; row < kAssociationRows; row++)
    {
        if (!options.Associate[row])
            continue;
        ExtensionList extensions;
        SplitExtensionGroup(AssociationTable[row].Group, extensions);
        for (size_t i = 0; i < extensions.Count; i++)
            taken[row][i] = IsOwnAssociation(extensions.Items[i]) ||
                            SavePreviousAssociation(extensions.Items[i], saved);
    }
    const bool durable = MakeRecordsDurable(saved);
    for (size_t row = 0; row < kAssociationRows; row++)
    {
        ExtensionList extensions;
        SplitExtensionGroup(AssociationTable[row].Group, extensions);
        bool rowTaken = true;
        for (size_t i = 0; i < extensions.Count; i++)
        {
            const wchar_t* extension = extensions.Items[i];
            if (!options.Associate[row])
                GiveBack(extension, AssociationTable[row]);
            else if (taken[row][i] && (durable || IsOwnAssociation(extension)))
            {
                TakeOver(extension, AssociationTable[row], options.ShellExt, programPath);
                ClearTakingMark(extension);
            }
            else
            {
                LogLine(L"kept by its owner: %s (its class or new-file entry cannot be saved "
                        L"whole, or not on the disk)",
                        extension);
                rowTaken = false;
            }
        }
        // The stored choice says what the extensions hold: the next dialog
        // shows a row that was not taken whole as clear.
        if (options.Associate[row] && !rowTaken)
        {
            wchar_t key[kExtensionGroupChars];
            if (OptionKeyOf(AssociationTable[row], key))
                SetUserInt(key, L"Set", 0);
            whole = false;
        }
    }
    return whole;
}


bool RegisterProgIds(const wchar_t* programPath)
{
    // Cut, the name would make the classes open another program.
    wchar_t archiverPath[kPathChars];
    wchar_t openCommand[kCommandChars];
    if (!ProgramFilePath(programPath, L"Velnox.exe", archiverPath) ||
        FormatString(openCommand, L"\"%s\" \"%%1\"", archiverPath) < 0)
        return true;

    // The first write tells whether the classes can be written at all.
    if (SetString(HKEY_CLASSES_ROOT, kArchiverClass, nullptr,
                  SharedMessageText(kClasses[0].Description)) == ERROR_ACCESS_DENIED)
        return false;
    WriteClass(kClasses[0], openCommand, archiverPath);
    SetString(HKEY_CLASSES_ROOT, kZipClass, nullptr, SharedMessageText(kClasses[1].Description));
    WriteClass(kClasses[1], openCommand, archiverPath);
    SetString(HKEY_CLASSES_ROOT, kRevisionExtension, nullptr, kRevisionClass);
    SetString(HKEY_CLASSES_ROOT, kRevisionClass, nullptr,
              SharedMessageText(kClasses[2].Description));
    WriteClass(kClasses[2], openCommand, archiverPath);
    return true;
}

void NotifyAssociationChange()
{
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}

void GiveBackAce()
{
    SetExtensionAssociation(kAceRow.Group, kAceRow, false, false);
}
