#include "files/file_system.h"

#include "common/strings.h"

#include <shlobj.h>

#include <cwchar>

namespace
{

const wchar_t kArchiverFolder[] = L"Velnox";

bool IsDotEntry(const wchar_t* name)
{
    return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

// The long form is taken as written: "/" is no separator there and "." and
// ".." are no steps, so for such names it cannot name what the plain name
// does (the search fails with ERROR_INVALID_NAME instead).
bool LongFormNamesTheSame(const wchar_t* name)
{
    if (std::wcschr(name, L'/') != nullptr)
        return false;
    for (const wchar_t* part = name; *part != 0;)
    {
        const wchar_t* end = part;
        while (*end != 0 && *end != L'\\')
            end++;
        const size_t length = size_t(end - part);
        if ((length == 1 || length == 2) && part[0] == L'.' && part[length - 1] == L'.')
            return false;
        part = *end != 0 ? end + 1 : end;
    }
    return true;
}

// error: why no entry was found, from the attempt that could apply.
HANDLE FindFirst(const wchar_t* mask, WIN32_FIND_DATAW& found, DWORD& error)
{
    HANDLE handle = FindFirstFileW(mask, &found);
    if (handle != INVALID_HANDLE_VALUE)
        return handle;
    error = GetLastError();
    wchar_t longName[kPathChars];
    if (LongFormNamesTheSame(mask) && MakeLongPath(mask, longName))
    {
        handle = FindFirstFileW(longName, &found);
        if (handle == INVALID_HANDLE_VALUE)
            error = GetLastError();
    }
    return handle;
}

void FillFindData(const wchar_t* mask, const WIN32_FIND_DATAW& found, FindData& data)
{
    CopyString(data.Name, mask);
    SetName(data.Name, found.cFileName);
    data.Size = (uint64_t(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    data.FileAttr = found.dwFileAttributes;
    data.IsDir = IsDirAttr(found.dwFileAttributes);
    data.IsLink = IsLinkAttr(found.dwFileAttributes);
    data.CreationTime = found.ftCreationTime;
    data.LastAccessTime = found.ftLastAccessTime;
    data.LastWriteTime = found.ftLastWriteTime;
    data.MTime = FileTimeToNs(found.ftLastWriteTime);
    data.CTime = FileTimeToNs(found.ftCreationTime);
    data.ATime = FileTimeToNs(found.ftLastAccessTime);
}

} // namespace

bool DelFile(const wchar_t* name)
{
    if (DeleteFileW(name))
        return true;
    wchar_t longName[kPathChars];
    return MakeLongPath(name, longName) && DeleteFileW(longName);
}

DWORD GetFileAttr(const wchar_t* name)
{
    DWORD attributes = GetFileAttributesW(name);
    wchar_t longName[kPathChars];
    if (attributes == INVALID_FILE_ATTRIBUTES && MakeLongPath(name, longName))
        attributes = GetFileAttributesW(longName);
    return attributes;
}

bool FileExists(const wchar_t* name)
{
    return GetFileAttr(name) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirAttr(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsLinkAttr(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

uint64_t GetFreeDiskSpace(const wchar_t* name)
{
    wchar_t folder[kPathChars];
    GetFolderPart(name, folder);
    ULARGE_INTEGER available, total, totalFree;
    BOOL done =
        GetDiskFreeSpaceExW(folder[0] != 0 ? folder : nullptr, &available, &total, &totalFree);
    wchar_t longFolder[kPathChars];
    if (!done && folder[0] != 0 && MakeLongPath(folder, longFolder))
        done = GetDiskFreeSpaceExW(longFolder, &available, &total, &totalFree);
    if (!done)
        return 0;
    // More free for us than on the whole volume is an answer not to trust.
    if (available.HighPart > totalFree.HighPart)
        return 0;
    return available.QuadPart;
}

FindFile::FindFile() : first_(true), handle_(INVALID_HANDLE_VALUE)
{
    mask_[0] = 0;
}

FindFile::~FindFile()
{
    Close();
}

void FindFile::SetMask(const wchar_t* mask)
{
    // A new FindFirstFileW would otherwise orphan the old handle.
    Close();
    // Cut, the mask would search another folder or name another entry: such
    // a search finds nothing.
    if (wcsnlen(mask, kPathChars) < kPathChars)
        CopyString(mask_, mask);
    else
        mask_[0] = 0;
    first_ = true;
}

bool FindFile::Next(FindData& data)
{
    for (;;)
    {
        data.Error = false;
        if (mask_[0] == 0)
            return false;
        WIN32_FIND_DATAW found;
        if (first_)
        {
            DWORD error = NO_ERROR;
            HANDLE handle = FindFirst(mask_, found, error);
            if (handle == INVALID_HANDLE_VALUE)
            {
                data.Error = error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND &&
                             error != ERROR_NO_MORE_FILES;
                return false;
            }
            handle_ = handle;
        }
        else if (!FindNextFileW(handle_, &found))
        {
            // The handle stays for Close.
            data.Error = GetLastError() != ERROR_NO_MORE_FILES;
            return false;
        }
        first_ = false;
        // An entry whose full name does not fit would be handed out cut, as
        // the name of another file: it is passed over.
        if (IsDotEntry(found.cFileName) ||
            size_t(PointToName(mask_) - mask_) + wcslen(found.cFileName) >= kPathChars)
            continue;
        FillFindData(mask_, found, data);
        return true;
    }
}

void FindFile::Close()
{
    if (handle_ != INVALID_HANDLE_VALUE)
    {
        FindClose(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }
}

bool FastFind(const wchar_t* name, FindData& data)
{
    data.Error = false;
    if (HasWildcards(name))
        return false;
    WIN32_FIND_DATAW found;
    DWORD error = NO_ERROR;
    HANDLE handle = FindFirst(name, found, error);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    FindClose(handle);
    FillFindData(name, found, data);
    return true;
}

bool GetDefaultAppDataFolder(wchar_t* folder, size_t capacity)
{
    if (capacity == 0)
        return false;
    folder[0] = 0;
    IMalloc* allocator = nullptr;
    if (FAILED(SHGetMalloc(&allocator)))
        return false;
    bool exists = false;
    LPITEMIDLIST items = nullptr;
    if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_APPDATA, &items)))
    {
        // SHGetPathFromIDListW writes up to MAX_PATH characters whatever the
        // caller's capacity, so the name is built in a full path buffer.
        wchar_t path[kPathChars];
        if (SHGetPathFromIDListW(items, path) && path[0] != 0)
        {
            AddEndSlash(path);
            AppendString(path, kArchiverFolder);
            CopyString(folder, path, capacity);
            // A name cut to the output could be some other, existing folder.
            exists = wcslen(path) < capacity && FileExists(path);
        }
        allocator->Free(items);
    }
    allocator->Release();
    return exists;
}
