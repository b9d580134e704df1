#include "files/replacement_file.h"

#include "common/error_sink.h"
#include "common/strings.h"
#include "common/system_functions.h"
#include "files/entry_handles.h"
#include "files/file_system.h"

#include <cstddef>
#include <cwchar>

namespace
{

const wchar_t kNewSuffix[] = L".new";

// The native rename of an open file into a folder given by its handle: no
// name on the way to the folder is looked up again.
const int kFileRenameInformation = 10;
struct RenameInformation
{
    BOOLEAN ReplaceIfExists;
    HANDLE RootDirectory;
    ULONG FileNameLength;
    WCHAR FileName[kPathChars];
};
struct IoStatusBlock
{
    union
    {
        LONG Status;
        PVOID Pointer;
    };
    ULONG_PTR Information;
};
typedef LONG(WINAPI* SetInformationFileFn)(HANDLE, IoStatusBlock*, PVOID, ULONG, int);

SetInformationFileFn SetInformationFunction()
{
    static const SetInformationFileFn function =
        NtdllFunction<SetInformationFileFn>("NtSetInformationFile");
    return function;
}

// Plain name first, long form second, as the file object does.
KernelHandle OpenFolder(const wchar_t* folder)
{
    return OpenWithoutFollowing(folder, FILE_READ_ATTRIBUTES | FILE_TRAVERSE | SYNCHRONIZE);
}

bool ReadIdentity(HANDLE handle, BY_HANDLE_FILE_INFORMATION& info)
{
    return GetFileInformationByHandle(handle, &info) != FALSE;
}

// The name reaches, now, the very folder that is held.
bool NameReaches(const wchar_t* folder, HANDLE held)
{
    const KernelHandle named = OpenFolder(folder);
    BY_HANDLE_FILE_INFORMATION namedInfo, heldInfo;
    return named.Valid() && ReadIdentity(named.Get(), namedInfo) &&
           ReadIdentity(held, heldInfo) &&
           namedInfo.dwVolumeSerialNumber == heldInfo.dwVolumeSerialNumber &&
           namedInfo.nFileIndexHigh == heldInfo.nFileIndexHigh &&
           namedInfo.nFileIndexLow == heldInfo.nFileIndexLow;
}

// Exclusively: whatever stands at the name, a dangling link included, makes
// this fail with taken set. A name part beginning with "." or a blank is made
// through the long form only, where the plain form may name another file.
KernelHandle MakeNewFile(const wchar_t* name, DWORD share, bool& taken)
{
    const DWORD access = GENERIC_READ | GENERIC_WRITE | DELETE;
    const DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT;
    taken = false;
    KernelHandle file;
    const wchar_t* part = PointToName(name);
    if (part[0] != L'.' && part[0] != L' ')
    {
        file.Reset(CreateFileW(name, access, share, nullptr, CREATE_NEW, flags, nullptr));
        const DWORD error = GetLastError();
        taken = !file.Valid() && (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS);
        if (file.Valid() || taken)
            return file;
    }
    wchar_t longName[kPathChars];
    if (MakeLongPath(name, longName))
    {
        file.Reset(CreateFileW(longName, access, share, nullptr, CREATE_NEW, flags, nullptr));
        const DWORD error = GetLastError();
        taken = !file.Valid() && (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS);
    }
    return file;
}

} // namespace

ReplacementFile::ReplacementFile() : failed_(false)
{
    folderFinal_[0] = 0;
    name_[0] = 0;
    newName_[0] = 0;
}

ReplacementFile::~ReplacementFile()
{
    Abandon();
}

