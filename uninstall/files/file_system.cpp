#include "files/file_system.h"

#include "common/strings.h"
#include "files/entry_handles.h"

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
FindHandle FindFirst(const wchar_t* mask, WIN32_FIND_DATAW& found, DWORD& error)
{
    FindHandle handle(FindFirstFileW(mask, &found));
    if (handle.Valid())
        return handle;
    error = GetLastError();
    wchar_t longName[kPathChars];
    if (LongFormNamesTheSame(mask) && MakeLongPath(mask, longName))
    {
        handle.Reset(FindFirstFileW(longName, &found));
        if (!handle.Valid())
            error = GetLastError();
    }
    return handle;
}

// False when the entry's full name does not fit: cut, it would be handed out
// as the name of another file.
bool FillFindData(const wchar_t* mask, const WIN32_FIND_DATAW& found, FindData& data)
{
    if (!CopyString(data.Name, mask) || !SetName(data.Name, found.cFileName))
        return false;
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
    return true;
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

bool IsLinkToElsewhere(const wchar_t* path, DWORD attributes)
{
    if (!IsLinkAttr(attributes))
        return false;
    WIN32_FIND_DATAW found;
    if (!FindHandle(FindFirstFileW(path, &found)).Valid())
        return true;
    // Cloud placeholders and the like are reparse points too, but stay
    // where they are; only a name surrogate names another place.
    const DWORD kNameSurrogate = 0x20000000;
    return found.dwReserved0 == 0 || (found.dwReserved0 & kNameSurrogate) != 0;
}

uint64_t GetFreeDiskSpace(const wchar_t* name)
{
    wchar_t folder[kPathChars];
    if (!GetFolderPart(name, folder))
        return 0;
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

FindFile::FindFile() : first_(true)
{
    mask_[0] = 0;
}

void FindFile::SetMask(const wchar_t* mask)
{
    // A new FindFirstFileW would otherwise orphan the old handle.
    Close();
    // Cut, the mask would search another folder or name another entry: such
    // a search finds nothing.
    if (!CopyString(mask_, mask))
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
            handle_ = FindFirst(mask_, found, error);
            if (!handle_.Valid())
            {
                data.Error = error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND &&
                             error != ERROR_NO_MORE_FILES;
                return false;
            }
        }
        else if (!FindNextFileW(handle_.Get(), &found))
        {
            // The handle stays for Close.
            data.Error = GetLastError() != ERROR_NO_MORE_FILES;
            return false;
        }
        first_ = false;
        if (!IsDotEntry(found.cFileName) && FillFindData(mask_, found, data))
            return true;
    }
}

void FindFile::Close()
{
    handle_.Close();
}

bool FastFind(const wchar_t* name, FindData& data)
{
    data.Error = false;
    if (HasWildcards(name))
        return false;
    WIN32_FIND_DATAW found;
    DWORD error = NO_ERROR;
    if (!FindFirst(name, found, error).Valid())
        return false;
    return FillFindData(name, found, data);
}

bool GetDefaultAppDataFolder(wchar_t* folder, size_t capacity)
{
    if (capacity == 0)
        return false;
    folder[0] = 0;
    ComPointer<IMalloc> allocator;
    if (FAILED(SHGetMalloc(allocator.Receive())))
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
            const bool whole = AddEndSlash(path) && AppendString(path, kArchiverFolder);
            // A name cut to the output could be some other, existing folder.
            exists = CopyString(folder, path, capacity) && whole && FileExists(path);
        }
        allocator->Free(items);
    }
    return exists;
}

namespace
{

// The final path of an open entry in its plain form ("\\?\C:\x" gives
// "C:\x", "\\?\UNC\s\x" gives "\\s\x"); false when it cannot be told.
bool FinalPathOf(HANDLE handle, wchar_t (&path)[kPathChars])
{
    if (!FinalPathOfEntry(handle, 0, path, kPathChars))
        return false;
    const size_t length = std::wcslen(path);
    if (std::wcsncmp(path, L"\\\\?\\UNC\\", 8) == 0)
        std::wmemmove(path + 2, path + 8, length - 8 + 1);
    else if (std::wcsncmp(path, L"\\\\?\\", 4) == 0)
        std::wmemmove(path, path + 4, length - 4 + 1);
    return true;
}

// The folder of a path without its final separator ("C:\" keeps it).
bool FolderOf(const wchar_t* name, wchar_t (&folder)[kPathChars])
{
    if (!CopyString(folder, name))
        return false;
    RemoveNameFromPath(folder);
    return true;
}

// The open entry is a plain file, and where Windows can tell its final
// path, that lies in the folder's own final place.
bool IsPlainFileIn(HANDLE file, const wchar_t* folder)
{
    DWORD attributes = 0;
    if (!ReadEntryAttributes(file, attributes) || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
        IsOpenedLinkToElsewhere(file, attributes))
        return false;
    if (!HasFinalPaths())
        return true;
    const KernelHandle folderEntry = OpenWithoutFollowing(folder, FILE_READ_ATTRIBUTES);
    wchar_t fileFinal[kPathChars], fileFolder[kPathChars], folderFinal[kPathChars];
    if (!folderEntry.Valid() || !FinalPathOf(folderEntry.Get(), folderFinal) ||
        !FinalPathOf(file, fileFinal))
        return false;
    return AddEndSlash(folderFinal) && GetFolderPart(fileFinal, fileFolder) &&
           SameFileSystemName(fileFolder, std::wcslen(fileFolder), folderFinal,
                              std::wcslen(folderFinal));
}

// "X:" or "X:\".
bool IsDriveRoot(const wchar_t* path)
{
    return IsDriveLetter(path) && (path[2] == 0 || (IsPathSeparator(path[2]) && path[3] == 0));
}

bool IsFileInReachedFolder(const wchar_t* name)
{
    wchar_t folder[kPathChars];
    return name != nullptr && FolderOf(name, folder) && folder[0] != 0 &&
           IsFolderReachedDirectly(folder);
}

} // namespace

