// What a whole setup run leaves behind, from a separate process: the
// registry before and after (classes, machine and user software keys, both
// views on 64-bit Windows) compared with the exact set of entries the chosen
// integration calls for, the shortcut files with their targets, and what the
// shell was asked to open. Links are made in shell folders of this prefix.
#include <windows.h>

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "endtoend/setup_dialogs.h"
#include "localization/lng_fixtures.h"
#include "resources/resource.h"
#include "settings/settings_fixtures.h"
#include "support/program_under_test.h"
#include "support/registry_snapshot.h"
#include "support/shell_sandbox.h"
#include "tools/shell_recorder.h"

namespace
{

const wchar_t kClsid32[] = L"{6F2C1A40-5A17-4E59-A1C8-2B9E7D04F513}";
const wchar_t kClsid64[] = L"{6F2C1A40-3D7B-4E59-A1C8-2B9E7D04F513}";
const wchar_t* const kExtensions[] = {
    L".vnx", L".zip", L".cab", L".arj", L".lz",  L".tlz", L".lzh", L".lha",  L".7z",
    L".tar", L".gz",  L".tgz", L".uue", L".xxe", L".uu",  L".bz2", L".tbz2", L".bz",
    L".tbz", L".jar", L".iso", L".z",   L".taz", L".xz",  L".txz", L".zipx", L".001"};
const wchar_t* const kRowKeys[] = {L".vnx", L".zip", L".cab", L".arj",  L".lz",  L".lzh",
                                   L".7z",  L".tar", L".gz",  L".uue",  L".bz2", L".jar",
                                   L".iso", L".z",   L".xz",  L".zipx", L".001"};
const wchar_t* const kMenuItems[] = {
    L"ExtrTo",   L"ExtrHere",   L"Extr",     L"ExtrSep",  L"OpenSFX", L"OpenArc",
    L"AddTo",    L"AddArc",     L"EmailArc", L"EmailOpt", L"Test",    L"Convert",
    L"SFXLocal", L"SFXNetwork", L"SFXOther", L"DragAdd",  L"DragExtr"};

std::wstring Upper(std::wstring text)
{
    if (!text.empty())
        CharUpperBuffW(&text[0], DWORD(text.size()));
    return text;
}

// Data as the snapshot shows it.
std::wstring Text(const std::wstring& text)
{
    std::wstring quoted = L"REG_SZ \"";
    for (wchar_t c : text)
    {
        if (c == L'"' || c == L'\\')
            quoted += L'\\';
        quoted += c;
    }
    return quoted + L"\"";
}
std::wstring Number(DWORD value)
{
    wchar_t text[32];
    swprintf(text, 32, L"REG_DWORD 0x%08lx", static_cast<unsigned long>(value));
    return text;
}

// One registry area read at one moment.
struct Area
{
    HKEY Root;
    std::wstring Path;
    REGSAM View;
};

bool IsOneOf(const std::wstring& name, std::initializer_list<const wchar_t*> names)
{
    for (const wchar_t* other : names)
        if (lstrcmpiW(name.c_str(), other) == 0)
            return true;
    return false;
}

// The registry read area by area: the classes and the machine software key
// by key below their tops, so that nothing is read twice (the machine's
// classes are HKCR, the 32-bit node has its own view). The tables of COM
// classes, interfaces and type libraries hold most of the registry; of them
// only the program's own two class IDs are read.
class RegistryState
{
public:
    void Take()
    {
        Parts.clear();
        Areas.clear();
        const bool win64 = IsWin64Prefix();
        for (const std::wstring& name : Subkeys(HKEY_CLASSES_ROOT, L"", 0))
            if (!IsOneOf(name, {L"CLSID", L"Interface", L"TypeLib", L"Wow6432Node"}))
                Add(L"HKCR\\" + name, {HKEY_CLASSES_ROOT, name, 0});
        for (const wchar_t* clsid : {kClsid32, kClsid64})
        {
            const std::wstring key = std::wstring(L"CLSID\\") + clsid;
            Add(L"HKCR\\" + key, {HKEY_CLASSES_ROOT, key, 0});
            if (win64)
                Add(L"HKCR64\\" + key, {HKEY_CLASSES_ROOT, key, KEY_WOW64_64KEY});
        }
        Add(L"HKCU\\Software", {HKEY_CURRENT_USER, L"Software", 0});
        for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_64KEY)})
        {
            if (view != 0 && !win64)
                continue;
            for (const std::wstring& name : Subkeys(HKEY_LOCAL_MACHINE, L"Software", view))
                if (!IsOneOf(name, {L"Classes", L"Wow6432Node"}))
                    Add((view ? L"HKLM64\\Software\\" : L"HKLM\\Software\\") + name,
                        {HKEY_LOCAL_MACHINE, L"Software\\" + name, view});
        }
    }

    // By label in upper case; each snapshot carries its label as written.
    std::map<std::wstring, Area> Areas;
    std::map<std::wstring, RegistrySnapshot> Parts;

