// Writes a complete "uninstall.lng" template for translators from the
// program's own resources: every message, every dialog caption and control
// text in the context of its dialog, each dialog's size entry and the
// reading direction, keyed exactly as the program looks them up, with the
// English text as the translation to replace.
// Usage: lng_template PROGRAM OUTPUT
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "localization/language_file.h"
#include "localization/messages.h"

namespace
{

struct Writer
{
    std::wstring Text;
    std::set<std::wstring> Keys;

    void Comment(const std::wstring& line) { Text += L"; " + line + L"\r\n"; }
    // Every key once: a text repeated in a dialog needs one translation.
    void Entry(TextKind kind, const wchar_t* context, const std::wstring& source,
               const std::wstring& translation)
    {
        wchar_t key[kEntryKeyChars];
        ComposeEntryKey(kind, context, source.c_str(), key);
        if (!Keys.insert(key).second)
            return;
        Text += std::wstring(key) + L"=\"";
        for (wchar_t c : translation)
        {
            switch (c)
            {
            case L'\\':
                Text += L"\\\\";
                break;
            case L'\n':
                Text += L"\\n";
                break;
            case L'\r':
                Text += L"\\r";
                break;
            case L'\t':
                Text += L"\\t";
                break;
            default:
                Text += c;
            }
        }
        Text += L"\"\r\n";
    }
};

// Reads a template field that is either a string or 0xFFFF and an ordinal.
const WORD* ReadText(const WORD* p, std::wstring* text)
{
    if (*p == 0xFFFF)
        return p + 2;
    const wchar_t* s = reinterpret_cast<const wchar_t*>(p);
    if (text != nullptr)
        *text = s;
    while (*p != 0)
        p++;
    return p + 1;
}

const WORD* AlignDword(const WORD* p)
{
    return reinterpret_cast<const WORD*>((reinterpret_cast<ULONG_PTR>(p) + 3) & ~ULONG_PTR(3));
}

// The caption and the control texts of a dialog template, in order.
std::vector<std::wstring> DialogTexts(const void* data)
{
    std::vector<std::wstring> texts;
    const WORD* p = static_cast<const WORD*>(data);
    const bool extended = p[0] == 1 && p[1] == 0xFFFF;
    DWORD style;
    WORD count;
    if (extended)
    {
        style = *reinterpret_cast<const DWORD*>(p + 6);
        count = p[8];
        p += 13;
    }
    else
    {
        style = *reinterpret_cast<const DWORD*>(p);
        count = p[4];
        p += 9;
    }
    p = ReadText(p, nullptr); // menu
    p = ReadText(p, nullptr); // class
    std::wstring caption;
    p = ReadText(p, &caption);
    texts.push_back(caption);
    if (style & DS_SETFONT)
    {
        p += extended ? 3 : 1;
        p = ReadText(p, nullptr);
    }
    for (WORD item = 0; item < count; item++)
    {
        p = AlignDword(p);
        const DWORD itemStyle = *reinterpret_cast<const DWORD*>(extended ? p + 4 : p);
        p += extended ? 12 : 9;
        const bool isStatic = p[0] == 0xFFFF && p[1] == 0x0082;
        p = ReadText(p, nullptr); // class
        std::wstring text;
        p = ReadText(p, &text);
        // An icon's text names its resource: nothing to translate.
        if (!(isStatic && (itemStyle & SS_TYPEMASK) == SS_ICON))
            texts.push_back(text);
        const WORD extra = *p++;
        p = reinterpret_cast<const WORD*>(reinterpret_cast<const BYTE*>(p) + extra);
    }
    return texts;
}

BOOL CALLBACK AddStringBlock(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param)
{
    if (IS_INTRESOURCE(name))
        reinterpret_cast<std::vector<UINT>*>(param)->push_back(LOWORD(name));
    return TRUE;
}

BOOL CALLBACK AddDialogName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param)
{
    // Dialogs are found by name; the direction marker is no dialog to show.
    if (!IS_INTRESOURCE(name) && lstrcmpW(name, L"RTL") != 0)
        reinterpret_cast<std::vector<std::wstring>*>(param)->push_back(name);
    return TRUE;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3)
    {
        std::fprintf(stderr, "usage: lng_template PROGRAM OUTPUT\n");
        return 2;
    }
    HMODULE program = LoadLibraryExW(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (program == nullptr)
    {
        std::fprintf(stderr, "cannot load the program's resources\n");
        return 1;
    }
    Writer out;
    out.Comment(L"Language file template: replace each text in quotes by its translation.");
    out.Comment(L"Escapes: \\\" \\\\ \\n \\r \\t. Save as UTF-16 or in the ANSI code page.");
    out.Text += L"***messages***\r\n";
    out.Comment(L"Reading direction: LTR, or RTL for a right-to-left language.");
    out.Entry(TextKind::Dialog, L"LTR", L"LTR", L"LTR");

    out.Comment(L"Messages");
    std::vector<UINT> blocks;
    EnumResourceNamesW(program, RT_STRING, AddStringBlock, reinterpret_cast<LONG_PTR>(&blocks));
    for (UINT block : blocks)
        for (UINT number = (block - 1) * 16; number < block * 16; number++)
        {
            wchar_t text[kMessageChars] = L"";
            if (LoadStringW(program, number, text, kMessageChars) > 0)
                out.Entry(TextKind::Message, nullptr, text, text);
        }

    std::vector<std::wstring> dialogs;
    EnumResourceNamesW(program, RT_DIALOG, AddDialogName, reinterpret_cast<LONG_PTR>(&dialogs));
    for (const std::wstring& name : dialogs)
    {
        HRSRC found = FindResourceW(program, name.c_str(), RT_DIALOG);
        const void* data = found ? LockResource(LoadResource(program, found)) : nullptr;
        if (data == nullptr)
            continue;
        out.Comment(L"Dialog " + name + L": its size in percent of width and height, then texts");
        out.Entry(TextKind::Dialog, name.c_str(), L"", L"100*100");
        for (const std::wstring& text : DialogTexts(data))
            if (!text.empty())
                out.Entry(TextKind::Dialog, name.c_str(), text, text);
    }
    FreeLibrary(program);

    // UTF-16 with a byte-order mark, so that editors and the program agree.
    HANDLE file = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
    {
        std::fprintf(stderr, "cannot create the output file\n");
        return 1;
    }
    const std::wstring bytes = L"\xFEFF" + out.Text;
    DWORD written = 0;
    const DWORD size = static_cast<DWORD>(bytes.size() * sizeof(wchar_t));
    const bool ok = WriteFile(file, bytes.data(), size, &written, nullptr) && written == size;
    CloseHandle(file);
    return ok ? 0 : 1;
}
