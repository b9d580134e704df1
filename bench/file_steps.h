#pragma once
// What a run did besides its registry writes, as steps a floor program
// repeats: folders and files made, links saved through the shell's link
// object, entries deleted, the command processor started, the shell told of
// changed associations, a library loaded, a folder deleted through the shell.
#include <string>
#include <vector>

struct FileStep
{
    enum Kind
    {
        MakeFolder,
        MakeLink,  // Source: the link's target
        CopyBytes, // Source: a saved copy of the file's bytes
        DeleteEntry,
        RemoveFolder,
        StartCommandProcessor,
        NotifyShell,
        NotifyShellAndWait, // as removal sends it
        LoadSystemLibrary,  // Path: a library of the system folder the run loaded itself
        ShellDeleteFolder,  // the folder and all in it, through the shell's file operation
    } What;
    std::wstring Path;
    std::wstring Source;
};

// One step a line, tab-separated, UTF-16.
bool SaveFileSteps(const std::vector<FileStep>& steps, const std::wstring& path);
bool LoadFileSteps(const std::wstring& path, std::vector<FileStep>& steps);
// Links need COM started on the thread.
bool ReplayFileStep(const FileStep& step);