private:
    void Add(const std::wstring& label, const Area& area)
    {
        Areas[Upper(label)] = area;
        Parts[Upper(label)] =
            TakeRegistrySnapshot(area.Root, area.Path.c_str(), area.View, label.c_str());
    }
};

struct Change
{
    std::wstring Label;
    Area Where;
    RegistryDifference Difference;
};

// Areas found only before or only after compare with an empty one.
std::vector<Change> Differences(const RegistryState& before, const RegistryState& after)
{
    std::vector<Change> changes;
    std::set<std::wstring> labels;
    for (const auto& part : before.Parts)
        labels.insert(part.first);
    for (const auto& part : after.Parts)
        labels.insert(part.first);
    for (const std::wstring& label : labels)
    {
        auto b = before.Parts.find(label);
        auto a = after.Parts.find(label);
        const bool inAfter = a != after.Parts.end();
        RegistrySnapshot none;
        none.Label = inAfter ? a->second.Label : b->second.Label;
        const Area where = inAfter ? after.Areas.at(label) : before.Areas.at(label);
        for (const RegistryDifference& difference : CompareRegistrySnapshots(
                 b != before.Parts.end() ? b->second : none, inAfter ? a->second : none))
            changes.push_back({none.Label, where, difference});
    }
    return changes;
}

std::wstring Joined(const std::wstring& label, const std::wstring& key)
{
    return key.empty() ? label : label + L"\\" + key;
}

// The values a run must leave, by "label\key[name]" in upper case, with their
// data as the snapshot shows it. A new key is expected only on the way to one.
class ExpectedRegistry
{
public:
    void Value(const std::wstring& key, const std::wstring& name, const std::wstring& data)
    {
        Values[Upper(key) + L"[" + Upper(name) + L"]"] = data;
        std::wstring k = Upper(key);
        for (;;)
        {
            Keys.insert(k);
            const size_t cut = k.rfind(L'\\');
            if (cut == std::wstring::npos)
                break;
            k.resize(cut);
        }
    }
    void Default(const std::wstring& key, const std::wstring& data) { Value(key, L"", data); }

    // Every change is expected, and every expected value is there with its
    // data; one line per fault.
    std::vector<std::string> Check(const RegistryState& before, const RegistryState& after) const
    {
        std::vector<std::string> faults;
        for (const Change& change : Differences(before, after))
        {
            const RegistryEntry& entry = change.Difference.Entry();
            const std::wstring key = Upper(Joined(change.Label, entry.Key));
            if (IsWineState(key))
                continue;
            bool fine = false;
            if (change.Difference.What != RegistryDifference::Removed)
            {
                if (!entry.IsValue)
                    fine = Keys.count(key) != 0;
                else
                {
                    const std::wstring id = key + L"[" + Upper(entry.Name) + L"]";
                    auto expected = Values.find(id);
                    const RegistryEntry& now = change.Difference.After;
                    fine = expected != Values.end() &&
                           expected->second == TypeName(now.Type) + L" " + now.Data;
                }
            }
            if (!fine)
                faults.push_back("unexpected: " +
                                 WideToUtf8(DescribeDifference(change.Difference, change.Label)));
        }
        for (const auto& value : Values)
            if (!Holds(after, value.first, value.second))
                faults.push_back("missing: " + WideToUtf8(value.first) + " = " +
                                 WideToUtf8(value.second));
        return faults;
    }

private:
    // Settings the system keeps for any process that starts, not the program's.
    static bool IsWineState(const std::wstring& key)
    {
        const std::wstring wine = L"HKCU\\SOFTWARE\\WINE\\TEMPORARY SYSTEM PARAMETERS";
        return key.compare(0, wine.size(), wine) == 0;
    }
    static std::wstring TypeName(DWORD type)
    {
        return type == REG_SZ ? L"REG_SZ" : type == REG_DWORD ? L"REG_DWORD" : L"type";
    }
    // Looked up in the reading of the area that holds the key.
    static bool Holds(const RegistryState& state, const std::wstring& id, const std::wstring& data)
    {
        const size_t open = id.rfind(L'[');
        const std::wstring key = id.substr(0, open);
        const std::wstring name = id.substr(open + 1, id.size() - open - 2);
        for (size_t cut = key.size(); cut != std::wstring::npos && cut > 0;
             cut = key.rfind(L'\\', cut - 1))
        {
            auto part = state.Parts.find(key.substr(0, cut));
            if (part == state.Parts.end())
                continue;
            const std::wstring relative = cut == key.size() ? L"" : key.substr(cut + 1);
            auto found = part->second.Entries.find(relative + L'\x01' + name);
            return found != part->second.Entries.end() &&
                   TypeName(found->second.Type) + L" " + found->second.Data == data;
        }
        return false;
    }

