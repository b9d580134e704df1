// Loading a language file of the longest section the program reads (262,144
// characters, UTF-16) and looking texts up in it.
#include "bench_sections.h"
#include "bench_support.h"

#include "localization/language_file.h"
#include "localization/messages.h"

#include <cstdio>

namespace
{

const int kLookups = 10000;

std::wstring SourceText(int number, const wchar_t* kind)
{
    wchar_t text[96];
    std::swprintf(text, 96, L"%ls text number %d of the archiver's dialogs and messages", kind,
                  number);
    return text;
}

// Entries until the section is full; returns the sources it holds.
std::vector<std::wstring> WriteLanguageFile(const std::wstring& path)
{
    std::wstring text = L"\xFEFF; Benchmark language file\r\n";
    const size_t sectionStart = text.size();
    text += L"***messages***\r\n";
    std::vector<std::wstring> sources;
    for (int number = 0;; number++)
    {
        const std::wstring source = SourceText(number, L"Source");
        wchar_t key[kEntryKeyChars];
        ComposeEntryKey(TextKind::Message, nullptr, source.c_str(), key);
        const std::wstring line =
            std::wstring(key) + L"=\"" + SourceText(number, L"Translated") + L"\"\r\n";
        if (text.size() - sectionStart + line.size() > kLanguageSectionChars)
            break;
        text += line;
        sources.push_back(source);
    }
    if (!WriteBytes(path, std::string(reinterpret_cast<const char*>(text.data()),
                                      text.size() * sizeof(wchar_t))))
        sources.clear();
    return sources;
}

// The least a loader must do: the whole file read into memory.
double ReadWholeFile(const std::wstring& path)
{
    const double start = NowSeconds();
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    const DWORD size = GetFileSize(file, nullptr);
    std::vector<char> bytes(size);
    DWORD read = 0;
    ReadFile(file, bytes.data(), size, &read, nullptr);
    CloseHandle(file);
    return NowSeconds() - start;
}

double Lookups(const LanguageFileData& data, const std::vector<std::wstring>& sources, int count)
{
    wchar_t output[kMessageChars];
    const double start = NowSeconds();
    for (int i = 0; i < count; i++)
        data.Translate(sources[i % sources.size()].c_str(), output, kMessageChars,
                       TextKind::Message, nullptr);
    return NowSeconds() - start;
}

} // namespace

void BenchLanguageFile(const BenchConfig& config)
{
    const std::wstring path = config.Scratch + L"\\uninstall.lng";
    const std::vector<std::wstring> sources = WriteLanguageFile(path);
    if (sources.empty())
    {
        std::fprintf(stderr, "bench: cannot write the language file\n");
        return;
    }
    std::vector<std::wstring> missing;
    for (int number = 0; number < int(sources.size()); number++)
        missing.push_back(SourceText(number, L"Missing"));

    std::vector<double> loadAndFound, loads, found, notFound, floor;
    for (int run = 0; run < config.Runs; run++)
    {
        floor.push_back(ReadWholeFile(path));
        LanguageFileData data;
        const double start = NowSeconds();
        if (!data.Load(path.c_str()))
        {
            std::fprintf(stderr, "bench: the language file did not load\n");
            return;
        }
        const double loaded = NowSeconds() - start;
        const double lookups = Lookups(data, sources, kLookups);
        loads.push_back(loaded);
        found.push_back(lookups);
        loadAndFound.push_back(loaded + lookups);
        notFound.push_back(Lookups(data, missing, kLookups));

        wchar_t output[kMessageChars];
        data.Translate(sources.back().c_str(), output, kMessageChars, TextKind::Message, nullptr);
        if (SourceText(int(sources.size()) - 1, L"Translated") != output)
        {
            std::fprintf(stderr, "bench: the last entry of the language file was not found\n");
            return;
        }
    }
    char note[96];
    std::snprintf(note, sizeof(note), "%u entries; load %.1f ms, lookups %.1f ms",
                  unsigned(sources.size()), Median(loads) * 1e3, Median(found) * 1e3);
    BenchRow row;
    row.What = "language file: load 262,144 chars + 10^4 found";
    row.Runs = int(loadAndFound.size());
    row.Seconds = Median(loadAndFound);
    row.Floor = "reading the file whole";
    row.FloorSeconds = Median(floor);
    row.Note = note;
    PrintRow(row);
    row.What = "language file: 10^4 lookups not found";
    row.Seconds = Median(notFound);
    row.Floor = "10^4 lookups found";
    row.FloorSeconds = Median(found);
    row.Note = "a miss ends in the sorted index";
    PrintRow(row);
}
