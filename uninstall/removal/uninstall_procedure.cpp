#include "removal/uninstall_procedure.h"

#include <windows.h>

#include <aclapi.h>
#include <io.h>
#include <ntsecapi.h>
#include <sddl.h>
#include <share.h>
#include <winternl.h>

#include <cstring>
#include <cwctype>
#include <initializer_list>

#include "common/handles.h"
#include "common/strings.h"
#include "files/entry_handles.h"
#include "files/file_system.h"
#include "files/path_names.h"
#include "integration/new_file_templates.h"
#include "localization/messages.h"
#include "platform/platform_probes.h"
#include "removal/contained_removal.h"
#include "removal/integration_removal.h"
#include "removal/list_entries.h"
#include "resources/resource.h"
#include "run/run_state.h"
#include "settings/portable_settings.h"
#include "settings/registry_paths.h"
#include "settings/settings_store.h"
#include "settings/text_file.h"

namespace
{

const wchar_t kListName[] = L"Uninstall.lst";
const wchar_t kBatchName[] = L"Uninstall_Vnx.Bat";
const size_t kBatchChars = 1024;
const size_t kSavedTextChars = 256;

// The help index files that the help viewer writes beside its help file,
// the new-file templates that setup writes, and the new copies of those and
// of the settings file that a run ended while replacing them left: the list
// need not name them.
void RemoveFilesOfSetup(const wchar_t* folder)
{
    const ContainedFolder inside(folder);
    for (const wchar_t* name : {L"velnox.gid", L"velnox.fts", kOwnTemplateName, kZipTemplateName,
                                L"vnxnew.dat.new", L"zipnew.dat.new", L"Velnox.ini.new"})
    {
        wchar_t fullName[kEntryChars];
        if (JoinEntry(folder, name, fullName))
            DeleteContainedFile(inside, fullName);
    }
}

void RemoveList(const wchar_t* folder)
{
    wchar_t fullName[kEntryChars];
    if (JoinEntry(folder, kListName, fullName))
        DeleteContainedFile(ContainedFolder(folder), fullName);
}

// Files told apart by what they are, whatever name reaches them: those the
// removal has scheduled (a file in use whose move failed is scheduled once,
// not in every pass), and the program and the list, which are never moved.
class KnownFiles
{
public:
    bool Holds(const FileIdentity& file) const
    {
        for (uint32_t i = 0; i < files_.Size(); ++i)
            if (files_[i].Volume == file.Volume && files_[i].IndexHigh == file.IndexHigh &&
                files_[i].IndexLow == file.IndexLow)
                return true;
        return false;
    }
    void Add(const FileIdentity& file) { files_.Push(file); }
    // Nothing is added for a handle whose file cannot be told.
    void Add(HANDLE handle)
    {
        BY_HANDLE_FILE_INFORMATION info;
        if (handle != INVALID_HANDLE_VALUE && GetFileInformationByHandle(handle, &info))
            Add(FileIdentity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow});
    }

private:
    DynArray<FileIdentity> files_;
};

// The system drops trailing dots and blanks from a name: "Uninstall.lst. "
// is the list itself.
bool SameNameAsOpened(const wchar_t* name, const wchar_t* other)
{
    size_t length = wcslen(name);
    while (length > 0 && (name[length - 1] == L'.' || name[length - 1] == L' '))
        --length;
    return length == wcslen(other) &&
           CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, name, static_cast<int>(length), other,
                          static_cast<int>(length)) == CSTR_EQUAL;
}

