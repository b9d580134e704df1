#include "removal/uninstall_procedure.h"

#include <windows.h>

#include <share.h>

#include <cwchar>
#include <initializer_list>

#include "common/handles.h"
#include "common/strings.h"
#include "files/path_names.h"
#include "integration/new_file_templates.h"
#include "localization/language_module.h"
#include "localization/messages.h"
#include "removal/cleanup_batch.h"
#include "removal/cleanup_folder.h"
#include "removal/contained_removal.h"
#include "removal/integration_removal.h"
#include "removal/list_entries.h"
#include "removal/list_removal.h"
#include "removal/removal_checks.h"
#include "resources/resource.h"
#include "run/run_log.h"
#include "run/run_state.h"
#include "settings/portable_settings.h"

namespace
{

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

void ShowError(const wchar_t* text)
{
    if (!RunState.Silent)
        ShowMessageBox(nullptr, text, MessageText(MSG_UNINSTALL_CAPTION),
                       MB_ICONERROR | MB_SETFOREGROUND);
}

void ReportNoList()
{
    RunState.Outcome.ListUnreadable = true;
    LogLine(L"\"%s\" is missing or cannot be read to its end", kListName);
    wchar_t error[200];
    MessageWithArgument(MSG_NO_FILE_LIST, kListName, error);
    ShowError(error);
}

// The program and its folder stay; under /S the exit code says so.
void ReportNotRemoved(CleanupFolder& cleanup, const wchar_t* programPath)
{
    cleanup.Discard();
    RunState.Outcome.CleanupImpossible = true;
    LogLine(L"the command processor that deletes the program did not start: %s stays",
            programPath);
    if (RunState.Silent)
        return;
    wchar_t text[512];
    CopyStringCut(text, MessageText(MSG_NOT_REMOVED));
    AppendStringCut(text, L"\n");
    const size_t length = wcslen(text);
    MessageWithArgument(MSG_NOT_REMOVED_PATH, programPath, text + length, ARRAYSIZE(text) - length);
    ShowError(text);
}

// The end of the run: the entry in the list of installed programs and the
// list go last, so that until then another run can finish the removal; then
// the program leaves its folder and the command processor deletes it once
// this process has ended. False when it was not started: the program is
// back in its folder, alone.
bool HandOverToCommandProcessor(CleanupFolder& cleanup, const wchar_t* commandProcessor,
                                const wchar_t* programPath, const wchar_t* folder)
{
    CleanupLaunch launch(cleanup);
    if (!launch.Prepare(commandProcessor))
        return false;
    RemoveUninstallEntry();
    RemoveList(folder);
    return launch.Start(programPath, RunState.Silent);
}

} // namespace

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
    {
        // Nothing was removed: a tool that started the run must not take
        // the program for gone.
        RunState.Outcome.Declined = true;
        LogLine(L"the user answered No: nothing removed");
        return;
    }

    StreamFile list(_wfsopen(kListName, L"rb", _SH_DENYNO));
    CleanupFolder cleanup;
    wchar_t commandProcessor[kPathChars];
    if (!list.Get() && !RunState.MsiMode && OnlyTheProgramRemains(folder, programPath))
    {
        // A run before this one has taken the program away already; its
        // command processor deletes it.
        if (GetFileAttributesW(programPath) == INVALID_FILE_ATTRIBUTES)
            return;
        RunState.Outcome.RestartScheduled |= RestartDeletesFrom(folder);
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
        RunState.Outcome.CleanupImpossible = true;
        LogLine(L"the deletion of the program cannot be prepared (command processor or "
                L"cleanup folder): nothing removed");
        ShowError(MessageText(MSG_CANNOT_PREPARE));
        return;
    }
    // The language library goes before the files; these texts outlive it.
    wchar_t restartText[kSavedTextChars];
    wchar_t leftText[kSavedTextChars];
    wchar_t caption[kSavedTextChars];
    CopyStringCut(restartText, MessageText(MSG_RESTART_NEEDED));
    CopyStringCut(leftText, MessageText(MSG_FILES_LEFT));
    CopyStringCut(caption, MessageText(MSG_UNINSTALL_CAPTION));

    StopPortableWriteBack();
    RemoveIntegration();
    LanguageModule.Release();
    if (RunState.MsiMode)
        return;

    RemoveFilesOfSetup(folder);
    const ListRemoval removal = RemoveListedFiles(list.Get(), folder, programPath);
    list.Close();

    // A file an earlier run moved aside keeps the folder until the restart
    // too: the caller learns that the removal ends there.
    const bool restart = removal.RestartNeeded || RestartDeletesFrom(folder);
    RunState.Outcome.RestartScheduled |= restart;
    RunState.Outcome.FilesLeft |= removal.Unremovable > 0;
    RunState.Outcome.ListUnreadable |= removal.ReadFailed;
    if (restart && !RunState.Silent)
        ShowMessageBox(nullptr, restartText, caption, MB_ICONINFORMATION | MB_SETFOREGROUND);
    // Something that could go neither now nor at the restart (a listed file
    // or the program group), or a list not read to its end: the entry, the
    // list and the program stay, so that the entry's uninstall can be run
    // again and finish once nothing holds them.
    if (RunState.Outcome.FilesLeft || removal.ReadFailed)
    {
        LogLine(L"the program, the list and the installed-programs entry stay, so that the "
                L"uninstall can be run again");
        if (RunState.Outcome.FilesLeft && !RunState.Silent)
            ShowMessageBox(nullptr, leftText, caption, MB_ICONERROR | MB_SETFOREGROUND);
        cleanup.Discard();
        return;
    }
    if (HandOverToCommandProcessor(cleanup, commandProcessor, programPath, folder))
        LogLine(L"entry and list deleted; the command processor deletes %s and its folder "
                L"once this run has ended",
                programPath);
    else
        ReportNotRemoved(cleanup, programPath);
}
