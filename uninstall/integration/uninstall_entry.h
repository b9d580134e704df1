#pragma once
// The archiver's entry in the Windows list of installed programs.
#include <cstddef>

// Appends " <major>.<minor, two digits> <label> <build> (<note>)" to the text,
// bounded by its capacity; no leading space when the text is empty. The
// label and note are those every user of the machine may read.
void AppendVersionText(wchar_t* text, size_t capacity);
template <size_t N> inline void AppendVersionText(wchar_t (&text)[N])
{
    AppendVersionText(text, N);
}

// Writes every value of the entry; failures are ignored. programPath is the
// full path of this program; null means the running module.
void WriteUninstallEntry(const wchar_t* programPath = nullptr);
