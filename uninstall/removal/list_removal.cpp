#include "removal/list_removal.h"

#include <windows.h>

#include <io.h>

#include <cstdint>
#include <cwchar>

#include "common/dyn_array.h"
#include "common/handles.h"
#include "common/strings.h"
#include "files/file_system.h"
#include "files/path_names.h"
#include "removal/contained_removal.h"
#include "removal/list_entries.h"
#include "run/run_log.h"

namespace
{

// Files told apart by what they are, whatever name reaches them: those the
// removal has settled (a file in use scheduled, or told as staying, once, not
// in every pass), and the program and the list, which are never moved.
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

// The folders from a scheduled file's up to the program's own: at the
// restart they go after the files they held, deepest first, each only when
// it is empty by then.
class FoldersForRestart
{
public:
    // rootLength counts the program's folder with its end slash.
    explicit FoldersForRestart(size_t rootLength) : rootLength_(rootLength) {}

    void AddFoldersOf(const wchar_t* fullName)
    {
        wchar_t folder[kEntryChars];
        if (!CopyString(folder, fullName))
            return;
        for (size_t length = wcslen(folder); length > 0; --length)
        {
            if (!IsPathSeparator(folder[length - 1]))
                continue;
            folder[length - 1] = 0;
            // A drive root is never scheduled; nor is anything above the
            // program's folder.
            if (length < rootLength_ || length < 2 || folder[length - 2] == L':')
                break;
            if (!Holds(folder))
                folders_.AddString(folder);
        }
    }

    void Schedule()
    {
        int deepest = 0;
        const wchar_t* name = nullptr;
        for (folders_.Rewind(); folders_.NextString(&name);)
            deepest = Depth(name) > deepest ? Depth(name) : deepest;
        for (int depth = deepest; depth > 0; --depth)
            for (folders_.Rewind(); folders_.NextString(&name);)
                if (Depth(name) == depth &&
                    MoveFileExW(name, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
                    LogLine(L"folder deleted at the next restart once empty: %s", name);
    }

private:
    static int Depth(const wchar_t* name)
    {
        int separators = 0;
        for (; *name; ++name)
            separators += IsPathSeparator(*name) ? 1 : 0;
        return separators;
    }
    bool Holds(const wchar_t* folder)
    {
        const wchar_t* name = nullptr;
        for (folders_.Rewind(); folders_.NextString(&name);)
            if (CompareNoCase(name, folder) == 0)
                return true;
        return false;
    }

    size_t rootLength_;
    StringList folders_;
};

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
    // Files in use already dealt with: scheduled for the restart, or told
    // as staying; each only once, whatever name reaches it again.
    KnownFiles settled;
    FoldersForRestart folders(rootLength);
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
            {
                if (result.Passes == 1)
                    LogLine(L"passed over: \"%s\" names something outside the folder", entry);
                continue;
            }
            // Removing a linked folder may remove the folder it points at.
            const DWORD attributes = GetFileAttributesW(fullName);
            if (attributes == INVALID_FILE_ATTRIBUTES || IsLinkToElsewhere(fullName, attributes))
            {
                if (result.Passes == 1 && attributes != INVALID_FILE_ATTRIBUTES)
                    LogLine(L"passed over: %s is a link", fullName);
                continue;
            }
            ContainedEntry item(inside, fullName);
            if (item.Delete())
            {
                ++removed;
                LogLine(L"deleted %s", fullName);
            }
            else if (item.GetState() == ContainedEntry::Stays)
            {
                // Its deletion waits for another process: it is not gone,
                // and counting it as removed would run pass after pass.
                if (!settled.Holds(item.Identity()))
                {
                    ++result.Unremovable;
                    settled.Add(item.Identity());
                    LogLine(L"left: %s goes only when another program closes it", fullName);
                }
            }
            else if ((item.GetState() == ContainedEntry::Deletable ||
                      item.GetState() == ContainedEntry::InUse) &&
                     !item.IsFolder() && !IsProtectedName(fullName, programPath) &&
                     !kept.Holds(item.Identity()) && !settled.Holds(item.Identity()))
            {
                // Scheduled, or told as left, once, whatever later passes see.
                const bool restart = item.ScheduleForRestart();
                if (!restart && item.GetState() != ContainedEntry::Stays)
                    continue;
                result.RestartNeeded |= restart;
                result.Unremovable += restart ? 0 : 1;
                LogLine(restart ? L"in use, moved aside and deleted at the next restart: %s"
                                : L"left: %s is in use and can be neither deleted nor moved",
                        fullName);
                settled.Add(item.Identity());
                if (restart)
                    folders.AddFoldersOf(fullName);
            }
        }
        result.Removed += removed;
        if (removed == 0 || !entries.Rewind())
            break;
    }
    result.ReadFailed = entries.Failed();
    // Scheduled whatever else stays: a folder that still holds anything at
    // the restart is left alone there, and one emptied by a later run goes.
    folders.Schedule();
    return result;
}