    std::map<std::wstring, std::wstring> Values;
    std::set<std::wstring> Keys;
};

// Puts the registry back as it was before: what was added goes, what was
// changed gets its old text or number again.
void Restore(const RegistryState& before, const RegistryState& after)
{
    std::vector<Change> changes = Differences(before, after);
    // Deepest first, so a key is empty when its turn comes.
    std::sort(changes.begin(), changes.end(),
              [](const Change& a, const Change& b)
              { return a.Difference.Entry().Key.size() > b.Difference.Entry().Key.size(); });
    for (const Change& change : changes)
    {
        const RegistryEntry& entry = change.Difference.Entry();
        std::wstring path = change.Where.Path;
        if (!entry.Key.empty())
            path = path.empty() ? entry.Key : path + L"\\" + entry.Key;
        const REGSAM view = change.Where.View;
        if (!entry.IsValue)
        {
            if (change.Difference.What == RegistryDifference::Added)
                RemoveRegistryTree(change.Where.Root, path, view);
            continue;
        }
        HKEY key = nullptr;
        if (RegOpenKeyExW(change.Where.Root, path.c_str(), 0, KEY_SET_VALUE | view, &key) !=
            ERROR_SUCCESS)
            continue;
        const wchar_t* name = entry.Name.empty() ? nullptr : entry.Name.c_str();
        if (change.Difference.What == RegistryDifference::Added)
            RegDeleteValueW(key, name);
        else if (entry.Type == REG_DWORD)
        {
            const DWORD number = wcstoul(change.Difference.Before.Data.c_str(), nullptr, 16);
            RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4);
        }
        else
        {
            // Quoted with backslash escapes, as the snapshot shows text.
            const std::wstring& shown = change.Difference.Before.Data;
            std::wstring text;
            for (size_t i = 1; i + 1 < shown.size(); ++i)
                text += shown[i] == L'\\' ? shown[++i] : shown[i];
            RegSetValueExW(key, name, 0, change.Difference.Before.Type,
                           reinterpret_cast<const BYTE*>(text.c_str()),
                           DWORD((text.size() + 1) * sizeof(wchar_t)));
        }
        RegCloseKey(key);
    }
}

// What setups run earlier in this prefix left (other tests run them too):
// without this, the runs here would be second setups over an old one.
void RemoveEarlierSetups()
{
    for (const std::wstring& name : Subkeys(HKEY_CLASSES_ROOT, L"", 0))
    {
        const std::wstring owner = RawString(HKEY_CLASSES_ROOT, name.c_str(), nullptr);
        if (name[0] == L'.' && IsOneOf(owner, {L"Velnox", L"Velnox.ZIP", L"Velnox.REV"}))
            RemoveRegistryTree(HKEY_CLASSES_ROOT, name, 0);
    }
    const std::vector<REGSAM> views = Views(IsWin64Prefix());
    for (const wchar_t* name : {L"Velnox", L"Velnox.ZIP", L"Velnox.REV"})
        RemoveRegistryTree(HKEY_CLASSES_ROOT, name, 0);
    for (const wchar_t* clsid : {kClsid32, kClsid64})
    {
        for (REGSAM view : views)
            RemoveRegistryTree(HKEY_CLASSES_ROOT, std::wstring(L"CLSID\\") + clsid, view);
        RemoveRegistryTree(HKEY_CLASSES_ROOT,
                           std::wstring(L"exefile\\shellex\\PropertySheetHandlers\\") + clsid, 0);
        RawDeleteValue(HKEY_LOCAL_MACHINE,
                       L"Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved",
                       clsid);
    }
    for (const wchar_t* handlers :
         {L"*\\shellex\\ContextMenuHandlers\\", L"Folder\\shellex\\ContextMenuHandlers\\",
          L"Folder\\shellex\\DragDropHandlers\\", L"Drive\\shellex\\DragDropHandlers\\",
          L"lnkfile\\shellex\\ContextMenuHandlers\\", L"Directory\\shellex\\ContextMenuHandlers\\",
          L"Directory\\shellex\\DragDropHandlers\\"})
        for (const wchar_t* name : {L"Velnox", L"Velnox32"})
            RemoveRegistryTree(HKEY_CLASSES_ROOT, std::wstring(handlers) + name, 0);
    for (REGSAM view : views)
    {
        RemoveRegistryTree(HKEY_LOCAL_MACHINE,
                           L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Velnox.exe",
                           view);
        RemoveRegistryTree(HKEY_LOCAL_MACHINE, L"Software\\Velnox", view);
    }
    RawDeleteValue(HKEY_LOCAL_MACHINE, L"Software\\RegisteredApplications", L"Velnox");
    RemoveRegistryTree(HKEY_LOCAL_MACHINE,
                       L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velnox archiver",
                       0);
    RemoveRegistryTree(HKEY_CURRENT_USER, L"Software\\Velnox", 0);
}

