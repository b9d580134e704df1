#pragma once
// The language file "uninstall.lng": translations of the program's own texts
// and the reading direction. Entries are found by a key computed from the
// English text, so the file needs no message numbers or control IDs.
#include "common/dyn_array.h"

#include <cstddef>
#include <cstdint>

// The kind byte that starts every key.
enum class TextKind : char
{
    Message = 's',
    Dialog = '$',
};

const size_t kEntryKeyChars = 9; // 8 hexadecimal digits and terminator
// Longest section read, in bytes, and longest text kept, in characters.
const uint32_t kLanguageSectionBytes = 524288;
const uint32_t kLanguageSectionChars = 262144;

// The key of an entry: CRC-32 of the kind byte, the context and the source
// text in the ANSI code page, as 8 lower-case hexadecimal digits. context may
// be null.
void ComposeEntryKey(TextKind kind, const wchar_t* context, const wchar_t* source,
                     wchar_t (&key)[kEntryKeyChars]);

class LanguageFileData
{
public:
    LanguageFileData() = default;
    ~LanguageFileData();
    LanguageFileData(const LanguageFileData&) = delete;
    LanguageFileData& operator=(const LanguageFileData&) = delete;

    // Reads the messages section of name (beside the program or in the
    // language folder) and decides the reading direction; a file already
    // loaded is dropped first. False when no section was loaded.
    bool Load(const wchar_t* name);
    bool IsLoaded() const { return Text != nullptr; }
    // The translation of source into output (which may be source itself), or
    // source unchanged when there is none.
    void Translate(const wchar_t* source, wchar_t* output, size_t capacity, TextKind kind,
                   const wchar_t* context) const;
    void Translate(wchar_t* text, size_t capacity, TextKind kind, const wchar_t* context) const
    {
        Translate(text, text, capacity, kind, context);
    }
    // Position in the section of the line holding key (8 characters).
    bool Find(const wchar_t* key, uint32_t& position) const;

    // The language reads right to left.
    bool RightToLeft = false;
    // The file loaded came from the user's language folder, not from beside
    // the program.
    bool FromLanguageFolder = false;

private:
    void Unload();
    bool ReadSection(const wchar_t* path);
    void BuildLineIndex();

    wchar_t* Text = nullptr;
    uint32_t Length = 0;
    // Offsets of the line starts, sorted by their first eight characters.
    DynArray<uint32_t> Lines;
};
extern LanguageFileData LanguageFile;
