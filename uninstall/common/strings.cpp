#include "common/strings.h"

#include "common/error_sink.h"

#include <strsafe.h>

#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace
{

// strsafe refuses (and leaves unterminated) any capacity above its limit; no
// real buffer is that large, so the limit is a safe stand-in.
size_t SafeCapacity(size_t capacity)
{
    return capacity > STRSAFE_MAX_CCH ? STRSAFE_MAX_CCH : capacity;
}

int ToCount(size_t length)
{
    return length > INT_MAX ? INT_MAX : static_cast<int>(length);
}

int FormatArgs(wchar_t* buffer, size_t capacity, const wchar_t* format, va_list args)
{
    if (buffer == nullptr || capacity == 0)
        return -1;
    capacity = SafeCapacity(capacity);
    // The wide printf of the C runtime that strsafe calls takes "%s" as UTF-16.
    if (FAILED(StringCchVPrintfW(buffer, capacity, format, args)))
        return -1;
    size_t length = 0;
    if (FAILED(StringCchLengthW(buffer, capacity, &length)))
        return -1;
    return ToCount(length);
}

bool IsContinuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

} // namespace

bool CopyString(wchar_t* dest, const wchar_t* src, size_t capacity)
{
    if (dest == nullptr || capacity == 0)
        return false;
    capacity = SafeCapacity(capacity);
    if (src == nullptr)
        src = L"";
    if (src == dest)
    {
        // Copying onto itself only needs the cut at capacity - 1.
        size_t length = 0;
        while (length < capacity - 1 && dest[length] != 0)
            length++;
        const bool whole = dest[length] == 0;
        dest[length] = 0;
        return whole;
    }
    return SUCCEEDED(StringCchCopyW(dest, capacity, src));
}

bool AppendString(wchar_t* dest, const wchar_t* src, size_t capacity)
{
    if (dest == nullptr)
        return false;
    capacity = SafeCapacity(capacity);
    size_t length = 0;
    while (length < capacity && dest[length] != 0)
        length++;
    return length < capacity && CopyString(dest + length, src, capacity - length);
}

int FormatString(wchar_t* buffer, size_t capacity, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    const int result = FormatArgs(buffer, capacity, format, args);
    va_end(args);
    return result;
}

wchar_t* FormatInto(wchar_t* buffer, size_t capacity, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    FormatArgs(buffer, capacity, format, args);
    va_end(args);
    return buffer;
}

wchar_t* FillArgument(wchar_t* buffer, size_t capacity, const wchar_t* format,
                      const wchar_t* argument)
{
    if (buffer == nullptr || capacity == 0)
        return buffer;
    capacity = SafeCapacity(capacity);
    size_t length = 0;
    bool filled = false;
    for (const wchar_t* p = format != nullptr ? format : L""; *p != 0 && length + 1 < capacity; p++)
    {
        if (p[0] == L'%' && p[1] == L'%')
            p++;
        else if (p[0] == L'%' && p[1] == L's' && !filled)
        {
            filled = true;
            p++;
            buffer[length] = 0;
            AppendStringCut(buffer, argument, capacity);
            length = wcslen(buffer);
            continue;
        }
        buffer[length++] = *p;
    }
    buffer[length] = 0;
    return buffer;
}

int CompareNoCase(const wchar_t* a, const wchar_t* b)
{
    return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE | SORT_STRINGSORT, a, -1, b, -1) - 2;
}

int CompareNoCasePrefix(const wchar_t* a, const wchar_t* b, size_t n)
{
    // Each side is n characters, or less when its terminator comes first (the
    // terminator then takes part, so "set" differs from "setup" at n = 5).
    const size_t limit = n > INT_MAX ? INT_MAX : n;
    size_t lengthA = 0;
    while (lengthA < limit && a[lengthA] != 0)
        lengthA++;
    size_t lengthB = 0;
    while (lengthB < limit && b[lengthB] != 0)
        lengthB++;
    const int countA = static_cast<int>(lengthA < limit ? lengthA + 1 : limit);
    const int countB = static_cast<int>(lengthB < limit ? lengthB + 1 : limit);
    return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE | SORT_STRINGSORT, a, countA, b,
                          countB) -
           2;
}

wchar_t UpperChar(wchar_t c)
{
    // A Turkish user locale would give the dotted capital I; option names and
    // extensions need the plain one.
    if (c == L'i')
        return L'I';
    return static_cast<wchar_t>(
        reinterpret_cast<uintptr_t>(CharUpperW(reinterpret_cast<LPWSTR>(uintptr_t(c)))));
}

void UpperString(wchar_t* text)
{
    if (text != nullptr)
        CharUpperW(text);
}

bool IsDigit(wchar_t c)
{
    return c >= L'0' && c <= L'9';
}

bool AnsiToWide(const char* source, wchar_t* dest, size_t capacity)
{
    // With no room at all the system would only measure, and report success.
    if (dest == nullptr || capacity == 0)
        return false;
    dest[0] = 0;
    const int count = ToCount(capacity);
    const int result = MultiByteToWideChar(CP_ACP, 0, source, -1, dest, count);
    dest[count - 1] = 0;
    return result != 0;
}

bool WideToAnsi(const wchar_t* source, char* dest, size_t capacityBytes)
{
    if (dest == nullptr || capacityBytes == 0)
        return false;
    dest[0] = 0;
    const int count = ToCount(capacityBytes);
    const int result = WideCharToMultiByte(CP_ACP, 0, source, -1, dest, count, nullptr, nullptr);
    dest[count - 1] = 0;
    return result != 0;
}