// The target of a shortcut file, or "missing".
std::wstring LinkTarget(const std::wstring& path)
{
    std::wstring target = L"missing";
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link))))
        return L"no link object";
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))))
    {
        wchar_t found[MAX_PATH] = L"";
        if (SUCCEEDED(file->Load(path.c_str(), STGM_READ)) &&
            SUCCEEDED(link->GetPath(found, MAX_PATH, nullptr, SLGP_RAWPATH)))
            target = found;
        file->Release();
    }
    link->Release();
    return target;
}

// The names of the files in a folder, in capitals.
std::vector<std::wstring> UpperFilesIn(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    for (const std::wstring& name : FilesIn(folder))
        names.push_back(Upper(name));
    std::sort(names.begin(), names.end());
    return names;
}

class SetupOutcome : public testing::Test, public ProgramCopy
{
protected:
    SetupOutcome() : ProgramCopy(L"install") {}
    static void SetUpTestSuite()
    {
        Sandbox.Enter(L"vnx_setup_desktop");
        Shell = new ShellRecorder;
        RemoveEarlierSetups();
        // One reading before any setup serves every test: each puts back what
        // its runs changed.
        Pristine = new RegistryState;
        Pristine->Take();
    }
    static void TearDownTestSuite()
    {
        delete Pristine;
        delete Shell;
        Sandbox.Leave();
    }
    void SetUp() override
    {
        OleInitialize(nullptr);
        Shell->Forget();
        ASSERT_TRUE(Ready());
        for (const wchar_t* name : {L"Velnox.exe", L"vnxext.dll", L"vnxext64.dll", L"Velnox.chm",
                                    L"Vnx.txt", L"license.txt"})
            WriteBytes(Folder / name, "x");
        WriteBytes(Folder / Message(MSG_LINK_FOURTH_FILE).c_str(), "x");
        for (const wchar_t* extension : {L".vnx", L".zip"})
            Owners[extension] = RawString(HKEY_CLASSES_ROOT, extension, nullptr);
    }
    void TearDown() override
    {
        // The last reading serves while nothing ran since and all went well.
        if (!AfterIsCurrent || HasFailure())
            After.Take();
        Restore(Before, After);
        RemoveLinks();
        SetEnvironmentVariableW(L"sfxname", nullptr);
        OleUninitialize();
    }
    static void RemoveLinks()
    {
        for (int csidl : {CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_DESKTOPDIRECTORY,
                          CSIDL_COMMON_STARTMENU, CSIDL_STARTMENU})
            DeleteFileW((ShellFolder(csidl) + L"\\Velnox.lnk").c_str());
        for (int csidl : {CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS})
            RemoveTree(ShellFolder(csidl) + L"\\Velnox");
    }
    bool Start(ChildProcess& child, const wchar_t* options)
    {
        return ProgramCopy::Start(child, L"/setup " + std::wstring(options));
    }

