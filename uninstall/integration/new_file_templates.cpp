#include "integration/new_file_templates.h"

#include <windows.h>

#include <cstdint>

#include "common/strings.h"
#include "files/file_system.h"
#include "files/path_names.h"
#include "files/replacement_file.h"
#include "integration/app_registration.h"
#include "integration/integration_options.h"
#include "settings/settings_store.h"

namespace
{
// Stored with the first byte cleared and completed just before writing, so
// that no whole archive signature stands in the program file.
const uint8_t kOwnTemplate[kOwnTemplateSize] = {0x00, 0x6E, 0x78, 0x21, 0x1A, 0x07, 0x01, 0x00,
                                                0xC1, 0xDF, 0x5F, 0x56, 0x03, 0x01, 0x04, 0x00,
                                                0x1D, 0x77, 0x56, 0x51, 0x03, 0x05, 0x04, 0x00};
const uint8_t kZipTemplate[kZipTemplateSize] = {0x00, 0x4B, 0x05, 0x06};
const uint8_t kOwnTemplateFirst = 0x56; // "V"
const uint8_t kZipTemplateFirst = 0x50; // "P"

const unsigned kVolumesAssociated = 30;
const unsigned kVolumesRestored = 100;

bool ComposeVolumeExtension(unsigned number, wchar_t (&extension)[32])
{
    return FormatString(extension, L".v%02u", number) >= 0;
}

void EnsureTemplateFile(const wchar_t* path, const uint8_t* bytes, unsigned size, uint8_t first)
{
    FindData found;
    if (FastFind(path, found) && !found.IsDir && found.Size == size)
        return;
    uint8_t content[kOwnTemplateSize > kZipTemplateSize ? kOwnTemplateSize : kZipTemplateSize];
    CopyMemory(content, bytes, size);
    content[0] = first;
    // Written beside the name and put in place whole: a template cut short
    // by a full disk would be copied into every new archive, and a link at
    // the name (Wine shows a file link as a plain file) is replaced, never
    // written through.
    const auto replace = [&] {
        ReplacementFile file;
        return file.Create(path) && file.Write(content, size) && file.Commit();
    };
    // On a full volume the wrong file may hold the room the right one needs.
    if (!replace() && DelFileInside(path))
        replace();
}
} // namespace

bool ShellNewKey(const wchar_t* extension, wchar_t (&key)[kPathChars])
{
    return FormatString(key, L"%s\\ShellNew", extension) >= 0;
}

void WriteNewFileTemplate(const wchar_t* extension, bool zip, const wchar_t* programPath)
{
    wchar_t shellNewKey[kPathChars];
    wchar_t path[kPathChars];
    if (!ShellNewKey(extension, shellNewKey) ||
        !ProgramFilePath(programPath, zip ? kZipTemplateName : kOwnTemplateName, path))
        return;
    // Whatever a previous owner left there ("NullFile", "Command") goes.
    DeleteKey(HKEY_CLASSES_ROOT, shellNewKey);
    if (zip)
        EnsureTemplateFile(path, kZipTemplate, kZipTemplateSize, kZipTemplateFirst);
    else
        EnsureTemplateFile(path, kOwnTemplate, kOwnTemplateSize, kOwnTemplateFirst);
    SetString(HKEY_CLASSES_ROOT, shellNewKey, L"FileName", path);
}

void AssociateVolumeExtensions()
{
    for (unsigned number = 0; number < kVolumesAssociated; number++)
    {
        wchar_t extension[32];
        if (ComposeVolumeExtension(number, extension))
            SetString(HKEY_CLASSES_ROOT, extension, nullptr, kArchiverClass);
    }
}

void RestoreVolumeExtensions(bool exist, const wchar_t* type, unsigned long kind)
{
    // Wider than what association writes: older versions took more of them.
    // A volume extension another program has taken since is not ours to
    // change or delete.
    for (unsigned number = 0; number < kVolumesRestored; number++)
    {
        wchar_t extension[32];
        if (!ComposeVolumeExtension(number, extension) || !IsOwnAssociation(extension))
            continue;
        if (exist && type[0] != 0)
            SetText(HKEY_CLASSES_ROOT, extension, nullptr, type, kind);
        else
            DeleteKey(HKEY_CLASSES_ROOT, extension);
    }
}

void RemoveOwnTemplateEntry(const wchar_t* extension, bool zip, const wchar_t* programPath)
{
    wchar_t shellNewKey[kPathChars];
    wchar_t own[kPathChars];
    wchar_t named[kPathChars];
    if (!ShellNewKey(extension, shellNewKey) ||
        !ProgramFilePath(programPath, zip ? kZipTemplateName : kOwnTemplateName, own) ||
        ReadTextValue(HKEY_CLASSES_ROOT, shellNewKey, L"FileName", named, kPathChars, nullptr) !=
            TextValue::Text ||
        CompareNoCase(named, own) != 0)
        return;
    DeleteValue(HKEY_CLASSES_ROOT, shellNewKey, L"FileName");
    if (KeyIsEmpty(HKEY_CLASSES_ROOT, shellNewKey))
        DeleteKey(HKEY_CLASSES_ROOT, shellNewKey);
}