bool IsProtectedName(const wchar_t* fullName, const wchar_t* programPath)
{
    const wchar_t* program = PointToName(programPath);
    if (SameNameAsOpened(PointToName(fullName), program) ||
        SameNameAsOpened(PointToName(fullName), kListName))
        return true;
    // A short name ("UNINST~1.EXE") reaches the same file under another
    // name. Short names hold a "~"; in a long path only the "\\?\" form
    // resolves them.
    if (!wcschr(PointToName(fullName), L'~'))
        return false;
    wchar_t longName[kEntryChars];
    DWORD length = GetLongPathNameW(fullName, longName, kEntryChars);
    wchar_t prefixed[kEntryChars];
    if ((length == 0 || length >= kEntryChars) && MakeLongPath(fullName, prefixed))
        length = GetLongPathNameW(prefixed, longName, kEntryChars);
    if (length == 0 || length >= kEntryChars)
        return false;
    return SameNameAsOpened(PointToName(longName), program) ||
           SameNameAsOpened(PointToName(longName), kListName);
}

// One part of a list entry, from part up to end, names a device.
bool IsDevicePart(const wchar_t* part, const wchar_t* end)
{
    // Only the text before the first dot decides, and device names are short.
    wchar_t stem[16];
    size_t length = 0;
    while (part + length < end && part[length] != L'.')
        ++length;
    while (length > 0 && part[length - 1] == L' ')
        --length;
    if (length >= ARRAYSIZE(stem))
        return false;
    for (size_t i = 0; i < length; ++i)
        stem[i] = part[i];
    stem[length] = 0;
    return IsDeviceName(stem);
}

// Writes one composed text in the ANSI code page.
bool WriteBatchText(HANDLE file, const wchar_t* text)
{
    char bytes[kBatchChars * 2 + 2];
    WideToAnsi(text, bytes, sizeof(bytes));
    const DWORD length = static_cast<DWORD>(strlen(bytes));
    DWORD written = 0;
    return WriteFile(file, bytes, length, &written, nullptr) && written == length;
}

// Writes one line; a line cut to the buffer would name another file, and
// fails the batch.
template <class... Args> bool WriteBatchLine(HANDLE file, const wchar_t* format, Args... args)
{
    wchar_t text[kBatchChars];
    return FormatString(text, format, args...) >= 0 && WriteBatchText(file, text);
}

// The ANSI bytes of the path read back as the same text in both code pages.
bool ReadsTheSame(const wchar_t* path)
{
    char bytes[kBatchChars * 2 + 2];
    BOOL usedDefault = FALSE;
    if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path, -1, bytes, sizeof(bytes), nullptr,
                            &usedDefault) == 0 ||
        usedDefault)
        return false;
    for (const UINT codePage : {GetACP(), GetOEMCP()})
    {
        wchar_t back[kBatchChars];
        if (MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes, -1, back, kBatchChars) ==
                0 ||
            wcscmp(back, path) != 0)
            return false;
    }
    return true;
}

// Looks at each folder on the way from the program's folder down to a listed
// name. The folders last found free of links are remembered, so a list
// sorted by folder costs one look per folder rather than per name.
class LinkGuard
{
public:
    explicit LinkGuard(size_t rootLength) : rootLength_(rootLength), knownLength_(0)
    {
        known_[0] = 0;
    }
    LinkGuard(const LinkGuard&) = delete;
    LinkGuard& operator=(const LinkGuard&) = delete;

    // True when a folder between the program's folder and the name's last
    // part is a link to elsewhere. The last part is the caller's to check,
    // unless separators follow it: then its attributes would be those of
    // where it leads.
    bool PassesThroughLink(wchar_t* fullName)
    {
        size_t start = rootLength_;
        if (knownLength_ > 0 && wcsncmp(fullName, known_, knownLength_) == 0)
            start = knownLength_;
        for (size_t i = start; fullName[i]; ++i)
        {
            if (!IsPathSeparator(fullName[i]) || IsPathSeparator(fullName[i - 1]))
                continue;
            const wchar_t separator = fullName[i];
            fullName[i] = 0;
            const DWORD attributes = GetFileAttributesW(fullName);
            const bool link = IsLinkToElsewhere(fullName, attributes);
            fullName[i] = separator;
            if (link)
                return true;
            // Nothing below a missing folder exists to be reached.
            if (attributes == INVALID_FILE_ATTRIBUTES)
                return false;
            CopyStringCut(known_, fullName, i + 2);
            knownLength_ = i + 1;
        }
        return false;
    }

private:
    size_t rootLength_;
    wchar_t known_[kEntryChars];
    size_t knownLength_; // characters of known_, ending with a separator
};

