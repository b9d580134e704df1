// Taking extensions over and giving them back to their previous owners, and
// the archiver's classes, against the prefix's real registry.
#include "integration/associations.h"
#include "integration/integration_fixture.h"
#include "integration/integration_options.h"
#include "removal/integration_removal.h"
#include "settings/settings_store.h"
#include "support/import_patch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
using AssociationsTest = IntegrationTest;

std::wstring SavedString(const wchar_t* extension, const wchar_t* name)
{
    wchar_t value[2048];
    GetUserString((std::wstring(L"Setup\\") + extension).c_str(), name, value, L"<none>");
    return value;
}

// A value as stored: its type and bytes, or "<none>".
std::string RawValue(const std::wstring& path, const wchar_t* name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "<none>";
    std::string data(10000, 0);
    DWORD size = DWORD(data.size()), type = 0;
    const LONG status = RegQueryValueExW(key, name, nullptr, &type, (BYTE*)&data[0], &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? std::to_string(type) + ":" + data.substr(0, size) : "<none>";
}
// Windows merges the user's classes over the machine's, the user's winning
// and taking writes; Wine does not. The test binary's own registry imports
// show the program that merge: a key of the classes root that the user has
// a copy of is the user's copy.
typedef LONG(WINAPI* OpenKeyFn)(HKEY, LPCWSTR, DWORD, REGSAM, PHKEY);
typedef LONG(WINAPI* CreateKeyFn)(HKEY, LPCWSTR, DWORD, LPWSTR, DWORD, REGSAM,
                                  const SECURITY_ATTRIBUTES*, PHKEY, LPDWORD);
OpenKeyFn realOpen = nullptr;
CreateKeyFn realCreate = nullptr;

std::wstring UserCopy(HKEY root, LPCWSTR path)
{
    if (root != HKEY_CLASSES_ROOT || path == nullptr || *path == 0)
        return L"";
    const std::wstring user = L"Software\\Classes\\" + std::wstring(path);
    HKEY key = nullptr;
    const std::wstring first = user.substr(0, user.find(L'\\', 17));
    if (realOpen(HKEY_CURRENT_USER, first.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return L"";
    RegCloseKey(key);
    return user;
}

LONG WINAPI MergedOpen(HKEY root, LPCWSTR path, DWORD options, REGSAM access, PHKEY key)
{
    const std::wstring user = UserCopy(root, path);
    return user.empty() ? realOpen(root, path, options, access, key)
                        : realOpen(HKEY_CURRENT_USER, user.c_str(), options, access, key);
}

LONG WINAPI MergedCreate(HKEY root, LPCWSTR path, DWORD reserved, LPWSTR className, DWORD options,
                         REGSAM access, const SECURITY_ATTRIBUTES* security, PHKEY key,
                         LPDWORD disposition)
{
    const std::wstring user = UserCopy(root, path);
    if (!user.empty())
        root = HKEY_CURRENT_USER, path = user.c_str();
    return realCreate(root, path, reserved, className, options, access, security, key,
                      disposition);
}

class MergedUserClasses
{
public:
    MergedUserClasses()
    {
        realOpen = reinterpret_cast<OpenKeyFn>(
            SwapImport("advapi32.dll", "RegOpenKeyExW", reinterpret_cast<void*>(&MergedOpen)));
        realCreate = reinterpret_cast<CreateKeyFn>(
            SwapImport("advapi32.dll", "RegCreateKeyExW", reinterpret_cast<void*>(&MergedCreate)));
    }
    ~MergedUserClasses()
    {
        if (realOpen)
            SwapImport("advapi32.dll", "RegOpenKeyExW", reinterpret_cast<void*>(realOpen));
        if (realCreate)
            SwapImport("advapi32.dll", "RegCreateKeyExW", reinterpret_cast<void*>(realCreate));
    }
    bool Active() const { return realOpen != nullptr && realCreate != nullptr; }
};
} // namespace

TEST_F(AssociationsTest, PreviousOwnersAreSavedAndGivenBack)
{
    struct Row
    {
        const wchar_t* extension;
        const wchar_t* oldClass; // null: the key did not exist
        const wchar_t* shellNewName;
        const wchar_t* shellNewValue;
        const wchar_t* savedShellNew;
        const wchar_t* ourClass;
    } rows[] = {
        {L".zip", L"OldZip", L"FileName", L"C:\\old\\empty.zip", L"C:\\old\\empty.zip",
         L"Velnox.ZIP"},
        {L".cab", L"OldCab", L"NullFile", L"", L"*", L"Velnox"},
        {L".tbz", L"OldTbz", nullptr, nullptr, L"", L"Velnox"},
        {L".7z", nullptr, nullptr, nullptr, L"", L"Velnox"},
    };
    for (const Row& row : rows)
    {
        if (row.oldClass)
            SetClassValue(row.extension, nullptr, row.oldClass);
        if (row.shellNewName)
            SetClassValue((std::wstring(row.extension) + L"\\ShellNew").c_str(), row.shellNewName,
                          row.shellNewValue);
    }
    // Twice: the second setup finds the extensions ours and saves nothing.
    AssociateExtensions(AllRows(true));
    AssociateExtensions(AllRows(true));
    for (size_t i = 0; i < ARRAYSIZE(rows); ++i)
    {
        const Row& row = rows[i];
        EXPECT_EQ(row.ourClass, ClassValue(row.extension)) << "row " << i;
        EXPECT_EQ(row.oldClass ? 1u : 0u,
                  GetUserInt((std::wstring(L"Setup\\") + row.extension).c_str(), L"Exist", 7))
            << "row " << i;
        EXPECT_EQ(row.oldClass ? row.oldClass : L"", SavedString(row.extension, L"Type"))
            << "row " << i;
        EXPECT_EQ(row.savedShellNew, SavedString(row.extension, L"ShellNew")) << "row " << i;
    }

    // Any program of the user may rewrite its records; the elevated setup's
    // machine copy is what goes back.
    ASSERT_TRUE(RawKeyExists(HKEY_LOCAL_MACHINE, L"Software\\Velnox\\Setup\\.cab"));
    SetUserString(L"Setup\\.cab", L"Type", L"exefile");
    SetUserString(L"Setup\\.cab", L"ShellNew", L"\\\\server\\share\\new.cab");
    SetUserInt(L"Setup\\.7z", L"Exist", 1);
    SetUserString(L"Setup\\.7z", L"Type", L"batfile");

    // Giving back writes the null-file entry anew.
    RemoveRegistryTree(HKEY_CLASSES_ROOT, L".cab\\ShellNew");
    IntegrationOptions none = {};
    AssociateExtensions(none);
    for (size_t i = 0; i < ARRAYSIZE(rows); ++i)
    {
        const Row& row = rows[i];
        const std::wstring shellNew = std::wstring(row.extension) + L"\\ShellNew";
        if (!row.oldClass)
        {
            EXPECT_EQ(L"<no key>", ClassValue(row.extension)) << "row " << i;
            continue;
        }
        EXPECT_EQ(row.oldClass, ClassValue(row.extension)) << "row " << i;
        if (!row.shellNewName)
        {
            EXPECT_EQ(L"<no key>", ClassValue(shellNew.c_str())) << "row " << i;
            continue;
        }
        EXPECT_EQ(wcscmp(row.shellNewName, L"FileName") == 0 ? row.shellNewValue : L"<no value>",
                  ClassValue(shellNew.c_str(), L"FileName"))
            << "row " << i;
        EXPECT_EQ(wcscmp(row.shellNewName, L"NullFile") == 0 ? L"" : L"<no value>",
                  ClassValue(shellNew.c_str(), L"NullFile"))
            << "row " << i;
    }
    // The records stay for a later setup.
    EXPECT_EQ(L"OldZip", SavedString(L".zip", L"Type"));
}

// What setup cannot save whole and in its type it leaves alone; what it can
// comes back byte for byte, a REG_EXPAND_SZ as one.
TEST_F(AssociationsTest, OwnersAreKeptWholeAndInTheirType)
{
    const DWORD dword = 0x00410042;
    const std::wstring longClass(4000, L'c'), longFile(3000, L'f');
    struct Row
    {
        const wchar_t* key;
        const wchar_t* name;
        DWORD type;
        std::wstring data; // NULs included
        bool taken;
    } rows[] = {
        {L".zip", nullptr, REG_DWORD, std::wstring((const wchar_t*)&dword, 2), false},
        {L".cab", nullptr, REG_MULTI_SZ, std::wstring(L"First.Zip\0Second.Zip\0", 22), false},
        {L".arj", nullptr, REG_BINARY, std::wstring(L"\x4b50\x0605", 2), false},
        {L".tar", nullptr, REG_SZ, longClass, false},
        {L".gz", nullptr, REG_SZ, std::wstring(L"Old\0Hidden", 11), false},
        {L".lzh", nullptr, REG_EXPAND_SZ, std::wstring(L"%Other%.lzh", 12), true},
        {L".7z", nullptr, REG_SZ, std::wstring(L"Old7z", 6), false},
        {L".7z\\ShellNew", L"FileName", REG_SZ, longFile, false},
        {L".bz2", nullptr, REG_SZ, std::wstring(L"OldBz2", 7), true},
        {L".bz2\\ShellNew", L"FileName", REG_EXPAND_SZ, std::wstring(L"%Templates%\\new.bz2", 20),
         true},
        // An empty name is saved as empty and stays where it stands.
        {L".tbz", nullptr, REG_SZ, std::wstring(L"OldTbz", 7), true},
        {L".tbz\\ShellNew", L"FileName", REG_SZ, std::wstring(L"", 1), true},
        {L".xz", nullptr, REG_SZ, std::wstring(L"OldXz", 6), true},
        {L".xz\\ShellNew", L"NullFile", REG_DWORD, std::wstring((const wchar_t*)&dword, 2), true},
        {L".uue", nullptr, REG_SZ, std::wstring(L"OldUue", 7), false},
        {L".uue\\ShellNew", L"FileName", REG_SZ, std::wstring(L"*star", 6), false},
    };
    std::vector<std::string> before;
    for (const Row& row : rows)
    {
        RawSet(HKEY_CLASSES_ROOT, row.key, row.name, row.type, row.data.data(),
               DWORD(row.data.size() * sizeof(wchar_t)));
        before.push_back(RawValue(row.key, row.name));
    }
    StoreIntegrationOptions(AllRows(false));
    // A choice not taken whole is said, and stored as not made.
    EXPECT_FALSE(AssociateExtensions(AllRows(false)));
    for (size_t i = 0; i < ARRAYSIZE(rows); ++i)
    {
        const std::wstring extension =
            std::wstring(rows[i].key).substr(0, wcscspn(rows[i].key, L"\\"));
        EXPECT_EQ(rows[i].taken, IsOwnAssociation(extension.c_str())) << "row " << i;
        if (!rows[i].taken)
        {
            EXPECT_EQ(before[i], RawValue(rows[i].key, rows[i].name)) << "row " << i;
        }
        if (wcscmp(rows[i].key, L".tbz") != 0 && extension == rows[i].key)
        {
            EXPECT_EQ(rows[i].taken ? 1u : 0u,
                      GetUserInt((L"Setup\\" + extension).c_str(), L"Set", 7))
                << "row " << i;
        }
    }
    IntegrationOptions none = {};
    AssociateExtensions(none);
    for (size_t i = 0; i < ARRAYSIZE(rows); ++i)
        EXPECT_EQ(before[i], RawValue(rows[i].key, rows[i].name)) << "row " << i;
}

// The settings file ends a text at a line break: such an owner keeps its
// extension; a REG_EXPAND_SZ one is saved there with its type.
TEST_F(AssociationsTest, SettingsFileHoldsOnlyWhatItCanGiveBackWhole)
{
    const std::wstring file = ScratchFolder() + L"Velnox.ini";
    ASSERT_TRUE(WriteBytes(file, Utf16Bytes(std::wstring(1, wchar_t(0xFEFF)))));
    ASSERT_TRUE(LoadPortableSettingsFile(file.c_str()));
    SetClassValue(L".cab", nullptr, L"Old\nCab");
    const std::wstring expand(L"%Other%.arj", 12);
    RawSet(HKEY_CLASSES_ROOT, L".arj", nullptr, REG_EXPAND_SZ, expand.data(), 24);
    const std::string arj = RawValue(L".arj", nullptr);

    AssociateExtensions(AllRows(false));
    EXPECT_EQ(L"Old\nCab", ClassValue(L".cab"));
    EXPECT_EQ(L"Velnox", ClassValue(L".arj"));
    EXPECT_FALSE(RawKeyExists(HKEY_CURRENT_USER, L"Software\\Velnox"));
    // Uninstall is another run: it reads the records back from the file.
    ASSERT_TRUE(SavePortableSettings());
    FreePortableSettings();
    ASSERT_TRUE(LoadPortableSettingsFile(file.c_str()));
    IntegrationOptions none = {};
    AssociateExtensions(none);
    EXPECT_EQ(L"Old\nCab", ClassValue(L".cab"));
    EXPECT_EQ(arj, RawValue(L".arj", nullptr));
    FreePortableSettings();
    DeleteFileW(file.c_str());
}

TEST_F(AssociationsTest, GivingBackLeavesWhatIsNoLongerOursOrStillInUse)
{
    AssociateExtensions(AllRows(false));
    // The records below are an older installation's: no machine copies.
    RemoveRegistryTree(HKEY_LOCAL_MACHINE, L"Software\\Velnox\\Setup");
    // Taken by another program after setup.
    SetClassValue(L".gz", nullptr, L"OtherGz");
    // A key that did not exist before but gained a subkey meanwhile.
    SetClassValue(L".tar\\OpenWithProgids", L"Other.tar", L"");
    // One that holds only a new-file entry goes with it.
    SetClassValue(L".tgz\\ShellNew", L"NullFile", L"");
    // Saved by an older installation with its own class.
    SetUserString(L"Setup\\.lzh", L"Type", L"velnox");
    SetUserInt(L"Setup\\.lzh", L"Exist", 1);
    // A damaged record: "Exist" that is no number must not delete the key.
    SetUserString(L"Setup\\.cab", L"Type", L"OldCab");
    SetUserString(L"Setup\\.cab", L"Exist", L"");
    const BYTE zero = 0;
    SetUserString(L"Setup\\.arj", L"Type", L"OldArj");
    RawSet(HKEY_CURRENT_USER, L"Software\\Velnox\\Setup\\.arj", L"Exist", REG_BINARY, &zero, 1);
    // What an elevated removal makes of such records, which any program of
    // the user may have written: no class that runs the file itself and no
    // new-file entry on a share or a device for every user; an ordinary
    // owner and a local template still go back.
    SetClassValue(L"Runs.Itself\\shell\\open\\command", nullptr, L"\"%1\" %*");
    struct Legacy
    {
        const wchar_t* extension;
        const wchar_t* type;
        const wchar_t* shellNew;
        const wchar_t* restoredClass;
        const wchar_t* restoredFile;
    } legacy[] = {
        {L".bz2", L"exefile", L"C:\\Templates\\new.bz2", L"", L"C:\\Templates\\new.bz2"},
        {L".xz", L"Runs.Itself", L"new.xz", L"", L"new.xz"},
        {L".z", L"OldZ", L"\\\\server\\share\\new.z", L"OldZ", L"<no key>"},
        {L".uue", L"OldUue", L"\\\\?\\C:\\Templates\\new.uue", L"OldUue", L"<no key>"},
        {L".xxe", L"OldXxe", L"\\\\.\\pipe\\new", L"OldXxe", L"<no key>"},
    };
    for (const Legacy& row : legacy)
    {
        const std::wstring key = std::wstring(L"Setup\\") + row.extension;
        SetUserInt(key.c_str(), L"Exist", 1);
        SetUserString(key.c_str(), L"Type", row.type);
        SetUserString(key.c_str(), L"ShellNew", row.shellNew);
    }

    IntegrationOptions none = {};
    {
        const ElevationAs elevated(1);
        AssociateExtensions(none);
    }
    for (size_t i = 0; i < ARRAYSIZE(legacy); ++i)
    {
        const std::wstring shellNew = std::wstring(legacy[i].extension) + L"\\ShellNew";
        EXPECT_EQ(legacy[i].restoredClass, ClassValue(legacy[i].extension)) << "row " << i;
        EXPECT_EQ(legacy[i].restoredFile, ClassValue(shellNew.c_str(), L"FileName")) << "row " << i;
    }
    RemoveRegistryTree(HKEY_CLASSES_ROOT, L"Runs.Itself");
    EXPECT_EQ(L"OtherGz", ClassValue(L".gz"));
    EXPECT_EQ(L"", ClassValue(L".tar"));
    EXPECT_EQ(L"", ClassValue(L".tar\\OpenWithProgids", L"Other.tar"));
    EXPECT_EQ(L"", ClassValue(L".lzh"));
    EXPECT_EQ(L"OldCab", ClassValue(L".cab"));
    EXPECT_EQ(L"OldArj", ClassValue(L".arj"));
    EXPECT_EQ(L"<no key>", ClassValue(L".tgz"));
}

TEST_F(AssociationsTest, ClearedRowLeavesAllItsExtensionsAlone)
{
    SetUserInt(L"Setup\\.gz", L"Set", 0);
    IntegrationOptions options = {};
    LoadIntegrationOptions(options);
    AssociateExtensions(options);
    EXPECT_EQ(L"<no key>", ClassValue(L".gz"));
    EXPECT_EQ(L"<no key>", ClassValue(L".tgz"));
    EXPECT_EQ(L"Velnox", ClassValue(L".taz"));
    EXPECT_EQ(L"<no key>", ClassValue(L".jar"));
}

TEST_F(AssociationsTest, ClassesKeepAChosenIconAndAlwaysTakeRev)
{
    SetClassValue(L"Velnox\\DefaultIcon", nullptr, L"C:\\icons\\mine.ico,3");
    SetClassValue(L"Velnox.REV\\DefaultIcon", nullptr, L"");
    for (int run = 0; run < 2; ++run)
    {
        SetClassValue(L".rev", nullptr, L"SomeoneElse");
        ASSERT_TRUE(RegisterProgIds()) << "run " << run;
        EXPECT_EQ(L"Velnox.REV", ClassValue(L".rev")) << "run " << run;
        EXPECT_EQ(L"C:\\icons\\mine.ico,3", ClassValue(L"Velnox\\DefaultIcon")) << "run " << run;
    }
    const std::wstring archiver = BesideTestBinary(L"Velnox.exe");
    EXPECT_EQ(archiver + L",0", ClassValue(L"Velnox.ZIP\\DefaultIcon"));
    EXPECT_EQ(archiver + L",1", ClassValue(L"Velnox.REV\\DefaultIcon"));
    // One too long to read is the user's all the same.
    SetClassValue(L"Velnox.ZIP\\DefaultIcon", nullptr, std::wstring(3000, L'i'));
    ASSERT_TRUE(RegisterProgIds());
    EXPECT_EQ(L"<no value>", ClassValue(L"Velnox.ZIP\\DefaultIcon"));
    for (const wchar_t* key : {L"Velnox\\shell\\open\\command", L"Velnox.ZIP\\shell\\open\\command",
                               L"Velnox.REV\\shell\\open\\command"})
        EXPECT_EQ(L"\"" + archiver + L"\" \"%1\"", ClassValue(key)) << key;
}

// An elevated run decides, writes and deletes in the machine's classes: the
// user's copies (".zip" as a program, a class "Velnox" of their own) neither
// pass for the owner nor are all that a removal deletes.
TEST_F(AssociationsTest, UserClassCopiesNeitherDecideNorStandForTheMachines)
{
    const wchar_t* const userCopies[] = {L"Software\\Classes\\.zip", L"Software\\Classes\\Velnox"};
    SetClassValue(L".zip", nullptr, L"OldZip");
    RawSetString(HKEY_CURRENT_USER, userCopies[0], nullptr, L"exefile");
    RawSetString(HKEY_CURRENT_USER, L"Software\\Classes\\Velnox\\shell\\open\\command", nullptr,
                 L"user.exe \"%1\"");
    {
        const ElevationAs elevated(1);
        MergedUserClasses merged;
        ASSERT_TRUE(merged.Active());
        AssociateExtensions(AllRows(false));
        ASSERT_TRUE(RegisterProgIds());
        EXPECT_EQ(L"Velnox.ZIP", RawString(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.zip", nullptr));
        EXPECT_EQ(L"OldZip", SavedString(L".zip", L"Type"));
        RemoveIntegration();
    }
    SetRegistryView(0);
    EXPECT_EQ(L"OldZip", RawString(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.zip", nullptr));
    EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, L"Software\\Classes\\Velnox"));
    // The user's own classes are theirs.
    EXPECT_EQ(L"exefile", RawString(HKEY_CURRENT_USER, userCopies[0], nullptr));
    for (const wchar_t* copy : userCopies)
        RemoveRegistryTree(HKEY_CURRENT_USER, copy);
}

// Owners reach the disk before the first extension is taken; where they
// cannot, nothing is taken. An elevated run's machine copy is enough, and
// the next run gives the owner back from it whatever the file lost.
TEST_F(AssociationsTest, OwnersAreKeptForGoodBeforeAnyTakeOver)
{
    const std::wstring file = ScratchFolder() + L"Velnox.ini";
    struct Row
    {
        const char* line; // of the settings file
        bool readWhole;
        int elevated;
        bool taken;
    } rows[] = {
        {"Global\\SaveSettings=0", true, 0, false},
        {"", false, 0, false},
        {"Global\\SaveSettings=0", true, 1, true},
        {"", false, 1, true},
        {"", true, 0, true},
    };
    for (size_t i = 0; i < ARRAYSIZE(rows); ++i)
    {
        const ElevationAs elevation(rows[i].elevated);
        SetClassValue(L".cab", nullptr, L"OldCab");
        ASSERT_TRUE(WriteBytes(file, rows[i].line));
        ASSERT_TRUE(LoadPortableSettingsFile(file.c_str()));
        Portable.Whole = rows[i].readWhole;
        IntegrationOptions options = {};
        options.Associate[2] = true; // ".cab"
        AssociateExtensions(options);
        EXPECT_EQ(rows[i].taken ? L"Velnox" : L"OldCab", ClassValue(L".cab")) << "row " << i;
        // The next run: whatever reached the file.
        FreePortableSettings();
        ASSERT_TRUE(LoadPortableSettingsFile(file.c_str()));
        AssociateExtensions(IntegrationOptions{});
        EXPECT_EQ(L"OldCab", ClassValue(L".cab")) << "row " << i;
        FreePortableSettings();
        Clean();
    }
    DeleteFileW(file.c_str());
}

TEST_F(AssociationsTest, OnlyPathsOnThisMachinesDrivesAreLocal)
{
    const struct
    {
        const wchar_t* path;
        bool local;
    } rows[] = {
        {L"C:\\icons\\mine.ico", true},     {L"c:/icons/mine.ico", true},
        {L"\\\\server\\share\\mine.ico", false}, {L"//server/share/mine.ico", false},
        {L"\\\\?\\C:\\icons\\mine.ico", false}, {L"\\\\.\\C:\\icons\\mine.ico", false},
        {L"C:icons\\mine.ico", false},        {L"mine.ico", false},
        {L"", false},
    };
    for (size_t i = 0; i < ARRAYSIZE(rows); ++i)
        EXPECT_EQ(rows[i].local, IsLocalFilePath(rows[i].path)) << "row " << i;
}
