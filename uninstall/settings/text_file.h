#pragma once
// Reads a whole text file in the system's ANSI code page, UTF-8 with a mark,
// or UTF-16 of either byte order, and appends its non-empty lines, without
// trailing blanks, to a list.
#include "common/dyn_array.h"

// False when the file cannot be opened; the list is not emptied first. A read
// that fails in the middle keeps the lines read so far.
bool ReadTextFile(const wchar_t* name, StringList& lines);
// The same; whole tells whether the file was read to its end.
bool ReadTextFile(const wchar_t* name, StringList& lines, bool& whole);

// The lines of a text already in memory that begins with a UTF-8 or UTF-16
// byte-order mark that the reader takes, decoded and split as above; false,
// and nothing added, for any other text (ANSI, or a mark the rest of the
// text belies).
bool SplitMarkedText(DynArray<uint8_t>& bytes, StringList& lines);
