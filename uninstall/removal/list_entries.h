#pragma once
// The lines of "Uninstall.lst", pass after pass, as the removal reads them.
#include <cstdio>

#include "removal/contained_removal.h"
#include "settings/text_file.h"

// The non-empty lines of the list, pass after pass. A list that begins with
// a UTF-8 or UTF-16 byte-order mark is read in that encoding; any other is
// read in the ANSI code page, 2047 bytes at a time, so that a longer line
// reads as two.
class ListEntries
{
public:
    explicit ListEntries(FILE* list);
    bool Next(wchar_t (&entry)[kEntryChars]);
    // Back to the first line for another pass.
    bool Rewind();
    // A read failed: the list was not read to its end.
    bool Failed() const { return failed_; }

private:
    void ReadMarkedList();

    FILE* list_;
    StringList lines_;
    bool marked_;
    bool failed_;
};

// The folder and the entry, or false when they do not fit whole.
[[nodiscard]] bool JoinEntry(const wchar_t* folder, const wchar_t* entry,
                             wchar_t (&fullName)[kEntryChars]);
