#include "removal/uninstall_procedure.h"

#include <windows.h>

#include <share.h>

#include <cstring>
#include <initializer_list>

#include "common/strings.h"
#include "files/path_names.h"
#include "localization/messages.h"
#include "removal/integration_removal.h"
#include "startup/run_state.h"

namespace
{

const wchar_t kListName[] = L"Uninstall.lst";
const wchar_t kBatchName[] = L"Uninstall_Vnx.Bat";
const size_t kEntryChars = 4096;
const size_t kLineBytes = 2048;
const size_t kBatchChars = 1024;
const size_t kSavedTextChars = 256;

class ListFile
{
public:
    explicit ListFile(FILE* file) : file_(file) {}
    ~ListFile() { Close(); }
    ListFile(const ListFile&) = delete;
    ListFile& operator=(const ListFile&) = delete;
    FILE* Get() const { return file_; }
    void Close()
    {
        if (file_)
            fclose(file_);
        file_ = nullptr;
    }

private:
    FILE* file_;
};

bool IsBlank(char c)
{
    return c == '\r' || c == '\n' || c == ' ' || c == '\t';
}

// A file in use gets a free name beside it and goes at the next restart.
void ScheduleForRestart(const wchar_t* fullName)
{
    wchar_t moved[kPathChars] = {0};
    for (int i = 0; i < 1000; ++i)
    {
        FormatString(moved, L"%s.%d.tmp", fullName, i);
        if (GetFileAttributesW(moved) == INVALID_FILE_ATTRIBUTES)
            break;
    }
    const wchar_t* scheduled = MoveFileW(fullName, moved) ? moved : fullName;
    MoveFileExW(scheduled, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

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

// "CON", "nul.txt", "COM1 " and the like name devices in every folder.
bool IsDeviceName(const wchar_t* part, const wchar_t* end)
{
    const wchar_t* stem = part;
    while (stem < end && *stem != L'.')
        ++stem;
    while (stem > part && stem[-1] == L' ')
        --stem;
    const size_t length = static_cast<size_t>(stem - part);
    wchar_t name[8] = L"";
    if (length == 0 || length >= ARRAYSIZE(name))
        return false;
    for (size_t i = 0; i < length; ++i)
        name[i] = part[i];
    name[length] = 0;
    static const wchar_t* const kDevices[] = {L"CON",    L"PRN",     L"AUX",   L"NUL",
                                              L"CONIN$", L"CONOUT$", L"CLOCK$"};
    for (const wchar_t* device : kDevices)
        if (CompareNoCase(name, device) == 0)
            return true;
    const bool numbered = length == 4 && name[3] >= L'0' && name[3] <= L'9';
    name[3] = 0;
    return numbered && (CompareNoCase(name, L"COM") == 0 || CompareNoCase(name, L"LPT") == 0);
}

// Writes one composed text in the ANSI code page.
bool WriteBatchText(FILE* file, const wchar_t* text)
{
    char bytes[kBatchChars * 2 + 2];
    WideToAnsi(text, bytes, sizeof(bytes));
    const size_t length = strlen(bytes);
    return fwrite(bytes, 1, length, file) == length;
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

// A reparse point that names another place (a junction or a symbolic link),
// or one whose kind cannot be told, may lead outside the program's folder.
bool IsLinkToElsewhere(const wchar_t* path, DWORD attributes)
{
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(path, &found);
    if (search == INVALID_HANDLE_VALUE)
        return true;
    FindClose(search);
    const DWORD kNameSurrogate = 0x20000000;
    return found.dwReserved0 == 0 || (found.dwReserved0 & kNameSurrogate) != 0;
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
            CopyString(known_, fullName, i + 2);
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
const wchar_t kBatchVariable[] = L"VNX_UNINSTALL_BATCH";

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
    if (BatchSafePath(path, safe, kBatchChars) && DoublePercents(safe, text))
        return true;
    if (!SetEnvironmentVariableW(variable, path))
        return false;
    FormatString(text, L"%%%s%%", variable);
    return true;
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
        if (IsDeviceName(part, end))
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
    ListRemoval result = {0, 0, false};
    const size_t rootLength = wcslen(folder);
    for (;;)
    {
        ++result.Passes;
        int removed = 0;
        LinkGuard links(rootLength);
        char line[kLineBytes];
        while (fgets(line, sizeof(line), list))
        {
            size_t length = strlen(line);
            while (length > 0 && IsBlank(line[length - 1]))
                line[--length] = 0;
            wchar_t entry[kEntryChars];
            if (length == 0 || !AnsiToWide(line, entry, kEntryChars) || !IsSafeListEntry(entry))
                continue;
            wchar_t fullName[kEntryChars];
            CopyString(fullName, folder);
            AppendString(fullName, entry);
            if (links.PassesThroughLink(fullName))
                continue;

            const DWORD attributes = GetFileAttributesW(fullName);
            // Removing a linked folder may remove the folder it points at.
            if (IsLinkToElsewhere(fullName, attributes))
                continue;
            SetFileAttributesW(fullName, 0);
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            {
                if (RemoveDirectoryW(fullName))
                    ++removed;
            }
            else if (DeleteFileW(fullName))
                ++removed;
            else if (attributes != INVALID_FILE_ATTRIBUTES &&
                     !IsProtectedName(fullName, programPath))
            {
                result.RestartNeeded = true;
                ScheduleForRestart(fullName);
            }
        }
        result.Removed += removed;
        if (removed == 0)
            break;
        fseek(list, 0, SEEK_SET);
    }
    return result;
}

bool BatchSafePath(const wchar_t* path, wchar_t* safe, size_t capacity)
{
    if (ReadsTheSame(path))
    {
        CopyString(safe, path, capacity);
        return true;
    }
    wchar_t shortPath[kBatchChars];
    const DWORD length = GetShortPathNameW(path, shortPath, kBatchChars);
    if (length == 0 || length >= kBatchChars || !ReadsTheSame(shortPath))
        return false;
    CopyString(safe, shortPath, capacity);
    return true;
}

bool WriteCleanupBatch(const wchar_t* batchPath, const wchar_t* programPath, const wchar_t* folder,
                       bool silent)
{
    FILE* opened = _wfsopen(batchPath, L"wb", _SH_DENYNO);
    if (!opened)
        return false;
    ListFile file(opened);
    wchar_t program[kBatchChars];
    wchar_t dir[kBatchChars];
    wchar_t batch[kBatchChars];
    const bool haveProgram = BatchName(programPath, kProgramVariable, program);
    const bool haveDir = BatchName(folder, kFolderVariable, dir);
    const bool haveBatch = BatchName(batchPath, kBatchVariable, batch);

    bool ok = true;
    wchar_t text[kBatchChars];
    if (haveProgram)
        ok &= WriteBatchText(file.Get(), FormatInto(text, L"\"%s\" /wait\r\n", program));
    for (int round = 0; round < 5; ++round)
    {
        if (haveProgram)
            ok &= WriteBatchText(file.Get(), FormatInto(text, L"del \"%s\"\r\n", program));
        if (haveDir)
            ok &= WriteBatchText(file.Get(), FormatInto(text, L"rd \"%s\"\r\n", dir));
        if (haveProgram)
            ok &= WriteBatchText(file.Get(),
                                 FormatInto(text, L"if not exist \"%s\" goto done\r\n", program));
    }
    ok &= WriteBatchText(file.Get(), L":done\r\n");
    if (!silent && haveProgram)
        ok &= WriteBatchText(
            file.Get(), FormatInto(text, L"if exist \"%s\" \"%s\" /warning\r\n", program, program));
    if (haveBatch)
        ok &= WriteBatchText(file.Get(), FormatInto(text, L"del \"%s\"\r\n", batch));
    file.Close();
    return ok;
}

void RunUninstall()
{
    wchar_t programPath[kPathChars];
    const DWORD length = GetModuleFileNameW(nullptr, programPath, kPathChars);
    if (length == 0 || length >= kPathChars)
        return;
    wchar_t folder[kPathChars];
    CopyString(folder, programPath);
    wchar_t* slash = wcsrchr(folder, L'\\');
    if (!slash)
        return;
    slash[(slash > folder && slash[-1] == L':') ? 1 : 0] = 0;
    SetCurrentDirectoryW(folder);
    AddEndSlash(folder, kPathChars);

    if (!RunState.Silent && ShowMessageBox(nullptr, MessageText(5109), MessageText(5106),
                                           MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND) != IDYES)
        return;

    ListFile list(_wfsopen(kListName, L"rb", _SH_DENYNO));
    if (!list.Get())
    {
        wchar_t error[200];
        MessageWithArgument(5110, kListName, error);
        ShowMessageBox(nullptr, error, MessageText(5106), MB_ICONERROR | MB_SETFOREGROUND);
        return;
    }
    // The language library goes before the files; these texts outlive it.
    wchar_t restartText[kSavedTextChars];
    wchar_t caption[kSavedTextChars];
    CopyString(restartText, MessageText(5116));
    CopyString(caption, MessageText(5106));

    RemoveIntegration();
    LanguageModule.Release();
    if (RunState.MsiMode)
        return;

    for (const wchar_t* helpIndex : {L"velnox.gid", L"velnox.fts"})
    {
        SetFileAttributesW(helpIndex, 0);
        DeleteFileW(helpIndex);
    }
    const ListRemoval removal = RemoveListedFiles(list.Get(), folder, programPath);
    list.Close();
    DeleteFileW(kListName);

    if (removal.RestartNeeded && !RunState.Silent)
        ShowMessageBox(nullptr, restartText, caption, MB_ICONINFORMATION | MB_SETFOREGROUND);

    wchar_t batchPath[kPathChars];
    const DWORD tempLength = GetTempPathW(kPathChars, batchPath);
    if (tempLength == 0 || tempLength >= kPathChars)
        return;
    AppendString(batchPath, kBatchName);
    wchar_t currentDir[kPathChars];
    const DWORD dirLength = GetCurrentDirectoryW(kPathChars, currentDir);
    if (dirLength == 0 || dirLength >= kPathChars)
        return;
    if (!WriteCleanupBatch(batchPath, programPath, currentDir, RunState.Silent))
        return;

    wchar_t comspec[kPathChars] = {0};
    const DWORD comspecLength = GetEnvironmentVariableW(L"COMSPEC", comspec, kPathChars);
    if (comspecLength == 0 || comspecLength >= kPathChars)
        return;
    wchar_t commandLine[kBatchChars];
    FormatString(commandLine, L"%s /c \"%s\"", comspec, batchPath);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    // Started from the parent so that the folder itself is free to go.
    SetCurrentDirectoryW(L"..");
    PROCESS_INFORMATION process = {};
    if (CreateProcessW(nullptr, commandLine, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                       &process))
    {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}
