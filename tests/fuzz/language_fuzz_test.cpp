// The language file "uninstall.lng", fuzzed through its loader and its
// lookups: every translation lands in a buffer that ends at a guard page.
#include <windows.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "common/crc32.h"
#include "common/strings.h"
#include "files/file_system.h"
#include "fuzz/fuzz_harness.h"
#include "localization/language_file.h"
#include "localization/language_module.h"
#include "localization/messages.h"
#include "resources/resource.h"
#include "startup/command_line.h"
#include "support/plain_files.h"
#include "support/program_under_test.h"

namespace
{

const char kLanguageFile[] = "languagefile";
const char kModuleFormats[] = "moduleformats";

// The messages that take an argument, and what the program fills in.
const struct
{
    UINT Number;
    const wchar_t* Argument;
} kArgumentMessages[] = {
    {MSG_NOT_REMOVED_PATH, L"C:\\Program Files\\Velnox\\uninstall.exe"},
    {MSG_NO_FILE_LIST, L"Uninstall.lst"},
};

// The program's own texts of those messages: the keys of their translations.
const std::vector<std::wstring>& ArgumentMessageSources()
{
    static const std::vector<std::wstring> sources = []
    {
        std::vector<std::wstring> made;
        HMODULE program = LoadProgramResources();
        for (const auto& message : kArgumentMessages)
            made.push_back(ResourceText(program, message.Number));
        if (program != nullptr)
            FreeLibrary(program);
        return made;
    }();
    return sources;
}

std::wstring ArgumentMessageKey(size_t row)
{
    wchar_t key[kEntryKeyChars];
    ComposeEntryKey(TextKind::Message, nullptr, ArgumentMessageSources()[row].c_str(), key);
    return key;
}

// Translations of those messages as a careless or hostile translator writes them.
const std::vector<std::wstring> kFormatSeeds = {
    L"Bitte l\u00f6schen Sie %s selbst.", L"%s %s %s %n %x %d %p %S %ls %*d %.9999s",
    L"100%% %%s %s %",                    L"no placeholder",
    L"%",                                 L"%%%s%%%",
};
const std::vector<std::wstring> kFormatTokens = {L"%s", L"%n", L"%%", L"%", L"%ls", L"%S",
                                                 L"%08x", L"%*d", L"\\", L"\"", L"\r\n",
                                                 L"..\\", L"/", L"NUL", L"https://"};

// The checks on one message filled in: terminated within the capacity, no
// longer than its text and argument together (nothing else was read), and a
// text without "%" shown as it is.
bool FillsOnlyTheArgument(GuardedBlock& argumentBlock, GuardedBlock& outputBlock, size_t capacity,
                          std::string& failure)
{
    for (const auto& message : kArgumentMessages)
    {
        const std::wstring text = MessageText(message.Number);
        wchar_t* argument = PlaceText(argumentBlock, message.Argument);
        wchar_t* output = PlaceBuffer(outputBlock, capacity);
        MessageWithArgument(message.Number, argument, output, capacity);
        const size_t length = wcsnlen(output, capacity);
        if (length >= capacity)
            failure = "message " + std::to_string(message.Number) + " not terminated";
        else if (length > text.size() + wcslen(message.Argument))
            failure = "message " + std::to_string(message.Number) + " longer than its parts";
        else if (text.find(L'%') == std::wstring::npos &&
                 std::wstring(output) != text.substr(0, capacity - 1))
            failure = "message " + std::to_string(message.Number) + " changed without a \"%\"";
        if (!failure.empty())
            return false;
    }
    // The "warning" box, its first line included.
    wchar_t* warning = PlaceBuffer(outputBlock, capacity);
    ComposeWarningText(PlaceText(argumentBlock, kArgumentMessages[0].Argument), warning, capacity);
    if (wcsnlen(warning, capacity) >= capacity)
        failure = "warning text not terminated";
    return failure.empty();
}

// The messages that become file names in a folder, and the address the
// shell opens: whatever a translation says, a name stays one entry of its
// folder and the address stays a web address.
const UINT kNameMessages[] = {MSG_LINK_HELP, MSG_LINK_README, MSG_LINK_FOURTH,
                              MSG_LINK_FOURTH_FILE};

std::wstring OwnMessageKey(UINT number)
{
    static HMODULE program = LoadProgramResources();
    wchar_t key[kEntryKeyChars];
    ComposeEntryKey(TextKind::Message, nullptr, ResourceText(program, number).c_str(), key);
    return key;
}

bool NamesStayInTheirFolder(std::string& failure)
{
    const std::wstring folder = L"C:\\fuzz\\group\\";
    for (const UINT number : kNameMessages)
    {
        const std::wstring name = MessageFileName(number);
        if (name.empty())
            continue;
        wchar_t full[4096];
        const DWORD length = GetFullPathNameW((folder + name + L".lnk").c_str(), 4096, full, nullptr);
        const std::wstring joined(full, length < 4096 ? length : 0);
        if (IsDeviceName(name.c_str()) || joined.compare(0, folder.size(), folder) != 0 ||
            joined.find_first_of(L"\\/:", folder.size()) != std::wstring::npos)
            failure = "message " + std::to_string(number) + " leaves its folder";
    }
    const std::wstring address = MessageWebAddress(MSG_WEB_ADDRESS);
    if (!address.empty() && CompareNoCasePrefix(address.c_str(), L"http", 4) != 0)
        failure = "the web address is no web address";
    return failure.empty();
}

// Texts whose keys the seeds hold, so that lookups find entries.
const wchar_t* const kSources[] = {L"Remove Velnox and all of its components?",
                                   L"Uninstall",
                                   L"LTR",
                                   L"",
                                   L"%s was not removed",
                                   L"\u00e9t\u00e9 \u4e2d"};
struct SourceKey
{
    const wchar_t* Source;
    TextKind Kind;
    const wchar_t* Context;
};
const SourceKey kKeys[] = {
    {kSources[0], TextKind::Message, nullptr}, {kSources[1], TextKind::Message, nullptr},
    {kSources[2], TextKind::Dialog, L"LTR"},   {kSources[3], TextKind::Dialog, L"SETUPDLG"},
    {kSources[4], TextKind::Message, nullptr}, {kSources[5], TextKind::Message, nullptr},
};

std::wstring KeyOf(const SourceKey& entry)
{
    wchar_t key[kEntryKeyChars];
    ComposeEntryKey(entry.Kind, entry.Context, entry.Source, key);
    return key;
}

const std::vector<std::wstring>& LanguageSeeds()
{
    static const std::vector<std::wstring> seeds = []
    {
        std::vector<std::wstring> made;
        std::wstring entries;
        for (const SourceKey& key : kKeys)
            entries += KeyOf(key) + L"=\"\u00dcbersetzt \\\"x\\\" \\\\ \\n line\\t\"\r\n";
        made.push_back(L"; header\r\n***messages***\r\n" + entries);
        made.push_back(L"***messages**\n" + KeyOf(kKeys[2]) + L"=\"RTL\"\n" + KeyOf(kKeys[0]) +
                       L"=\"no closing quote");
        made.push_back(L"***messages***" + KeyOf(kKeys[1]) + L"=\"\"\r\n\r\n" + KeyOf(kKeys[1]) +
                       L"=\"twice\"\r\n" + KeyOf(kKeys[3]) + L"=\"130 110\"\r\n\\");
        made.push_back(L"no marker here at all");
        made.push_back(L"**messages***\r\n" + entries); // one asterisk short
        std::wstring formats = L"***messages***\r\n";
        for (size_t row = 0; row < ARRAYSIZE(kArgumentMessages); row++)
            for (const std::wstring& format : kFormatSeeds)
                formats += ArgumentMessageKey(row) + L"=\"" + format + L"\"\r\n";
        for (const UINT number : kNameMessages)
            for (const wchar_t* name : {L"..\\..\\..\\escaped", L"a/b", L"NUL", L"C:x", L"Hilfe"})
                formats += OwnMessageKey(number) + L"=\"" + name + L"\"\r\n";
        formats += OwnMessageKey(MSG_WEB_ADDRESS) + L"=\"C:\\windows\\notepad.exe\"\r\n";
        made.push_back(formats);
        // The sample file shipped with the tests, as its 16-bit text.
        const std::string sample = ReadBytes(FromLinuxPath(VNX_LNG_SAMPLE));
        if (sample.size() > 2)
            made.push_back(BytesToText(sample.substr(2)));
        return made;
    }();
    return seeds;
}

const size_t kCapacities[] = {1, 2, 9, 10, 255, 256, 257, 511, 512, 1024};

class LanguageTarget
{
public:
    LanguageTarget() : Scratch(L"fuzzlng"), File(Scratch / L"uninstall.lng")
    {
        // Messages come from the program's own string table.
        ResourceModule = ProgramModule = LoadProgramResources();
    }
    ~LanguageTarget()
    {
        LanguageFile.Load(PlaceText(PathBlock, Scratch / L"none.lng"));
        LanguageFile.RightToLeft = false;
        SetProcessDefaultLayout(0);
        if (ProgramModule != nullptr)
            FreeLibrary(ProgramModule);
        ResourceModule = ProgramModule = nullptr;
    }

