#include "integration/shortcuts.h"

#include "common/handles.h"
#include "common/strings.h"
#include "files/file_system.h"
#include "files/path_names.h"
#include "files/replacement_file.h"
#include "integration/integration_options.h"
#include "localization/messages.h"
#include "platform/platform_probes.h"
#include "resources/resource.h"
#include "run/run_log.h"
#include "run/run_state.h"
#include "settings/settings_store.h"

#include <objbase.h>
#include <cwchar>
#include <new>
#include <shlobj.h>
#include <shobjidl.h>

namespace
{

// A stream over a file that the caller opened, checked and keeps open: the
// link object reads and writes that very file, never a name.
class HandleStream : public IStream
{
public:
    static IStream* Make(HANDLE file) { return new (std::nothrow) HandleStream(file); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (object == nullptr)
            return E_POINTER;
        *object = nullptr;
        if (iid != IID_IUnknown && iid != IID_ISequentialStream && iid != IID_IStream)
            return E_NOINTERFACE;
        *object = static_cast<IStream*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --references_;
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE Read(void* data, ULONG size, ULONG* read) override
    {
        DWORD done = 0;
        const BOOL ok = ReadFile(file_, data, size, &done, nullptr);
        if (read)
            *read = done;
        return !ok ? STG_E_READFAULT : done < size ? S_FALSE : S_OK;
    }
    HRESULT STDMETHODCALLTYPE Write(const void* data, ULONG size, ULONG* written) override
    {
        DWORD done = 0;
        const BOOL ok = WriteFile(file_, data, size, &done, nullptr);
        if (written)
            *written = done;
        return ok && done == size ? S_OK : STG_E_WRITEFAULT;
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin,
                                   ULARGE_INTEGER* position) override
    {
        LARGE_INTEGER now;
        if (!SetFilePointerEx(file_, move, &now, origin))
            return STG_E_INVALIDFUNCTION;
        if (position)
            position->QuadPart = ULONGLONG(now.QuadPart);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override
    {
        LARGE_INTEGER here = {}, end;
        const LARGE_INTEGER zero = {};
        end.QuadPart = LONGLONG(size.QuadPart);
        const bool done = SetFilePointerEx(file_, zero, &here, FILE_CURRENT) &&
                          SetFilePointerEx(file_, end, nullptr, FILE_BEGIN) &&
                          SetEndOfFile(file_) && SetFilePointerEx(file_, here, nullptr, FILE_BEGIN);
        return done ? S_OK : STG_E_MEDIUMFULL;
    }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*,
                                     ULARGE_INTEGER*) override
    {
        return E_NOTIMPL;
    }
    // What reaches the disk, and when, is the owner's to decide.
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override
    {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override
    {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD) override
    {
        if (stat == nullptr)
            return STG_E_INVALIDPOINTER;
        ZeroMemory(stat, sizeof(*stat));
        stat->type = STGTY_STREAM;
        LARGE_INTEGER size;
        if (!GetFileSizeEx(file_, &size))
            return STG_E_ACCESSDENIED;
        stat->cbSize.QuadPart = ULONGLONG(size.QuadPart);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IStream** copy) override
    {
        if (copy)
            *copy = nullptr;
        return E_NOTIMPL;
    }

private:
    explicit HandleStream(HANDLE file) : references_(1), file_(file) {}
    virtual ~HandleStream() = default;

    ULONG references_;
    HANDLE file_;
};

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
// is empty (a message without a usable text) or does not fit whole.
bool GroupLinkPath(const wchar_t* group, size_t index, wchar_t (&linkPath)[kPathChars])
{
    const GroupLink& link = kGroupLinks[index];
    wchar_t name[kPathChars];
    // Every user's group too: its names are no user's translation.
    const wchar_t* shown =
        link.NameMessage == 0 ? kGroupFolder : SharedMessageFileName(link.NameMessage);
    return CopyString(name, shown) && name[0] != 0 && AppendString(name, L".lnk") &&
           JoinPath(group, name, linkPath);
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
    if (!JoinPath(folder, L"*", mask))
        return;
    FindFile search;
    search.SetMask(mask);
    FindData data;
    while (search.Next(data))
        if (!data.IsDir && !data.IsLink)
            DelFileInside(data.Name);
}

// Only to a target named whole.
bool WriteShortcut(const wchar_t* target, const wchar_t* linkPath, const wchar_t* workingDir,
                   const wchar_t* iconFile)
{
    return target[0] != 0 &&
           CreateShellLink(target, linkPath, workingDir, SharedMessageText(MSG_LINK_COMMENT),
                           iconFile, nullptr);
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
        const GroupLink& link = kGroupLinks[i];
        wchar_t target[kPathChars];
        if (CopyString(target, context.ProgramPath) &&
            SetName(target,
                    link.Target ? link.Target : SharedMessageFileName(MSG_LINK_FOURTH_FILE)) &&
            PointToName(target)[0] != 0 && FileExists(target))
            WriteShortcut(target, linkPath, context.WorkingDir, i == 0 ? context.IconFile : nullptr);
    }
}

// Deletes a folder tree only when nothing in it is a link: the shell's
// deletion would follow one (Wine's enters a linked folder and deletes a
// file link's target). Deeper trees than any group holds are not ours.
bool HoldsOnlyItsOwnEntries(const wchar_t* folder, unsigned depth)
{
    const unsigned kMaxDepth = 16;
    wchar_t mask[kPathChars];
    if (depth > kMaxDepth || !JoinPath(folder, L"*", mask))
        return false;
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

// A group name cut to the output would open another folder: none is reported.
void CopyToOutput(const wchar_t* group, wchar_t* output, size_t capacity)
{
    if (output && capacity > 0 && !CopyString(output, group, capacity))
        output[0] = 0;
}

// The archiver's shortcut in folder, made or deleted; one whose name does not
// fit whole is neither.
void UpdateArchiverLink(bool wanted, const wchar_t* folder, const wchar_t* archiver,
                        const wchar_t* workingDir, const wchar_t* iconFile)
{
    wchar_t link[kPathChars];
    if (!JoinPath(folder, kArchiverLink, link))
        return;
    if (wanted)
        WriteShortcut(archiver, link, workingDir, iconFile);
    else
        DelFileInside(link);
}

// The program group in folder, made and filled or deleted; false when its
// name does not fit whole, and then it is neither.
bool UpdateGroup(bool wanted, const wchar_t* folder, const GroupContext& context,
                 wchar_t (&group)[kPathChars])
{
    if (!JoinPath(folder, kGroupFolder, group))
        return false;
    if (wanted)
        FillGroup(group, context);
    // A group that stays is counted like a listed file left: the removal
    // keeps what it needs to be run again.
    else if (!ShellDeleteFolder(group))
    {
        RunState.Outcome.FilesLeft = true;
        LogLine(L"left: the program group %s could not be deleted", group);
    }
    return true;
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
    // A target that does not fit whole gets no shortcut.
    wchar_t archiver[kPathChars];
    if (!CopyString(archiver, programPath) || !SetName(archiver, kArchiverFile))
        archiver[0] = 0;
    // LocalSystem's profile is no user's: it gets no links or group of its own.
    const bool system = RunsAsLocalSystem();
    const bool vista = WindowsVersion() >= kVista;

    // The user's own desktop is the working folder of the user's own
    // shortcuts; those of all users start in the program's folder, which
    // every user can open.
    wchar_t workingDir[kPathChars];
    const bool userDesktop = GetShellFolder(workingDir, CSIDL_DESKTOPDIRECTORY);
    wchar_t programFolder[kPathChars];
    if (!CopyString(programFolder, programPath))
        programFolder[0] = 0;
    RemoveNameFromPath(programFolder);
    wchar_t folder[kPathChars];
    if (system)
        GetShellFolder(folder, CSIDL_COMMON_DESKTOPDIRECTORY);
    else if (vista)
    {
        // Older setups put the link on the user's own desktop; it now lives
        // on the all-users one only.
        if (userDesktop)
            UpdateArchiverLink(false, workingDir, archiver, nullptr, nullptr);
        GetShellFolder(folder, CSIDL_COMMON_DESKTOPDIRECTORY);
    }
    else if (!userDesktop || !CopyString(folder, workingDir))
        return;

    const bool common = vista || system;
    UpdateArchiverLink(options.Desktop, folder, archiver, nullptr, iconFile);
    GetShellFolder(folder, common ? CSIDL_COMMON_STARTMENU : CSIDL_STARTMENU);
    UpdateArchiverLink(options.StartMenu, folder, archiver, common ? programFolder : workingDir,
                       iconFile);

    wchar_t group[kPathChars];
    const GroupContext own = {programPath, workingDir, iconFile};
    if (!system && GetShellFolder(folder, CSIDL_PROGRAMS) &&
        UpdateGroup(options.Programs, folder, own, group) && options.Programs)
        CopyToOutput(group, groupPath, groupPathCapacity);
    // Reported only once it is there, so the all-users group wins.
    const GroupContext everyone = {programPath, programFolder, iconFile};
    if (GetShellFolder(folder, CSIDL_COMMON_PROGRAMS) &&
        UpdateGroup(options.Programs, folder, everyone, group) && options.Programs &&
        FileExists(group))
        CopyToOutput(group, groupPath, groupPathCapacity);
}

bool CreateShellLink(const wchar_t* target, const wchar_t* linkPath, const wchar_t* workingDir,
                     const wchar_t* description, const wchar_t* iconFile, const wchar_t* arguments)
{
    ComPointer<IShellLinkW> shellLink;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                shellLink.Out())))
        return false;
    ComPointer<IPersistStream> persist;
    if (FAILED(shellLink->QueryInterface(IID_IPersistStream, persist.Out())))
        return false;
    // An existing shortcut keeps what is not set below, such as its hotkey;
    // it is read only when it is a file of that folder with no other name.
    {
        const KernelHandle existing = OpenFileReallyInside(linkPath, GENERIC_READ);
        ComPointer<IStream> in(existing.Valid() ? HandleStream::Make(existing.Get()) : nullptr);
        if (in.Valid())
            persist->Load(in.Get());
    }
    shellLink->SetPath(target);
    if (description)
        shellLink->SetDescription(description);
    // Empty: the shell shows the target's own icon.
    shellLink->SetIconLocation(iconFile ? iconFile : L"", 0);
    if (arguments)
        shellLink->SetArguments(arguments);
    if (workingDir)
        shellLink->SetWorkingDirectory(workingDir);
    // Saved into the checked new file itself, never to a name that might
    // lead elsewhere by then.
    ReplacementFile file;
    if (!file.Create(linkPath))
        return false;
    ComPointer<IStream> out(HandleStream::Make(file.Handle()));
    if (!out.Valid() || FAILED(persist->Save(out.Get(), TRUE)))
        return false;
    out.Close();
    return file.Commit();
}

bool GetShellFolder(wchar_t* buffer, size_t capacity, int csidl)
{
    if (capacity >= MAX_PATH &&
        SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer) == S_OK)
        return true;
    if (capacity > 0)
        CopyStringCut(buffer, kUnknownFolder, capacity);
    return false;
}

bool ShellDeleteFolder(const wchar_t* path)
{
    // A junction is never followed: what it points at is not ours. Neither
    // is a folder reached through one, or a tree with a link in it.
    if (!IsFolderReachedDirectly(path) || !HoldsOnlyItsOwnEntries(path, 0))
        return true;
    // The source is a list ended by a second terminator. A path that does not
    // fit whole is left alone: a cut one names another folder.
    wchar_t source[kPathChars + 1];
    if (!CopyString(source, path, kPathChars))
        return true;
    source[wcslen(source) + 1] = 0;

    SHFILEOPSTRUCTW operation = {};
    operation.hwnd = nullptr;
    operation.wFunc = FO_DELETE;
    operation.pFrom = source;
    // No window of any kind: a silent run may be one nobody can see, and an
    // error box there would never be closed.
    operation.fFlags = FOF_NO_UI;
    SHFileOperationW(&operation);
    return !FileExists(path);
}
