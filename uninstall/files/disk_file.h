#pragma once
// The file object: one Windows file handle, read and written without
// buffering. A file made by Create and still open when the object goes away
// is closed and deleted; one closed explicitly stays. Failures of close,
// read, write, seek and tell go to the process error sink.
#include "common/handles.h"
#include "files/path_names.h"

#include <windows.h>

#include <cstdint>

class DiskFile
{
public:
    // Open option: others may keep writing the file while it is read.
    static const unsigned ShareWrite = 4;
    // Create option: others may read the file while it is written.
    static const unsigned ShareRead = 0x10;

    DiskFile();
    virtual ~DiskFile();
    DiskFile(const DiskFile&) = delete;
    DiskFile& operator=(const DiskFile&) = delete;

    // An existing file for reading, sequential caching. Not reported on
    // failure: the caller decides.
    virtual bool Open(const wchar_t* name, unsigned options = 0);
    // A new or truncated file for reading and writing.
    bool Create(const wchar_t* name, unsigned options = 0);
    // True on success or when nothing was open; the object is closed after.
    virtual bool Close();
    // Bytes read, 0 at end of file, -1 on failure.
    virtual int64_t Read(void* buffer, DWORD count);
    // All or nothing: a short write is a failure.
    bool Write(const void* buffer, DWORD count);
    // method: FILE_BEGIN, FILE_CURRENT or FILE_END. Nothing when closed.
    virtual void Seek(int64_t offset, DWORD method);
    // The position, or -1 on failure.
    virtual int64_t Tell();
    virtual bool IsOpened();

private:
    bool FileLength(int64_t& length);

    KernelHandle handle_;
    // Made by Create, so deleted when the object goes away still open.
    bool created_;
    // Created through the long form because the name part begins with "."
    // or a space; the plain form may name a different file.
    bool createdLong_;
    wchar_t name_[kPathChars];
};