    void Run(const std::string& bytes, uint32_t index)
    {
        BeginInput(kLanguageFile, index, bytes);
        if (!WriteBytes(File, bytes))
        {
            ADD_FAILURE() << kLanguageFile << " input " << index << ": file not written";
            return;
        }
        const uint32_t hash = Crc32(0xFFFFFFFF, bytes.data(), bytes.size());
        // The program's own language file, so that its messages are translated.
        LanguageFile.Load(PlaceText(PathBlock, File));
        Lookups(LanguageFile, bytes, hash, index);
        std::string failure;
        if (!FillsOnlyTheArgument(ArgumentBlock, OutputBlock,
                                  kCapacities[(hash >> 8) % ARRAYSIZE(kCapacities)], failure) ||
            !NamesStayInTheirFolder(failure))
        {
            ADD_FAILURE() << kLanguageFile << " input " << index << ": " << failure;
            SaveFinding(kLanguageFile, index, "format", bytes);
        }
        SetProcessDefaultLayout(0);
        EndInput();
    }

private:
    void Lookups(const LanguageFileData& language, const std::string& bytes, uint32_t hash,
                 uint32_t index)
    {
        for (size_t k = 0; k < ARRAYSIZE(kKeys); k++)
        {
            const size_t capacity = kCapacities[(hash + k) % ARRAYSIZE(kCapacities)];
            wchar_t* output = PlaceBuffer(OutputBlock, capacity);
            language.Translate(kKeys[k].Source, output, capacity, kKeys[k].Kind, kKeys[k].Context);
            // In place, as dialog texts are translated.
            std::wstring source(kKeys[k].Source);
            source.resize(capacity - 1 < source.size() ? capacity - 1 : source.size());
            wchar_t* inPlace = PlaceText(InPlaceBlock, source);
            language.Translate(inPlace, source.size() + 1, kKeys[k].Kind, kKeys[k].Context);
            if (wcsnlen(output, capacity) >= capacity ||
                wcsnlen(inPlace, source.size() + 1) > source.size())
            {
                ADD_FAILURE() << kLanguageFile << " input " << index << ": translation of row " << k
                              << " overran capacity " << capacity;
                SaveFinding(kLanguageFile, index, "translate", bytes);
                return;
            }
        }
        // Keys taken from the input's own lines, exactly 8 units with no
        // terminator after them.
        const std::wstring text = BytesToText(bytes);
        for (size_t start = 0, found = 0; start + 8 <= text.size() && found < 8; start++)
        {
            if (start > 0 && text[start - 1] != L'\n' && text[start - 1] != L'\r')
                continue;
            found++;
            wchar_t* key = static_cast<wchar_t*>(KeyBlock.Place(8 * sizeof(wchar_t)));
            std::wmemcpy(key, text.data() + start, 8);
            uint32_t position = 0;
            language.Find(key, position);
        }
    }

