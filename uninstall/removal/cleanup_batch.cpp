#include "removal/cleanup_batch.h"

#include <windows.h>

#include <cstring>
#include <cwchar>
#include <initializer_list>
#include <type_traits>

#include "common/handles.h"
#include "common/strings.h"
#include "removal/program_aside.h"

namespace
{

// Writes one composed text in the ANSI code page.
bool WriteBatchText(HANDLE file, const wchar_t* text)
{
    char bytes[kBatchChars * 2 + 2];
    WideToAnsi(text, bytes, sizeof(bytes));
    const DWORD length = static_cast<DWORD>(strlen(bytes));
    DWORD written = 0;
    return WriteFile(file, bytes, length, &written, nullptr) && written == length;
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

// Paths the code pages cannot carry reach the command processor through its
// environment, which it reads in UTF-16.
const wchar_t kProgramVariable[] = L"VNX_UNINSTALL_PROGRAM";
const wchar_t kFolderVariable[] = L"VNX_UNINSTALL_FOLDER";
const wchar_t kWaiterVariable[] = L"VNX_UNINSTALL_WAITER";
// A line's own text, without its names; the longest line names the program
// twice, and a longer name goes through its variable, so that every line
// holds its names whole.
const size_t kBatchFixedChars = 32;
const size_t kBatchNameChars = (kBatchChars - kBatchFixedChars) / 2;

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

// A path as the batch file names it: as it is, in its short form, or
// through a variable set here for the command processor to inherit. Only
// Name makes one, so that no line can hold a name that was not checked.
class BatchPath
{
public:
    // False when none of the forms works: the lines naming it are left out.
    bool Name(const wchar_t* path, const wchar_t* variable)
    {
        wchar_t safe[kBatchChars];
        named_ = path != nullptr &&
                 ((BatchSafePath(path, safe, kBatchChars) && DoublePercents(safe, text_) &&
                   wcslen(text_) <= kBatchNameChars) ||
                  (SetEnvironmentVariableW(variable, path) &&
                   FormatString(text_, L"%%%s%%", variable) >= 0));
        return named_;
    }
    bool Named() const { return named_; }
    const wchar_t* Text() const { return text_; }

private:
    wchar_t text_[kBatchChars] = {};
    bool named_ = false;
};

// The batch file's lines: fixed text of fewer than kBatchFixedChars
// characters around checked names, in the ANSI code page. A line cut to
// the buffer would name another file: the first failure sticks and fails
// the batch.
class BatchWriter
{
public:
    explicit BatchWriter(HANDLE file) : file_(file) {}
    template <size_t N, class... Names>
    void Line(const wchar_t (&format)[N], const Names&... names)
    {
        static_assert((std::is_same<Names, BatchPath>::value && ...), "only checked names");
        static_assert(N - 1 - 2 * sizeof...(Names) < kBatchFixedChars, "a line's own text");
        wchar_t text[kBatchChars];
        ok_ = ok_ && FormatString(text, format, names.Text()...) >= 0 &&
              WriteBatchText(file_, text);
    }
    bool Ok() const { return ok_; }

private:
    HANDLE file_;
    bool ok_ = true;
};

} // namespace

bool BatchSafePath(const wchar_t* path, wchar_t* safe, size_t capacity)
{
    if (ReadsTheSame(path))
        return CopyString(safe, path, capacity);
    wchar_t shortPath[kBatchChars];
    const DWORD length = GetShortPathNameW(path, shortPath, kBatchChars);
    return length > 0 && length < kBatchChars && ReadsTheSame(shortPath) &&
           CopyString(safe, shortPath, capacity);
}

bool WriteCleanupBatch(const wchar_t* batchPath, const wchar_t* programPath, const wchar_t* folder,
                       bool silent, const wchar_t* waiterPath, bool warnThroughProgram)
{
    // Never through something already at the name: a planted file or link
    // would take the text, and the command processor would run what it says.
    KernelHandle file(CreateFileW(batchPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.Valid())
        return false;
    BatchPath program, dir, waiter;
    program.Name(programPath, kProgramVariable);
    dir.Name(folder, kFolderVariable);
    waiter.Name(waiterPath, kWaiterVariable);

    BatchWriter batch(file.Get());
    if (waiter.Named())
        batch.Line(L"\"%s\" /wait\r\n", waiter);
    else if (program.Named() && !waiterPath)
        batch.Line(L"\"%s\" /wait\r\n", program);
    for (int round = 0; round < 5; ++round)
    {
        if (program.Named())
            batch.Line(L"del \"%s\"\r\n", program);
        if (dir.Named())
            batch.Line(L"rd \"%s\"\r\n", dir);
        if (program.Named())
            batch.Line(L"if not exist \"%s\" goto done\r\n", program);
    }
    batch.Line(L":done\r\n");
    // The program left in its folder is never run, and the warning from
    // the copy would name the wrong file.
    if (!silent && program.Named() && (!waiterPath || warnThroughProgram))
        batch.Line(L"if exist \"%s\" \"%s\" /warning\r\n", program, program);
    if (waiter.Named())
        batch.Line(L"del \"%s\"\r\n", waiter);
    const bool ok = batch.Ok();
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

CleanupLaunch::CleanupLaunch(const CleanupFolder& cleanup) : cleanup_(cleanup)
{
    currentDir_[0] = 0;
    batchPath_[0] = 0;
    commandLine_[0] = 0;
}

bool CleanupLaunch::Prepare(const wchar_t* commandProcessor)
{
    const DWORD dirLength = GetCurrentDirectoryW(kPathChars, currentDir_);
    return dirLength > 0 && dirLength < kPathChars &&
           JoinPath(cleanup_.Path(), kBatchName, batchPath_) &&
           CleanupCommandLine(commandProcessor, cleanup_.Name(), commandLine_, kBatchChars);
}

bool CleanupLaunch::Start(const wchar_t* programPath, bool silent)
{
    ProgramAside aside;
    if (!PrepareProgramAside(cleanup_, programPath, aside))
    {
        DropWaiter(aside);
        return false;
    }
    // In the cleanup folder the program may be run for the warning; in its
    // own folder it is only deleted.
    if (!WriteCleanupBatch(batchPath_, aside.Moved, currentDir_, silent, aside.Waiter,
                           aside.IntoCleanup))
    {
        DropWaiter(aside);
        return false;
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
    if (!CreateProcessW(nullptr, commandLine_, nullptr, nullptr, TRUE, DETACHED_PROCESS, nullptr,
                        cleanup_.Path(), &startup, &process))
    {
        DeleteFileW(batchPath_);
        DropWaiter(aside);
        return false;
    }
    // Nothing here waits for the command processor. Its batch file waits
    // through the waiter while the program leaves its folder; a program
    // that cannot leave stays there alone, for a rerun to delete.
    const KernelHandle child(process.hProcess), thread(process.hThread);
    return MoveProgramAside(programPath, aside);
}