// Paths the code pages cannot carry reach the command processor through its
// environment, which it reads in UTF-16.
const wchar_t kProgramVariable[] = L"VNX_UNINSTALL_PROGRAM";
const wchar_t kFolderVariable[] = L"VNX_UNINSTALL_FOLDER";
const wchar_t kWaiterVariable[] = L"VNX_UNINSTALL_WAITER";
// The longest line names the program twice; a longer name goes through its
// variable, so that every line holds its names whole.
const size_t kBatchNameChars = (kBatchChars - 32) / 2;

// The batch file reads "%" as the start of a variable; "%%" is one "%".
bool DoublePercents(const wchar_t* path, wchar_t (&text)[kBatchChars])
{
    size_t out = 0;
    for (const wchar_t* c = path; *c; ++c)
    {
        if (out + (*c == L'%' ? 2 : 1) >= kBatchChars)
            return false;
        if (*c == L'%')
            text[out++] = L'%';
        text[out++] = *c;
    }
    text[out] = 0;
    return true;
}

// How the batch file names path: as it is, in its short form, or through a
// variable set here for the command processor to inherit. False when none
// of them works, and the lines naming it are left out.
bool BatchName(const wchar_t* path, const wchar_t* variable, wchar_t (&text)[kBatchChars])
{
    wchar_t safe[kBatchChars];
    if (BatchSafePath(path, safe, kBatchChars) && DoublePercents(safe, text) &&
        wcslen(text) <= kBatchNameChars)
        return true;
    if (!SetEnvironmentVariableW(variable, path))
        return false;
    return FormatString(text, L"%%%s%%", variable) >= 0;
}

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

// Owned by Administrators, full control for them and SYSTEM, or owned by
// this process's user and open to it alone; nothing inherited from the
// temporary folder.
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

// "Uninstall_Vnx_" and 32 hexadecimal digits from the system's random source.
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