    ScratchDir Scratch;
    std::wstring File;
    GuardedBlock PathBlock{8192};
    GuardedBlock OutputBlock{8192};
    GuardedBlock InPlaceBlock{8192};
    GuardedBlock KeyBlock{4096};
    GuardedBlock ArgumentBlock{4096};
};

std::string MakeLanguageInput(Rng& rng)
{
    static const std::vector<std::wstring> tokens = {L"***messages***\r\n",
                                                     L"**messages***",
                                                     L"=\"",
                                                     L"\"",
                                                     L"\\",
                                                     L"\\\"",
                                                     L"\\\\",
                                                     L"\\n",
                                                     L"\\r",
                                                     L"\\t",
                                                     L"\r\n",
                                                     L"\f",
                                                     L"=",
                                                     KeyOf(kKeys[0]),
                                                     KeyOf(kKeys[2]) + L"=\"RTL\"",
                                                     KeyOf(kKeys[3]) + L"=\"",
                                                     L"00000000=\"",
                                                     L"ffffffff",
                                                     ArgumentMessageKey(0) + L"=\"",
                                                     ArgumentMessageKey(1) + L"=\"",
                                                     L"%s",
                                                     L"%n",
                                                     L"%%"};
    static const std::vector<size_t> lengths = {8, 9, 10, 254, 255, 256, 4095, 4096, 4097};
    static const std::vector<size_t> fileLengths = {16,   26,   32,   8160, 8176,
                                                    8191, 8192, 8193, 8208, 16384};
    const MutationPlan plan = {&LanguageSeeds(), &tokens, &lengths};
    std::wstring text = MutateText(rng, plan);
    // The marker near a block end, or the section at its size limits.
    const uint32_t shape = rng.Below(100);
    if (shape < 8)
    {
        const size_t at = 8192 * (1 + rng.Below(2)) - 40 + rng.Below(40);
        text.insert(0, std::wstring(at / 2, L'x') + L"\r\n");
    }
    else if (shape < 10)
    {
        const size_t chars = (rng.OneIn(2) ? 262144 : 524288 / 2) - 2 + rng.Below(5);
        if (text.size() < chars)
            text.append(chars - text.size(), rng.OneIn(2) ? L'\\' : L'a');
    }
    else if (shape == 10 && rng.OneIn(4))
    {
        // No marker within the blocks that are searched.
        text = std::wstring(256 * 4096 + rng.Below(16), L'*') + L"***messages***\r\n";
    }
    const FileEncoding encoding = rng.OneIn(2) ? FileEncoding::Ansi : FileEncoding::Utf16;
    std::string bytes = EncodeText(text, encoding);
    if (encoding == FileEncoding::Utf16 && rng.OneIn(4))
        bytes.insert(0, 1, 'x'); // the marker at an odd offset
    MutateBytes(rng, bytes, fileLengths);
    return bytes;
}

// A language module whose string table holds the input as the translations
// of the messages that take an argument (split at its first form feed),
// made from the test module with the system's resource updater.
class ModuleTarget
{
public:
    ModuleTarget()
        : Scratch(L"fuzzmod"), Module(Scratch / L"vnxlng.dll"),
          Plain(BesideTestBinary(L"..\\langmodule\\plain\\vnxlng.dll")),
          Program(LoadProgramResources())
    {
        // Without a language file the module's own texts are shown.
        LanguageFile.Load(PlaceText(PathBlock, Scratch / L"none.lng"));
    }
    ~ModuleTarget()
    {
        LanguageModule.Release();
        ResourceModule = ProgramModule = nullptr;
        if (Program != nullptr)
            FreeLibrary(Program);
    }

