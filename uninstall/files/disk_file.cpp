#include "files/disk_file.h"

#include "common/error_sink.h"
#include "common/strings.h"
#include "files/file_system.h"

namespace
{

// ReadFile on consoles and pipes may refuse large blocks outright.
const DWORD kDeviceReadLimit = 20000;
// Large reads of a file that another process has partly locked can fail
// with ERROR_LOCK_VIOLATION where a smaller block succeeds.
const DWORD kLockedReadLimit = 32768;

const uint64_t kFourGigabytes = uint64_t(1) << 32;

bool FitsPathBuffer(const wchar_t* name)
{
    return name != nullptr && wcsnlen(name, kPathChars) < kPathChars;
}

} // namespace

DiskFile::DiskFile() : created_(false), createdLong_(false)
{
    name_[0] = 0;
}

DiskFile::~DiskFile()
{
    if (!IsOpened())
        return;
    Close();
    if (!created_)
        return;
    wchar_t longName[kPathChars];
    if (createdLong_ && MakeLongPath(name_, longName))
        DeleteFileW(longName);
    else
        DelFile(name_);
}

bool DiskFile::Open(const wchar_t* name, unsigned options)
{
    // The name is kept for reports and must be whole.
    if (!FitsPathBuffer(name))
        return false;
    DWORD share = FILE_SHARE_READ | ((options & ShareWrite) != 0 ? FILE_SHARE_WRITE : 0);
    HANDLE handle = CreateFileW(name, GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    wchar_t longName[kPathChars];
    if (handle == INVALID_HANDLE_VALUE && MakeLongPath(name, longName))
        handle = CreateFileW(longName, GENERIC_READ, share, nullptr, OPEN_EXISTING,
                             FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    // A failure leaves the object as it was, a created file still marked.
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    Close();
    handle_.Reset(handle);
    created_ = false;
    createdLong_ = false;
    static_cast<void>(CopyString(name_, name)); // whole: it fits, as checked first
    return true;
}

bool DiskFile::Create(const wchar_t* name, unsigned options)
{
    // A cut name would delete another file when the object goes away.
    if (!FitsPathBuffer(name))
        return false;
    DWORD access = GENERIC_READ | GENERIC_WRITE;
    DWORD share = (options & ShareRead) != 0 ? FILE_SHARE_READ : 0;
    HANDLE handle = INVALID_HANDLE_VALUE;
    // Windows drops trailing dots and spaces from plain names, so names of
    // this kind are made exactly as given through the long form.
    const wchar_t* namePart = PointToName(name);
    if (namePart[0] != L'.' && namePart[0] != L' ')
        handle = CreateFileW(name, access, share, nullptr, CREATE_ALWAYS, 0, nullptr);
    bool viaLongName = false;
    wchar_t longName[kPathChars];
    if (handle == INVALID_HANDLE_VALUE && MakeLongPath(name, longName))
    {
        handle = CreateFileW(longName, access, share, nullptr, CREATE_ALWAYS, 0, nullptr);
        viaLongName = handle != INVALID_HANDLE_VALUE;
    }
    // Only a file made here is marked for deletion: a failure leaves the
    // object, and the file it may still hold, as they were.
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    Close();
    handle_.Reset(handle);
    created_ = true;
    createdLong_ = viaLongName;
    static_cast<void>(CopyString(name_, name)); // whole: it fits, as checked first
    return true;
}

bool DiskFile::Close()
{
    if (handle_.Close())
        return true;
    ReportCloseError(name_);
    return false;
}

int64_t DiskFile::Read(void* buffer, DWORD count)
{
    DWORD done = 0;
    if (ReadFile(handle_.Get(), buffer, count, &done, nullptr))
        return done;
    DWORD error = GetLastError();
    DWORD type = GetFileType(handle_.Get());
    // The smaller retries do not qualify again, so each is made at most once.
    if ((type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE) && count > kDeviceReadLimit)
        return Read(buffer, kDeviceReadLimit);
    if (count > kLockedReadLimit && error == ERROR_LOCK_VIOLATION)
        return Read(buffer, kLockedReadLimit);
    if (AskRetryRead(name_))
        return Read(buffer, count);
    ReportReadError(name_);
    return -1;
}

bool DiskFile::Write(const void* buffer, DWORD count)
{
    if (count == 0)
        return true;
    DWORD done = 0;
    if (WriteFile(handle_.Get(), buffer, count, &done, nullptr) && done == count)
        return true;
    // A volume with room to spare that refuses to grow a file past 4 GB has
    // a file-size limit, not a full disk.
    bool tooLarge = false;
    if (GetFreeDiskSpace(name_) > count)
    {
        int64_t position = Tell();
        tooLarge = position >= 0 && uint64_t(position) < kFourGigabytes &&
                   uint64_t(position) + count > kFourGigabytes;
    }
    if (AskRetryWrite(name_))
        return Write(buffer, count);
    ReportWriteError(name_);
    if (tooLarge)
        ReportFileTooLarge(name_);
    return false;
}

void DiskFile::Seek(int64_t offset, DWORD method)
{
    if (!IsOpened())
        return;
    if (offset < 0 && (method == FILE_CURRENT || method == FILE_END))
    {
        // Applied as an absolute position from the current one or the length.
        int64_t base = -1;
        bool known = method == FILE_CURRENT ? (base = Tell()) >= 0 : FileLength(base);
        if (!known)
            return;
        offset += base;
        method = FILE_BEGIN;
    }
    LONG high = LONG(offset >> 32);
    // A low half of 0xFFFFFFFF is a valid answer; only the error code tells.
    SetLastError(NO_ERROR);
    DWORD low = SetFilePointer(handle_.Get(), LONG(uint32_t(offset)), &high, method);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR)
        ReportSeekError(name_);
}

int64_t DiskFile::Tell()
{
    if (!IsOpened())
    {
        ReportSeekError(name_);
        return -1;
    }
    LONG high = 0;
    SetLastError(NO_ERROR);
    DWORD low = SetFilePointer(handle_.Get(), 0, &high, FILE_CURRENT);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR)
    {
        ReportSeekError(name_);
        return -1;
    }
    return (int64_t(high) << 32) + low;
}

bool DiskFile::IsOpened()
{
    return handle_.Valid();
}

bool DiskFile::FileLength(int64_t& length)
{
    DWORD high = 0;
    SetLastError(NO_ERROR);
    DWORD low = GetFileSize(handle_.Get(), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR)
    {
        ReportSeekError(name_);
        return false;
    }
    length = (int64_t(high) << 32) + low;
    return true;
}
