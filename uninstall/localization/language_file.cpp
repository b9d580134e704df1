#include "localization/language_file.h"

#include "common/crc32.h"
#include "common/strings.h"
#include "files/disk_file.h"
#include "files/path_names.h"
#include "localization/language_module.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>

LanguageFileData LanguageFile;

namespace
{

const uint32_t kSearchBlockBytes = 8192;
const unsigned kSearchBlocks = 256;
// A UTF-16 marker takes 26 bytes; blocks overlap by more so that a marker
// cut by a block end is whole in the next block.
const uint32_t kSearchOverlap = 32;
// Two asterisks and the first eleven characters of "*messages***".
const char kMarker[] = "***messages**";
const size_t kMarkerChars = 13;
const size_t kAnsiKeyBytes = 4096;
const uint32_t kLastLineChars = 255;
const wchar_t kLineMark = 12; // form feed: line ends after unescaping

bool IsAnsiMarker(const unsigned char* p)
{
    return std::memcmp(p, kMarker, kMarkerChars) == 0;
}

bool IsWideMarker(const unsigned char* p)
{
    for (size_t i = 0; i < kMarkerChars; i++)
        if (p[2 * i] != static_cast<unsigned char>(kMarker[i]) || p[2 * i + 1] != 0)
            return false;
    return true;
}

// Finds the marker in its first 256 blocks; wide tells its form.
bool FindMarker(DiskFile& file, int64_t& offset, bool& wide)
{
    static unsigned char block[kSearchBlockBytes];
    for (unsigned b = 0; b < kSearchBlocks; b++)
    {
        const int64_t blockStart = file.Tell();
        const int64_t read = file.Read(block, kSearchBlockBytes);
        if (blockStart < 0 || read <= 0)
            return false;
        const uint32_t n = static_cast<uint32_t>(read);
        const bool last = n < kSearchBlockBytes;
        // Offsets past the overlap are examined again by the next block.
        const uint32_t end = last ? n : n - kSearchOverlap;
        for (uint32_t i = 0; i < end; i++)
        {
            if (i + kMarkerChars <= n && IsAnsiMarker(block + i))
                wide = false;
            else if (i + 2 * kMarkerChars <= n && IsWideMarker(block + i))
                wide = true;
            else
                continue;
            offset = blockStart + i;
            return true;
        }
        if (last)
            return false;
        file.Seek(blockStart + end, FILE_BEGIN);
    }
    return false;
}

// Escapes are undone once; raw line breaks become line marks.
uint32_t Unescape(wchar_t* text)
{
    wchar_t* out = text;
    for (const wchar_t* in = text; *in != 0; in++)
    {
        wchar_t c = *in;
        if (c == L'\\')
        {
            switch (in[1])
            {
            case L'"':
            case L'\\':
                c = *++in;
                break;
            case L'n':
                c = L'\n';
                in++;
                break;
            case L'r':
                c = L'\r';
                in++;
                break;
            case L't':
                c = L'\t';
                in++;
                break;
            }
        }
        else if (c == L'\r' || c == L'\n')
            c = kLineMark;
        *out++ = c;
    }
    *out = 0;
    return static_cast<uint32_t>(out - text);
}

// The sort compares lines of the text being loaded; not reentrant.
const wchar_t* SortedText = nullptr;

int CompareLines(const void* a, const void* b)
{
    return std::wcsncmp(SortedText + *static_cast<const uint32_t*>(a),
                        SortedText + *static_cast<const uint32_t*>(b), 8);
}

} // namespace

void ComposeEntryKey(TextKind kind, const wchar_t* context, const wchar_t* source,
                     wchar_t (&key)[kEntryKeyChars])
{
    static char ansi[kAnsiKeyBytes];
    const char kindByte = static_cast<char>(kind);
    uint32_t crc = Crc32(0xFFFFFFFF, &kindByte, 1);
    if (context != nullptr)
    {
        WideToAnsi(context, ansi, kAnsiKeyBytes);
        crc = Crc32(crc, ansi, std::strlen(ansi));
    }
    WideToAnsi(source, ansi, kAnsiKeyBytes);
    crc = Crc32(crc, ansi, std::strlen(ansi));
    FormatInto(key, L"%08x", static_cast<unsigned>(~crc));
}

LanguageFileData::~LanguageFileData()
{
    std::free(Text);
}

void LanguageFileData::Unload()
{
    std::free(Text);
    Text = nullptr;
    Length = 0;
    Lines.SetSize(0);
}