    void Run(const std::string& bytes, uint32_t index)
    {
        BeginInput(kModuleFormats, index, bytes);
        LanguageModule.Release();
        if (!WriteModule(BytesToText(bytes)))
        {
            ADD_FAILURE() << kModuleFormats << " input " << index << ": module not written";
            return;
        }
        LanguageModule.OpenBeside(Program, (Scratch / L"uninstall.exe").c_str());
        std::string failure;
        if (!LanguageModule.IsLoaded() ||
            std::wstring(MessageText(MSG_UNINSTALL_CAPTION)) != L"Velnox entfernen")
            failure = "module not loaded";
        else if (FillsOnlyTheArgument(ArgumentBlock, OutputBlock,
                                      kCapacities[index % ARRAYSIZE(kCapacities)], failure))
            NamesStayInTheirFolder(failure);
        if (!failure.empty())
        {
            ADD_FAILURE() << kModuleFormats << " input " << index << ": " << failure;
            SaveFinding(kModuleFormats, index, "format", bytes);
        }
        EndInput();
    }

private:
    bool WriteModule(const std::wstring& text)
    {
        if (!CopyFileW(Plain.c_str(), Module.c_str(), FALSE))
            return false;
        // One block of the string table holds 16 messages.
        const UINT first = MSG_NOT_REMOVED_PATH & ~15u;
        const size_t split = text.find(L'\f');
        std::wstring texts[16];
        texts[MSG_UNINSTALL_CAPTION - first] = L"Velnox entfernen";
        texts[MSG_NOT_REMOVED_PATH - first] = text.substr(0, split);
        texts[MSG_NO_FILE_LIST - first] = split == std::wstring::npos ? L"" : text.substr(split + 1);
        // The name and address messages of the same block take the texts too.
        texts[MSG_LINK_FOURTH - first] = texts[MSG_NOT_REMOVED_PATH - first];
        texts[MSG_LINK_FOURTH_FILE - first] = texts[MSG_NO_FILE_LIST - first];
        texts[MSG_WEB_ADDRESS - first] = texts[MSG_NOT_REMOVED_PATH - first];
        std::vector<WORD> block;
        for (const std::wstring& entry : texts)
        {
            const size_t length = entry.size() < 0xFFFF ? entry.size() : 0xFFFF;
            block.push_back(static_cast<WORD>(length));
            block.insert(block.end(), entry.begin(), entry.begin() + length);
        }
        HANDLE update = BeginUpdateResourceW(Module.c_str(), FALSE);
        if (update == nullptr)
            return false;
        const BOOL put = UpdateResourceW(update, RT_STRING, MAKEINTRESOURCEW(first / 16 + 1),
                                         MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), block.data(),
                                         static_cast<DWORD>(block.size() * sizeof(WORD)));
        return EndUpdateResourceW(update, !put) && put;
    }

