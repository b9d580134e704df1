#include "removal/cleanup_folder.h"

#include <windows.h>

#include <ntsecapi.h>
#include <sddl.h>
#include <winternl.h>

#include <cwchar>
#include <initializer_list>

#include "common/strings.h"
#include "files/entry_handles.h"
#include "files/file_system.h"
#include "platform/platform_probes.h"

namespace
{

const wchar_t kCleanupPrefix[] = L"Uninstall_Vnx_";
// The command processor's current directory and the batch file in it must
// stay within the classic path length.
const size_t kCurrentDirChars = MAX_PATH;

// The process's own access token, open for queries; empty when it cannot be.
KernelHandle ProcessToken()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return KernelHandle();
    return KernelHandle(token);
}

// The place a handle has reached, links resolved, as "X:\...". A folder on
// the network cannot be the command processor's current directory. Where
// the system cannot tell (before Windows Vista, which has no links to
// files), the name the handle was opened with stands.
bool DrivePathOf(HANDLE handle, const wchar_t* openedName, wchar_t (&path)[kPathChars])
{
    wchar_t resolved[kPathChars];
    const wchar_t* drivePath = resolved;
    if (HasFinalPaths())
    {
        const DWORD kNormalized = 0;
        if (!FinalPathOfEntry(handle, kNormalized, resolved, kPathChars) ||
            wcsncmp(resolved, L"\\\\?\\", 4) != 0)
            return false;
        drivePath = resolved + 4;
    }
    else
    {
        const DWORD length = GetFullPathNameW(openedName, kPathChars, resolved, nullptr);
        if (length == 0 || length >= kPathChars)
            return false;
    }
    if (!IsDriveLetter(drivePath) || drivePath[2] != L'\\' || !CopyString(path, drivePath))
        return false;
    // A root keeps its backslash, any other folder goes without.
    const size_t length = wcslen(path);
    if (length > 3 && path[length - 1] == L'\\')
        path[length - 1] = 0;
    return true;
}

// Makes the folder at a drive path and opens it in the same step, with the
// given descriptor: fails when anything stands at the name, and nothing can
// be put there between the making and the holding. Held without sharing
// deletion, so that it cannot be renamed or replaced while it is open.
KernelHandle MakeAndHoldFolder(const wchar_t* path, PSECURITY_DESCRIPTOR descriptor)
{
    wchar_t ntName[kPathChars];
    if (FormatString(ntName, L"\\??\\%s", path) < 0)
        return KernelHandle();
    UNICODE_STRING name;
    name.Buffer = ntName;
    name.Length = static_cast<USHORT>(wcslen(ntName) * sizeof(wchar_t));
    name.MaximumLength = static_cast<USHORT>(name.Length + sizeof(wchar_t));
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, &name, OBJ_CASE_INSENSITIVE, nullptr, descriptor);
    IO_STATUS_BLOCK status = {};
    HANDLE handle = nullptr;
    const NTSTATUS made = NtCreateFile(
        &handle, FILE_LIST_DIRECTORY | FILE_TRAVERSE | SYNCHRONIZE, &object, &status, nullptr,
        FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_CREATE,
        FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    return made >= 0 ? KernelHandle(handle) : KernelHandle();
}

// The Windows temporary folder: a standard user may make entries there, but
// not rename or delete those of others.
bool WindowsTempFolder(wchar_t (&path)[kPathChars])
{
    const UINT length = GetSystemWindowsDirectoryW(path, kPathChars);
    return length > 0 && length < kPathChars && JoinPath(path, L"Temp", path);
}

