#include "removal/contained_removal.h"

#include "common/strings.h"
#include "files/entry_handles.h"
#include "files/file_system.h"
#include "files/path_names.h"

#include <initializer_list>

namespace
{

const DWORD kVolumeNameNt = 0x2;
const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The final path of an open entry; false when it cannot be told or does not
// fit (a cut path could name the folder it lies in).
bool FinalPathOf(HANDLE handle, DWORD flags, wchar_t (&path)[kEntryChars])
{
    // Room for the end slash the folder's path gets.
    return FinalPathOfEntry(handle, flags, path, kEntryChars - 1);
}

// A name that exists, link or not: on Windows a search also sees a link
// whose target is gone.
bool NameIsTaken(const wchar_t* name)
{
    FindData found;
    return GetFileAttributesW(name) != INVALID_FILE_ATTRIBUTES || HasWildcards(name) ||
           FastFind(name, found);
}

// Names of the folder are longer than program paths: their "\\?\" form
// has room for any of them.
const size_t kEntryLongForm = kEntryChars + 8;
static_assert(kEntryLongForm <= kLongFormChars, "the long form of a name must fit whole");

bool ReadIdentity(HANDLE handle, DWORD& attributes, FileIdentity& identity)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info))
        return false;
    attributes = info.dwFileAttributes;
    identity = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    return true;
}

bool IsMissingError(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
           error == ERROR_INVALID_NAME;
}

bool SameFile(const FileIdentity& a, const FileIdentity& b)
{
    return a.Volume == b.Volume && a.IndexHigh == b.IndexHigh && a.IndexLow == b.IndexLow;
}

} // namespace

ContainedFolder::ContainedFolder(const wchar_t* folder)
    : flags_(0), offered_(HasFinalPaths()), known_(false)
{
    finalPath_[0] = 0;
    if (!offered_)
        return;
    // The folder itself may be reached through a link: its final path is
    // where its entries really lie.
    const KernelHandle handle(CreateFileW(folder, FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle.Valid())
        return;
    // A volume without a drive letter has only its device name.
    for (const DWORD flags : {DWORD(0), kVolumeNameNt})
    {
        if (FinalPathOf(handle.Get(), flags, finalPath_))
        {
            flags_ = flags;
            known_ = AddEndSlash(finalPath_) && wcslen(finalPath_) < kEntryChars - 1;
            break;
        }
    }
}

bool ContainedFolder::Holds(HANDLE entry) const
{
    if (!offered_)
        return true;
    wchar_t path[kEntryChars];
    if (!known_ || !FinalPathOf(entry, flags_, path))
        return false;
    // Both paths come from the file system: compared as it compares names,
    // not as words, which would take some other folders for this one.
    const size_t length = wcslen(finalPath_);
    return wcslen(path) > length && SameFileSystemName(path, length, finalPath_, length);
}

ContainedEntry::ContainedEntry(const ContainedFolder& folder, const wchar_t* fullName)
    : folder_(folder), name_(fullName), attributes_(0), identity_{0, 0, 0}, identityKnown_(false),
      state_(Missing)
{
    // Another process may hold the file without letting it be deleted; the
    // attributes can still be read and changed.
    if (Open(FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | DELETE))
        state_ = Deletable;
    else if (IsMissingError(GetLastError()))
        return;
    else if (Open(FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES) || Open(FILE_READ_ATTRIBUTES))
        state_ = InUse;
    else
        return;
    if (!Check())
    {
        state_ = Elsewhere;
        return;
    }
    // Read-only, hidden and system are cleared, on folders too.
    const DWORD clear = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    if (!(attributes_ & clear))
        return;
    if (HasHandleUpdates())
        ClearAttributesOfEntry(handle_.Get());
    else
        SetFileAttributesW(name_, 0);
}

bool ContainedEntry::Open(DWORD access)
{
    handle_ = OpenWithoutFollowing(name_, access, kEntryLongForm);
    return handle_.Valid();
}

bool ContainedEntry::Check()
{
    if (!ReadEntryAttributes(handle_.Get(), attributes_))
        return false;
    return !IsOpenedLinkToElsewhere(handle_.Get(), attributes_) && folder_.Holds(handle_.Get());
}

// Read only for an entry that stays, while it is still open: most go at
// once, and the read asks the volume too.
bool ContainedEntry::KnowIdentity()
{
    DWORD attributes = 0;
    if (!identityKnown_ && handle_.Valid())
        identityKnown_ = ReadIdentity(handle_.Get(), attributes, identity_);
    return identityKnown_;
}

const FileIdentity& ContainedEntry::Identity()
{
    KnowIdentity();
    return identity_;
}

bool ContainedEntry::IsAt(const wchar_t* name) const
{
    const KernelHandle handle = OpenWithoutFollowing(name, FILE_READ_ATTRIBUTES, kEntryLongForm);
    DWORD attributes = 0;
    FileIdentity identity = {0, 0, 0};
    return handle.Valid() && ReadIdentity(handle.Get(), attributes, identity) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) && SameFile(identity, identity_);
}