    ScratchDir Scratch;
    std::wstring Module;
    std::wstring Plain;
    HMODULE Program;
    GuardedBlock PathBlock{8192};
    GuardedBlock OutputBlock{8192};
    GuardedBlock ArgumentBlock{4096};
};

std::string MakeModuleInput(Rng& rng)
{
    static const std::vector<std::wstring> seeds = []
    {
        std::vector<std::wstring> made;
        for (const std::wstring& a : kFormatSeeds)
            made.push_back(a + L"\f" + kFormatSeeds[made.size() % kFormatSeeds.size()]);
        return made;
    }();
    static const std::vector<std::wstring> tokens = []
    {
        std::vector<std::wstring> made = kFormatTokens;
        made.push_back(L"\f");
        made.push_back(std::wstring(1, L'\0'));
        return made;
    }();
    static const std::vector<size_t> lengths = {254, 255, 256, 510, 511, 512, 513, 1024};
    const MutationPlan plan = {&seeds, &tokens, &lengths};
    return TextToBytes(MutateText(rng, plan));
}

} // namespace

TEST(FuzzLanguageFile, LoadAndTranslate)
{
    LanguageTarget target;
    RunFuzz(kLanguageFile, 0x6c6e67, MakeLanguageInput,
            [&](const std::string& bytes, uint32_t i) { target.Run(bytes, i); });
}

TEST(FuzzLanguageFile, Regressions)
{
    LanguageTarget target;
    ReplayRegressions(kLanguageFile, [&](const std::string& bytes) { target.Run(bytes, 0); });
}

// Each input makes and loads a module, so a twentieth of the inputs suffice.
TEST(FuzzLanguageFile, ModuleFormats)
{
    ModuleTarget target;
    RunFuzz(
        kModuleFormats, 0x6d6f64, MakeModuleInput,
        [&](const std::string& bytes, uint32_t i) { target.Run(bytes, i); },
        Settings().Inputs / 20 + 1);
}