bool IsPlainFolder(HANDLE handle)
{
    DWORD attributes = 0;
    return ReadEntryAttributes(handle, attributes) && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Whether a leftover holds nothing but the files a cleanup writes: a
// folder with anything else in it is no leftover of ours to empty.
bool HoldsOnlyCleanupFiles(const wchar_t* leftover)
{
    wchar_t pattern[kPathChars];
    if (!JoinPath(leftover, L"*", pattern))
        return false;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    bool only = true;
    do
    {
        const wchar_t* name = found.cFileName;
        if (!wcscmp(name, L".") || !wcscmp(name, L".."))
            continue;
        only = !(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
               (!CompareNoCase(name, kWaiterName) || !CompareNoCase(name, kBatchName));
    } while (only && FindNextFileW(search, &found));
    FindClose(search);
    return only;
}

// A removal ended between making its cleanup folder and starting the
// command processor left that folder empty, or holding the waiter and the
// batch file it had written. A waiter that is running or a batch file that
// the command processor holds cannot be deleted, and a folder in use cannot
// go: such a folder stays. Only empty folders are removed, a link only as
// itself, and those two files only from a plain folder that holds nothing
// else.
void RemoveEndedLeftover(const wchar_t* leftover)
{
    if (RemoveDirectoryW(leftover))
        return;
    {
        // Held without sharing deletion: it cannot be renamed or replaced
        // while its files go.
        const KernelHandle folder(CreateFileW(
            leftover, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!folder.Valid() || !IsPlainFolder(folder.Get()) || !HoldsOnlyCleanupFiles(leftover))
            return;
        for (const wchar_t* name : {kWaiterName, kBatchName})
        {
            wchar_t path[kPathChars];
            // Never through a link: only a plain file of this very folder goes.
            if (!JoinPath(leftover, name, path) ||
                (!DelFileInside(path) && GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES))
                return;
        }
    }
    RemoveDirectoryW(leftover);
}

void RemoveEndedLeftovers(const wchar_t* base)
{
    wchar_t pattern[kPathChars];
    if (!JoinPath(base, L"Uninstall_Vnx_*", pattern))
        return;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do
    {
        wchar_t leftover[kPathChars];
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            JoinPath(base, found.cFileName, leftover))
            RemoveEndedLeftover(leftover);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

} // namespace

bool CleanupFolderAccess(LocalMemory& descriptor)
{
    wchar_t text[256] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
    if (!RunsElevated())
    {
        const KernelHandle token = ProcessToken();
        BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
        DWORD size = 0;
        LocalMemory sidText;
        if (!token.Valid() ||
            !GetTokenInformation(token.Get(), TokenUser, user, sizeof(user), &size) ||
            !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user)->User.Sid,
                                    reinterpret_cast<wchar_t**>(sidText.Receive())))
            return false;
        const wchar_t* sid = static_cast<wchar_t*>(sidText.Get());
        if (FormatString(text, L"O:%sD:P(A;OICI;FA;;;%s)", sid, sid) < 0)
            return false;
    }
    return ConvertStringSecurityDescriptorToSecurityDescriptorW(text, SDDL_REVISION_1,
                                                                descriptor.Receive(), nullptr) != 0;
}

bool RandomFolderName(wchar_t (&name)[64])
{
    unsigned char random[16];
    if (!RtlGenRandom(random, sizeof(random)) || !CopyString(name, kCleanupPrefix))
        return false;
    for (unsigned char byte : random)
    {
        wchar_t digits[4];
        if (FormatString(digits, L"%02x", byte) < 0 || !AppendString(name, digits))
            return false;
    }
    return true;
}

CleanupFolder::CleanupFolder()
{
    path_[0] = 0;
}

const wchar_t* CleanupFolder::Name() const
{
    return PointToName(path_);
}

bool CleanupFolder::Create(const wchar_t* tempFolder)
{
    if (held_.Valid() || tempFolder[0] == 0)
        return false;
    // The temporary folder comes from the environment: go on from where it
    // really is, so that no link on the way can be turned elsewhere later.
    wchar_t base[kPathChars];
    {
        const KernelHandle temp(CreateFileW(tempFolder, FILE_READ_ATTRIBUTES,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                            nullptr));
        if (!temp.Valid() || !IsPlainFolder(temp.Get()) ||
            !DrivePathOf(temp.Get(), tempFolder, base))
            return false;
    }
    RemoveEndedLeftovers(base);
    wchar_t name[64];
    wchar_t path[kPathChars];
    // The batch file's full name must fit where the command processor looks.
    if (!RandomFolderName(name) || !JoinPath(base, name, path) ||
        wcslen(path) + 1 + wcslen(kBatchName) >= kCurrentDirChars)
        return false;

    LocalMemory descriptor;
    if (!CleanupFolderAccess(descriptor))
        return false;
    held_ = MakeAndHoldFolder(path, descriptor.Get());
    if (!held_.Valid())
        return false;
    wchar_t reached[kPathChars];
    if (!IsPlainFolder(held_.Get()) || !DrivePathOf(held_.Get(), path, reached) ||
        CompareNoCase(reached, path) != 0 || !CopyString(path_, path))
    {
        // Ours, and still at its name: nobody could rename it while held.
        held_.Close();
        RemoveDirectoryW(path);
        return false;
    }
    return true;
}

bool CleanupFolder::CreateForThisRun()
{
    wchar_t windowsTemp[kPathChars];
    const bool haveWindowsTemp = WindowsTempFolder(windowsTemp);
    // The user's temporary folder lets the user rename what lies in it.
    if (RunsElevated())
        return haveWindowsTemp && Create(windowsTemp);
    wchar_t temp[kPathChars];
    const DWORD length = GetTempPathW(kPathChars, temp);
    if (length > 0 && length < kPathChars && Create(temp))
        return true;
    // One on the network or on a volume without a drive letter cannot be
    // the command processor's current directory.
    return haveWindowsTemp && Create(windowsTemp);
}

void CleanupFolder::Discard()
{
    if (!held_.Valid())
        return;
    held_.Close();
    RemoveDirectoryW(path_);
}