// The command processor from "COMSPEC". An elevated run takes the one in
// the system folder: the user's environment must not choose what runs with
// the administrator's rights.
bool CommandProcessor(wchar_t (&path)[kPathChars])
{
    const DWORD length = GetEnvironmentVariableW(L"COMSPEC", path, kPathChars);
    if (length == 0 || length >= kPathChars)
        return false;
    if (RunsElevated())
    {
        const UINT systemLength = GetSystemDirectoryW(path, kPathChars);
        if (systemLength == 0 || systemLength >= kPathChars || !AppendString(path, L"\\cmd.exe"))
            return false;
    }
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Whether every line of the list can be read, asked before anything is
// removed; the list is back at its start afterwards.
bool ListReadsToItsEnd(FILE* list)
{
    bool readable = false;
    {
        ListEntries entries(list);
        wchar_t entry[kEntryChars];
        while (entries.Next(entry))
        {
        }
        readable = !entries.Failed();
    }
    return fseek(list, 0, SEEK_SET) == 0 && readable;
}

// "name.N.tmp": a file in use that the removal moved aside for the restart.
bool IsMovedForRestart(const wchar_t* name)
{
    const size_t length = wcslen(name);
    if (length < 7 || CompareNoCase(name + length - 4, L".tmp") != 0)
        return false;
    size_t digits = 0;
    while (digits < length - 4 && iswdigit(name[length - 5 - digits]))
        ++digits;
    return digits > 0 && digits <= 3 && digits < length - 4 && name[length - 5 - digits] == L'.';
}

// A run ended after the list went and before the command processor took
// over leaves the program alone in its folder (beside files that wait for
// the restart), with no entry in the list of installed programs: all that
// is left to do is the program's own deletion.
bool OnlyTheProgramIsLeft(const wchar_t* folder, const wchar_t* programPath)
{
    if (KeyExists(HKEY_LOCAL_MACHINE, kUninstallEntryKey))
        return false;
    wchar_t mask[kPathChars];
    if (!JoinPath(folder, L"*", mask))
        return false;
    FindFile search;
    search.SetMask(mask);
    FindData found = {};
    while (search.Next(found))
        if (CompareNoCase(PointToName(found.Name), PointToName(programPath)) != 0 &&
            (found.IsDir || !IsMovedForRestart(PointToName(found.Name))))
            return false;
    return !found.Error;
}

void ShowError(const wchar_t* text)
{
    if (!RunState.Silent)
        ShowMessageBox(nullptr, text, MessageText(MSG_UNINSTALL_CAPTION),
                       MB_ICONERROR | MB_SETFOREGROUND);
}

void ReportNoList()
{
    RunState.ExitCode = kExitNoList;
    wchar_t error[200];
    MessageWithArgument(MSG_NO_FILE_LIST, kListName, error);
    ShowError(error);
}

// The program and its folder stay; under /S the exit code says so.
void ReportNotRemoved(CleanupFolder& cleanup, const wchar_t* programPath)
{
    cleanup.Discard();
    RunState.ExitCode = kExitNoCleanup;
    if (RunState.Silent)
        return;
    wchar_t text[512];
    CopyStringCut(text, MessageText(MSG_NOT_REMOVED));
    AppendStringCut(text, L"\n");
    const size_t length = wcslen(text);
    MessageWithArgument(MSG_NOT_REMOVED_PATH, programPath, text + length, ARRAYSIZE(text) - length);
    ShowError(text);
}

// The program moved into the cleanup folder keeps the access list it had
// in its own folder, which may let a user rewrite it before the batch file
// runs it: it takes the cleanup folder's.
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

void PutProgramBack(const wchar_t* programPath, const ProgramAside& aside)
{
    if (aside.Waiter[0])
        DeleteFileW(aside.Waiter);
    MoveFileExW(aside.Moved, programPath, 0);
}

// The end of the run: the entry in the list of installed programs and the
// list go last, so that until then another run can finish the removal; then
// the program leaves its folder and the command processor deletes it once
// this process has ended. False when it was not started: the program is
// back in its folder, alone.
bool HandOverToCommandProcessor(CleanupFolder& cleanup, const wchar_t* commandProcessor,
                                const wchar_t* programPath, const wchar_t* folder)
{
    wchar_t currentDir[kPathChars];
    const DWORD dirLength = GetCurrentDirectoryW(kPathChars, currentDir);
    wchar_t batchPath[kPathChars];
    wchar_t commandLine[kBatchChars];
    if (dirLength == 0 || dirLength >= kPathChars ||
        !JoinPath(cleanup.Path(), kBatchName, batchPath) ||
        !CleanupCommandLine(commandProcessor, cleanup.Name(), commandLine, kBatchChars))
        return false;
    RemoveUninstallEntry();
    RemoveList(folder);
    ProgramAside aside;
    if (!MoveProgramAside(cleanup, programPath, aside))
        return false;
    if (WriteCleanupBatch(batchPath, aside.Moved, currentDir, RunState.Silent,
                          aside.Waiter[0] ? aside.Waiter : nullptr))
    {
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
        // Started from the parent so that the folder itself is free to go.
        SetCurrentDirectoryW(L"..");
        PROCESS_INFORMATION process = {};
        // The command processor works in the batch file's folder, which
        // keeps that folder from being renamed while it runs. It gets no
        // console: a console made for it would be a process of its own,
        // standing in that folder until the end, so that the folder could
        // not go.
        if (CreateProcessW(nullptr, commandLine, nullptr, nullptr, TRUE, DETACHED_PROCESS, nullptr,
                           cleanup.Path(), &startup, &process))
        {
            // Nothing here waits for the command processor.
            const KernelHandle child(process.hProcess), thread(process.hThread);
            return true;
        }
        DeleteFileW(batchPath);
    }
    PutProgramBack(programPath, aside);
    return false;
}

} // namespace