    // All the registry holds after a setup with rows ".vnx" and ".zip", the
    // shell extension and every link, as the chosen integration calls for it.
    ExpectedRegistry Expected(bool cascaded)
    {
        const std::wstring folder = Folder.Path() + L"\\";
        const std::wstring archiver = folder + L"Velnox.exe";
        const std::wstring command = L"\"" + archiver + L"\" \"%1\"";
        const bool win64 = IsWin64Prefix();
        ExpectedRegistry e;

        const std::wstring classes[][3] = {{L"Velnox", Message(MSG_TYPE_VELNOX), L",0"},
                                           {L"Velnox.ZIP", Message(MSG_TYPE_ZIP), L",0"},
                                           {L"Velnox.REV", Message(MSG_TYPE_REV), L",1"}};
        for (const auto& c : classes)
        {
            e.Default(L"HKCR\\" + c[0], Text(c[1]));
            e.Default(L"HKCR\\" + c[0] + L"\\shell\\open\\command", Text(command));
            e.Default(L"HKCR\\" + c[0] + L"\\DefaultIcon", Text(archiver + c[2]));
        }
        e.Default(L"HKCR\\.rev", Text(L"Velnox.REV"));
        e.Default(L"HKCR\\.vnx", Text(L"Velnox"));
        e.Value(L"HKCR\\.vnx\\ShellNew", L"FileName", Text(folder + L"vnxnew.dat"));
        e.Default(L"HKCR\\.zip", Text(L"Velnox.ZIP"));
        e.Value(L"HKCR\\.zip\\ShellNew", L"FileName", Text(folder + L"zipnew.dat"));
        for (int n = 0; n < 30; ++n)
        {
            wchar_t volume[8];
            swprintf(volume, 8, L".v%02d", n);
            e.Default(std::wstring(L"HKCR\\") + volume, Text(L"Velnox"));
        }

        struct Library
        {
            const wchar_t *Clsid, *File, *Handler, *ClassRoot;
        };
        std::vector<Library> libraries = {
            {kClsid32, L"vnxext.dll", win64 ? L"Velnox32" : L"Velnox", L"HKCR\\CLSID\\"}};
        if (win64)
            libraries.push_back({kClsid64, L"vnxext64.dll", L"Velnox", L"HKCR64\\CLSID\\"});
        const wchar_t* approved =
            L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
        for (const Library& library : libraries)
        {
            const std::wstring clsid = library.Clsid;
            e.Default(library.ClassRoot + clsid, Text(L"Velnox"));
            e.Default(library.ClassRoot + clsid + L"\\InProcServer32", Text(folder + library.File));
            e.Value(library.ClassRoot + clsid + L"\\InProcServer32", L"ThreadingModel",
                    Text(L"Apartment"));
            for (const wchar_t* key : {L"Velnox\\shellex\\ContextMenuHandlers\\",
                                       L"Velnox\\shellex\\PropertySheetHandlers\\",
                                       L"Velnox.ZIP\\shellex\\ContextMenuHandlers\\",
                                       L"Velnox.ZIP\\shellex\\PropertySheetHandlers\\",
                                       L"exefile\\shellex\\PropertySheetHandlers\\"})
                e.Default(L"HKCR\\" + std::wstring(key) + clsid, Text(L""));
            for (const wchar_t* key :
                 {L"*\\shellex\\ContextMenuHandlers\\", L"Folder\\shellex\\ContextMenuHandlers\\",
                  L"Folder\\shellex\\DragDropHandlers\\", L"Drive\\shellex\\DragDropHandlers\\",
                  L"lnkfile\\shellex\\ContextMenuHandlers\\"})
                e.Default(L"HKCR\\" + std::wstring(key) + library.Handler, Text(clsid));
            e.Value(approved, clsid, Text(L"Velnox shell extension"));
        }
        // The library registered last holds the drop handlers.
        for (const wchar_t* key :
             {L"Velnox\\shellex\\DropHandler", L"Velnox.ZIP\\shellex\\DropHandler"})
            e.Default(L"HKCR\\" + std::wstring(key), Text(libraries.back().Clsid));

        for (const wchar_t* view : {L"HKLM", L"HKLM64"})
        {
            if (!win64 && view[4] != 0)
                continue;
            const std::wstring appPath = std::wstring(view) +
                                         L"\\Software\\Microsoft\\Windows\\CurrentVersion\\"
                                         L"App Paths\\Velnox.exe";
            e.Default(appPath, Text(archiver));
            e.Value(appPath, L"Path", Text(Folder.Path()));
        }
        e.Value(L"HKLM\\Software\\Velnox", L"exe32", Text(archiver));
        e.Value(L"HKLM\\Software\\RegisteredApplications", L"Velnox",
                Text(L"Software\\Velnox\\Capabilities"));
        e.Value(L"HKLM\\Software\\Velnox\\Capabilities", L"ApplicationDescription",
                Text(L"Velnox"));
        for (const wchar_t* extension : kExtensions)
            e.Value(L"HKLM\\Software\\Velnox\\Capabilities\\FileAssociations", extension,
                    Text(lstrcmpW(extension, L".zip") == 0 ? L"Velnox.ZIP" : L"Velnox"));

        const std::wstring entry =
            L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velnox archiver";
        wchar_t version[64];
        swprintf(version, 64, L"%d.%02d", VNX_VERSION_MAJOR, VNX_VERSION_MINOR);
        e.Value(entry, L"DisplayName",
                Text(L"Velnox " + std::wstring(version) + L" " + Message(MSG_VERSION_LABEL) + L" " +
                     std::to_wstring(VNX_VERSION_BUILD) + L" (" + Message(MSG_NAME_SUFFIX) + L")"));
        e.Value(entry, L"DisplayVersion",
                Text(std::wstring(version) + L"." + std::to_wstring(VNX_VERSION_BUILD)));
        e.Value(entry, L"VersionMajor", Number(VNX_VERSION_MAJOR));
        e.Value(entry, L"VersionMinor", Number(VNX_VERSION_MINOR));
        // Quoted: a path with spaces must not read as a shorter program.
        e.Value(entry, L"UninstallString", Text(L"\"" + Exe + L"\""));
        e.Value(entry, L"DisplayIcon", Text(archiver));
        e.Value(entry, L"InstallLocation", Text(folder));
        e.Value(entry, L"NoModify", Number(1));
        e.Value(entry, L"NoRepair", Number(1));
        e.Value(entry, L"Language", Number(0));
        e.Value(entry, L"Publisher", Text(L"Korvane"));
        e.Value(entry, L"QuietUninstallString", Text(L"\"" + Exe + L"\" /S"));
        // The sandbox installation has no list: nothing listed to count.
        e.Value(entry, L"EstimatedSize", Number(0));
        SYSTEMTIME today;
        GetLocalTime(&today);
        wchar_t date[16];
        swprintf(date, 16, L"%04u%02u%02u", today.wYear, today.wMonth, today.wDay);
        e.Value(entry, L"InstallDate", Text(date));
        e.Value(entry, L"URLInfoAbout", Text(Message(MSG_WEB_ADDRESS)));

        const std::wstring setup = L"HKCU\\Software\\Velnox\\Setup";
        for (const wchar_t* row : kRowKeys)
            e.Value(setup + L"\\" + row, L"Set",
                    Number(lstrcmpW(row, L".vnx") == 0 || lstrcmpW(row, L".zip") == 0));
        for (const wchar_t* link : {L"Desktop", L"StartMenu", L"Programs"})
            e.Value(setup + L"\\Links", link, Number(1));
        e.Value(setup, L"ShellExt", Number(1));
        e.Value(setup, L"CascadedMenu", Number(cascaded));
        e.Value(setup, L"MenuIcons", Number(1));
        // The owners the two extensions had before, kept to give them back;
        // an elevated run keeps a copy where only administrators write.
        for (const auto& owner : Owners)
            for (const std::wstring& records : {setup, std::wstring(L"HKLM\\Software\\Velnox\\Setup")})
            {
                const std::wstring& was = owner.second;
                e.Value(records + L"\\" + owner.first, L"Exist", Number(was != L"<no key>"));
                e.Value(records + L"\\" + owner.first, L"Type",
                        Text(was == L"<no key>" || was == L"<no value>" ? L"" : was));
                e.Value(records + L"\\" + owner.first, L"ShellNew", Text(L""));
            }
        return e;
    }

