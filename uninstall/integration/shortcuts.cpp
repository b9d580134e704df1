#include "integration/shortcuts.h"

#include "common/handles.h"
#include "common/strings.h"
#include "files/file_system.h"
#include "files/path_names.h"
#include "integration/integration_options.h"
#include "localization/messages.h"
#include "platform/platform_probes.h"
#include "resources/resource.h"
#include "settings/settings_store.h"

#include <objbase.h>
#include <cwchar>
#include <shlobj.h>
#include <shobjidl.h>

namespace
{

const wchar_t kArchiverFile[] = L"Velnox.exe";
const wchar_t kArchiverLink[] = L"Velnox.lnk";
const wchar_t kGroupFolder[] = L"Velnox";
const wchar_t kUnknownFolder[] = L"unknown_folder";
const uint32_t kVista = 0x0600;

// The program group's shortcuts, in the order they are made. A name of 0 is
// the archiver's own shortcut; a target of 0 is named by message
// MSG_LINK_FOURTH_FILE.
struct GroupLink
{
    uint32_t NameMessage;
    const wchar_t* Target;
};
const GroupLink kGroupLinks[] = {
    {0, kArchiverFile},
    {MSG_LINK_HELP, L"Velnox.chm"},
    {MSG_LINK_README, L"Vnx.txt"},
    {MSG_LINK_FOURTH, nullptr},
};

// The shortcut file of the group's link number index; false when its name
// is empty (a message without a usable text).
bool GroupLinkPath(const wchar_t* group, size_t index, wchar_t (&linkPath)[kPathChars])
{
    const GroupLink& link = kGroupLinks[index];
    wchar_t name[kPathChars];
    CopyString(name, link.NameMessage == 0 ? kGroupFolder : MessageFileName(link.NameMessage));
    if (name[0] == 0)
        return false;
    AppendString(name, L".lnk");
    JoinPath(group, name, linkPath);
    return true;
}

struct GroupContext
{
    const wchar_t* ProgramPath;
    const wchar_t* WorkingDir;
    const wchar_t* IconFile;
};

// Only files that really lie in the folder go: a link planted among them
// (which Wine shows as a plain file) is left, and so is what it points to.
void DeleteFilesIn(const wchar_t* folder)
{
    wchar_t mask[kPathChars];
    JoinPath(folder, L"*", mask);
    FindFile search;
    search.SetMask(mask);
    FindData data;
    while (search.Next(data))
        if (!data.IsDir && !data.IsLink)
            DelFileInside(data.Name);
}

// A shortcut is written only where no planted link would carry the write to
// another file.
bool WriteShortcut(const wchar_t* target, const wchar_t* linkPath, const wchar_t* workingDir,
                   const wchar_t* iconFile)
{
    return PrepareFileToWrite(linkPath) &&
           CreateShellLink(target, linkPath, workingDir, MessageText(MSG_LINK_COMMENT), iconFile,
                           nullptr);
}

// Empties a group of what an older installation left in it, then makes the
// shortcuts whose targets exist in this program's folder. A group reached
// through a link is not ours to empty or fill.
void FillGroup(const wchar_t* group, const GroupContext& context)
{
    CreateDirectoryW(group, nullptr);
    if (!IsFolderReachedDirectly(group))
        return;
    DeleteFilesIn(group);
    for (size_t i = 0; i < sizeof(kGroupLinks) / sizeof(kGroupLinks[0]); ++i)
    {
        wchar_t linkPath[kPathChars];
        if (!GroupLinkPath(group, i, linkPath))
            continue;
        wchar_t target[kPathChars];
        CopyString(target, context.ProgramPath);
        const GroupLink& link = kGroupLinks[i];
        SetName(target, link.Target ? link.Target : MessageFileName(MSG_LINK_FOURTH_FILE));
        if (PointToName(target)[0] != 0 && FileExists(target))
            WriteShortcut(target, linkPath, context.WorkingDir, i == 0 ? context.IconFile : nullptr);
    }
}

// Deletes a folder tree only when nothing in it is a link: the shell's
// deletion would follow one (Wine's enters a linked folder and deletes a
// file link's target). Deeper trees than any group holds are not ours.
bool HoldsOnlyItsOwnEntries(const wchar_t* folder, unsigned depth)
{
    const unsigned kMaxDepth = 16;
    if (depth > kMaxDepth)
        return false;
    wchar_t mask[kPathChars];
    JoinPath(folder, L"*", mask);
    FindFile search;
    search.SetMask(mask);
    FindData data;
    while (search.Next(data))
    {
        if (data.IsLink)
            return false;
        if (data.IsDir ? !HoldsOnlyItsOwnEntries(data.Name, depth + 1)
                       : !IsFileReallyInside(data.Name))
            return false;
    }
    return !data.Error;
}

void CopyToOutput(const wchar_t* group, wchar_t* output, size_t capacity)
{
    if (output && capacity > 0)
        CopyString(output, group, capacity);
}

} // namespace

