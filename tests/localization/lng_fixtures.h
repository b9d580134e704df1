#pragma once
// Language files made by the tests: raw bytes on disk, ANSI or UTF-16, and
// entries keyed by the program's own key function.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "localization/language_file.h"
#include "localization/messages.h"

inline void WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    ASSERT_EQ(bytes.size(), written);
}

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