bool IsSafeListEntry(const wchar_t* entry)
{
    // A colon anywhere names a drive, a device ("COM1:") or a file's stream.
    if (entry[0] == 0 || IsPathSeparator(entry[0]) || wcschr(entry, L':'))
        return false;
    size_t realParts = 0;
    const wchar_t* part = entry;
    for (;;)
    {
        const wchar_t* end = part;
        while (*end && !IsPathSeparator(*end))
            ++end;
        // Parts of dots and blanks only: "." stays where it is, anything
        // longer can climb out of the folder once the system trims it.
        bool onlyDots = true;
        size_t dots = 0;
        for (const wchar_t* c = part; c < end; ++c)
        {
            if (*c == L'.')
                ++dots;
            else if (*c != L' ')
                onlyDots = false;
        }
        if (onlyDots && dots > 1)
            return false;
        if (IsDevicePart(part, end))
            return false;
        if (!onlyDots)
            ++realParts;
        if (*end == 0)
            break;
        part = end + 1;
    }
    return realParts > 0;
}

ListRemoval RemoveListedFiles(FILE* list, const wchar_t* folder, const wchar_t* programPath)
{
    ListRemoval result = {0, 0, false, false, 0};
    const size_t rootLength = wcslen(folder);
    const ContainedFolder inside(folder);
    ListEntries entries(list);
    KnownFiles scheduled;
    // The running program and the list, by what they are: a name the
    // comparison of names misses still reaches one of them.
    KnownFiles kept;
    {
        const KernelHandle program(CreateFileW(programPath, FILE_READ_ATTRIBUTES,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE |
                                                   FILE_SHARE_DELETE,
                                               nullptr, OPEN_EXISTING, 0, nullptr));
        kept.Add(program.Get());
        kept.Add(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(list))));
    }
    for (;;)
    {
        ++result.Passes;
        int removed = 0;
        LinkGuard links(rootLength);
        wchar_t entry[kEntryChars];
        while (entries.Next(entry))
        {
            wchar_t fullName[kEntryChars];
            if (!IsSafeListEntry(entry) || !JoinEntry(folder, entry, fullName) ||
                links.PassesThroughLink(fullName))
                continue;
            // Removing a linked folder may remove the folder it points at.
            const DWORD attributes = GetFileAttributesW(fullName);
            if (attributes == INVALID_FILE_ATTRIBUTES || IsLinkToElsewhere(fullName, attributes))
                continue;
            ContainedEntry item(inside, fullName);
            if (item.Delete())
                ++removed;
            else if ((item.GetState() == ContainedEntry::Deletable ||
                      item.GetState() == ContainedEntry::InUse) &&
                     !item.IsFolder() && !IsProtectedName(fullName, programPath) &&
                     !kept.Holds(item.Identity()) && !scheduled.Holds(item.Identity()))
            {
                // Scheduled, or told as left, once, whatever later passes see.
                const bool restart = item.ScheduleForRestart();
                if (!restart && item.GetState() != ContainedEntry::Left)
                    continue;
                result.RestartNeeded |= restart;
                result.Left += restart ? 0 : 1;
                scheduled.Add(item.Identity());
            }
        }
        result.Removed += removed;
        if (removed == 0 || !entries.Rewind())
            break;
    }
    result.ReadFailed = entries.Failed();
    return result;
}

bool BatchSafePath(const wchar_t* path, wchar_t* safe, size_t capacity)
{
    if (ReadsTheSame(path))
        return CopyString(safe, path, capacity);
    wchar_t shortPath[kBatchChars];
    const DWORD length = GetShortPathNameW(path, shortPath, kBatchChars);
    return length > 0 && length < kBatchChars && ReadsTheSame(shortPath) &&
           CopyString(safe, shortPath, capacity);
}

CleanupFolder::CleanupFolder()
{
    path_[0] = 0;
}

