#pragma once
// common/: the lowest layer: strings, arrays, fatal errors, handle holders, CRC-32.
//
// Bounded UTF-16 strings: every buffer has a capacity in characters,
// terminator included; copy, append and format cut at capacity - 1 and always
// terminate. Also case-insensitive comparison in the user's locale, ANSI and
// UTF-8 conversions, 64-bit decimal conversions, a heap sort and a wipe.
#include <windows.h>

#include <cstddef>
#include <cstdint>

// True when the whole source fitted (a capacity of 0 holds nothing). A cut
// name names something else, so a caller building one must look; the ...Cut
// forms are for texts that may stay cut, such as those shown to the user.
[[nodiscard]] bool CopyString(wchar_t* dest, const wchar_t* src, size_t capacity);
[[nodiscard]] bool AppendString(wchar_t* dest, const wchar_t* src, size_t capacity);
inline void CopyStringCut(wchar_t* dest, const wchar_t* src, size_t capacity)
{
    static_cast<void>(CopyString(dest, src, capacity));
}
inline void AppendStringCut(wchar_t* dest, const wchar_t* src, size_t capacity)
{
    static_cast<void>(AppendString(dest, src, capacity));
}

// printf-style; "%s" takes a UTF-16 string. Returns the characters written,
// or a negative value when the text was cut (or capacity is 0).
[[nodiscard]] int FormatString(wchar_t* buffer, size_t capacity, const wchar_t* format, ...);
// Same formatting, for texts that may be cut; returns the buffer so the text
// can be passed on directly.
wchar_t* FormatInto(wchar_t* buffer, size_t capacity, const wchar_t* format, ...);
// For formats that come from outside the program (translated messages): the
// first "%s" takes argument and "%%" gives "%"; any other "%" is shown as
// written, so a format can never read more than that one argument. Cut at
// capacity - 1 like the others; returns the buffer.
wchar_t* FillArgument(wchar_t* buffer, size_t capacity, const wchar_t* format,
                      const wchar_t* argument);

// -1 less, 0 equal, 1 greater; -2 when the comparison itself failed.
int CompareNoCase(const wchar_t* a, const wchar_t* b);
int CompareNoCasePrefix(const wchar_t* a, const wchar_t* b, size_t n);

wchar_t UpperChar(wchar_t c);
void UpperString(wchar_t* text);
bool IsDigit(wchar_t c);

// Conversions in the system's ANSI code page.
bool AnsiToWide(const char* source, wchar_t* dest, size_t capacity);
bool WideToAnsi(const wchar_t* source, char* dest, size_t capacityBytes);

bool Utf8ToWide(const char* source, wchar_t* dest, size_t capacity);
bool IsUtf8Text(const void* block, size_t length);

int64_t ParseInt64(const wchar_t* text);
// A value that does not fit the capacity leaves the buffer empty rather than
// cut to a different number; kInt64TextCapacity holds every value.
void Int64ToText(int64_t value, wchar_t* buffer, size_t capacity);
const size_t kInt64TextCapacity = 21; // "-9223372036854775808" and terminator

typedef int (*CompareFunction)(const void* a, const void* b);
// Heap sort, ascending: compare returns > 0 when a belongs after b.
void SortArray(void* array, size_t count, size_t size, CompareFunction compare);

// Zeroes a block; the stores survive even when the block is freed right after.
void WipeMemory(void* block, size_t length);

// FILETIME ticks (100 ns since 1601-01-01 UTC) as nanoseconds.
uint64_t FileTimeToNs(const FILETIME& time);

// Capacity-carrying forms for fixed arrays.
template <size_t N> [[nodiscard]] inline bool CopyString(wchar_t (&dest)[N], const wchar_t* src)
{
    return CopyString(dest, src, N);
}
template <size_t N> [[nodiscard]] inline bool AppendString(wchar_t (&dest)[N], const wchar_t* src)
{
    return AppendString(dest, src, N);
}
template <size_t N> inline void CopyStringCut(wchar_t (&dest)[N], const wchar_t* src)
{
    CopyStringCut(dest, src, N);
}
template <size_t N> inline void AppendStringCut(wchar_t (&dest)[N], const wchar_t* src)
{
    AppendStringCut(dest, src, N);
}
template <size_t N, class... Args>
[[nodiscard]] inline int FormatString(wchar_t (&buffer)[N], const wchar_t* format, Args... args)
{
    return FormatString(buffer, N, format, args...);
}
template <size_t N, class... Args>
inline wchar_t* FormatInto(wchar_t (&buffer)[N], const wchar_t* format, Args... args)
{
    return FormatInto(buffer, N, format, args...);
}
template <size_t N>
inline wchar_t* FillArgument(wchar_t (&buffer)[N], const wchar_t* format, const wchar_t* argument)
{
    return FillArgument(buffer, N, format, argument);
}
template <size_t N> inline void Int64ToText(int64_t value, wchar_t (&buffer)[N])
{
    Int64ToText(value, buffer, N);
}