void UpdateShortcuts(const IntegrationOptions& options, wchar_t* groupPath,
                     size_t groupPathCapacity, const wchar_t* iconFile)
{
    wchar_t programPath[kPathChars];
    DWORD length = GetModuleFileNameW(nullptr, programPath, kPathChars);
    // A cut name would point the shortcuts at another folder.
    if (length == 0 || length >= kPathChars)
        programPath[0] = 0;
    UpdateShortcutsFor(programPath, options, groupPath, groupPathCapacity, iconFile);
}

void UpdateShortcutsFor(const wchar_t* programPath, const IntegrationOptions& options,
                        wchar_t* groupPath, size_t groupPathCapacity, const wchar_t* iconFile)
{
    if (!IsIntegrationEnabled())
        return;
    wchar_t archiver[kPathChars];
    CopyString(archiver, programPath);
    SetName(archiver, kArchiverFile);
    const bool vista = WindowsVersion() >= kVista;

    wchar_t folder[kPathChars];
    if (vista)
    {
        // Older setups put the link on the user's own desktop; it now lives
        // on the all-users one only.
        if (GetShellFolder(folder, CSIDL_DESKTOPDIRECTORY))
        {
            wchar_t userLink[kPathChars];
            JoinPath(folder, kArchiverLink, userLink);
            DelFileInside(userLink);
        }
        GetShellFolder(folder, CSIDL_COMMON_DESKTOPDIRECTORY);
    }
    else if (!GetShellFolder(folder, CSIDL_DESKTOPDIRECTORY))
        return;

    wchar_t link[kPathChars];
    JoinPath(folder, kArchiverLink, link);
    wchar_t workingDir[kPathChars];
    GetShellFolder(workingDir, CSIDL_DESKTOPDIRECTORY);
    if (options.Desktop)
        WriteShortcut(archiver, link, nullptr, iconFile);
    else
        DelFileInside(link);

    GetShellFolder(folder, vista ? CSIDL_COMMON_STARTMENU : CSIDL_STARTMENU);
    JoinPath(folder, kArchiverLink, link);
    if (options.StartMenu)
        WriteShortcut(archiver, link, workingDir, iconFile);
    else
        DelFileInside(link);

    const GroupContext context = {programPath, workingDir, iconFile};
    wchar_t group[kPathChars];
    GetShellFolder(folder, CSIDL_PROGRAMS);
    JoinPath(folder, kGroupFolder, group);
    if (options.Programs)
    {
        CopyToOutput(group, groupPath, groupPathCapacity);
        FillGroup(group, context);
    }
    else
        ShellDeleteFolder(group);

    if (!GetShellFolder(folder, CSIDL_COMMON_PROGRAMS))
        return;
    JoinPath(folder, kGroupFolder, group);
    if (options.Programs)
    {
        FillGroup(group, context);
        // Reported only once it is there, so the all-users group wins.
        if (FileExists(group))
            CopyToOutput(group, groupPath, groupPathCapacity);
    }
    else
        ShellDeleteFolder(group);
}

bool CreateShellLink(const wchar_t* target, const wchar_t* linkPath, const wchar_t* workingDir,
                     const wchar_t* description, const wchar_t* iconFile, const wchar_t* arguments)
{
    ComPointer<IShellLinkW> shellLink;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                shellLink.Out())))
        return false;
    ComPointer<IPersistFile> file;
    if (FAILED(shellLink->QueryInterface(IID_IPersistFile, file.Out())))
        return false;
    // An existing shortcut keeps what is not set below, such as its hotkey.
    file->Load(linkPath, STGM_READWRITE);
    shellLink->SetPath(target);
    if (description)
        shellLink->SetDescription(description);
    // Empty: the shell shows the target's own icon.
    shellLink->SetIconLocation(iconFile ? iconFile : L"", 0);
    if (arguments)
        shellLink->SetArguments(arguments);
    if (workingDir)
        shellLink->SetWorkingDirectory(workingDir);
    return SUCCEEDED(file->Save(linkPath, TRUE));
}

bool GetShellFolder(wchar_t* buffer, size_t capacity, int csidl)
{
    if (capacity >= MAX_PATH &&
        SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer) == S_OK)
        return true;
    if (capacity > 0)
        CopyString(buffer, kUnknownFolder, capacity);
    return false;
}

void ShellDeleteFolder(const wchar_t* path)
{
    // A junction is never followed: what it points at is not ours. Neither
    // is a folder reached through one, or a tree with a link in it.
    if (!IsFolderReachedDirectly(path) || !HoldsOnlyItsOwnEntries(path, 0))
        return;
    // The source is a list ended by a second terminator. A path that does not
    // fit whole is left alone: a cut one names another folder.
    wchar_t source[kPathChars + 1];
    size_t length = wcslen(path);
    if (length >= kPathChars)
        return;
    CopyString(source, path, kPathChars);
    source[length + 1] = 0;

    SHFILEOPSTRUCTW operation = {};
    operation.hwnd = nullptr;
    operation.wFunc = FO_DELETE;
    operation.pFrom = source;
    operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION;
    SHFileOperationW(&operation);
}