const wchar_t* CleanupFolder::Name() const
{
    return PointToName(path_);
}

// A removal ended between making its cleanup folder and starting the
// command processor left that folder empty; one whose batch file still runs
// is not empty, and one in use cannot go. Only empty folders are removed, a
// link only as itself.
static void RemoveEmptyLeftovers(const wchar_t* base)
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
            RemoveDirectoryW(leftover);
    } while (FindNextFileW(search, &found));
    FindClose(search);
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
    RemoveEmptyLeftovers(base);
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

bool MoveProgramAside(const CleanupFolder& cleanup, const wchar_t* programPath,
                      ProgramAside& aside)
{
    aside.Waiter[0] = 0;
    if (!JoinPath(cleanup.Path(), PointToName(programPath), aside.Moved))
        return false;
    // A running program can be renamed within its volume.
    if (MoveFileExW(programPath, aside.Moved, 0))
    {
        if (TakeCleanupAccess(aside.Moved))
            return true;
        MoveFileExW(aside.Moved, programPath, 0);
        return false;
    }
    // On another volume it takes a name beside it that no installation
    // uses, and the batch file waits through a copy in the cleanup folder:
    // nothing in the program's folder is run.
    wchar_t name[64];
    if (!CopyString(aside.Waiter, aside.Moved) || !CopyString(aside.Moved, programPath) ||
        !RandomFolderName(name) || !AppendString(name, L".tmp") || !SetName(aside.Moved, name) ||
        !CopyProgram(programPath, aside.Waiter))
        return false;
    if (MoveFileExW(programPath, aside.Moved, 0))
        return true;
    DeleteFileW(aside.Waiter);
    return false;
}