bool Utf8ToWide(const char* source, wchar_t* dest, size_t capacity)
{
    if (dest == nullptr || capacity == 0)
        return false;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(source ? source : "");
    bool result = true;
    size_t room = capacity - 1;
    size_t written = 0;
    while (*p != 0)
    {
        const unsigned char c = *p++;
        uint32_t codePoint;
        int following;
        if (c < 0x80)
        {
            codePoint = c;
            following = 0;
        }
        else if ((c & 0xE0) == 0xC0)
        {
            codePoint = c & 0x1F;
            following = 1;
        }
        else if ((c & 0xF0) == 0xE0)
        {
            codePoint = c & 0x0F;
            following = 2;
        }
        else if ((c & 0xF8) == 0xF0)
        {
            codePoint = c & 0x07;
            following = 3;
        }
        else
        {
            result = false;
            break;
        }
        // Bytes are taken one at a time: the terminator is not a continuation
        // byte, so nothing past it is ever read.
        bool complete = true;
        for (; following > 0; following--)
        {
            if (!IsContinuation(*p))
            {
                complete = false;
                break;
            }
            codePoint = codePoint << 6 | (*p++ & 0x3F);
        }
        if (!complete)
        {
            result = false;
            break;
        }
        if (room == 0)
            break;
        if (codePoint <= 0xFFFF)
        {
            dest[written++] = static_cast<wchar_t>(codePoint);
            room--;
            continue;
        }
        if (room < 2)
            break;
        room -= 2;
        if (codePoint > 0x10FFFF)
        {
            result = false;
            continue;
        }
        dest[written++] = static_cast<wchar_t>(0xD800 + ((codePoint - 0x10000) >> 10));
        dest[written++] = static_cast<wchar_t>(0xDC00 + (codePoint & 0x3FF));
    }
    dest[written] = 0;
    return result;
}

bool IsUtf8Text(const void* block, size_t length)
{
    if (block == nullptr)
        return length == 0;
    const unsigned char* p = static_cast<const unsigned char*>(block);
    size_t i = 0;
    while (i < length)
    {
        unsigned ones = 0;
        for (unsigned char lead = p[i]; ones < 8 && (lead & 0x80) != 0; lead <<= 1)
            ones++;
        if (ones == 1 || ones > 6)
            return false;
        const size_t sequence = ones == 0 ? 1 : ones;
        if (sequence > length - i)
            return false;
        for (size_t k = 1; k < sequence; k++)
            if (!IsContinuation(p[i + k]))
                return false;
        i += sequence;
    }
    return true;
}

int64_t ParseInt64(const wchar_t* text)
{
    if (text == nullptr)
        return 0;
    const bool negative = *text == L'-';
    if (negative)
        text++;
    // Unsigned arithmetic: the wrap-around is defined, not an overflow.
    uint64_t value = 0;
    for (; IsDigit(*text); text++)
        value = value * 10 + uint64_t(*text - L'0');
    const int64_t signedValue = static_cast<int64_t>(value);
    if (negative && signedValue >= 0)
        return static_cast<int64_t>(0 - value);
    return signedValue;
}

void Int64ToText(int64_t value, wchar_t* buffer, size_t capacity)
{
    if (buffer == nullptr || capacity == 0)
        return;
    const bool negative = value < 0;
    // The magnitude of INT64_MIN only fits unsigned.
    uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    wchar_t reversed[21];
    size_t limit = capacity - 1;
    if (limit > ARRAYSIZE(reversed))
        limit = ARRAYSIZE(reversed);
    if (negative && limit > 0)
        limit--;
    size_t count = 0;
    while (count < limit)
    {
        reversed[count++] = static_cast<wchar_t>(L'0' + magnitude % 10);
        magnitude /= 10;
        if (magnitude == 0)
            break;
    }
    // A number that does not fit would read as a different number: leave the
    // buffer empty instead of cutting digits off.
    if (magnitude != 0 || count == 0)
    {
        buffer[0] = 0;
        return;
    }
    size_t out = 0;
    if (negative)
        buffer[out++] = L'-';
    while (count > 0)
        buffer[out++] = reversed[--count];
    buffer[out] = 0;
}

void SortArray(void* array, size_t count, size_t size, CompareFunction compare)
{
    if (count < 2 || size == 0)
        return;
    unsigned char* base = static_cast<unsigned char*>(array);
    unsigned char* scratch = static_cast<unsigned char*>(std::malloc(size));
    if (scratch == nullptr)
        ReportMemoryError();
    auto at = [base, size](size_t i) { return base + i * size; };
    // The sifted element waits in the scratch buffer while larger children move up.
    auto siftDown = [&](size_t start, size_t end)
    {
        std::memcpy(scratch, at(start), size);
        size_t i = start;
        for (;;)
        {
            size_t child = 2 * i + 1;
            if (child >= end)
                break;
            if (child + 1 < end && compare(at(child + 1), at(child)) > 0)
                child++;
            if (compare(at(child), scratch) <= 0)
                break;
            std::memcpy(at(i), at(child), size);
            i = child;
        }
        std::memcpy(at(i), scratch, size);
    };
    for (size_t i = count / 2; i-- > 0;)
        siftDown(i, count);
    for (size_t last = count - 1; last > 0; last--)
    {
        std::memcpy(scratch, at(0), size);
        std::memcpy(at(0), at(last), size);
        std::memcpy(at(last), scratch, size);
        siftDown(0, last);
    }
    std::free(scratch);
}

void WipeMemory(void* block, size_t length)
{
    if (block == nullptr)
        return;
    // Volatile stores are not dropped even when the block is freed right after.
    volatile unsigned char* p = static_cast<volatile unsigned char*>(block);
    for (size_t i = 0; i < length; i++)
        p[i] = 0;
}

uint64_t FileTimeToNs(const FILETIME& time)
{
    const uint64_t ticks = uint64_t(time.dwHighDateTime) << 32 | time.dwLowDateTime;
    return ticks * 100;
}
