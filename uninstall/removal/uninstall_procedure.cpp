#include "removal/uninstall_procedure.h"

#include <windows.h>

#include <ntsecapi.h>
#include <sddl.h>
#include <share.h>

#include <cstring>
#include <initializer_list>

#include "common/handles.h"
#include "common/strings.h"
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
#include "settings/text_file.h"

namespace
{

const wchar_t kListName[] = L"Uninstall.lst";
const wchar_t kBatchName[] = L"Uninstall_Vnx.Bat";
const size_t kBatchChars = 1024;
const size_t kSavedTextChars = 256;

// The help index files that the help viewer writes beside its help file and
// the new-file templates that setup writes: the list need not name them.
void RemoveFilesOfSetup(const wchar_t* folder)
{
    const ContainedFolder inside(folder);
    for (const wchar_t* name : {L"velnox.gid", L"velnox.fts", kOwnTemplateName, kZipTemplateName})
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

// Files the removal has scheduled, so that a file in use whose move failed
// is scheduled once, not in every pass.
class ScheduledFiles
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
    // name. Short names hold a "~", and the system resolves them only in
    // paths of ordinary length.
    if (!wcschr(PointToName(fullName), L'~') || wcslen(fullName) >= MAX_PATH)
        return false;
    wchar_t longName[MAX_PATH];
    const DWORD length = GetLongPathNameW(fullName, longName, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
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

// Full control for Administrators and SYSTEM, or for this process's user
// alone; nothing inherited from the temporary folder.
bool CleanupFolderAccess(LocalMemory& descriptor)
{
    wchar_t text[256] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
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
        if (FormatString(text, L"D:P(A;OICI;FA;;;%s)", static_cast<wchar_t*>(sidText.Get())) < 0)
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

// Open for listing and passing through, so that the open counts against
// renaming and deleting it; a link is opened as itself.
HANDLE OpenFolderItself(const wchar_t* path, DWORD share)
{
    return CreateFileW(path, FILE_LIST_DIRECTORY | FILE_TRAVERSE | SYNCHRONIZE, share, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                       nullptr);
}

bool IsPlainFolder(HANDLE handle)
{
    DWORD attributes = 0;
    return ReadEntryAttributes(handle, attributes) && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// The folder just made at path, held open; empty when what stands there now
// is not that plain folder.
KernelHandle HoldMadeFolder(const wchar_t* path)
{
    KernelHandle held(OpenFolderItself(path, FILE_SHARE_READ | FILE_SHARE_WRITE));
    wchar_t reached[kPathChars];
    if (!held.Valid() || !IsPlainFolder(held.Get()) || !DrivePathOf(held.Get(), path, reached) ||
        CompareNoCase(reached, path) != 0)
        return KernelHandle();
    return held;
}

// The command processor from "COMSPEC". An elevated run takes the one in
// the system folder: the user's environment must not choose what runs with
// the administrator's rights.
bool CommandProcessor(wchar_t (&path)[kPathChars])
{
    const DWORD length = GetEnvironmentVariableW(L"COMSPEC", path, kPathChars);
    if (length == 0 || length >= kPathChars)
        return false;
    if (!RunsElevated())
        return true;
    const UINT systemLength = GetSystemDirectoryW(path, kPathChars);
    if (systemLength == 0 || systemLength >= kPathChars)
        return false;
    return AppendString(path, L"\\cmd.exe");
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
    ListRemoval result = {0, 0, false, false};
    const size_t rootLength = wcslen(folder);
    const ContainedFolder inside(folder);
    ListEntries entries(list);
    ScheduledFiles scheduled;
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
                     !scheduled.Holds(item.Identity()) && item.ScheduleForRestart())
            {
                result.RestartNeeded = true;
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
    wchar_t name[64];
    wchar_t path[kPathChars];
    // The batch file's full name must fit where the command processor looks.
    if (!RandomFolderName(name) || !JoinPath(base, name, path) ||
        wcslen(path) + 1 + wcslen(kBatchName) >= kCurrentDirChars)
        return false;

    LocalMemory descriptor;
    if (!CleanupFolderAccess(descriptor))
        return false;
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.Get(), FALSE};
    // Fails when anything stands at the name: the folder is ours alone.
    if (!CreateDirectoryW(path, &attributes))
        return false;
    held_ = HoldMadeFolder(path);
    if (!held_.Valid() || !CopyString(path_, path))
    {
        // Whatever stands there now is removed only if it is an empty
        // folder or a link, never through it.
        held_.Close();
        RemoveDirectoryW(path);
        return false;
    }
    return true;
}

void CleanupFolder::Discard()
{
    if (!held_.Valid())
        return;
    held_.Close();
    RemoveDirectoryW(path_);
}

bool WriteCleanupBatch(const wchar_t* batchPath, const wchar_t* programPath, const wchar_t* folder,
                       bool silent)
{
    // Never through something already at the name: a planted file or link
    // would take the text, and the command processor would run what it says.
    KernelHandle file(CreateFileW(batchPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.Valid())
        return false;
    wchar_t program[kBatchChars];
    wchar_t dir[kBatchChars];
    const bool haveProgram = BatchName(programPath, kProgramVariable, program);
    const bool haveDir = BatchName(folder, kFolderVariable, dir);

    bool ok = true;
    if (haveProgram)
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
    if (!silent && haveProgram)
        ok &= WriteBatchLine(file.Get(), L"if exist \"%s\" \"%s\" /warning\r\n", program, program);
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
    SetCurrentDirectoryW(folder);
    // The listed names are joined to it: cut, they would name other files.
    if (!AddEndSlash(folder))
        return;

    if (!RunState.Silent && ShowMessageBox(nullptr, MessageText(MSG_ASK_UNINSTALL), MessageText(MSG_UNINSTALL_CAPTION),
                                           MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND) != IDYES)
        return;

    StreamFile list(_wfsopen(kListName, L"rb", _SH_DENYNO));
    if (!list.Get())
    {
        wchar_t error[200];
        MessageWithArgument(MSG_NO_FILE_LIST, kListName, error);
        ShowMessageBox(nullptr, error, MessageText(MSG_UNINSTALL_CAPTION), MB_ICONERROR | MB_SETFOREGROUND);
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
    if (!removal.ReadFailed)
        RemoveList(folder);

    if (removal.RestartNeeded && !RunState.Silent)
        ShowMessageBox(nullptr, restartText, caption, MB_ICONINFORMATION | MB_SETFOREGROUND);
    // A list not read to its end stays, and so does the program, so that the
    // removal can be run again.
    if (removal.ReadFailed)
        return;

    wchar_t currentDir[kPathChars];
    const DWORD dirLength = GetCurrentDirectoryW(kPathChars, currentDir);
    if (dirLength == 0 || dirLength >= kPathChars)
        return;
    wchar_t commandProcessor[kPathChars];
    if (!CommandProcessor(commandProcessor))
        return;
    wchar_t temp[kPathChars];
    const DWORD tempLength = GetTempPathW(kPathChars, temp);
    CleanupFolder cleanup;
    if (tempLength == 0 || tempLength >= kPathChars || !cleanup.Create(temp))
        return;
    wchar_t batchPath[kPathChars];
    wchar_t commandLine[kBatchChars];
    if (!JoinPath(cleanup.Path(), kBatchName, batchPath) ||
        !CleanupCommandLine(commandProcessor, cleanup.Name(), commandLine, kBatchChars))
    {
        cleanup.Discard();
        return;
    }
    if (!WriteCleanupBatch(batchPath, programPath, currentDir, RunState.Silent))
    {
        cleanup.Discard();
        return;
    }

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    // Started from the parent so that the folder itself is free to go.
    SetCurrentDirectoryW(L"..");
    PROCESS_INFORMATION process = {};
    // The command processor works in the batch file's folder, which keeps
    // that folder from being renamed while it runs. It gets no console: a
    // console made for it would be a process of its own, standing in that
    // folder until the end, so that the folder could not go.
    if (CreateProcessW(nullptr, commandLine, nullptr, nullptr, TRUE, DETACHED_PROCESS, nullptr,
                       cleanup.Path(), &startup, &process))
    {
        // Nothing here waits for the command processor.
        const KernelHandle child(process.hProcess), thread(process.hThread);
        return;
    }
    DeleteFileW(batchPath);
    cleanup.Discard();
}
