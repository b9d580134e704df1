#pragma once
// The language file "uninstall.lng": translations of the program's own texts
// and the reading direction. Not read yet: nothing is loaded and every text
// stays as it is.
#include <cstddef>

enum class TextKind
{
    Message,
    Dialog,
};

class LanguageFileData
{
public:
    bool Load(const wchar_t* name);
    bool IsLoaded() const { return Loaded; }
    // Replaces text, in place, with its translation when there is one.
    void Translate(wchar_t* text, size_t capacity, TextKind kind, const wchar_t* context) const;

    // The language reads right to left.
    bool RightToLeft = false;

private:
    bool Loaded = false;
};
extern LanguageFileData LanguageFile;
