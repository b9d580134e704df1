#include "settings/text_file.h"

#include "files/disk_file.h"
#include "files/path_names.h"

namespace
{

const DWORD kBlockSize = 4096;

enum class TextEncoding
{
    Ansi,
    Utf8,
    Utf16Little,
    Utf16Big,
};

// A mark alone does not make UTF-16: some character after it must have a
// control-range high byte other than CR or LF, as ASCII text in UTF-16 has.
bool HasUtf16HighBytes(const uint8_t* bytes, uint32_t size, uint32_t firstHighByte)
{
    for (uint32_t i = firstHighByte; i < size; i += 2)
        if (bytes[i] < 0x20 && bytes[i] != 0x0D && bytes[i] != 0x0A)
            return true;
    return false;
}

TextEncoding DetectEncoding(const uint8_t* bytes, uint32_t size)
{
    if (size > 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF &&
        IsUtf8Text(bytes + 3, size - 3))
        return TextEncoding::Utf8;
    if (size > 2 && bytes[0] == 0xFF && bytes[1] == 0xFE && HasUtf16HighBytes(bytes, size, 3))
        return TextEncoding::Utf16Little;
    if (size > 2 && bytes[0] == 0xFE && bytes[1] == 0xFF && HasUtf16HighBytes(bytes, size, 2))
        return TextEncoding::Utf16Big;
    return TextEncoding::Ansi;
}

// The raw bytes of the file, as far as they could be read; false when a
// read failed before the end.
bool ReadAllBytes(DiskFile& file, DynArray<uint8_t>& bytes)
{
    bool whole = true;
    uint32_t total = 0;
    for (;;)
    {
        // A failed read (-1) ends the loop like the end of the file, so the
        // bytes read so far are kept and nothing is read again.
        int64_t read = file.Read(bytes.Data() + total, kBlockSize);
        if (read < 0)
            whole = false;
        if (read <= 0)
            break;
        total += static_cast<uint32_t>(read);
        bytes.Add(static_cast<uint32_t>(read));
    }
    bytes.SetSize(total);
    return whole;
}

void ConvertToWide(DynArray<uint8_t>& bytes, TextEncoding encoding, DynArray<wchar_t>& text)
{
    const uint32_t size = bytes.Size();
    if (encoding == TextEncoding::Utf16Little || encoding == TextEncoding::Utf16Big)
    {
        const uint32_t count = (size - 2) / 2;
        text.SetSize(size / 2 + 1);
        const uint8_t* source = bytes.Data() + 2;
        for (uint32_t i = 0; i < count; ++i)
        {
            const uint8_t first = source[2 * i];
            const uint8_t second = source[2 * i + 1];
            text[i] = encoding == TextEncoding::Utf16Little
                          ? static_cast<wchar_t>(first | (second << 8))
                          : static_cast<wchar_t>((first << 8) | second);
        }
        text[count] = 0;
        return;
    }
    bytes.Push(0);
    text.SetSize(size + 1);
    text[0] = 0;
    const char* source = reinterpret_cast<const char*>(bytes.Data());
    if (encoding == TextEncoding::Utf8)
        Utf8ToWide(source + 3, text.Data(), size + 1);
    else
        AnsiToWide(source, text.Data(), size + 1);
    // The conversions terminate what they wrote; be sure of it anyway.
    text[size] = 0;
}

bool IsLineEnd(wchar_t c)
{
    return c == L'\r' || c == L'\n';
}

// Splits in place: each line is terminated where it ends and added.
void SplitLines(wchar_t* text, StringList& lines)
{
    wchar_t* position = text;
    while (*position != 0)
    {
        wchar_t* end = position;
        while (*end != 0 && !IsLineEnd(*end))
            ++end;
        wchar_t* next = end;
        while (IsLineEnd(*next))
            ++next;
        wchar_t* trimmed = end;
        while (trimmed > position && (trimmed[-1] == L' ' || trimmed[-1] == L'\t'))
            --trimmed;
        *trimmed = 0;
        if (trimmed > position)
            lines.AddString(position);
        position = next;
    }
}

} // namespace

bool ReadTextFile(const wchar_t* name, StringList& lines)
{
    bool whole = false;
    return ReadTextFile(name, lines, whole);
}

bool ReadTextFile(const wchar_t* name, StringList& lines, bool& whole)
{
    whole = false;
    wchar_t path[kPathChars];
    DiskFile file;
    if (!CopyString(path, name) || !file.Open(path))
        return false;
    DynArray<uint8_t> bytes(kBlockSize);
    const bool readToEnd = ReadAllBytes(file, bytes);
    file.Close();

    DynArray<wchar_t> text;
    ConvertToWide(bytes, DetectEncoding(bytes.Data(), bytes.Size()), text);
    SplitLines(text.Data(), lines);
    whole = readToEnd;
    return true;
}

bool SplitMarkedText(DynArray<uint8_t>& bytes, StringList& lines)
{
    const TextEncoding encoding = DetectEncoding(bytes.Data(), bytes.Size());
    if (encoding == TextEncoding::Ansi)
        return false;
    DynArray<wchar_t> text;
    ConvertToWide(bytes, encoding, text);
    SplitLines(text.Data(), lines);
    return true;
}
