#pragma once
// Path strings: the name and folder parts, joining, the trailing separator,
// the wildcard test and the "\\?\" long form that file operations fall back
// to when the plain name fails. Nothing here touches the file system except
// MakeLongPath, which reads the current directory.
#include <cstddef>

// Every path the program builds lives in a buffer of this many characters,
// terminator included.
const size_t kPathChars = 2048;

// "\" and "/".
bool IsPathSeparator(wchar_t c);
// "X:" at the start, any case.
bool IsDriveLetter(const wchar_t* path);
// "\\..." or "X:\..." (or "X:/...").
bool IsFullPath(const wchar_t* path);
// "*" or "?" anywhere after an optional "\\?\" prefix; null gives false.
bool HasWildcards(const wchar_t* path);

// The name part: behind the last separator, else behind "X:", else the start.
const wchar_t* PointToName(const wchar_t* path);
wchar_t* PointToName(wchar_t* path);
// The last character; the start of an empty path.
const wchar_t* PointToLastChar(const wchar_t* path);
wchar_t* PointToLastChar(wchar_t* path);

// AddEndSlash, SetName, GetFolderPart and JoinPath return false when the
// whole name did not fit its buffer: a cut name names another file.

// Appends "\" unless the path is empty or already ends in "\".
[[nodiscard]] bool AddEndSlash(wchar_t* path, size_t capacity);
// Cuts the name part and the separator before it, but keeps a root's.
void RemoveNameFromPath(wchar_t* path);
// Replaces the name part of the path in its buffer.
[[nodiscard]] bool SetName(wchar_t* path, const wchar_t* name, size_t capacity);
// The folder part, its final separator included; empty for a bare name.
[[nodiscard]] bool GetFolderPart(const wchar_t* path, wchar_t* folder, size_t capacity);
// folder + "\" (when needed) + name; output may be the folder's own buffer.
[[nodiscard]] bool JoinPath(const wchar_t* folder, const wchar_t* name, wchar_t* output,
                            size_t capacity);
// "\\?\X:\..." or "\\?\UNC\server\..." for the path, relative ones resolved
// against the current directory. False when the path is empty, the current
// directory cannot be read or the result does not fit; the output is then
// left untouched. The output must not be the path's own buffer.
[[nodiscard]] bool MakeLongPath(const wchar_t* path, wchar_t* output, size_t capacity);

// Capacity-carrying forms for fixed arrays.
template <size_t N> [[nodiscard]] inline bool AddEndSlash(wchar_t (&path)[N])
{
    return AddEndSlash(path, N);
}
template <size_t N> [[nodiscard]] inline bool SetName(wchar_t (&path)[N], const wchar_t* name)
{
    return SetName(path, name, N);
}
template <size_t N>
[[nodiscard]] inline bool GetFolderPart(const wchar_t* path, wchar_t (&folder)[N])
{
    return GetFolderPart(path, folder, N);
}
template <size_t N>
[[nodiscard]] inline bool JoinPath(const wchar_t* folder, const wchar_t* name, wchar_t (&output)[N])
{
    return JoinPath(folder, name, output, N);
}
template <size_t N>
[[nodiscard]] inline bool MakeLongPath(const wchar_t* path, wchar_t (&output)[N])
{
    return MakeLongPath(path, output, N);
}
