#include "removal/list_entries.h"

#include <cstring>

#include "common/dyn_array.h"
#include "common/strings.h"

namespace
{

const size_t kLineBytes = 2048;
// A list with a byte-order mark is decoded whole; anything bigger than this
// is no list of installed files, and is left unread rather than half read.
const uint32_t kMarkedListBytes = 16 * 1024 * 1024;
const uint32_t kMarkedBlockBytes = 65536;

bool IsBlank(char c)
{
    return c == '\r' || c == '\n' || c == ' ' || c == '\t';
}

} // namespace

ListEntries::ListEntries(FILE* list) : list_(list), marked_(false), failed_(false)
{
    ReadMarkedList();
}

bool ListEntries::Next(wchar_t (&entry)[kEntryChars])
{
    if (failed_)
        return false;
    if (marked_)
    {
        const wchar_t* line = nullptr;
        while (lines_.NextString(&line))
        {
            // Cut, a line would name another file.
            if (CopyString(entry, line))
                return true;
        }
        return false;
    }
    char line[kLineBytes];
    while (fgets(line, sizeof(line), list_))
    {
        size_t length = strlen(line);
        while (length > 0 && IsBlank(line[length - 1]))
            line[--length] = 0;
        if (length > 0 && AnsiToWide(line, entry, kEntryChars))
            return true;
    }
    failed_ = ferror(list_) != 0;
    return false;
}

bool ListEntries::Rewind()
{
    if (marked_)
        lines_.Rewind();
    else if (fseek(list_, 0, SEEK_SET) != 0)
        failed_ = true;
    return !failed_;
}

void ListEntries::ReadMarkedList()
{
    unsigned char head[3] = {0, 0, 0};
    const size_t got = fread(head, 1, sizeof(head), list_);
    const bool utf8 = got == 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF;
    const bool utf16 =
        got >= 2 && ((head[0] == 0xFF && head[1] == 0xFE) || (head[0] == 0xFE && head[1] == 0xFF));
    if (ferror(list_) || fseek(list_, 0, SEEK_SET) != 0)
    {
        failed_ = true;
        return;
    }
    if (!utf8 && !utf16)
        return;
    DynArray<uint8_t> bytes;
    uint32_t total = 0;
    for (;;)
    {
        if (total >= kMarkedListBytes)
        {
            failed_ = true;
            return;
        }
        bytes.SetSize(total + kMarkedBlockBytes);
        const size_t read = fread(bytes.Data() + total, 1, kMarkedBlockBytes, list_);
        total += uint32_t(read);
        if (read < kMarkedBlockBytes)
            break;
    }
    bytes.SetSize(total);
    if (ferror(list_))
    {
        failed_ = true;
        return;
    }
    // A mark the rest of the text belies: read as ANSI, as any list.
    marked_ = SplitMarkedText(bytes, lines_);
    if (!marked_ && fseek(list_, 0, SEEK_SET) != 0)
        failed_ = true;
}

bool JoinEntry(const wchar_t* folder, const wchar_t* entry, wchar_t (&fullName)[kEntryChars])
{
    return CopyString(fullName, folder) && AppendString(fullName, entry);
}
