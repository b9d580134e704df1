// The language file "uninstall.lng", fuzzed through its loader and its
// lookups: every translation lands in a buffer that ends at a guard page.
#include <windows.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "common/crc32.h"
#include "fuzz/fuzz_harness.h"
#include "localization/language_file.h"
#include "support/program_under_test.h"

namespace
{

const char kLanguageFile[] = "languagefile";

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

std::string ReadSample()
{
    std::wstring path = L"Z:";
    for (const char* p = VNX_LNG_SAMPLE; *p; p++)
        path += *p == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(*p));
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char block[8192];
    DWORD read = 0;
    while (ReadFile(file, block, sizeof(block), &read, nullptr) && read > 0)
        bytes.append(block, read);
    CloseHandle(file);
    return bytes;
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
        // The sample file shipped with the tests, as its 16-bit text.
        const std::string sample = ReadSample();
        if (sample.size() > 2)
            made.push_back(BytesToText(sample.substr(2)));
        return made;
    }();
    return seeds;
}

class LanguageTarget
{
public:
    LanguageTarget() : Scratch(L"fuzzlng"), File(Scratch / L"uninstall.lng") {}
    ~LanguageTarget() { SetProcessDefaultLayout(0); }

    void Run(const std::string& bytes, uint32_t index)
    {
        BeginInput(kLanguageFile, index, bytes);
        if (!WriteBytes(File, bytes))
        {
            ADD_FAILURE() << kLanguageFile << " input " << index << ": file not written";
            return;
        }
        const uint32_t hash = Crc32(0xFFFFFFFF, bytes.data(), bytes.size());
        {
            LanguageFileData language;
            language.Load(PlaceText(PathBlock, File));
            Lookups(language, bytes, hash, index);
        }
        SetProcessDefaultLayout(0);
        EndInput();
    }

private:
    void Lookups(const LanguageFileData& language, const std::string& bytes, uint32_t hash,
                 uint32_t index)
    {
        static const size_t kCapacities[] = {1, 2, 9, 10, 255, 256, 257, 511, 512, 1024};
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
                                                     L"ffffffff"};
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

} // namespace

TEST(FuzzLanguageFile, LoadAndTranslate)
{
    LanguageTarget target;
    RunFuzz(kLanguageFile, 0x6c6e67, MakeLanguageInput,
            [&](const std::string& bytes, uint32_t i) { target.Run(bytes, i); });
}

TEST(FuzzLanguageFile, Regressions)
{
    InstallFaultReports();
    LanguageTarget target;
    for (const RegressionInput& input : LoadRegressions(kLanguageFile))
    {
        SCOPED_TRACE(input.Name);
        target.Run(input.Bytes, 0);
    }
}
