// The list of installed files "Uninstall.lst", fuzzed through the deletion
// passes against a scratch installation folder. A canary tree beside the
// folder, some of it reached by file links from inside the folder, must come
// through every input unchanged: nothing outside the installation folder may
// be touched, whatever the list says.
#include <windows.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <share.h>
#include <string>
#include <vector>

#include "fuzz/fuzz_harness.h"
#include "removal/list_removal.h"
#include "support/host_links.h"
#include "support/plain_files.h"
#include "support/program_under_test.h"

namespace
{

const char kListFile[] = "listfile";
const uint32_t kFullCheckEvery = 64;

struct TreeItem
{
    std::wstring Path;
    DWORD Attributes;
    uint64_t Size;
    uint64_t Written;
    bool operator==(const TreeItem& other) const
    {
        return Path == other.Path && Attributes == other.Attributes && Size == other.Size &&
               Written == other.Written;
    }
};

void Snapshot(const std::wstring& folder, const std::wstring& relative, const std::wstring& skip,
              std::vector<TreeItem>& items)
{
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW((folder + relative + L"*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do
    {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L".." || relative + name == skip)
            continue;
        const uint64_t size = (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        const uint64_t written = (uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) |
                                 data.ftLastWriteTime.dwLowDateTime;
        const bool folderItem = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        // A folder's time moves with its contents; its contents are compared.
        items.push_back({relative + name, data.dwFileAttributes, size, folderItem ? 0 : written});
        if (folderItem)
            Snapshot(folder, relative + name + L"\\", skip, items);
    } while (FindNextFileW(search, &data));
    FindClose(search);
}

std::string Describe(const std::vector<TreeItem>& before, const std::vector<TreeItem>& after)
{
    std::string text;
    auto add = [&](const char* how, const TreeItem& item)
    {
        text += how;
        for (wchar_t c : item.Path)
            text += static_cast<char>(c < 128 ? c : '?');
        text += "; ";
    };
    for (const TreeItem& item : before)
    {
        bool same = false;
        for (const TreeItem& other : after)
            same = same || other == item;
        if (!same)
            add("changed or gone: ", item);
    }
    for (const TreeItem& item : after)
    {
        bool known = false;
        for (const TreeItem& other : before)
            known = known || other.Path == item.Path;
        if (!known)
            add("new: ", item);
    }
    return text;
}

// Files made anew before every input that needs it.
const wchar_t* const kInstallFiles[] = {
    L"uninstall.exe", L"Velnox.exe",          L"readme.txt",   L"ro.txt",
    L"hidden.dat",    L"Formats\\zip.fmt",    L"Lang\\de.lng", L"Lang\\sub\\x.txt",
    L"caf\u00e9.txt", L"name with spaces.txt"};
const wchar_t* const kInstallFolders[] = {L"Formats", L"Lang", L"Lang\\sub", L"empty"};

// Outside the installation folder, in the same parent.
const wchar_t* const kCanaryFiles[] = {
    L"canary\\keep.txt",      L"canary\\ro.txt", L"canary\\sub\\deep.txt", L"canary\\uninstall.exe",
    L"canary\\Uninstall.lst", L"outside.txt",    L"installed.txt"};
const wchar_t* const kCanaryFolders[] = {L"canary", L"canary\\sub", L"canary\\empty", L"install2"};

// File links in the installation folder (made through the host) to canaries.
struct FileLink
{
    const wchar_t* Name;
    const wchar_t* Target;
};
const FileLink kFileLinks[] = {{L"license.txt", L"canary\\keep.txt"},
                               {L"Lang\\ro_link.txt", L"canary\\ro.txt"},
                               {L"Formats\\out.fmt", L"outside.txt"}};

// The items of a snapshot whose state differs now (one query each; a full
// enumeration also finds new items, and runs less often).
std::vector<size_t> Changed(const std::wstring& folder, const std::vector<TreeItem>& items)
{
    std::vector<size_t> changed;
    for (size_t i = 0; i < items.size(); i++)
    {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExW((folder + items[i].Path).c_str(), GetFileExInfoStandard, &data))
        {
            changed.push_back(i);
            continue;
        }
        const bool folderItem = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const uint64_t size = (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        const uint64_t written = (uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) |
                                 data.ftLastWriteTime.dwLowDateTime;
        if (data.dwFileAttributes != items[i].Attributes || size != items[i].Size ||
            (!folderItem && written != items[i].Written))
            changed.push_back(i);
    }
    return changed;
}

bool MakeFile(const std::wstring& path, DWORD attributes)
{
    return WriteBytes(path, "data") &&
           (attributes == 0 || SetFileAttributesW(path.c_str(), attributes));
}

DWORD AttributesFor(const wchar_t* name)
{
    const std::wstring text = name;
    if (text.find(L"ro.txt") != std::wstring::npos)
        return FILE_ATTRIBUTE_READONLY;
    if (text.find(L"hidden") != std::wstring::npos)
        return FILE_ATTRIBUTE_HIDDEN;
    return 0;
}

class ListTarget
{
public:
    ListTarget() : Scratch(L"fuzzlst"), Root(Scratch.Path() + L"\\")
    {
        Install = Root + L"install\\";
        for (const wchar_t* folder : kCanaryFolders)
            CreateDirectoryW((Root + folder).c_str(), nullptr);
        for (const wchar_t* file : kCanaryFiles)
            MakeFile(Root + file, AttributesFor(file));
        Snapshot(Root, L"", L"install", Canary);
        RebuildInstall();
    }
    ~ListTarget()
    {
        if (ListHandle != INVALID_HANDLE_VALUE)
            CloseHandle(ListHandle);
        // Removing the tree would delete the links' targets under Wine.
        Links.RemoveAll();
        RemoveTree(Root + L"install");
        for (const TreeItem& item : Canary)
            SetFileAttributesW((Root + item.Path).c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    const std::wstring& RootPath() const { return Root; }
    bool Ready() const { return Canary.size() >= ARRAYSIZE(kCanaryFiles) && LinksMade; }
    int Restarts = 0;

    void Run(const std::string& bytes, uint32_t index)
    {
        BeginInput(kListFile, index, bytes);
        FILE* file = OpenList(bytes);
        if (file == nullptr)
        {
            ADD_FAILURE() << kListFile << " input " << index << ": list not opened";
            return;
        }
        const ListRemoval removal =
            RemoveListedFiles(file, PlaceText(FolderBlock, Install),
                              PlaceText(ProgramBlock, Install + L"uninstall.exe"));
        std::fclose(file);
        if (removal.RestartNeeded)
        {
            Restarts++;
            SaveFinding(kListFile, index, "restart", bytes);
        }

        if (!Changed(Root, Canary).empty() || index % kFullCheckEvery == 0)
            CheckCanaryTree(index, bytes);
        Restore();
        EndInput();
    }

    // Every item of the canary tree as it was, and nothing new in it.
    void CheckCanaryTree(uint32_t index, const std::string& bytes)
    {
        std::vector<TreeItem> now;
        Snapshot(Root, L"", L"install", now);
        if (!(now == Canary))
        {
            ADD_FAILURE() << kListFile << " input " << index
                          << ": outside the installation folder: " << Describe(Canary, now);
            SaveFinding(kListFile, index, "canary", bytes);
        }
    }

private:
    // The list rewritten through one handle kept open (much cheaper under
    // Wine than a new file per input) and handed over as its own stream. Like
    // the program's own stream it does not let the list be deleted.
    FILE* OpenList(const std::string& bytes)
    {
        if (ListHandle == INVALID_HANDLE_VALUE)
            ListHandle =
                CreateFileW((Install + L"Uninstall.lst").c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        HANDLE reader = nullptr;
        if (ListHandle == INVALID_HANDLE_VALUE ||
            SetFilePointer(ListHandle, 0, nullptr, FILE_BEGIN) != 0 ||
            (!bytes.empty() &&
             !WriteFile(ListHandle, bytes.data(), DWORD(bytes.size()), &written, nullptr)) ||
            !SetEndOfFile(ListHandle) || SetFilePointer(ListHandle, 0, nullptr, FILE_BEGIN) != 0 ||
            !DuplicateHandle(GetCurrentProcess(), ListHandle, GetCurrentProcess(), &reader,
                             GENERIC_READ, FALSE, 0))
            return nullptr;
        const int descriptor =
            _open_osfhandle(reinterpret_cast<intptr_t>(reader), _O_RDONLY | _O_BINARY);
        if (descriptor < 0)
        {
            CloseHandle(reader);
            return nullptr;
        }
        FILE* stream = _fdopen(descriptor, "rb");
        if (stream == nullptr)
            _close(descriptor);
        return stream;
    }

    // Puts back what the input removed or changed, parents first.
    void Restore()
    {
        for (size_t i : Changed(Install, InstallTree))
        {
            TreeItem& item = InstallTree[i];
            const std::wstring path = Install + item.Path;
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (item.Attributes & FILE_ATTRIBUTE_DIRECTORY)
                CreateDirectoryW(path.c_str(), nullptr);
            else
                MakeFile(path, 0);
            SetFileAttributesW(path.c_str(), item.Attributes);
            WIN32_FILE_ATTRIBUTE_DATA data;
            if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
                item.Written = (uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) |
                               data.ftLastWriteTime.dwLowDateTime;
        }
    }

    void RebuildInstall()
    {
        RemoveTree(Root + L"install");
        CreateDirectoryW(Install.c_str(), nullptr);
        for (const wchar_t* folder : kInstallFolders)
            CreateDirectoryW((Install + folder).c_str(), nullptr);
        for (const wchar_t* file : kInstallFiles)
            MakeFile(Install + file, AttributesFor(file));
        LinksMade = true;
        for (const FileLink& link : kFileLinks)
            LinksMade &= Links.Make(UnixName(Root + link.Target), UnixName(Install + link.Name),
                                    Install + link.Name);
        InstallTree.clear();
        Snapshot(Install, L"", L"Uninstall.lst", InstallTree);
    }

    ScratchDir Scratch;
    std::wstring Root;
    std::wstring Install;
    std::vector<TreeItem> Canary;
    std::vector<TreeItem> InstallTree;
    HANDLE ListHandle = INVALID_HANDLE_VALUE;
    LinuxLinks Links;
    bool LinksMade = false;
    GuardedBlock FolderBlock{16384};
    GuardedBlock ProgramBlock{16384};
};

std::wstring ShortForm(const std::wstring& path)
{
    wchar_t shortPath[MAX_PATH * 2] = {0};
    const DWORD length = GetShortPathNameW(path.c_str(), shortPath, MAX_PATH * 2);
    return length > 0 && length < MAX_PATH * 2 ? std::wstring(shortPath) : path;
}

std::string MakeListInput(Rng& rng, const std::wstring& root)
{
    static std::vector<std::wstring> seeds;
    static std::vector<std::wstring> tokens;
    if (seeds.empty())
    {
        const std::wstring absolute = root + L"canary";
        const std::wstring shortRoot = ShortForm(root);
        seeds = {
            L"uninstall.exe\r\nVelnox.exe\r\nreadme.txt\r\nFormats\\zip.fmt\r\nFormats\r\n"
            L"Lang\\de.lng\r\nLang\\sub\\x.txt\r\nLang\\sub\r\nLang\r\nempty\r\nro.txt\r\n"
            L"hidden.dat\r\ncaf\u00e9.txt\r\nname with spaces.txt\r\nUninstall.lst\r\n"
            L"license.txt\r\nLang\\ro_link.txt\r\nFormats\\out.fmt\r\n",
            L"Formats\nFormats\\zip.fmt\nLang\nLang\\sub\nLang\\sub\\x.txt\nLang\\de.lng\n",
            L"readme.txt  \t\r\n  ro.txt\r\n\r\n\r\nFormats/zip.fmt\r\n.\\Velnox.exe\r\n",
            L"..\\canary\\keep.txt\r\n..\\canary\r\n\\canary\r\nC:..\\canary\\keep.txt\r\n" +
                absolute + L"\\keep.txt\r\n\\\\?\\" + absolute +
                L"\\ro.txt\r\n"
                L"Formats\\..\\..\\canary\\keep.txt\r\n. .\\canary\r\n...\\canary\\keep.txt\r\n"
                L"Lang/../../canary/sub/deep.txt\r\n\\\\.\\" +
                absolute + L"\r\n..\r\n.\r\n" + shortRoot +
                L"outside.txt\r\n..\\install2\r\n..\\installed.txt\r\n",
            L"NUL\r\nCON\r\nCOM1\r\nLPT1\r\nAUX\r\nCONIN$\r\nreadme.txt:stream\r\n*\r\n?.txt\r\n",
        };
        tokens = {L"..\\",    L"../",       L"\\",     L"/",       L":",
                  L"canary",  absolute,     shortRoot, L"\\\\?\\", L"\\\\.\\",
                  L"..",      L" .",        L". ",     L"\t",      L"\r\n",
                  L"\n",      L"\r",        L"NUL",    L"COM1",    L"::$DATA",
                  L"~1",      L"Formats\\", L"C:",     L"Z:\\",    L"\\\\server\\share\\",
                  L"install", L"\u00e9",    L"%s",     L"%d",      L"\x1A",
                  L"license.txt", L"ro_link.txt", L"out.fmt"};
    }
    static const std::vector<size_t> lengths = {255, 256, 260, 2045, 2046, 2047, 2048, 2049, 4095};
    static const std::vector<size_t> fileLengths = {2047, 2048, 4095, 4096, 4097};
    const MutationPlan plan = {&seeds, &tokens, &lengths};
    const std::wstring text = MutateText(rng, plan);
    const uint32_t pick = rng.Below(10);
    const FileEncoding encoding = pick < 7   ? FileEncoding::Ansi
                                  : pick < 8 ? FileEncoding::Utf8Mark
                                             : FileEncoding::Utf16Mark;
    std::string bytes = EncodeText(text, encoding);
    MutateBytes(rng, bytes, fileLengths);
    return bytes;
}

} // namespace

TEST(FuzzListFile, PassesStayInsideTheFolder)
{
    ListTarget target;
    ASSERT_TRUE(target.Ready()) << "the canary tree could not be made";
    RunFuzz(
        kListFile, 0x6c7374, [&](Rng& rng) { return MakeListInput(rng, target.RootPath()); },
        [&](const std::string& bytes, uint32_t i) { target.Run(bytes, i); });
    target.CheckCanaryTree(Settings().Inputs, std::string());
    // Nothing in the scratch folder is in use: a restart scheduled means a
    // device or another spelling of the list or the program got through.
    EXPECT_EQ(0, target.Restarts);
}

TEST(FuzzListFile, Regressions)
{
    ListTarget target;
    ASSERT_TRUE(target.Ready());
    ReplayRegressions(kListFile, [&](const std::string& bytes) { target.Run(bytes, 0); });
    target.CheckCanaryTree(0, std::string());
    EXPECT_EQ(0, target.Restarts);
}