bool IsFolderReachedDirectly(const wchar_t* folder)
{
    wchar_t path[kPathChars];
    if (folder == nullptr || !CopyString(path, folder))
        return false;
    size_t length = std::wcslen(path);
    // "C:\dir\" is the folder "C:\dir"; a root keeps its separator.
    while (length > 3 && IsPathSeparator(path[length - 1]))
        path[--length] = 0;
    const DWORD attributes = GetFileAttr(path);
    if (!IsDirAttr(attributes))
        return false;
    // A drive's root is the volume itself: Wine shows one whose drive letter
    // maps to a linked Linux folder as a link, Windows never.
    if (IsDriveRoot(path))
        return true;
    if (IsLinkToElsewhere(path, attributes))
        return false;
    for (;;)
    {
        RemoveNameFromPath(path);
        const size_t shorter = std::wcslen(path);
        if (shorter == 0 || shorter >= length || IsDriveRoot(path))
            return true;
        length = shorter;
        const DWORD above = GetFileAttr(path);
        // "\\server" and the like cannot be asked; nothing above them is a link.
        if (above == INVALID_FILE_ATTRIBUTES)
            return true;
        if (IsLinkToElsewhere(path, above))
            return false;
    }
}

bool IsFileReallyInside(const wchar_t* name)
{
    wchar_t folder[kPathChars];
    if (!IsFileInReachedFolder(name) || !FolderOf(name, folder))
        return false;
    const KernelHandle file = OpenWithoutFollowing(name, FILE_READ_ATTRIBUTES);
    return file.Valid() && IsPlainFileIn(file.Get(), folder);
}

bool DelFileInside(const wchar_t* name)
{
    wchar_t folder[kPathChars];
    if (!IsFileInReachedFolder(name) || !FolderOf(name, folder))
        return false;
    if (!HasHandleUpdates())
        return IsFileReallyInside(name) && DelFile(name);
    const KernelHandle file = OpenWithoutFollowing(name, DELETE | FILE_READ_ATTRIBUTES);
    if (!file.Valid() || !IsPlainFileIn(file.Get(), folder))
        return false;
    // Deleted through the handle that was checked: the name cannot have been
    // swapped for a link in between.
    return DeleteOpenedEntry(file.Get());
}

KernelHandle OpenFileReallyInside(const wchar_t* name, DWORD access)
{
    wchar_t folder[kPathChars];
    if (!IsFileInReachedFolder(name) || !FolderOf(name, folder))
        return KernelHandle();
    KernelHandle file = OpenWithoutFollowing(name, access | FILE_READ_ATTRIBUTES);
    BY_HANDLE_FILE_INFORMATION info;
    if (!file.Valid() || !IsPlainFileIn(file.Get(), folder) ||
        !GetFileInformationByHandle(file.Get(), &info) || info.nNumberOfLinks != 1)
        return KernelHandle();
    return file;
}

bool IsDeviceName(const wchar_t* name)
{
    size_t length = 0;
    while (name[length] != 0 && name[length] != L'.')
        ++length;
    while (length > 0 && name[length - 1] == L' ')
        --length;
    wchar_t stem[8] = L"";
    if (length == 0 || length >= ARRAYSIZE(stem))
        return false;
    for (size_t i = 0; i < length; ++i)
        stem[i] = name[i];
    static const wchar_t* const kDevices[] = {L"CON",    L"PRN",     L"AUX",   L"NUL",
                                              L"CONIN$", L"CONOUT$", L"CLOCK$"};
    for (const wchar_t* device : kDevices)
        if (CompareNoCase(stem, device) == 0)
            return true;
    // "COM1" to "COM9", and the superscript digits Windows takes as well.
    const wchar_t last = stem[3];
    const bool numbered = length == 4 && ((last >= L'0' && last <= L'9') || last == 0xB9 ||
                                          last == 0xB2 || last == 0xB3);
    stem[3] = 0;
    return numbered && (CompareNoCase(stem, L"COM") == 0 || CompareNoCase(stem, L"LPT") == 0);
}

bool IsPlainFileName(const wchar_t* name)
{
    const size_t kMaxNameChars = 240;
    if (name == nullptr || name[0] == 0)
        return false;
    const size_t length = std::wcslen(name);
    if (length > kMaxNameChars || std::wcsstr(name, L"..") != nullptr)
        return false;
    for (const wchar_t* c = name; *c != 0; ++c)
        if (*c < 0x20 || *c == 0x7F || std::wcschr(L"\\/:*?\"<>|", *c) != nullptr)
            return false;
    // Windows drops a trailing dot or blank, so the name would be another.
    const wchar_t last = name[length - 1];
    return last != L'.' && last != L' ' && !IsDeviceName(name);
}

bool ReadEntryIdentity(const wchar_t* name, BY_HANDLE_FILE_INFORMATION& identity)
{
    const KernelHandle entry(CreateFileW(name, 0,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                         nullptr));
    return entry.Valid() && GetFileInformationByHandle(entry.Get(), &identity);
}