bool ReplacementFile::Create(const wchar_t* name, bool othersMayRead)
{
    Abandon();
    folder_.Close();
    failed_ = false;
    folderFinal_[0] = 0;
    wchar_t folder[kPathChars];
    if (name == nullptr || !CopyString(name_, name) || !CopyString(newName_, name) ||
        !AppendString(newName_, kNewSuffix) || !CopyString(folder, name))
        return false;
    RemoveNameFromPath(folder);
    if (folder[0] == 0 || PointToName(name_)[0] == 0)
        return false;
    // The folder is held first, then its name is checked to reach it
    // directly: a swap before the hold fails the check, a swap after it
    // cannot move the hold, and the rename goes into the hold.
    folder_ = OpenFolder(folder);
    DWORD attributes = 0;
    const bool folderChecked =
        folder_.Valid() && ReadEntryAttributes(folder_.Get(), attributes) &&
        IsDirAttr(attributes) && !IsOpenedLinkToElsewhere(folder_.Get(), attributes) &&
        IsFolderReachedDirectly(folder) && NameReaches(folder, folder_.Get()) &&
        (!HasFinalPaths() || (FinalPathOfEntry(folder_.Get(), 0, folderFinal_, kPathChars) &&
                              AddEndSlash(folderFinal_)));
    if (!folderChecked)
    {
        folder_.Close();
        return false;
    }
    const DWORD share = othersMayRead ? FILE_SHARE_READ : 0;
    bool taken = false;
    file_ = MakeNewFile(newName_, share, taken);
    // Left by a run that was ended while writing; a link there stays, and
    // so does a new file another run is still writing (it shares no delete).
    if (!file_.Valid() && taken && DelFileInside(newName_))
        file_ = MakeNewFile(newName_, share, taken);
    // Made where the name led by then: it must be in the held folder.
    if (!file_.Valid() || !IsStillInPlace())
    {
        Abandon();
        folder_.Close();
        return false;
    }
    return true;
}

bool ReplacementFile::Write(const void* data, DWORD size)
{
    DWORD done = 0;
    if (file_.Valid() &&
        (size == 0 || (WriteFile(file_.Get(), data, size, &done, nullptr) && done == size)))
        return true;
    failed_ = true;
    ReportWriteError(name_);
    return false;
}

bool ReplacementFile::Commit()
{
    bool done = file_.Valid() && !failed_;
    // The data reaches the disk before the name points at it: after a power
    // loss the name holds the old file or the whole new one.
    if (done && !FlushFileBuffers(file_.Get()))
    {
        ReportWriteError(name_);
        done = false;
    }
    done = done && IsStillInPlace() && RenameOverName();
    if (!done)
    {
        Abandon();
        folder_.Close();
        return false;
    }
    const bool closed = file_.Close();
    folder_.Close();
    if (!closed)
        ReportCloseError(name_);
    return closed;
}

void ReplacementFile::Abandon()
{
    if (!file_.Valid())
        return;
    // Through the handle where the system can: the new name may lead
    // elsewhere by now.
    if (HasHandleUpdates() && DeleteOpenedEntry(file_.Get()))
    {
        file_.Close();
        return;
    }
    file_.Close();
    DelFileInside(newName_);
}

bool ReplacementFile::IsStillInPlace() const
{
    DWORD attributes = 0;
    BY_HANDLE_FILE_INFORMATION info;
    // A second name (a hard link made meanwhile) would let the new content
    // be read or changed from elsewhere.
    if (!ReadEntryAttributes(file_.Get(), attributes) || IsDirAttr(attributes) ||
        IsOpenedLinkToElsewhere(file_.Get(), attributes) || !ReadIdentity(file_.Get(), info) ||
        info.nNumberOfLinks != 1)
        return false;
    if (folderFinal_[0] == 0)
        return true;
    wchar_t finalPath[kPathChars], finalFolder[kPathChars];
    return FinalPathOfEntry(file_.Get(), 0, finalPath, kPathChars) &&
           GetFolderPart(finalPath, finalFolder) &&
           SameFileSystemName(finalFolder, std::wcslen(finalFolder), folderFinal_,
                              std::wcslen(folderFinal_));
}

bool ReplacementFile::RenameOverName()
{
    const SetInformationFileFn setInformation = SetInformationFunction();
    const wchar_t* part = PointToName(name_);
    const size_t length = std::wcslen(part);
    if (setInformation == nullptr || length == 0 || length >= kPathChars)
        return false;
    // What stands at the name, a link or a hard link included, is replaced
    // as an entry of the folder; a folder there makes the rename fail.
    RenameInformation info = {};
    info.ReplaceIfExists = TRUE;
    info.RootDirectory = folder_.Get();
    info.FileNameLength = ULONG(length * sizeof(wchar_t));
    std::wmemcpy(info.FileName, part, length);
    IoStatusBlock status = {};
    const ULONG size = ULONG(offsetof(RenameInformation, FileName) + info.FileNameLength);
    return setInformation(file_.Get(), &status, &info, size, kFileRenameInformation) >= 0;
}
