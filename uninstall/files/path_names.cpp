#include "files/path_names.h"

#include "common/strings.h"

#include <windows.h>

namespace
{

const wchar_t kLongPrefix[] = L"\\\\?\\";
const size_t kLongPrefixChars = 4;
const wchar_t kUncLongPrefix[] = L"\\\\?\\UNC";

// GetCurrentDirectoryW is given one character less than a path buffer so
// that the separator added behind it always fits.
const DWORD kCurrentDirChars = kPathChars - 1;

} // namespace

bool IsPathSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

bool IsDriveLetter(const wchar_t* path)
{
    wchar_t letter = UpperChar(path[0]);
    return letter >= L'A' && letter <= L'Z' && path[1] == L':';
}

bool IsFullPath(const wchar_t* path)
{
    if (path[0] == L'\\' && path[1] == L'\\')
        return true;
    return IsDriveLetter(path) && IsPathSeparator(path[2]);
}

bool HasWildcards(const wchar_t* path)
{
    if (path == nullptr)
        return false;
    // The question mark of the long prefix is not a wildcard.
    if (wcsncmp(path, kLongPrefix, kLongPrefixChars) == 0)
        path += kLongPrefixChars;
    for (; *path != 0; path++)
    {
        if (*path == L'*' || *path == L'?')
            return true;
    }
    return false;
}

const wchar_t* PointToName(const wchar_t* path)
{
    for (const wchar_t* p = path + wcslen(path); p > path; p--)
    {
        if (IsPathSeparator(p[-1]))
            return p;
    }
    if (path[0] != 0 && path[1] == L':')
        return path + 2;
    return path;
}

wchar_t* PointToName(wchar_t* path)
{
    return const_cast<wchar_t*>(PointToName(const_cast<const wchar_t*>(path)));
}

const wchar_t* PointToLastChar(const wchar_t* path)
{
    size_t length = wcslen(path);
    return length == 0 ? path : path + length - 1;
}

wchar_t* PointToLastChar(wchar_t* path)
{
    return const_cast<wchar_t*>(PointToLastChar(const_cast<const wchar_t*>(path)));
}

bool AddEndSlash(wchar_t* path, size_t capacity)
{
    return path[0] == 0 || *PointToLastChar(path) == L'\\' || AppendString(path, L"\\", capacity);
}

void RemoveNameFromPath(wchar_t* path)
{
    size_t name = PointToName(path) - path;
    // "X:\name" keeps the root's separator; so does "\name" (name at 1).
    if (name >= 2 && (path[1] != L':' || name >= 4))
        name--;
    path[name] = 0;
}

bool SetName(wchar_t* path, const wchar_t* name, size_t capacity)
{
    size_t offset = PointToName(path) - path;
    return offset < capacity && CopyString(path + offset, name, capacity - offset);
}

bool GetFolderPart(const wchar_t* path, wchar_t* folder, size_t capacity)
{
    if (capacity == 0)
        return false;
    size_t length = PointToName(path) - path;
    // CopyString stops at capacity - 1, so this copies exactly the folder
    // part, cut to the output.
    CopyStringCut(folder, path, length + 1 < capacity ? length + 1 : capacity);
    return length < capacity;
}

bool JoinPath(const wchar_t* folder, const wchar_t* name, wchar_t* output, size_t capacity)
{
    wchar_t joined[kPathChars];
    const bool whole =
        CopyString(joined, folder) && AddEndSlash(joined) && AppendString(joined, name);
    return CopyString(output, joined, capacity) && whole;
}

bool MakeLongPath(const wchar_t* path, wchar_t* output, size_t capacity)
{
    size_t length = wcslen(path);
    if (length == 0)
        return false;
    if (IsFullPath(path))
    {
        if (IsDriveLetter(path))
        {
            if (capacity <= length + 4)
                return false;
            return CopyString(output, kLongPrefix, capacity) &&
                   AppendString(output, path, capacity);
        }
        else
        {
            if (capacity <= length + 6)
                return false;
            // \\server\share becomes \\?\UNC\server\share.
            return CopyString(output, kUncLongPrefix, capacity) &&
                   AppendString(output, path + 1, capacity);
        }
    }

    wchar_t current[kPathChars];
    DWORD currentLength = GetCurrentDirectoryW(kCurrentDirChars, current);
    if (currentLength == 0 || currentLength >= kCurrentDirChars)
        return false;
    if (IsPathSeparator(path[0]))
    {
        // Rooted on the current drive: take its "X:".
        if (capacity <= length + 6)
            return false;
        current[2] = 0;
        return CopyString(output, kLongPrefix, capacity) &&
               AppendString(output, current, capacity) && AppendString(output, path, capacity);
    }
    if (!AddEndSlash(current) || capacity <= wcslen(current) + length + 4)
        return false;
    if (path[0] == L'.' && IsPathSeparator(path[1]))
        path += 2;
    return CopyString(output, kLongPrefix, capacity) && AppendString(output, current, capacity) &&
           AppendString(output, path, capacity);
}
