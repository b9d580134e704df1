#pragma once
// Explorer's "New" entries for an empty archive of the own format and an empty
// ZIP archive, and the old-style volume extensions ".v00"... of the own format.
#include "files/path_names.h"

const wchar_t kOwnTemplateName[] = L"vnxnew.dat";
const wchar_t kZipTemplateName[] = L"zipnew.dat";
const unsigned kOwnTemplateSize = 24;
const unsigned kZipTemplateSize = 22;

// The extension's "ShellNew" key; false when the name does not fit whole.
[[nodiscard]] bool ShellNewKey(const wchar_t* extension, wchar_t (&key)[kPathChars]);
// Replaces the extension's "ShellNew" entry by one naming the template file in
// this program's folder, writing that file first unless it already has the
// template's size. programPath is this program's full path; null means the
// running module.
void WriteNewFileTemplate(const wchar_t* extension, bool zip, const wchar_t* programPath = nullptr);

// ".v00" to ".v29" opened by the archiver; their owners are not saved.
void AssociateVolumeExtensions();
// Those of ".v00" to ".v99" still opened by the archiver set to the own
// format's previous class (in its type, REG_SZ or REG_EXPAND_SZ), or deleted
// when there was none.
void RestoreVolumeExtensions(bool exist, const wchar_t* type, unsigned long kind);

// Removes the extension's new-file entry when it names this program's own
// template (and the "ShellNew" key when nothing else is left in it); an
// entry of any other program stays.
void RemoveOwnTemplateEntry(const wchar_t* extension, bool zip,
                            const wchar_t* programPath = nullptr);

