// Broken localization beside the program: a language module cut short, a
// library that is no language module at all, one that lacks a dialog, and
// a language file cut short. The program keeps working in its own texts.
#include "localization/language_file.h"
#include "localization/language_module.h"
#include "localization/messages.h"
#include "platform/platform_probes.h"
#include "resources/resource.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "faults/fault_fixtures.h"

namespace
{

const wchar_t kOwnCaption[] = L"Uninstall Velnox";    // the program's message 5106
const wchar_t kModuleCaption[] = L"Velnox entfernen"; // the test module's

std::string FileBytes(const std::wstring& path)
{
    return ReadBytes(path);
}

std::wstring SystemLibrary(const wchar_t* name)
{
    wchar_t folder[MAX_PATH];
    GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder) + L"\\" + name;
}

INT_PTR CALLBACK QuietDialog(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

// The dialogs can be made from where the program takes them.
bool DialogsCanBeMade(bool setupToo = true)
{
    for (const wchar_t* name : {L"DONEDLG", L"SETUPDLG"})
    {
        if (!setupToo && name[0] == L'S')
            break;
        HWND dialog = CreateDialogParamW(DialogModule(name), name, nullptr, QuietDialog, 0);
        if (dialog == nullptr)
            return false;
        DestroyWindow(dialog);
    }
    return true;
}

class LanguageModuleFaults : public testing::Test
{
protected:
    LanguageModuleFaults() : scratch(L"faults_lngmodule") {}
    void SetUp() override
    {
        RemoveRegistryTree(HKEY_CURRENT_USER, L"Software\\Velnox\\General");
        program = LoadProgramResources();
        ASSERT_NE(nullptr, program);
        // SETUPDLG holds a rich edit control.
        richEdit = LoadSystemDll(L"riched20.dll");
    }
    void TearDown() override
    {
        LanguageModule.Release();
        ResourceModule = ProgramModule = nullptr;
        if (richEdit)
            FreeLibrary(richEdit);
        FreeLibrary(program);
    }
    void OpenWith(const std::string& moduleBytes)
    {
        LanguageModule.Release();
        ASSERT_TRUE(WriteBytes(scratch / L"vnxlng.dll", moduleBytes));
        LanguageModule.OpenBeside(program, (scratch / L"uninstall.exe").c_str());
    }
    ScratchDir scratch;
    HMODULE program = nullptr;
    HMODULE richEdit = nullptr;
};

TEST_F(LanguageModuleFaults, ModuleCutShortIsNotUsed)
{
    const std::string whole = FileBytes(BesideTestBinary(L"langmodule\\plain\\vnxlng.dll"));
    ASSERT_GT(whole.size(), 8192u);
    OpenWith(whole);
    ASSERT_TRUE(LanguageModule.IsLoaded());
    EXPECT_STREQ(kModuleCaption, MessageText(MSG_UNINSTALL_CAPTION));

    // Every kilobyte of the sections and headers, then into what follows.
    std::vector<size_t> cuts;
    for (size_t cut = 0; cut < 16384 && cut < whole.size(); cut += 1024)
        cuts.push_back(cut);
    for (size_t cut : {whole.size() / 2, whole.size() - 1})
        cuts.push_back(cut);
    for (size_t cut : cuts)
    {
        OpenWith(whole.substr(0, cut));
        // Resources past the end of the file would fault at the first look.
        const std::wstring caption = MessageText(MSG_UNINSTALL_CAPTION);
        if (cut <= whole.size() / 8)
        {
            EXPECT_FALSE(LanguageModule.IsLoaded()) << "cut at " << cut;
        }
        EXPECT_EQ(LanguageModule.IsLoaded() ? kModuleCaption : kOwnCaption, caption)
            << "cut at " << cut;
        EXPECT_TRUE(DialogsCanBeMade(false)) << "cut at " << cut;
    }
}

TEST_F(LanguageModuleFaults, ForeignLibraryOrMissingDialogFallsBackToTheProgram)
{
    const std::string foreign = FileBytes(SystemLibrary(L"msimg32.dll"));
    ASSERT_FALSE(foreign.empty());
    OpenWith(foreign);
    EXPECT_STREQ(kOwnCaption, MessageText(MSG_UNINSTALL_CAPTION));
    EXPECT_TRUE(DialogsCanBeMade());

    // The test module translates "DONEDLG" only.
    OpenWith(FileBytes(BesideTestBinary(L"langmodule\\plain\\vnxlng.dll")));
    ASSERT_TRUE(LanguageModule.IsLoaded());
    EXPECT_EQ(ResourceModule, DialogModule(L"DONEDLG"));
    EXPECT_EQ(ProgramModule, DialogModule(L"SETUPDLG"));
    EXPECT_TRUE(DialogsCanBeMade());
}

// A UTF-16 language file of three entries with the given keys.
std::string LanguageFileBytes(const std::wstring& first, const std::wstring& second)
{
    return std::string("\xFF\xFE", 2) +
           Utf16Bytes(L"; cut short\r\n***messages***\r\n" + first + L"=\"Velnox einrichten\"\r\n" +
                      second + L"=\"Velnox verkn\x00fcpfen mit\"\r\n0000abcd=\"Weiter\"\r\n");
}

// A language file cut anywhere keeps the entries that lie wholly before the
// cut, including at an odd byte of its UTF-16 text.
TEST(LanguageFileFaults, FileCutShortKeepsWhatCameBefore)
{
    ScratchDir scratch(L"faults_lngfile");
    const std::string whole = LanguageFileBytes(L"12345678", L"9abcdef0");
    const std::wstring name = scratch / L"uninstall.lng";
    const size_t secondAt = whole.find(Utf16Bytes(L"9abcdef0"));
    const size_t secondEnd = whole.find(Utf16Bytes(L"\r\n"), secondAt);
    ASSERT_NE(std::string::npos, secondEnd);

    for (size_t cut = 0; cut <= whole.size(); ++cut)
    {
        ASSERT_TRUE(WriteBytes(name, whole.substr(0, cut)));
        LanguageFileData file;
        file.Load(name.c_str());
        uint32_t position = 0;
        const bool found = file.Find(L"9abcdef0", position);
        if (cut <= secondAt)
        {
            EXPECT_FALSE(found) << "cut at " << cut;
        }
        else if (cut >= secondEnd)
        {
            EXPECT_TRUE(found) << "cut at " << cut;
        }
    }
}

// The same faults met by the program itself: its setup dialog still comes
// up, in the program's own texts or with what the language file still holds.
class SetupWithBrokenLanguage : public InstalledCopy
{
protected:
    SetupWithBrokenLanguage() : InstalledCopy(L"faults_setup_lng") {}
    void SetUp() override
    {
        InstalledCopy::SetUp();
        RemoveRegistryTree(HKEY_CURRENT_USER, L"Software\\Velnox\\General");
    }
};

TEST_F(SetupWithBrokenLanguage, SetupDialogStillComesUp)
{
    const std::string module = FileBytes(BesideTestBinary(L"langmodule\\plain\\vnxlng.dll"));
    ASSERT_FALSE(module.empty());
    struct
    {
        const wchar_t* File;
        std::string Bytes;      // the language file's is made once the caption is known
        const wchar_t* Caption; // null: the program's own
    } rows[] = {
        {L"vnxlng.dll", module.substr(0, 4096), nullptr},
        {L"vnxlng.dll", FileBytes(SystemLibrary(L"msimg32.dll")), nullptr},
        {L"uninstall.lng", "", L"Velnox einrichten"},
    };
    std::wstring ownCaption;
    for (size_t row = 0; row < ARRAYSIZE(rows); ++row)
    {
        if (rows[row].Bytes.empty())
        {
            // The caption's entry, then the file cut in the middle of the next.
            ASSERT_FALSE(ownCaption.empty());
            wchar_t key[kEntryKeyChars];
            ComposeEntryKey(TextKind::Dialog, L"SETUPDLG", ownCaption.c_str(), key);
            const std::string text = LanguageFileBytes(key, L"9abcdef0");
            rows[row].Bytes = text.substr(0, text.find(Utf16Bytes(L"9abcdef0")) + 7);
        }
        ASSERT_TRUE(WriteBytes(In(rows[row].File), rows[row].Bytes)) << "row " << row;
        ChildProcess child;
        ASSERT_TRUE(Start(child, L"/setup")) << "row " << row;
        HWND dialog = child.FindDialog(30000);
        ASSERT_NE(nullptr, dialog) << "row " << row << ": no setup dialog";
        const std::wstring caption = WindowText(dialog);
        if (rows[row].Caption)
        {
            EXPECT_EQ(rows[row].Caption, caption) << "row " << row;
        }
        else if (ownCaption.empty())
        {
            ownCaption = caption;
        }
        else
        {
            EXPECT_EQ(ownCaption, caption) << "row " << row;
        }
        PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        EXPECT_EQ(1, child.Wait(30000)) << "row " << row << ": cancelled";
        DeleteFileW(In(rows[row].File).c_str());
    }
}

// Translations of the messages that take an argument, with more "%" than the
// one "%s": the box shows them as written and only the argument is filled in.
TEST_F(SetupWithBrokenLanguage, TranslatedFormatsFillOnlyTheirArgument)
{
    HMODULE program = LoadProgramResources();
    ASSERT_NE(nullptr, program);
    auto ownText = [&](UINT number) { return ResourceText(program, number); };
    const struct
    {
        const wchar_t* Options;
        UINT Number;
        const wchar_t* Translation;
        std::wstring Shown;
        long ExitCode;
    } rows[] = {
        // The missing list, after the question (a silent run shows no box).
        {L"", MSG_NO_FILE_LIST, L"%s %s %n %x %d %S 100%% %",
         L"Uninstall.lst %s %n %x %d %S 100% %", 2},
        {L"", MSG_NO_FILE_LIST, L"%n%p%ls", L"%n%p%ls", 2},
        {L"/warning", MSG_NOT_REMOVED_PATH, L"%n%s%s%",
         ownText(MSG_NOT_REMOVED) + L"\n%n" + Exe + L"%s%", 0},
    };
    for (size_t row = 0; row < ARRAYSIZE(rows); ++row)
    {
        wchar_t key[kEntryKeyChars];
        const std::wstring source = ownText(rows[row].Number);
        ComposeEntryKey(TextKind::Message, nullptr, source.c_str(), key);
        ASSERT_TRUE(WriteBytes(In(L"uninstall.lng"),
                               std::string("\xFF\xFE", 2) +
                                   Utf16Bytes(L"***messages***\r\n" + std::wstring(key) + L"=\"" +
                                              rows[row].Translation + L"\"\r\n")))
            << "row " << row;
        ChildProcess child;
        ASSERT_TRUE(Start(child, rows[row].Options))
            << "row " << row;
        HWND box = child.FindDialog(30000);
        if (rows[row].Options[0] == 0 && box)
        {
            PostMessageW(box, WM_COMMAND, IDYES, 0);
            box = child.FindDialog(30000, box);
        }
        ASSERT_NE(nullptr, box) << "row " << row << ": no message box";
        // The text of a message box is its static control 0xFFFF.
        EXPECT_EQ(rows[row].Shown, WindowText(GetDlgItem(box, 0xFFFF))) << "row " << row;
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        EXPECT_EQ(rows[row].ExitCode, child.Wait(30000)) << "row " << row;
        EXPECT_TRUE(Exists(Exe)) << "row " << row;
    }
    FreeLibrary(program);
}

// A library that holds no dialog at all: the context items dialog too must
// come from the program.
TEST_F(SetupWithBrokenLanguage, ContextItemsComeFromTheProgramToo)
{
    ASSERT_TRUE(WriteBytes(In(L"vnxlng.dll"), FileBytes(SystemLibrary(L"msimg32.dll"))));
    ChildProcess child;
    ASSERT_TRUE(Start(child, L"/setup"));
    HWND dialog = child.FindDialog(30000);
    ASSERT_NE(nullptr, dialog) << "no setup dialog";
    PostMessageW(dialog, WM_COMMAND, IDC_CONTEXT_ITEMS, 0);
    HWND items = child.FindDialog(3000, dialog);
    if (items)
    {
        PostMessageW(items, WM_COMMAND, IDCANCEL, 0);
        for (int i = 0; i < 50 && IsWindow(items); ++i)
            Sleep(100);
    }
    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(1, child.Wait(30000));
    EXPECT_NE(nullptr, items) << "the context items button opened nothing";
}

} // namespace