    // The links every flag asks for, each to its file in the installation.
    void ExpectLinks()
    {
        const std::wstring archiver = Folder / L"Velnox.exe";
        EXPECT_EQ(archiver,
                  LinkTarget(ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\Velnox.lnk"));
        EXPECT_EQ(archiver, LinkTarget(ShellFolder(CSIDL_COMMON_STARTMENU) + L"\\Velnox.lnk"));
        EXPECT_TRUE(FilesIn(Sandbox.Desktop).empty()) << "the user's own desktop stays empty";
        const std::wstring group[][2] = {
            {L"Velnox.lnk", archiver},
            {Message(MSG_LINK_HELP) + L".lnk", Folder / L"Velnox.chm"},
            {Message(MSG_LINK_README) + L".lnk", Folder / L"Vnx.txt"},
            {Message(MSG_LINK_FOURTH) + L".lnk", Folder / Message(MSG_LINK_FOURTH_FILE).c_str()}};
        for (int csidl : {CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS})
        {
            const std::wstring folder = ShellFolder(csidl) + L"\\Velnox";
            std::vector<std::wstring> names;
            for (const auto& link : group)
            {
                names.push_back(Upper(link[0]));
                EXPECT_EQ(link[1], LinkTarget(folder + L"\\" + link[0])) << WideToUtf8(link[0]);
            }
            std::sort(names.begin(), names.end());
            EXPECT_EQ(names, UpperFilesIn(folder)) << "csidl " << csidl;
        }
        std::vector<std::wstring> files = {L"UNINSTALL.EXE", L"VELNOX.EXE",
                                           L"VNXEXT.DLL",    L"VNXEXT64.DLL",
                                           L"VELNOX.CHM",    L"VNX.TXT",
                                           L"LICENSE.TXT",   L"VNXNEW.DAT",
                                           L"ZIPNEW.DAT",    Upper(Message(MSG_LINK_FOURTH_FILE))};
        std::sort(files.begin(), files.end());
        EXPECT_EQ(files, UpperFilesIn(Folder.Path())) << "the installation folder";
    }

    static ShellSandbox Sandbox;
    static ShellRecorder* Shell;
    static RegistryState* Pristine;
    const RegistryState& Before = *Pristine;
    RegistryState After;
    bool AfterIsCurrent = false;
    std::map<std::wstring, std::wstring> Owners; // the classes of ".vnx" and ".zip" before
};
ShellSandbox SetupOutcome::Sandbox;
ShellRecorder* SetupOutcome::Shell = nullptr;
RegistryState* SetupOutcome::Pristine = nullptr;

std::string Lines(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

TEST_F(SetupOutcome, DialogsLeaveExactlyTheChosenIntegration)
{
    ChildProcess child;
    ASSERT_TRUE(Start(child, L"/initA10000000000000000D0M1P1S1C0I1"));
    HWND settings = child.FindDialog(30000);
    ASSERT_NE(nullptr, settings);
    ASSERT_NE(nullptr, GetDlgItem(settings, IDC_SETUP_INFO));
    ExpectFocusOnDefault(settings, "SETUPDLG");
    for (int id : {IDC_ASSOC_ZIP, IDC_LINK_DESKTOP, IDC_CASCADED_MENU})
        SendDlgItemMessageW(settings, id, BM_CLICK, 0, 0);
    HWND done = nullptr;
    ASSERT_NO_FATAL_FAILURE(AcceptWithContextItems(child, settings, L"*.img;*.iso", done));
    // A first installation, with the program group and archive types chosen.
    ExpectFocusOnDefault(done, "DONEDLG");
    EXPECT_EQ(Message(MSG_DONE_INSTALLED), WindowText(GetDlgItem(done, IDC_DONE_HEADING)));
    EXPECT_EQ(Message(MSG_DONE_EXPLORER_MENU), WindowText(GetDlgItem(done, IDC_DONE_TEXT)));
    PostMessageW(done, WM_COMMAND, IDC_DONE_LICENSE, 0);
    ASSERT_EQ(1u, Shell->Opened(1).size()) << "the licence was not opened";
    PressKey(done, VK_RETURN);
    AnswerNotice(*this, child, done);
    EXPECT_EQ(0, child.Wait(30000));

    // The licence, then the program group.
    const std::vector<std::wstring> opened = Shell->Opened(2);
    ASSERT_EQ(2u, opened.size());
    EXPECT_EQ(0, lstrcmpiW((Folder / L"license.txt").c_str(), opened[0].c_str()))
        << WideToUtf8(opened[0]);
    EXPECT_EQ(
        0, lstrcmpiW((ShellFolder(CSIDL_COMMON_PROGRAMS) + L"\\Velnox").c_str(), opened[1].c_str()))
        << WideToUtf8(opened[1]);

    After.Take();
    AfterIsCurrent = true;
    ExpectedRegistry expected = Expected(true);
    const std::wstring menu = L"HKCU\\Software\\Velnox\\Setup\\MenuItems";
    for (size_t i = 0; i < sizeof(kMenuItems) / sizeof(kMenuItems[0]); ++i)
    {
        const bool off = lstrcmpW(kMenuItems[i], L"Convert") == 0; // "Test" was turned on
        expected.Value(menu, kMenuItems[i], Number(!off));
    }
    expected.Value(menu, L"AlwaysArc", Text(L"*.img;*.iso"));
    const std::vector<std::string> faults = expected.Check(Before, After);
    EXPECT_TRUE(faults.empty()) << Lines(faults);
    ExpectLinks();
}

// A language folder is the user's to choose, and any program of the user can
// write it: in an elevated run its translations reach only what this user
// sees, never the entry, classes and shortcuts that every user reads.
TEST_F(SetupOutcome, UsersLanguageFolderTranslatesNothingMachineWide)
{
    ScratchDir languages(L"languages");
    std::string lng = "***messages***\r\n";
    const struct
    {
        UINT Number;
        const char* Translation;
    } hostile[] = {{MSG_TYPE_VELNOX, "Invoice document (safe)"},
                   {MSG_TYPE_ZIP, "Invoice (safe)"},
                   {MSG_WEB_ADDRESS, "https://evil.example/phish"},
                   {MSG_VERSION_LABEL, "trusted"},
                   {MSG_LINK_HELP, "Security update"}};
    for (const auto& text : hostile)
        lng += Entry(Message(text.Number).c_str(), text.Translation) + "\r\n";
    ASSERT_TRUE(WriteBytes(languages / L"uninstall.lng", lng));
    const std::wstring general = L"Software\\Velnox\\General";
    RawSetString(HKEY_CURRENT_USER, general, L"LanguageFolder", languages.Path());
    {
        ChildProcess child;
        ASSERT_TRUE(Start(child, L"/S /initA11000000000000000D1M1P1S1C1I1"));
        EXPECT_EQ(0, child.Wait(60000)) << "a dialog or the 64-bit notice was left open";
    }
    After.Take();
    AfterIsCurrent = true;
    ExpectedRegistry expected = Expected(true);
    expected.Value(L"HKCU\\" + general, L"LanguageFolder", Text(languages.Path()));
    const std::vector<std::string> faults = expected.Check(Before, After);
    EXPECT_TRUE(faults.empty()) << Lines(faults);
    ExpectLinks();
}

// The same choices given silently; then, over that setup, a run that must not
// open the group folder and an installer-package run.
TEST_F(SetupOutcome, SilentRunDoesTheSameAndOnlyAPlainRunOpensTheGroup)
{
    const wchar_t* const choices = L" /initA11000000000000000D1M1P1S1C1I1";
    {
        ChildProcess child;
        ASSERT_TRUE(Start(child, (std::wstring(L"/S") + choices).c_str()));
        EXPECT_EQ(0, child.Wait(60000)) << "a dialog or the 64-bit notice was left open";
    }
    After.Take();
    AfterIsCurrent = true;
    const std::vector<std::string> faults = Expected(true).Check(Before, After);
    EXPECT_TRUE(faults.empty()) << Lines(faults);
    ExpectLinks();
    EXPECT_TRUE(Shell->Opened(0, 0).empty()) << "silent";

    {
        ChildProcess child;
        ASSERT_TRUE(Start(child, (std::wstring(L"/noexplorer") + choices).c_str()));
        HWND settings = child.FindDialog(30000);
        ASSERT_NE(nullptr, settings);
        // Both Start-menu choices off for this run; the installer-package run
        // below makes them again.
        for (int id : {IDC_LINK_STARTMENU, IDC_LINK_PROGRAMS})
            SendDlgItemMessageW(settings, id, BM_CLICK, 0, 0);
        PostMessageW(settings, WM_COMMAND, IDOK, 0);
        HWND done = child.FindDialog(30000, settings);
        ASSERT_NE(nullptr, done);
        // A rerun by hand over this installation only changed choices, and
        // the Start menu has nothing to start Velnox from.
        EXPECT_EQ(Message(MSG_DONE_CHANGED), WindowText(GetDlgItem(done, IDC_DONE_HEADING)));
        EXPECT_EQ(Message(MSG_DONE_EXPLORER), WindowText(GetDlgItem(done, IDC_DONE_TEXT)));
        // Esc closes it as Done does.
        PressKey(done, VK_ESCAPE);
        AnswerNotice(*this, child, done);
        EXPECT_EQ(0, child.Wait(30000));
    }
    EXPECT_TRUE(Shell->Opened(0, 0).empty()) << "noexplorer";

    const wchar_t entry[] =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velnox archiver";
    RemoveRegistryTree(HKEY_LOCAL_MACHINE, entry);
    {
        ChildProcess child;
        ASSERT_TRUE(Start(child, (std::wstring(L"/msi") + choices).c_str()));
        HWND settings = child.FindDialog(30000);
        ASSERT_NE(nullptr, settings);
        PostMessageW(settings, WM_COMMAND, IDOK, 0);
        EXPECT_EQ(0, child.Wait(30000)) << "a completion dialog or notice after an installer run";
    }
    EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, entry));
    // Time for a late opening of any of the three runs to be written.
    EXPECT_TRUE(Shell->Opened(1, 3000).empty()) << "silent, noexplorer or msi";
    ExpectLinks();
}

} // namespace
