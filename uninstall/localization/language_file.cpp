#include "localization/language_file.h"

LanguageFileData LanguageFile;

bool LanguageFileData::Load(const wchar_t*)
{
    // No language file is read yet: the program's own texts are used.
    return false;
}

void LanguageFileData::Translate(wchar_t*, size_t, TextKind, const wchar_t*) const {}
