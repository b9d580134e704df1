#pragma once
// Language files made by the tests: raw bytes on disk, ANSI or UTF-16, and
// entries keyed by the program's own key function.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "localization/language_file.h"
#include "localization/messages.h"
#include "support/plain_files.h"

// ASCII text as UTF-16 little-endian bytes.
inline std::string Utf16(const std::string& text)
{
    std::string bytes;
    for (char c : text)
    {
        bytes += c;
        bytes += '\0';
    }
    return bytes;
}

inline std::string EntryKey(const wchar_t* source, TextKind kind = TextKind::Message,
                            const wchar_t* context = nullptr)
{
    wchar_t key[kEntryKeyChars];
    ComposeEntryKey(kind, context, source, key);
    return std::string(key, key + 8);
}

inline std::string Entry(const wchar_t* source, const std::string& translation,
                         TextKind kind = TextKind::Message, const wchar_t* context = nullptr)
{
    return EntryKey(source, kind, context) + "=\"" + translation + "\"";
}

// No language file, left-to-right windows again.
inline void ResetLanguage()
{
    LanguageFile.Load(L"Z:\\nonexistent\\uninstall.lng");
    LanguageFile.RightToLeft = false;
    SetProcessDefaultLayout(0);
}