bool LanguageFileData::ReadSection(const wchar_t* path)
{
    DiskFile file;
    if (!file.Open(path, DiskFile::ShareWrite))
        return false;
    int64_t offset = 0;
    bool wide = false;
    if (!FindMarker(file, offset, wide))
        return false;
    file.Seek(offset, FILE_BEGIN);
    char* bytes = static_cast<char*>(std::malloc(kLanguageSectionBytes + 2));
    if (bytes == nullptr)
        return false;
    uint32_t total = 0;
    while (total < kLanguageSectionBytes)
    {
        const int64_t read = file.Read(bytes + total, kLanguageSectionBytes - total);
        if (read <= 0)
            break;
        total += static_cast<uint32_t>(read);
    }
    uint32_t length;
    if (wide)
    {
        Text = reinterpret_cast<wchar_t*>(bytes);
        length = total / 2;
    }
    else
    {
        bytes[total] = 0;
        Text = static_cast<wchar_t*>(std::malloc((size_t(total) + 1) * sizeof(wchar_t)));
        if (Text != nullptr)
            AnsiToWide(bytes, Text, size_t(total) + 1);
        std::free(bytes);
        if (Text == nullptr)
            return false;
        length = static_cast<uint32_t>(std::wcslen(Text));
    }
    Text[length < kLanguageSectionChars ? length : kLanguageSectionChars] = 0;
    Length = Unescape(Text);
    return true;
}

void LanguageFileData::BuildLineIndex()
{
    for (uint32_t j = 1; j + 8 < Length; j++)
        if (Text[j - 1] == kLineMark && Text[j] != kLineMark)
            Lines.Push(j);
    SortedText = Text;
    SortArray(Lines.Data(), Lines.Size(), sizeof(uint32_t), CompareLines);
    SortedText = nullptr;
}

bool LanguageFileData::Load(const wchar_t* name)
{
    Unload();
    wchar_t path[kPathChars];
    FromLanguageFolder = false;
    if (!RedirectToLanguageFolder(name, path, kPathChars))
        path[0] = 0;
    else if (std::wcscmp(path, name) != 0)
        FromLanguageFolder = true;
    else if (std::wcschr(path, L'\\') == nullptr)
    {
        wchar_t folder[kPathChars];
        DWORD length = GetModuleFileNameW(nullptr, folder, kPathChars);
        if (length == 0 || length >= kPathChars)
            folder[0] = 0;
        // Cut, the name would be another file beside the program.
        if (!SetName(folder, path) || !CopyString(path, folder))
            path[0] = 0;
    }
    if (ReadSection(path))
        BuildLineIndex();

    if (FindResourceW(ResourceModule, L"RTL", RT_DIALOG) != nullptr)
        RightToLeft = true;
    else
    {
        wchar_t direction[1024];
        Translate(L"LTR", direction, 1024, TextKind::Dialog, L"LTR");
        RightToLeft = std::wcscmp(direction, L"RTL") == 0;
    }
    // Every window made from now on is mirrored.
    if (RightToLeft)
        SetProcessDefaultLayout(LAYOUT_RTL);
    return IsLoaded();
}

bool LanguageFileData::Find(const wchar_t* key, uint32_t& position) const
{
    if (Text == nullptr)
        return false;
    uint32_t low = 0;
    uint32_t high = Lines.Size();
    while (low < high)
    {
        const uint32_t middle = low + (high - low) / 2;
        const int order = std::wcsncmp(key, Text + Lines[middle], 8);
        if (order == 0)
        {
            position = Lines[middle];
            return true;
        }
        if (order < 0)
            high = middle;
        else
            low = middle + 1;
    }
    // The index holds every line that could hold an entry: the lines it
    // leaves out are the marker line and lines with no room for "=" after
    // the key. So a miss here is final, and costs no walk through the text.
    return false;
}

void LanguageFileData::Translate(const wchar_t* source, wchar_t* output, size_t capacity,
                                 TextKind kind, const wchar_t* context) const
{
    if (capacity == 0)
        return;
    uint32_t line = 0;
    if (Text != nullptr)
    {
        wchar_t key[kEntryKeyChars];
        ComposeEntryKey(kind, context, source, key);
        if (Find(key, line))
        {
            const wchar_t* start = Text + line + 9;
            if (*start == L'"')
                start++;
            const wchar_t* end = std::wcschr(start, kLineMark);
            size_t count = end != nullptr ? size_t(end - start) : kLastLineChars;
            if (count > capacity - 1)
                count = capacity - 1;
            size_t i = 0;
            for (; i < count && start[i] != 0; i++)
                output[i] = start[i];
            output[i] = 0;
            if (wchar_t* quote = std::wcsrchr(output, L'"'))
                *quote = 0;
            return;
        }
    }
    if (output != source)
        CopyStringCut(output, source, capacity);
}
