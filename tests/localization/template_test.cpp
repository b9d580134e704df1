// The translators' template, made by the tool from the built program: every
// key it writes is found, and changing one translation changes one text.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "localization/dialog_layout.h"
#include "localization/language_module.h"
#include "localization/lng_fixtures.h"
#include "resources/resource.h"
#include "support/program_under_test.h"

namespace
{

class TemplateTest : public testing::Test
{
protected:
    void SetUp() override
    {
        Program = LoadProgramResources();
        ASSERT_NE(Program, nullptr);
        ResourceModule = ProgramModule = Program;
        std::wstring tool = ProgramPath();
        tool.replace(tool.find_last_of(L'\\') + 1, std::wstring::npos, L"lng_template.exe");
        ChildProcess child;
        ASSERT_TRUE(child.Start(L"\"" + tool + L"\" \"" + ProgramPath() + L"\" \"" + Path + L"\""));
        ASSERT_EQ(0, child.Wait(60000));
        HANDLE file =
            CreateFileW(Path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        std::vector<wchar_t> text(GetFileSize(file, nullptr) / 2);
        DWORD read = 0;
        ReadFile(file, text.data(), static_cast<DWORD>(text.size() * 2), &read, nullptr);
        CloseHandle(file);
        Text.assign(text.data(), read / 2);
    }
    void TearDown() override
    {
        ResetLanguage();
        ResourceModule = ProgramModule = nullptr;
        FreeLibrary(Program);
    }
    // The keys of the entry lines, in file order.
    std::vector<std::wstring> Keys() const
    {
        std::vector<std::wstring> keys;
        for (size_t line = 0; line < Text.size(); line = Text.find(L'\n', line) + 1)
        {
            if (Text.compare(line + 8, 2, L"=\"") == 0)
                keys.push_back(Text.substr(line, 8));
            if (Text.find(L'\n', line) == std::wstring::npos)
                break;
        }
        return keys;
    }
    void Save(const std::wstring& text)
    {
        EXPECT_TRUE(WriteBytes(Path, std::string(reinterpret_cast<const char*>(text.data()),
                                                 text.size() * sizeof(wchar_t))));
        ASSERT_TRUE(LanguageFile.Load(Path.c_str()));
    }
    static std::wstring English(UINT number) { return ResourceText(ProgramModule, number); }

    HMODULE Program = nullptr;
    ScratchDir Scratch{L"tpl"};
    const std::wstring Path = Scratch / L"uninstall.lng";
    std::wstring Text;
};

TEST_F(TemplateTest, EveryKeyIsFoundAndTheEnglishTemplateChangesNothing)
{
    ASSERT_TRUE(LanguageFile.Load(Path.c_str()));
    const std::vector<std::wstring> keys = Keys();
    EXPECT_GT(keys.size(), 60u);
    for (size_t i = 0; i < keys.size(); i++)
    {
        uint32_t position = 0;
        EXPECT_TRUE(LanguageFile.Find(keys[i].c_str(), position)) << "entry " << i;
    }
    EXPECT_NE(Text.find(L"50a17ae8=\"LTR\""), std::wstring::npos);
    EXPECT_NE(Text.find(L"9b889d24=\"100*100\""), std::wstring::npos);
    EXPECT_FALSE(LanguageFile.RightToLeft);
    EXPECT_FALSE(GetDialogScale(L"SETUPDLG").Active);
    for (UINT number = 5000; number < 5200; number++)
        EXPECT_EQ(English(number), MessageText(number)) << "message " << number;
}

TEST_F(TemplateTest, OneChangedTranslationChangesOneText)
{
    const std::wstring english = L"\"" + English(MSG_UNINSTALL_CAPTION) + L"\"";
    const size_t at = Text.find(english);
    ASSERT_NE(at, std::wstring::npos);
    std::wstring changed = Text;
    changed.replace(at, english.size(), L"\"Velnox entfernen\"");
    Save(changed);
    for (UINT number = 5000; number < 5200; number++)
    {
        const std::wstring expected =
            number == MSG_UNINSTALL_CAPTION ? L"Velnox entfernen" : English(number);
        EXPECT_EQ(expected, MessageText(number)) << "message " << number;
    }
    wchar_t caption[64];
    LanguageFile.Translate(L"Velnox setup", caption, 64, TextKind::Dialog, L"SETUPDLG");
    EXPECT_STREQ(L"Velnox setup", caption);
}

} // namespace