bool ContainedEntry::NameStays() const
{
    if (GetFileAttributesW(name_) != INVALID_FILE_ATTRIBUTES)
        return true;
    // A name waiting for deletion cannot even be looked at.
    return !IsMissingError(GetLastError());
}

bool ContainedEntry::Delete()
{
    if (state_ != Deletable)
        return false;
    bool deleted = false;
    if (HasHandleUpdates())
    {
        // One that stays is kept open for the questions that follow.
        deleted = DeleteOpenedEntry(handle_.Get());
        if (deleted)
        {
            // Told now: the identity is read through the handle.
            KnowIdentity();
            handle_.Close();
            // Another process still holds it, and the system keeps the name
            // until that one lets go: the name, and its folder, stay.
            if (NameStays())
            {
                state_ = Stays;
                return false;
            }
        }
    }
    else
    {
        // Without deletion by handle the name is checked once more just
        // before it goes.
        const bool known = KnowIdentity();
        handle_.Close();
        if (known && IsAt(name_))
            deleted = IsFolder() ? RemoveDirectoryW(name_) != FALSE : DeleteFileW(name_) != FALSE;
    }
    if (deleted)
        state_ = Missing;
    return deleted;
}

bool ContainedEntry::ScheduleForRestart()
{
    if ((state_ != Deletable && state_ != InUse) || !KnowIdentity())
        return false;
    // A handle with the right to delete would keep the move from opening it.
    if (state_ == Deletable)
    {
        handle_.Close();
        DWORD attributes = 0;
        FileIdentity identity = {0, 0, 0};
        if (!Open(FILE_READ_ATTRIBUTES) || !ReadIdentity(handle_.Get(), attributes, identity) ||
            !SameFile(identity, identity_))
            return false;
        state_ = InUse;
    }
    // The numbered name must be whole: a cut one would name another file.
    wchar_t moved[kEntryChars + 16];
    bool haveName = false;
    for (int i = 0; i < 1000; ++i)
    {
        haveName = FormatString(moved, L"%s.%d.tmp", name_, i) >= 0;
        if (!haveName || !NameIsTaken(moved))
            break;
    }
    // Only the moved copy is scheduled, and only while it is still this
    // entry: the own name may hold a reinstalled file by the next restart.
    if (!haveName || !MoveFileW(name_, moved))
    {
        state_ = IsAt(name_) ? Stays : Elsewhere;
        return false;
    }
    if (!IsAt(moved))
    {
        state_ = Elsewhere;
        return false;
    }
    if (MoveFileExW(moved, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        return true;
    state_ = Stays;
    return false;
}

bool DeleteContainedFile(const ContainedFolder& folder, const wchar_t* fullName)
{
    ContainedEntry entry(folder, fullName);
    return entry.GetState() == ContainedEntry::Deletable && !entry.IsFolder() && entry.Delete();
}
