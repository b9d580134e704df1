#include "files/entry_handles.h"

#include "common/system_functions.h"

#include <climits>
#include <cwchar>

namespace
{

// Vista and later; older Windows has no file links, only folder junctions,
// which the attributes show.
typedef DWORD(WINAPI* FinalPathFn)(HANDLE, LPWSTR, DWORD, DWORD);
typedef BOOL(WINAPI* GetFileInfoFn)(HANDLE, int, LPVOID, DWORD);
const int kFileAttributeTagInfo = 9;
struct AttributeTagInfo
{
    DWORD FileAttributes;
    DWORD ReparseTag;
};
typedef BOOL(WINAPI* SetFileInfoFn)(HANDLE, int, LPVOID, DWORD);
const int kFileBasicInfo = 0;
const int kFileDispositionInfo = 4;
const int kFileDispositionInfoEx = 21;
// Windows 10 1709 and later, on NTFS: the name goes at once, even while
// another process holds the file with delete sharing.
const DWORD kDispositionDelete = 0x1;
const DWORD kDispositionPosixSemantics = 0x2;
struct BasicInfo
{
    LARGE_INTEGER CreationTime;
    LARGE_INTEGER LastAccessTime;
    LARGE_INTEGER LastWriteTime;
    LARGE_INTEGER ChangeTime;
    DWORD FileAttributes;
};
struct DispositionInfo
{
    BOOLEAN DeleteFile;
};
struct DispositionInfoEx
{
    DWORD Flags;
};

FinalPathFn FinalPathFunction()
{
    static const FinalPathFn function = Kernel32Function<FinalPathFn>("GetFinalPathNameByHandleW");
    return function;
}

GetFileInfoFn GetInfoFunction()
{
    static const GetFileInfoFn function = Kernel32Function<GetFileInfoFn>("GetFileInformationByHandleEx");
    return function;
}

// Attributes and reparse tag of an open entry, where the system offers the
// query (Vista and later).
bool ReadAttributeTag(HANDLE entry, AttributeTagInfo& tag)
{
    const GetFileInfoFn getInfo = GetInfoFunction();
    return getInfo != nullptr && getInfo(entry, kFileAttributeTagInfo, &tag, sizeof(tag));
}

SetFileInfoFn SetInfoFunction()
{
    static const SetFileInfoFn function = Kernel32Function<SetFileInfoFn>("SetFileInformationByHandle");
    return function;
}

} // namespace

KernelHandle OpenWithoutFollowing(const wchar_t* name, DWORD access, size_t longFormChars)
{
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;
    KernelHandle entry(CreateFileW(name, access, share, nullptr, OPEN_EXISTING, flags, nullptr));
    if (entry.Valid())
        return entry;
    const DWORD error = GetLastError();
    wchar_t longName[kLongFormChars];
    const size_t room = longFormChars < kLongFormChars ? longFormChars : kLongFormChars;
    if (MakeLongPath(name, longName, room))
        entry.Reset(CreateFileW(longName, access, share, nullptr, OPEN_EXISTING, flags, nullptr));
    if (!entry.Valid())
        SetLastError(error);
    return entry;
}

bool IsLinkAttr(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool HasFinalPaths()
{
    return FinalPathFunction() != nullptr;
}

bool FinalPathOfEntry(HANDLE entry, DWORD flags, wchar_t* path, size_t capacity)
{
    const FinalPathFn finalPath = FinalPathFunction();
    if (finalPath == nullptr || capacity == 0 || capacity > MAXDWORD)
        return false;
    const DWORD length = finalPath(entry, path, static_cast<DWORD>(capacity), flags);
    return length > 0 && length < capacity;
}

bool HasHandleUpdates()
{
    return SetInfoFunction() != nullptr;
}

bool ClearAttributesOfEntry(HANDLE entry)
{
    const SetFileInfoFn setInfo = SetInfoFunction();
    BasicInfo info = {};
    info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return setInfo != nullptr && setInfo(entry, kFileBasicInfo, &info, sizeof(info)) != FALSE;
}

bool DeleteOpenedEntry(HANDLE entry)
{
    const SetFileInfoFn setInfo = SetInfoFunction();
    if (setInfo == nullptr)
        return false;
    DispositionInfoEx posix = {kDispositionDelete | kDispositionPosixSemantics};
    if (setInfo(entry, kFileDispositionInfoEx, &posix, sizeof(posix)))
        return true;
    // Only a system or volume without the class gets the old one: any other
    // refusal (a folder not empty) would be the same.
    const DWORD error = GetLastError();
    if (error != ERROR_INVALID_PARAMETER && error != ERROR_NOT_SUPPORTED &&
        error != ERROR_INVALID_FUNCTION && error != ERROR_CALL_NOT_IMPLEMENTED)
        return false;
    DispositionInfo disposition = {TRUE};
    return setInfo(entry, kFileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
}

bool ReadEntryAttributes(HANDLE entry, DWORD& attributes)
{
    AttributeTagInfo tag = {0, 0};
    if (ReadAttributeTag(entry, tag))
    {
        attributes = tag.FileAttributes;
        return true;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(entry, &info))
        return false;
    attributes = info.dwFileAttributes;
    return true;
}

bool IsOpenedLinkToElsewhere(HANDLE entry, DWORD attributes)
{
    if (!IsLinkAttr(attributes))
        return false;
    AttributeTagInfo tag = {0, 0};
    const DWORD kNameSurrogate = 0x20000000;
    return !ReadAttributeTag(entry, tag) || tag.ReparseTag == 0 ||
           (tag.ReparseTag & kNameSurrogate) != 0;
}

bool SameFileSystemName(const wchar_t* a, size_t aLength, const wchar_t* b, size_t bLength)
{
    typedef int(WINAPI * CompareOrdinalFn)(LPCWSTR, int, LPCWSTR, int, BOOL);
    static const CompareOrdinalFn compare = Kernel32Function<CompareOrdinalFn>("CompareStringOrdinal");
    if (aLength > INT_MAX || bLength > INT_MAX)
        return false;
    if (compare != nullptr)
        return compare(a, int(aLength), b, int(bLength), TRUE) == CSTR_EQUAL;
    // Older Windows: the exact text, which never takes two names for one.
    return aLength == bLength && std::wmemcmp(a, b, aLength) == 0;
}
