#include "settings/portable_entries.h"

#include "common/dyn_array.h"
#include "common/error_sink.h"
#include "files/replacement_file.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace
{

const wchar_t kQuote[] = L"\"";
const wchar_t kBinPrefix[] = L"bin:";
const size_t kBinPrefixLength = 4;

wchar_t* DuplicateString(const wchar_t* text, size_t length)
{
    wchar_t* copy = static_cast<wchar_t*>(std::malloc((length + 1) * sizeof(wchar_t)));
    if (copy == nullptr)
        ReportMemoryError();
    std::memcpy(copy, text, length * sizeof(wchar_t));
    copy[length] = 0;
    return copy;
}

void FreeEntry(PortableEntry* entry)
{
    std::free(entry->Name);
    std::free(entry->Value);
    std::free(entry);
}

// Appends at end, which is then moved on to the new entry's link; the loader
// keeps it across lines so that a long file does not walk the image per line.
void AppendEntry(wchar_t* name, wchar_t* value, PortableKind kind, PortableEntry**& end)
{
    PortableEntry* entry = static_cast<PortableEntry*>(std::malloc(sizeof(PortableEntry)));
    if (entry == nullptr)
    {
        std::free(name);
        std::free(value);
        ReportMemoryError();
    }
    entry->Name = name;
    entry->Value = value;
    entry->Kind = kind;
    entry->Next = nullptr;
    *end = entry;
    end = &entry->Next;
}

bool IsAsciiLetter(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

bool StartsWith(const wchar_t* text, const wchar_t* prefix, size_t prefixLength)
{
    return std::wcsncmp(text, prefix, prefixLength) == 0;
}

// An entry and its place in the image: of entries with equal names, the
// first is the one that counts, so it must stay first in the written file.
struct SortedEntry
{
    PortableEntry* Entry;
    uint32_t Position;
};

int CompareEntryNames(const void* a, const void* b)
{
    const SortedEntry* first = static_cast<const SortedEntry*>(a);
    const SortedEntry* second = static_cast<const SortedEntry*>(b);
    const int order = std::wcscmp(first->Entry->Name, second->Entry->Name);
    if (order != 0)
        return order;
    return first->Position < second->Position ? -1 : first->Position > second->Position;
}

// A line break inside a stored text would end its line early and let the
// rest read as an entry of its own.
size_t SafeLength(const wchar_t* text)
{
    return std::wcscspn(text, L"\r\n");
}

bool WriteText(ReplacementFile& file, const wchar_t* text, size_t length)
{
    return file.Write(text, static_cast<DWORD>(length * sizeof(wchar_t)));
}

bool WriteEntry(ReplacementFile& file, const PortableEntry& entry)
{
    const size_t valueLength = SafeLength(entry.Value);
    bool written = WriteText(file, entry.Name, std::wcslen(entry.Name)) && WriteText(file, L"=", 1);
    if (written && entry.Kind == Quoted)
        written = WriteText(file, kQuote, 1);
    else if (written && entry.Kind == BinValue)
        written = WriteText(file, kBinPrefix, kBinPrefixLength);
    written = written && WriteText(file, entry.Value, valueLength);
    if (written && entry.Kind == Quoted)
        written = WriteText(file, kQuote, 1);
    return written && WriteText(file, L"\r\n", 2);
}

} // namespace

PortableEntry** EndOfEntries(PortableEntry*& first)
{
    PortableEntry** link = &first;
    while (*link)
        link = &(*link)->Next;
    return link;
}

void ParseEntryLine(const wchar_t* line, PortableEntry**& end)
{
    if (!IsAsciiLetter(line[0]))
        return;
    const wchar_t* equals = std::wcschr(line, L'=');
    if (equals == nullptr)
        return;
    const wchar_t* value = equals + 1;
    size_t valueLength = std::wcslen(value);
    PortableKind kind = Plain;
    if (*value == L'"')
    {
        kind = Quoted;
        ++value;
        --valueLength;
        if (valueLength > 0 && value[valueLength - 1] == L'"')
            --valueLength;
    }
    else if (std::wcsncmp(value, kBinPrefix, kBinPrefixLength) == 0)
    {
        kind = BinValue;
        value += kBinPrefixLength;
        valueLength -= kBinPrefixLength;
    }
    wchar_t* name = DuplicateString(line, static_cast<size_t>(equals - line));
    wchar_t* copy = nullptr;
    try
    {
        copy = DuplicateString(value, valueLength);
    }
    catch (...)
    {
        std::free(name);
        throw;
    }
    AppendEntry(name, copy, kind, end);
}

const PortableEntry* FindEntry(const PortableEntry* first, const wchar_t* name)
{
    for (const PortableEntry* entry = first; entry; entry = entry->Next)
        if (std::wcscmp(entry->Name, name) == 0)
            return entry;
    return nullptr;
}

void SetEntry(PortableEntry*& first, const wchar_t* name, const wchar_t* value, PortableKind kind)
{
    wchar_t* copy = DuplicateString(value, std::wcslen(value));
    for (PortableEntry* entry = first; entry; entry = entry->Next)
        if (std::wcscmp(entry->Name, name) == 0)
        {
            std::free(entry->Value);
            entry->Value = copy;
            entry->Kind = kind;
            return;
        }
    wchar_t* nameCopy = nullptr;
    try
    {
        nameCopy = DuplicateString(name, std::wcslen(name));
    }
    catch (...)
    {
        std::free(copy);
        throw;
    }
    PortableEntry** end = EndOfEntries(first);
    AppendEntry(nameCopy, copy, kind, end);
}

void RemoveEntries(PortableEntry*& first, const wchar_t* name, bool wholeKey)
{
    const size_t length = std::wcslen(name);
    PortableEntry** link = &first;
    while (*link)
    {
        PortableEntry* entry = *link;
        const bool matches =
            wholeKey ? StartsWith(entry->Name, name, length) : std::wcscmp(entry->Name, name) == 0;
        if (matches)
        {
            *link = entry->Next;
            FreeEntry(entry);
        }
        else
        {
            link = &entry->Next;
        }
    }
}

bool AnyEntryUnder(const PortableEntry* first, const wchar_t* prefix)
{
    const size_t length = std::wcslen(prefix);
    for (const PortableEntry* entry = first; entry; entry = entry->Next)
        if (StartsWith(entry->Name, prefix, length))
            return true;
    return false;
}

void FreeEntries(PortableEntry*& first)
{
    while (first)
    {
        PortableEntry* next = first->Next;
        FreeEntry(first);
        first = next;
    }
}

bool WriteEntries(ReplacementFile& file, PortableEntry* first)
{
    DynArray<SortedEntry> sorted;
    uint32_t position = 0;
    for (PortableEntry* entry = first; entry; entry = entry->Next)
        sorted.Push(SortedEntry{entry, position++});
    SortArray(sorted.Data(), sorted.Size(), sizeof(SortedEntry), CompareEntryNames);
    bool written = true;
    for (uint32_t i = 0; written && i < sorted.Size(); ++i)
    {
        // A name with a line break could not be read back as itself.
        const PortableEntry& entry = *sorted[i].Entry;
        if (entry.Name[SafeLength(entry.Name)] != 0)
            continue;
        written = WriteEntry(file, entry);
    }
    return written;
}