bool WriteCleanupBatch(const wchar_t* batchPath, const wchar_t* programPath, const wchar_t* folder,
                       bool silent, const wchar_t* waiterPath)
{
    // Never through something already at the name: a planted file or link
    // would take the text, and the command processor would run what it says.
    KernelHandle file(CreateFileW(batchPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.Valid())
        return false;
    wchar_t program[kBatchChars];
    wchar_t dir[kBatchChars];
    wchar_t waiter[kBatchChars];
    const bool haveProgram = BatchName(programPath, kProgramVariable, program);
    const bool haveDir = BatchName(folder, kFolderVariable, dir);
    const bool haveWaiter = waiterPath && BatchName(waiterPath, kWaiterVariable, waiter);

    bool ok = true;
    if (haveWaiter)
        ok &= WriteBatchLine(file.Get(), L"\"%s\" /wait\r\n", waiter);
    else if (haveProgram && !waiterPath)
        ok &= WriteBatchLine(file.Get(), L"\"%s\" /wait\r\n", program);
    for (int round = 0; round < 5; ++round)
    {
        if (haveProgram)
            ok &= WriteBatchLine(file.Get(), L"del \"%s\"\r\n", program);
        if (haveDir)
            ok &= WriteBatchLine(file.Get(), L"rd \"%s\"\r\n", dir);
        if (haveProgram)
            ok &= WriteBatchLine(file.Get(), L"if not exist \"%s\" goto done\r\n", program);
    }
    ok &= WriteBatchText(file.Get(), L":done\r\n");
    // The program left in its folder is never run: the warning would come
    // from the copy, naming the wrong file.
    if (!silent && haveProgram && !waiterPath)
        ok &= WriteBatchLine(file.Get(), L"if exist \"%s\" \"%s\" /warning\r\n", program, program);
    if (haveWaiter)
        ok &= WriteBatchLine(file.Get(), L"del \"%s\"\r\n", waiter);
    if (!ok)
    {
        // Half a batch file must not run: empty what this handle created,
        // then remove it by its name, which in the held cleanup folder
        // still leads to it.
        SetFilePointer(file.Get(), 0, nullptr, FILE_BEGIN);
        SetEndOfFile(file.Get());
        file.Close();
        DeleteFileW(batchPath);
    }
    return ok;
}

bool CleanupCommandLine(const wchar_t* commandProcessor, const wchar_t* folderName, wchar_t* line,
                        size_t capacity)
{
    // "call" brings the command processor back once the batch file ends and
    // has closed it: only then can the file and its folder go. /d keeps the
    // user's AutoRun commands out, /v:off a "!" in a name as it is.
    return FormatString(line, capacity,
                        L"\"%s\" /d /v:off /c call .\\%s & del .\\%s & cd .. & rd %s",
                        commandProcessor, kBatchName, kBatchName, folderName) >= 0;
}

void RunUninstall()
{
    wchar_t programPath[kPathChars];
    const DWORD length = GetModuleFileNameW(nullptr, programPath, kPathChars);
    wchar_t folder[kPathChars];
    if (length == 0 || length >= kPathChars || !CopyString(folder, programPath))
        return;
    wchar_t* slash = wcsrchr(folder, L'\\');
    if (!slash)
        return;
    slash[(slash > folder && slash[-1] == L':') ? 1 : 0] = 0;
    // The list is opened there by its name alone.
    if (!SetCurrentDirectoryW(folder))
    {
        ReportNoList();
        return;
    }
    // The listed names are joined to it: cut, they would name other files.
    if (!AddEndSlash(folder))
        return;

    if (!RunState.Silent && ShowMessageBox(nullptr, MessageText(MSG_ASK_UNINSTALL), MessageText(MSG_UNINSTALL_CAPTION),
                                           MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND) != IDYES)
        return;

    StreamFile list(_wfsopen(kListName, L"rb", _SH_DENYNO));
    CleanupFolder cleanup;
    wchar_t commandProcessor[kPathChars];
    if (!list.Get() && !RunState.MsiMode && OnlyTheProgramIsLeft(folder, programPath))
    {
        // A run before this one has taken the program away already; its
        // command processor deletes it.
        if (GetFileAttributesW(programPath) == INVALID_FILE_ATTRIBUTES)
            return;
        if (!CommandProcessor(commandProcessor) || !cleanup.CreateForThisRun() ||
            !HandOverToCommandProcessor(cleanup, commandProcessor, programPath, folder))
            ReportNotRemoved(cleanup, programPath);
        return;
    }
    if (!list.Get() || !ListReadsToItsEnd(list.Get()))
    {
        ReportNoList();
        return;
    }
    // Nothing is removed before the end is known to be reachable.
    if (!RunState.MsiMode && (!CommandProcessor(commandProcessor) || !cleanup.CreateForThisRun()))
    {
        RunState.ExitCode = kExitNoCleanup;
        ShowError(MessageText(MSG_CANNOT_PREPARE));
        return;
    }
    // The language library goes before the files; these texts outlive it.
    wchar_t restartText[kSavedTextChars];
    wchar_t caption[kSavedTextChars];
    CopyStringCut(restartText, MessageText(MSG_RESTART_NEEDED));
    CopyStringCut(caption, MessageText(MSG_UNINSTALL_CAPTION));

    StopPortableWriteBack();
    RemoveIntegration();
    LanguageModule.Release();
    if (RunState.MsiMode)
        return;

    RemoveFilesOfSetup(folder);
    const ListRemoval removal = RemoveListedFiles(list.Get(), folder, programPath);
    list.Close();

    if (removal.RestartNeeded && !RunState.Silent)
        ShowMessageBox(nullptr, restartText, caption, MB_ICONINFORMATION | MB_SETFOREGROUND);
    // Files that could go neither now nor at the restart keep the folder.
    if (removal.Left > 0)
        RunState.ExitCode = kExitFilesLeft;
    // A list not read to its end stays, and so do the entry and the
    // program, so that the removal can be run again.
    if (removal.ReadFailed)
    {
        RunState.ExitCode = kExitNoList;
        cleanup.Discard();
        return;
    }
    if (!HandOverToCommandProcessor(cleanup, commandProcessor, programPath, folder))
        ReportNotRemoved(cleanup, programPath);
}
