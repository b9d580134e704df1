#include "removal/program_aside.h"

#include <windows.h>

#include <aclapi.h>

#include "common/handles.h"
#include "common/strings.h"
#include "files/file_system.h"

namespace
{

// The program moved into the cleanup folder would keep the access list it
// had in its own folder, which may let a user rewrite it before the batch
// file runs it: it takes the cleanup folder's.
bool TakeCleanupAccess(const wchar_t* path)
{
    LocalMemory descriptor;
    PACL access = nullptr;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    if (!CleanupFolderAccess(descriptor) ||
        !GetSecurityDescriptorDacl(descriptor.Get(), &present, &access, &defaulted) || !present)
        return false;
    const KernelHandle file(CreateFileW(path, WRITE_DAC | READ_CONTROL,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                                        nullptr));
    return file.Valid() &&
           SetSecurityInfo(file.Get(), SE_FILE_OBJECT,
                           DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                           nullptr, nullptr, access, nullptr) == ERROR_SUCCESS;
}

// A copy of the program, written from the file as it is open here, that the
// batch file runs for its wait.
bool CopyProgram(const wchar_t* programPath, const wchar_t* copyPath)
{
    const KernelHandle from(CreateFileW(programPath, GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
    KernelHandle to(CreateFileW(copyPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!to.Valid())
        return false;
    bool copied = from.Valid();
    static char block[65536];
    for (DWORD got = 0; copied;)
    {
        DWORD written = 0;
        copied = ReadFile(from.Get(), block, sizeof(block), &got, nullptr) != FALSE;
        if (!copied || got == 0)
            break;
        copied = WriteFile(to.Get(), block, got, &written, nullptr) && written == got;
    }
    to.Close();
    if (!copied)
        DeleteFileW(copyPath);
    return copied;
}

} // namespace

bool OnSameVolume(const wchar_t* path, const wchar_t* otherPath)
{
    BY_HANDLE_FILE_INFORMATION one, other;
    return ReadEntryIdentity(path, one) && ReadEntryIdentity(otherPath, other) &&
           one.dwVolumeSerialNumber == other.dwVolumeSerialNumber;
}

bool PrepareProgramAside(const CleanupFolder& cleanup, const wchar_t* programPath,
                         ProgramAside& aside)
{
    aside.Moved[0] = 0;
    aside.Waiter[0] = 0;
    aside.IntoCleanup = OnSameVolume(programPath, cleanup.Path());
    wchar_t name[64];
    if (!JoinPath(cleanup.Path(), kWaiterName, aside.Waiter))
        return false;
    if (aside.IntoCleanup)
    {
        if (!JoinPath(cleanup.Path(), PointToName(programPath), aside.Moved))
            return false;
    }
    else if (!CopyString(aside.Moved, programPath) || !RandomFolderName(name) ||
             !AppendString(name, L".tmp") || !SetName(aside.Moved, name))
        return false;
    return CopyProgram(programPath, aside.Waiter);
}

bool MoveProgramAside(const wchar_t* programPath, const ProgramAside& aside)
{
    // The access list goes first, so that the move is the last step: a run
    // ended before it leaves the program in its folder to be run again.
    if (aside.IntoCleanup && !TakeCleanupAccess(programPath))
        return false;
    // A running program can be renamed within its volume.
    return MoveFileExW(programPath, aside.Moved, 0) != FALSE;
}

void DropWaiter(const ProgramAside& aside)
{
    DeleteFileW(aside.Waiter);
}
