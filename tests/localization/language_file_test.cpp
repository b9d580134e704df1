// The language file: keys, the marker in both encodings, the section limits,
// escapes, lookups and the reading direction.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "localization/language_file.h"
#include "localization/lng_fixtures.h"
#include "localization/language_module.h"
#include "localization/messages.h"
#include "resources/resource.h"
#include "support/import_patch.h"
#include "support/program_under_test.h"

namespace
{

class LanguageFileTest : public testing::Test
{
protected:
    void TearDown() override { ResetLanguage(); }

    // Loads a file of the given bytes; true when a section was loaded.
    bool LoadBytes(const std::string& bytes)
    {
        const std::wstring path = Scratch / L"uninstall.lng";
        EXPECT_TRUE(WriteBytes(path, bytes));
        return LanguageFile.Load(path.c_str());
    }
    static std::wstring Translated(const wchar_t* source, TextKind kind = TextKind::Message,
                                   const wchar_t* context = nullptr, size_t capacity = 1024)
    {
        wchar_t out[1024];
        LanguageFile.Translate(source, out, capacity, kind, context);
        return out;
    }

    ScratchDir Scratch{L"lng"};
};

TEST_F(LanguageFileTest, KeysHashTheKindContextAndAnsiText)
{
    wchar_t key[kEntryKeyChars];
    ComposeEntryKey(TextKind::Dialog, L"LTR", L"LTR", key);
    EXPECT_STREQ(L"50a17ae8", key);
    ComposeEntryKey(TextKind::Dialog, L"SETUPDLG", L"", key);
    EXPECT_STREQ(L"9b889d24", key);
    ComposeEntryKey(TextKind::Message, nullptr, L"Uninstall Velnox", key);
    EXPECT_STREQ(L"e0b15aea", key);
}

// The same entry, found whatever the encoding and wherever the marker lies.
TEST_F(LanguageFileTest, MarkerIsFoundInEitherFormAnywhere)
{
    const std::string section =
        "***messages***\r\n" + Entry(L"Uninstall Velnox", "Entfernen") + "\r\n";
    const struct
    {
        const char* Name;
        std::string Bytes;
    } rows[] = {
        {"ansi at start", section},
        {"ansi after other sections", "[setup]\r\nx=1\r\n" + section},
        {"utf-16", Utf16(section)},
        {"utf-16 at odd offset", "x" + Utf16(section)},
        {"ansi beyond first block", std::string(20000, ' ') + section},
        {"utf-16 across block end", std::string(8192 - 20, ' ') + Utf16(section)},
        {"utf-16 odd, across block end", std::string(8192 - 17, ' ') + Utf16(section)},
    };
    for (size_t row = 0; row < sizeof(rows) / sizeof(rows[0]); row++)
    {
        EXPECT_TRUE(LoadBytes(rows[row].Bytes)) << "row " << row << " " << rows[row].Name;
        EXPECT_EQ(L"Entfernen", Translated(L"Uninstall Velnox")) << "row " << row;
    }
}

TEST_F(LanguageFileTest, FileWithoutMarkerOrFileIsGivenUp)
{
    EXPECT_FALSE(LoadBytes("0123456789"));
    EXPECT_FALSE(LanguageFile.IsLoaded());
    EXPECT_FALSE(LoadBytes(std::string(2100000, ' ') + "***messages***\r\n"));
    EXPECT_FALSE(LanguageFile.Load((Scratch / L"missing.lng").c_str()));
    wchar_t text[16] = L"Cancel";
    LanguageFile.Translate(text, 16, TextKind::Message, nullptr);
    EXPECT_STREQ(L"Cancel", text);
    EXPECT_EQ(L"OK", Translated(L"OK", TextKind::Dialog, L"SETUPDLG", 3));
    EXPECT_EQ(L"O", Translated(L"OK", TextKind::Dialog, L"SETUPDLG", 2)) << "cut to capacity";
}

TEST_F(LanguageFileTest, TextBeyondTheSectionLimitIsNotRead)
{
    // Characters in the ANSI form, bytes in the UTF-16 one.
    const std::string early = Entry(L"Early", "early") + "\r\n";
    const std::string late = "\r\n" + Entry(L"Late", "late") + "\r\n";
    const std::string fill(kLanguageSectionChars, 'x');
    for (int wide = 0; wide < 2; wide++)
    {
        std::string bytes = "***messages***\r\n" + early + fill + late;
        ASSERT_TRUE(LoadBytes(wide ? Utf16(bytes) : bytes)) << "wide " << wide;
        EXPECT_EQ(L"early", Translated(L"Early")) << "wide " << wide;
        EXPECT_EQ(L"Late", Translated(L"Late")) << "wide " << wide;
    }
}

TEST_F(LanguageFileTest, EscapesAndLineEnds)
{
    const struct
    {
        const wchar_t* Source;
        const char* Translation; // as written in the file
        const wchar_t* Expected;
    } rows[] = {
        {L"quote", "say \\\"hi\\\"", L"say \"hi\""},
        {L"inner quotes", "a \"b\" c", L"a \"b\" c"},
        {L"backslash", "C:\\\\dir", L"C:\\dir"},
        {L"breaks", "one\\ntwo\\rthree\\tfour", L"one\ntwo\rthree\tfour"},
        {L"unknown", "a\\qb", L"a\\qb"},
        {L"escaped quote at end", "x\\\\\\\"", L"x\\\""},
    };
    std::string file = "***messages***\n\n";
    for (const auto& row : rows)
        file += Entry(row.Source, row.Translation) + "\r\n\r\n";
    file += Entry(L"raw", "first") + "\r\nrest\"\n";
    ASSERT_TRUE(LoadBytes(file));
    for (size_t row = 0; row < sizeof(rows) / sizeof(rows[0]); row++)
        EXPECT_EQ(rows[row].Expected, Translated(rows[row].Source)) << "row " << row;
    EXPECT_EQ(L"first", Translated(L"raw")) << "a raw line break ends the entry";
}

TEST_F(LanguageFileTest, LastLineWithoutEndTakesAtMost255Characters)
{
    const std::string longText(400, 'y');
    std::string file = "***messages***\r\n" + EntryKey(L"Tail") + "=\"" + longText;
    ASSERT_TRUE(LoadBytes(file));
    EXPECT_EQ(std::wstring(255, L'y'), Translated(L"Tail"));
    EXPECT_EQ(std::wstring(9, L'y'), Translated(L"Tail", TextKind::Message, nullptr, 10));
}

TEST_F(LanguageFileTest, EntriesAreFoundByKeyAndContext)
{
    std::string file = "***messages***\r\n";
    file += Entry(L"Help", "Hilfe", TextKind::Dialog, L"SETUPDLG") + "\r\n";
    file += Entry(L"Help", "Hilfeseite", TextKind::Dialog, L"DONEDLG") + "\r\n";
    file += Entry(L"Twice", "one") + "\r\n" + Entry(L"Twice", "two") + "\r\n";
    // An empty translation on the last line.
    file += EntryKey(L"Short") + "=\"";
    ASSERT_TRUE(LoadBytes(file));
    EXPECT_EQ(L"Hilfe", Translated(L"Help", TextKind::Dialog, L"SETUPDLG"));
    EXPECT_EQ(L"Hilfeseite", Translated(L"Help", TextKind::Dialog, L"DONEDLG"));
    EXPECT_EQ(L"Help", Translated(L"Help")) << "a message is another kind";
    const std::wstring twice = Translated(L"Twice");
    EXPECT_TRUE(twice == L"one" || twice == L"two") << "got " << testing::PrintToString(twice);
    EXPECT_EQ(L"", Translated(L"Short"));
    uint32_t position = 0;
    EXPECT_FALSE(LanguageFile.Find(L"00000000", position));
}

TEST_F(LanguageFileTest, DirectionComesFromTheEntryOrTheModuleMarker)
{
    ASSERT_TRUE(LoadBytes("***messages***\r\n50a17ae8=\"RTL\"\r\n"));
    EXPECT_TRUE(LanguageFile.RightToLeft);
    DWORD layout = 0;
    EXPECT_TRUE(GetProcessDefaultLayout(&layout));
    EXPECT_EQ(DWORD(LAYOUT_RTL), layout);
    ResetLanguage();

    ASSERT_TRUE(LoadBytes("***messages***\r\n50a17ae8=\"rtl\"\r\n"));
    EXPECT_FALSE(LanguageFile.RightToLeft) << "the word is case-sensitive";

    // No file at all: only the module's "RTL" dialog counts.
    HMODULE module = LoadLibraryExW(BesideTestBinary(L"langmodule\\rtl\\vnxlng.dll").c_str(),
                                    nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    ResourceModule = module;
    EXPECT_FALSE(LanguageFile.Load((Scratch / L"missing.lng").c_str()));
    EXPECT_TRUE(LanguageFile.RightToLeft);
    ResourceModule = nullptr;
    FreeLibrary(module);
}

// Wine's message box keeps no trace of the reading-order styles, so the style
// is taken where the program hands it to the system.
UINT lastBoxStyle = 0;
int WINAPI RecordMessageBox(HWND, LPCWSTR, LPCWSTR, UINT style)
{
    lastBoxStyle = style;
    return IDOK;
}

TEST_F(LanguageFileTest, RightToLeftLanguageMakesMessageBoxesReadRightToLeft)
{
    void* real =
        SwapImport("user32.dll", "MessageBoxW", reinterpret_cast<void*>(&RecordMessageBox));
    ASSERT_NE(real, nullptr);
    const UINT rtl = MB_RIGHT | MB_RTLREADING;

    ShowMessageBox(nullptr, L"text", L"caption", MB_ICONINFORMATION);
    EXPECT_EQ(UINT(MB_ICONINFORMATION), lastBoxStyle) << "left to right by default";

    ASSERT_TRUE(LoadBytes("***messages***\r\n50a17ae8=\"RTL\"\r\n"));
    ShowMessageBox(nullptr, L"text", L"caption", MB_ICONINFORMATION);
    EXPECT_EQ(UINT(MB_ICONINFORMATION) | rtl, lastBoxStyle);
    ResetLanguage();

    HMODULE module = LoadLibraryExW(BesideTestBinary(L"langmodule\\rtl\\vnxlng.dll").c_str(),
                                    nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    ResourceModule = module;
    LanguageFile.Load((Scratch / L"missing.lng").c_str());
    ShowMessageBox(nullptr, L"text", L"caption", MB_OK);
    EXPECT_EQ(rtl, lastBoxStyle) << "an RTL dialog in the language module";
    ResourceModule = nullptr;
    FreeLibrary(module);

    SwapImport("user32.dll", "MessageBoxW", real);
}

TEST_F(LanguageFileTest, MessageTextUsesTheProgramsTableAsSource)
{
    HMODULE program = LoadProgramResources();
    ASSERT_NE(program, nullptr);
    ResourceModule = ProgramModule = program;
    ASSERT_TRUE(LoadBytes("***messages***\r\n" + Entry(L"Uninstall Velnox", "Velnox entfernen")));
    EXPECT_STREQ(L"Velnox entfernen", MessageText(MSG_UNINSTALL_CAPTION));
    EXPECT_STREQ(L"Velnox archiver", MessageText(MSG_LINK_COMMENT));
    ResourceModule = ProgramModule = nullptr;
    FreeLibrary(program);
}

} // namespace
