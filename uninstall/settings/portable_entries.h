#pragma once
// The entries of the settings file as lines and as a list: "name=value" read
// from one line, written back as one line, and the list of entries that the
// file's image keeps, in the order the file had them. Of entries with equal
// names the first counts; nothing here reorders them. Nothing knows where the
// file lies or whether one is loaded.
#include <windows.h>

#include <cstddef>

class ReplacementFile;

enum PortableKind
{
    Plain = 0,    // integers and hand-written text, unchanged
    Quoted = 1,   // strings the program stores, between double quotes
    BinValue = 2, // "bin:" text, kept as it was read
};

struct PortableEntry
{
    wchar_t* Name;
    wchar_t* Value;
    PortableKind Kind;
    PortableEntry* Next;
};

// An entry name: "HKCU\", "HKLM\" or nothing, subkey, "\", value name.
const size_t EntryNameCapacity = 1024;

// The link that a new entry of the list goes into: its end.
PortableEntry** EndOfEntries(PortableEntry*& first);
// One line of the file appended at end, which then moves on to the new
// entry's link; a line that is no entry (it does not start with a letter or
// has no "=") adds nothing. Throws when memory runs out.
void ParseEntryLine(const wchar_t* line, PortableEntry**& end);
// The first entry of the name, or null.
const PortableEntry* FindEntry(const PortableEntry* first, const wchar_t* name);
// The first entry of the name takes the value and kind; without one, a new
// entry is appended. Throws when memory runs out.
void SetEntry(PortableEntry*& first, const wchar_t* name, const wchar_t* value,
              PortableKind kind);
// Removes the entries of the name, or with wholeKey every entry whose name
// begins with it.
void RemoveEntries(PortableEntry*& first, const wchar_t* name, bool wholeKey);
// Whether an entry's name begins with prefix.
bool AnyEntryUnder(const PortableEntry* first, const wchar_t* prefix);
void FreeEntries(PortableEntry*& first);

// Writes the list sorted by name, equal names in their order; an entry whose
// name holds a line break is left out (it could not be read back as itself),
// and a value is written up to its first line break. False when a write failed.
bool WriteEntries(ReplacementFile& file, PortableEntry* first);
