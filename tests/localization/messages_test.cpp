// Message lookup over the program's real string table, and the language
// module: beside the program, from the user's language folder, and released.
#include <windows.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "localization/lng_fixtures.h"
#include "localization/language_module.h"
#include "localization/messages.h"
#include "resources/resource.h"
#include "support/program_under_test.h"

namespace
{

const wchar_t* kGeneralKey = L"Software\\Velnox\\General";

class MessagesTest : public testing::Test
{
protected:
    void SetUp() override
    {
        Program = LoadProgramResources();
        ASSERT_NE(Program, nullptr) << "cannot load the program's resources";
        RegDeleteKeyW(HKEY_CURRENT_USER, kGeneralKey);
    }
    void TearDown() override
    {
        LanguageModule.Release();
        ResourceModule = nullptr;
        ProgramModule = nullptr;
        RegDeleteKeyW(HKEY_CURRENT_USER, kGeneralKey);
        if (Program != nullptr)
            FreeLibrary(Program);
    }
    // Opens the language module as a program living in folder would.
    void OpenIn(const std::wstring& folder)
    {
        LanguageModule.OpenBeside(Program, (folder + L"\\uninstall.exe").c_str());
    }
    static void SetLanguageFolder(const std::wstring& value)
    {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, kGeneralKey, 0, nullptr, 0,
                                                 KEY_SET_VALUE, nullptr, &key, nullptr));
        RegSetValueExW(key, L"LanguageFolder", 0, REG_EXPAND_SZ,
                       reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    static bool IsRightToLeftModule()
    {
        return FindResourceW(ResourceModule, L"RTL", RT_DIALOG) != nullptr;
    }

    HMODULE Program = nullptr;
};

TEST_F(MessagesTest, EveryNumberHasAnEnglishText)
{
    const struct
    {
        UINT Number;
        int Placeholders; // "%s" the callers fill in
    } rows[] = {
        {5101, 0}, {5102, 0}, {5103, 0}, {5104, 0}, {5105, 0}, {5106, 0}, {5107, 0},
        {5108, 1}, {5109, 0}, {5110, 1}, {5111, 0}, {5112, 0}, {5113, 0}, {5114, 0},
        {5115, 0}, {5116, 0}, {5117, 0}, {5118, 0}, {5120, 0}, {5121, 0}, {5122, 0}, {5123, 0}, {5124, 0},
        {5125, 0}, {5130, 0}, {5140, 0}, {5141, 0}, {5150, 0}, {5151, 0},
    };
    ScratchDir empty(L"msg");
    OpenIn(empty.Path());
    for (size_t row = 0; row < sizeof(rows) / sizeof(rows[0]); row++)
    {
        std::wstring text = MessageText(rows[row].Number);
        EXPECT_FALSE(text.empty()) << "row " << row;
        int placeholders = 0;
        for (size_t at = text.find(L'%'); at != std::wstring::npos; at = text.find(L'%', at + 2))
        {
            EXPECT_EQ(L's', text[at + 1]) << "row " << row << ": only %s is filled in";
            placeholders++;
        }
        EXPECT_EQ(rows[row].Placeholders, placeholders) << "row " << row;
    }
    // The completion dialog opens 5114 with the shell; 5105 is a bare name.
    EXPECT_EQ(0u, std::wstring(MessageText(MSG_WEB_ADDRESS)).find(L"https://"));
    EXPECT_EQ(nullptr, wcspbrk(MessageText(MSG_LINK_FOURTH_FILE), L"\\/:"));
}

// A translation that becomes a file name or a web address for the shell is
// used only when it is one; otherwise the program's own text stands.
TEST_F(MessagesTest, TranslatedNamesAndAddressesFallBackToTheProgramsOwn)
{
    ScratchDir folder(L"msg");
    OpenIn(folder.Path());
    const std::wstring ownAddress = ResourceText(Program, MSG_WEB_ADDRESS);
    const std::wstring ownName = ResourceText(Program, MSG_LINK_HELP);
    const struct
    {
        UINT Number;
        const char* Translation;
        bool Kept;
    } rows[] = {
        {MSG_WEB_ADDRESS, "https://example.org/de/", true},
        {MSG_WEB_ADDRESS, "HTTP://example.org", true},
        {MSG_WEB_ADDRESS, "C:\\windows\\system32\\calc.exe", false},
        {MSG_WEB_ADDRESS, "file:///C:/windows/notepad.exe", false},
        {MSG_WEB_ADDRESS, "https://", false},
        {MSG_WEB_ADDRESS, "https://x.org\" calc", false},
        {MSG_WEB_ADDRESS, "https://x.org calc.exe", false},
        {MSG_LINK_HELP, "..\\escaped", false},
        {MSG_LINK_HELP, "Hilfe", true},
    };
    for (size_t row = 0; row < sizeof(rows) / sizeof(rows[0]); ++row)
    {
        const std::wstring lng = folder.Path() + L"\\uninstall.lng";
        const std::wstring own = rows[row].Number == MSG_WEB_ADDRESS ? ownAddress : ownName;
        EXPECT_TRUE(WriteBytes(lng, "***messages***\r\n" +
                                        Entry(own.c_str(), rows[row].Translation) + "\r\n"));
        ASSERT_TRUE(LanguageFile.Load(lng.c_str())) << "row " << row;
        const std::string translation = rows[row].Translation;
        const std::wstring expected =
            rows[row].Kept ? std::wstring(translation.begin(), translation.end()) : own;
        const wchar_t* checked = rows[row].Number == MSG_WEB_ADDRESS
                                     ? MessageWebAddress(rows[row].Number)
                                     : MessageFileName(rows[row].Number);
        EXPECT_EQ(expected, checked) << "row " << row;
    }
    ResetLanguage();
}

TEST_F(MessagesTest, RingOfEightBuffers)
{
    ScratchDir empty(L"msg");
    OpenIn(empty.Path());
    const wchar_t* results[9];
    for (int call = 0; call < 9; call++)
        results[call] = MessageText(5101 + call);
    for (int a = 0; a < 8; a++)
        for (int b = a + 1; b < 8; b++)
            EXPECT_NE(results[a], results[b]) << "calls " << a << " and " << b;
    EXPECT_EQ(results[0], results[8]);
    EXPECT_EQ(ResourceText(Program, 5109), results[0]) << "the ninth call overwrites the first";
    EXPECT_EQ(ResourceText(Program, 5102), results[1]) << "the second stays";

    const wchar_t* unknown = MessageText(4999);
    ASSERT_NE(unknown, nullptr);
    EXPECT_STREQ(L"", unknown);
}

TEST_F(MessagesTest, ModuleBesideProgramThenReleased)
{
    ScratchDir folder(L"msg");
    ASSERT_TRUE(CopyFileW(BesideTestBinary(L"langmodule\\plain\\vnxlng.dll").c_str(),
                          (folder / L"vnxlng.dll").c_str(), FALSE));
    OpenIn(folder.Path());
    ASSERT_TRUE(LanguageModule.IsLoaded());
    EXPECT_EQ(Program, ProgramModule);
    EXPECT_NE(Program, ResourceModule);
    // Held against writes while it is loaded: cut short under the program,
    // the next lookup would fault.
    const std::wstring module = folder / L"vnxlng.dll";
    auto openForWrite = [&]
    {
        HANDLE file = CreateFileW(module.c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        return file != INVALID_HANDLE_VALUE;
    };
    EXPECT_FALSE(openForWrite());
    EXPECT_STREQ(L"Velnox entfernen", MessageText(MSG_UNINSTALL_CAPTION));
    // Not in the module: the program's own text.
    EXPECT_EQ(ResourceText(Program, MSG_ASK_UNINSTALL), MessageText(MSG_ASK_UNINSTALL));
    EXPECT_FALSE(IsRightToLeftModule());

    // Dialogs come from the module too.
    HWND dialog = CreateDialogParamW(ResourceModule, L"DONEDLG", nullptr, nullptr, 0);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(L"Velnox-Installation", WindowText(dialog));
    DestroyWindow(dialog);

    LanguageModule.Release();
    EXPECT_FALSE(LanguageModule.IsLoaded());
    EXPECT_TRUE(openForWrite()) << "released";
    EXPECT_EQ(Program, ResourceModule);
    EXPECT_EQ(ResourceText(Program, MSG_UNINSTALL_CAPTION), MessageText(MSG_UNINSTALL_CAPTION));
    LanguageModule.Release();
    EXPECT_EQ(Program, ResourceModule) << "a second release does nothing";
}

TEST_F(MessagesTest, LanguageFolderWinsWhenItHoldsTheModule)
{
    ScratchDir folder(L"msg");
    CreateDirectoryW((folder / L"lang").c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(BesideTestBinary(L"langmodule\\plain\\vnxlng.dll").c_str(),
                          (folder / L"vnxlng.dll").c_str(), FALSE));
    SetEnvironmentVariableW(L"VNX_LANG_TEST", folder.Path().c_str());
    SetLanguageFolder(L"%VNX_LANG_TEST%\\lang");

    // Set but empty there: the module beside the program.
    OpenIn(folder.Path());
    ASSERT_TRUE(LanguageModule.IsLoaded());
    EXPECT_FALSE(IsRightToLeftModule());

    ASSERT_TRUE(CopyFileW(BesideTestBinary(L"langmodule\\rtl\\vnxlng.dll").c_str(),
                          (folder / L"lang\\vnxlng.dll").c_str(), FALSE));
    OpenIn(folder.Path());
    ASSERT_TRUE(LanguageModule.IsLoaded());
    EXPECT_TRUE(IsRightToLeftModule()) << "the folder's module replaces the one beside";
    SetEnvironmentVariableW(L"VNX_LANG_TEST", nullptr);
}

// A folder that leaves no room for the whole name: cut, "vnxlng.dll" would
// be "vnxlng.d", another file of that folder.
TEST_F(MessagesTest, LanguageFolderWithoutRoomForTheNameIsIgnored)
{
    ScratchDir folder(L"msg");
    ASSERT_TRUE(CopyFileW(BesideTestBinary(L"langmodule\\plain\\vnxlng.dll").c_str(),
                          (folder / L"vnxlng.dll").c_str(), FALSE));
    std::wstring deep = folder.Path();
    std::vector<std::wstring> made;
    while (deep.size() < 2038)
    {
        const size_t part = 2038 - deep.size() - 1 < 200 ? 2038 - deep.size() - 1 : 200;
        deep += L"\\" + std::wstring(part > 0 ? part : 1, L'd');
        made.push_back(L"\\\\?\\" + deep);
        ASSERT_TRUE(CreateDirectoryW(made.back().c_str(), nullptr)) << deep.size();
    }
    ASSERT_EQ(2038u, deep.size());
    const std::wstring planted = made.back() + L"\\vnxlng.d";
    ASSERT_TRUE(CopyFileW(BesideTestBinary(L"langmodule\\rtl\\vnxlng.dll").c_str(),
                          planted.c_str(), FALSE));
    SetEnvironmentVariableW(L"VNX_LANG_TEST", deep.c_str());
    SetLanguageFolder(L"%VNX_LANG_TEST%");

    OpenIn(folder.Path());
    EXPECT_TRUE(LanguageModule.IsLoaded()) << "the module beside the program";
    EXPECT_FALSE(IsRightToLeftModule()) << "the cut name was loaded";
    LanguageModule.Release();
    SetEnvironmentVariableW(L"VNX_LANG_TEST", nullptr);
    DeleteFileW(planted.c_str());
    for (auto at = made.rbegin(); at != made.rend(); ++at)
        RemoveDirectoryW(at->c_str());
}

// Only a whole text names the folder: another type, or a text that a NUL
// ends early (a multi-string's first part), is no folder at all.
TEST_F(MessagesTest, LanguageFolderOfAnotherTypeIsIgnored)
{
    ScratchDir folder(L"msg");
    CreateDirectoryW((folder / L"lang").c_str(), nullptr);
    EXPECT_TRUE(WriteBytes(folder / L"lang\\license.txt", "x"));
    const std::wstring source = folder / L"license.txt";
    const std::wstring lang = folder / L"lang";
    const struct
    {
        DWORD Type;
        std::wstring Data; // without the final terminator
        bool Used;
    } rows[] = {
        {REG_SZ, lang, true},
        {REG_EXPAND_SZ, lang + L"\\", true},
        {REG_MULTI_SZ, lang + std::wstring(1, 0) + L"other", false},
        {REG_SZ, lang + std::wstring(1, 0) + L"x", false},
        {REG_BINARY, lang, false},
    };
    for (size_t row = 0; row < sizeof(rows) / sizeof(rows[0]); ++row)
    {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, kGeneralKey, 0, nullptr, 0,
                                                 KEY_SET_VALUE, nullptr, &key, nullptr));
        const std::wstring& data = rows[row].Data;
        RegSetValueExW(key, L"LanguageFolder", 0, rows[row].Type,
                       reinterpret_cast<const BYTE*>(data.c_str()),
                       static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
        wchar_t result[2048];
        EXPECT_TRUE(RedirectToLanguageFolder(source.c_str(), result, 2048)) << "row " << row;
        EXPECT_EQ(rows[row].Used ? lang + L"\\license.txt" : source, result) << "row " << row;
    }
}

TEST_F(MessagesTest, LanguageFolderMustFitBesideTheSourcePath)
{
    ScratchDir folder(L"msg");
    CreateDirectoryW((folder / L"lang").c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(BesideTestBinary(L"langmodule\\rtl\\vnxlng.dll").c_str(),
                          (folder / L"lang\\vnxlng.dll").c_str(), FALSE));
    const std::wstring source = folder / L"vnxlng.dll";
    // The value, terminator included, may take 2047 characters less the
    // source's. "\." steps keep it naming the same folder at any length.
    const size_t room = 2047 - source.size();
    auto namingLang = [&](size_t length)
    {
        std::wstring value = folder / L"lang";
        while (value.size() + 2 <= length)
            value += L"\\.";
        if (value.size() < length)
            value += L"\\";
        return value;
    };
    wchar_t result[2048];
    SetLanguageFolder(namingLang(room - 1));
    EXPECT_TRUE(RedirectToLanguageFolder(source.c_str(), result, 2048));
    if (std::wstring(result) == source)
        GTEST_SKIP() << "this system does not resolve a folder name of " << room - 1
                     << " characters";

    SetLanguageFolder(namingLang(room));
    EXPECT_TRUE(RedirectToLanguageFolder(source.c_str(), result, 2048));
    EXPECT_EQ(source, result) << "one character more is ignored";
    // A source that does not fit the destination names nothing to open.
    EXPECT_TRUE(RedirectToLanguageFolder(source.c_str(), result, source.size() + 1));
    EXPECT_FALSE(RedirectToLanguageFolder(source.c_str(), result, source.size()));
}

} // namespace
