#include "fuzz/fuzz_harness.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/plain_files.h"
#include "support/program_under_test.h"

namespace
{

const uint64_t kDefaultSeed = 20261208;
// Per parser and prefix. The two prefixes run the same 32-bit parsers, so
// by default each takes its own half of the inputs (its own seed) rather
// than both running the same ones.
const uint32_t kDefaultInputs = 5000;
const DWORD kDefaultLimitMs = 20000;
const size_t kPage = 4096;

uint64_t EnvNumber(const char* name, uint64_t fallback)
{
    const char* text = std::getenv(name);
    if (text == nullptr || *text == 0)
        return fallback;
    return std::strtoull(text, nullptr, 0);
}

// The input in progress. Written by the fuzzing thread, read by the
// watchdog and the crash reports.
struct CurrentInput
{
    const char* Parser = nullptr;
    uint32_t Index = 0;
    std::string Bytes;
    volatile LONG Serial = 0;
    volatile DWORD Started = 0;
    volatile LONG Running = 0;
} Current;

volatile LONG Reported = 0;

void ReportAndExit(const char* kind, DWORD code)
{
    // Only the first report counts: a crash inside the report must not loop.
    if (InterlockedExchange(&Reported, 1) != 0)
        TerminateProcess(GetCurrentProcess(), code);
    const char* parser = Current.Parser ? Current.Parser : "(none)";
    std::wstring saved = L"(between inputs: not saved)";
    if (Current.Running)
        saved = SaveFinding(parser, Current.Index, kind, Current.Bytes);
    std::fprintf(stderr,
                 "\nFUZZ %s in parser %s, input %u (seed %llu, %u bytes), saved as %ls\n"
                 "Keep it under tests/fuzz/regressions/%s/ so that it is replayed.\n",
                 kind, parser, Current.Index, static_cast<unsigned long long>(Settings().Seed),
                 static_cast<unsigned>(Current.Bytes.size()), saved.c_str(), parser);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), code);
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* info)
{
    char kind[96];
    std::snprintf(kind, sizeof(kind), "crash-%08lx-at-%p",
                  static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode),
                  info->ExceptionRecord->ExceptionAddress);
    ReportAndExit(kind, 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

void OnAbort(int)
{
    ReportAndExit("abort", 3);
}

DWORD WINAPI Watchdog(void*)
{
    // Not Sleep: the option target swaps that import for a stand-in.
    HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    LONG seenSerial = -1;
    for (;;)
    {
        WaitForSingleObject(never, 200);
        if (!Current.Running)
            continue;
        const LONG serial = Current.Serial;
        if (serial != seenSerial)
        {
            seenSerial = serial;
            continue;
        }
        if (GetTickCount() - Current.Started > Settings().LimitMs && Current.Serial == serial &&
            Current.Running)
            ReportAndExit("hang", 4);
    }
}

} // namespace

const FuzzSettings& Settings()
{
    static FuzzSettings settings = []
    {
        FuzzSettings s;
        const char* prefix = std::getenv("VNX_PREFIX");
        const bool second = prefix != nullptr && std::strcmp(prefix, "win64") == 0;
        s.Seed = EnvNumber("VNX_FUZZ_SEED", kDefaultSeed + (second ? 1 : 0));
        s.Inputs = static_cast<uint32_t>(EnvNumber("VNX_FUZZ_INPUTS", kDefaultInputs));
        s.LimitMs = static_cast<DWORD>(EnvNumber("VNX_FUZZ_LIMIT_MS", kDefaultLimitMs));
        wchar_t folder[MAX_PATH] = {0};
        if (GetEnvironmentVariableW(L"VNX_FUZZ_FINDINGS", folder, MAX_PATH) - 1 < MAX_PATH - 1)
            s.Findings = folder;
        else
            s.Findings = BesideTestBinary(L"findings");
        return s;
    }();
    return settings;
}

GuardedBlock::GuardedBlock(size_t capacityBytes)
{
    Allocate(capacityBytes);
}

void GuardedBlock::Allocate(size_t capacityBytes)
{
    Usable = (capacityBytes + kPage - 1) / kPage * kPage;
    if (Usable == 0)
        Usable = kPage;
    Base = static_cast<BYTE*>(
        VirtualAlloc(nullptr, Usable + kPage, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old = 0;
    if (Base == nullptr || !VirtualProtect(Base + Usable, kPage, PAGE_NOACCESS, &old))
    {
        std::fprintf(stderr, "fuzz: no guarded block of %u bytes\n", unsigned(capacityBytes));
        std::abort();
    }
}

GuardedBlock::~GuardedBlock()
{
    VirtualFree(Base, 0, MEM_RELEASE);
}

void* GuardedBlock::Place(size_t bytes)
{
    // A larger input gets a larger block, still flush against its guard page.
    if (bytes > Usable)
    {
        VirtualFree(Base, 0, MEM_RELEASE);
        Allocate(bytes);
    }
    return Base + Usable - bytes;
}

wchar_t* PlaceText(GuardedBlock& block, const std::wstring& text)
{
    const size_t chars = text.size() + 1;
    wchar_t* place = static_cast<wchar_t*>(block.Place(chars * sizeof(wchar_t)));
    std::memcpy(place, text.c_str(), chars * sizeof(wchar_t));
    return place;
}

wchar_t* PlaceBuffer(GuardedBlock& block, size_t capacity)
{
    wchar_t* place = static_cast<wchar_t*>(block.Place(capacity * sizeof(wchar_t)));
    for (size_t i = 0; i < capacity; i++)
        place[i] = 0xBDBD;
    return place;
}

void BeginInput(const char* parser, uint32_t index, const std::string& bytes)
{
    Current.Parser = parser;
    Current.Index = index;
    Current.Bytes = bytes;
    Current.Started = GetTickCount();
    InterlockedIncrement(&Current.Serial);
    Current.Running = 1;
}

void EndInput()
{
    Current.Running = 0;
}

void InstallFaultReports()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    SetUnhandledExceptionFilter(OnUnhandledException);
    std::signal(SIGABRT, OnAbort);
    HANDLE thread = CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr);
    if (thread != nullptr)
        CloseHandle(thread);
}

std::wstring SaveFinding(const char* parser, uint32_t index, const char* kind,
                         const std::string& bytes)
{
    const FuzzSettings& settings = Settings();
    CreateDirectoryW(settings.Findings.c_str(), nullptr);
    const char* prefix = std::getenv("VNX_PREFIX");
    wchar_t name[256];
    _snwprintf(name, 255, L"\\%hs-%hs-seed%llu-%u-%hs.bin", parser, prefix ? prefix : "any",
               static_cast<unsigned long long>(settings.Seed), index, kind);
    name[255] = 0;
    for (wchar_t* p = name + 1; *p; p++)
        if (*p == L':' || *p == L'*' || *p == L'?')
            *p = L'_';
    const std::wstring path = settings.Findings + name;
    return WriteBytes(path, bytes) ? path : L"(not saved)";
}

std::vector<RegressionInput> LoadRegressions(const char* parser)
{
    std::vector<RegressionInput> inputs;
    const std::wstring folder = FromLinuxPath(VNX_FUZZ_SOURCE_DIR) + L"\\regressions\\" +
                                std::wstring(parser, parser + std::strlen(parser));
    for (const std::wstring& name : FilesIn(folder))
        inputs.push_back({std::string(name.begin(), name.end()), ReadBytes(folder + L"\\" + name)});
    return inputs;
}

namespace
{

// Units that parsers treat specially, or that conversions stumble on.
const wchar_t kInterestingUnits[] = {
    0,      L'"',   L'\\',  L'=',   L'\r',  L'\n',  L' ',   L'\t',  L'/',   L'-',
    L'.',   L':',   L'*',   L'%',   L'S',   L's',   L'1',   L'0',   L'A',   12,
    0x7F,   0x80,   0xA0,   0xFF,   0x100,  0x130,  0x3A3,  0xD800, 0xDBFF, 0xDC00,
    0xDFFF, 0xFEFF, 0xFFFE, 0xFFFF, 0x202E, 0x0600, 0xFF0F, 0x2215, 0x00E9, 0x4E2D};

const wchar_t kFillers[] = {L'A', L'x', L' ', L'\\', L'.', L'"', L'%', 0x00E9, 0x4E2D, L'9'};

wchar_t RandomUnit(Rng& rng)
{
    switch (rng.Below(4))
    {
    case 0:
        return kInterestingUnits[rng.Below(ARRAYSIZE(kInterestingUnits))];
    case 1:
        return static_cast<wchar_t>(rng.Below(0x10000));
    case 2:
        return static_cast<wchar_t>(rng.Below(0x100));
    default:
        return static_cast<wchar_t>(0x20 + rng.Below(0x5F));
    }
}

// Start of a random line of text.
size_t LineStart(Rng& rng, const std::wstring& text)
{
    if (text.empty())
        return 0;
    size_t at = rng.Below(static_cast<uint32_t>(text.size()));
    while (at > 0 && text[at - 1] != L'\n' && text[at - 1] != L'\r')
        at--;
    return at;
}

size_t LineEnd(const std::wstring& text, size_t start)
{
    size_t end = start;
    while (end < text.size() && text[end] != L'\n' && text[end] != L'\r')
        end++;
    return end;
}

void ChangeLineEnds(Rng& rng, std::wstring& text)
{
    static const wchar_t* const kEnds[] = {L"\r\n", L"\n", L"\r", L"\n\r", L"\r\r\n", L"\n\n"};
    const wchar_t* chosen = kEnds[rng.Below(ARRAYSIZE(kEnds))];
    const bool mixed = rng.OneIn(3);
    std::wstring out;
    out.reserve(text.size() + text.size() / 8);
    for (size_t i = 0; i < text.size(); i++)
    {
        if (text[i] == L'\r' || text[i] == L'\n')
        {
            if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n')
                i++;
            out += mixed ? kEnds[rng.Below(ARRAYSIZE(kEnds))] : chosen;
        }
        else
            out += text[i];
    }
    text.swap(out);
}

// Makes the line at start exactly length units long.
void SetLineLength(Rng& rng, std::wstring& text, size_t start, size_t length)
{
    const size_t end = LineEnd(text, start);
    const size_t current = end - start;
    if (current > length)
    {
        text.erase(start + length, current - length);
        return;
    }
    const wchar_t filler = kFillers[rng.Below(ARRAYSIZE(kFillers))];
    const size_t at = start + (current == 0 ? 0 : rng.Below(static_cast<uint32_t>(current + 1)));
    text.insert(at, length - current, filler);
}

void MutateOnce(Rng& rng, std::wstring& text, const MutationPlan& plan)
{
    const size_t size = text.size();
    switch (rng.Below(12))
    {
    case 0: // one unit changed
        if (size > 0)
            text[rng.Below(static_cast<uint32_t>(size))] = RandomUnit(rng);
        break;
    case 1: // one bit flipped
        if (size > 0)
            text[rng.Below(static_cast<uint32_t>(size))] ^=
                static_cast<wchar_t>(1u << rng.Below(16));
        break;
    case 2: // units inserted
    {
        const size_t at = rng.Below(static_cast<uint32_t>(size + 1));
        const uint32_t count = 1 + rng.Below(4);
        for (uint32_t i = 0; i < count; i++)
            text.insert(text.begin() + at, RandomUnit(rng));
        break;
    }
    case 3: // a range deleted
        if (size > 0)
        {
            const size_t at = rng.Below(static_cast<uint32_t>(size));
            text.erase(at, 1 + rng.Below(static_cast<uint32_t>(rng.OneIn(4) ? size - at : 8)));
        }
        break;
    case 4: // a range copied elsewhere
        if (size > 0)
        {
            const size_t from = rng.Below(static_cast<uint32_t>(size));
            const size_t count = 1 + rng.Below(static_cast<uint32_t>(size - from));
            const std::wstring piece = text.substr(from, count < 256 ? count : 256);
            text.insert(rng.Below(static_cast<uint32_t>(size + 1)), piece);
        }
        break;
    case 5: // a token spliced in
    case 6:
        if (!plan.Tokens->empty())
        {
            const std::wstring& token = (*plan.Tokens)[rng.Below(uint32_t(plan.Tokens->size()))];
            const size_t at =
                rng.OneIn(2) ? LineStart(rng, text) : rng.Below(static_cast<uint32_t>(size + 1));
            text.insert(at, token);
        }
        break;
    case 7: // line ends
        ChangeLineEnds(rng, text);
        break;
    case 8: // a line of a length worth hitting
    {
        size_t length = (*plan.Lengths)[rng.Below(uint32_t(plan.Lengths->size()))];
        length += rng.Below(5);
        length = length >= 2 ? length - 2 : 0;
        SetLineLength(rng, text, LineStart(rng, text), length);
        break;
    }
    case 9: // cut short
        if (size > 0)
            text.resize(rng.Below(static_cast<uint32_t>(size)));
        break;
    case 10: // a line repeated
    {
        const size_t start = LineStart(rng, text);
        const size_t end = LineEnd(text, start);
        const std::wstring line = text.substr(start, end - start) + L"\r\n";
        const uint32_t times = 1 + rng.Below(rng.OneIn(8) ? 200 : 4);
        std::wstring copies;
        for (uint32_t i = 0; i < times; i++)
            copies += line;
        text.insert(start, copies);
        break;
    }
    default: // spliced with another seed
    {
        const std::wstring& other = (*plan.Seeds)[rng.Below(uint32_t(plan.Seeds->size()))];
        if (!other.empty())
        {
            const size_t from = rng.Below(static_cast<uint32_t>(other.size()));
            text.insert(rng.Below(static_cast<uint32_t>(size + 1)), other.substr(from));
        }
        break;
    }
    }
}

void AppendUnitBytes(std::string& bytes, wchar_t c, bool bigEndian)
{
    const char low = static_cast<char>(c & 0xFF);
    const char high = static_cast<char>(c >> 8);
    bytes += bigEndian ? high : low;
    bytes += bigEndian ? low : high;
}

} // namespace

std::wstring MutateText(Rng& rng, const MutationPlan& plan)
{
    std::wstring text = (*plan.Seeds)[rng.Below(uint32_t(plan.Seeds->size()))];
    const uint32_t rounds = 1 + rng.Below(rng.OneIn(4) ? 16 : 5);
    for (uint32_t i = 0; i < rounds; i++)
        MutateOnce(rng, text, plan);
    return text;
}

std::string EncodeText(const std::wstring& text, FileEncoding encoding)
{
    std::string bytes;
    switch (encoding)
    {
    case FileEncoding::Utf8Mark:
    case FileEncoding::Utf8:
    {
        if (encoding == FileEncoding::Utf8Mark)
            bytes = "\xEF\xBB\xBF";
        if (text.empty())
            break;
        // Lone surrogates become U+FFFD here; byte mutations make the rest.
        const int need = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0,
                                             nullptr, nullptr);
        std::string utf8(need > 0 ? size_t(need) : 0, '\0');
        if (need > 0)
            WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &utf8[0], need, nullptr,
                                nullptr);
        bytes += utf8;
        break;
    }
    case FileEncoding::Utf16Mark:
    case FileEncoding::Utf16:
    case FileEncoding::Utf16BigMark:
    {
        const bool big = encoding == FileEncoding::Utf16BigMark;
        if (encoding != FileEncoding::Utf16)
            bytes = big ? "\xFE\xFF" : "\xFF\xFE";
        bytes.reserve(bytes.size() + text.size() * 2);
        for (wchar_t c : text)
            AppendUnitBytes(bytes, c, big);
        break;
    }
    default:
        // 8-bit text: the low byte of each unit, so that every byte value occurs.
        bytes.reserve(text.size());
        for (wchar_t c : text)
            bytes += static_cast<char>(c & 0xFF);
        break;
    }
    return bytes;
}

void MutateBytes(Rng& rng, std::string& bytes, const std::vector<size_t>& lengths)
{
    if (rng.OneIn(3))
    {
        const uint32_t rounds = 1 + rng.Below(4);
        for (uint32_t i = 0; i < rounds; i++)
        {
            const size_t size = bytes.size();
            switch (rng.Below(6))
            {
            case 0:
                if (size > 0)
                    bytes[rng.Below(uint32_t(size))] ^= static_cast<char>(1u << rng.Below(8));
                break;
            case 1:
                if (size > 0)
                    bytes[rng.Below(uint32_t(size))] = static_cast<char>(rng.Below(256));
                break;
            case 2: // odd lengths and shifted units
                bytes.insert(bytes.begin() + rng.Below(uint32_t(size + 1)),
                             static_cast<char>(rng.Below(256)));
                break;
            case 3:
                if (size > 0)
                    bytes.erase(rng.Below(uint32_t(size)), 1);
                break;
            case 4:
            {
                static const char* const kMarks[] = {
                    "\xFF\xFE", "\xFE\xFF", "\xEF\xBB\xBF",        "\xEF\xBB",
                    "\xFF",     "\xC0\x80", "\xF8\x88\x80\x80\x80"};
                bytes.insert(rng.OneIn(2) ? 0 : rng.Below(uint32_t(size + 1)),
                             kMarks[rng.Below(ARRAYSIZE(kMarks))]);
                break;
            }
            default:
                if (size > 0)
                    bytes.resize(rng.Below(uint32_t(size)));
                break;
            }
        }
    }
    if (!lengths.empty() && rng.OneIn(6))
    {
        size_t target = lengths[rng.Below(uint32_t(lengths.size()))] + rng.Below(5);
        target = target >= 2 ? target - 2 : 0;
        if (target < bytes.size())
            bytes.resize(target);
        else
        {
            const char filler = static_cast<char>(rng.OneIn(2) ? 'a' : rng.Below(256));
            const size_t at = rng.Below(uint32_t(bytes.size() + 1));
            bytes.insert(at, target - bytes.size(), filler);
        }
    }
}

std::wstring BytesToText(const std::string& bytes)
{
    std::wstring text(bytes.size() / 2, L'\0');
    for (size_t i = 0; i < text.size(); i++)
        text[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                       (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    return text;
}

std::string TextToBytes(const std::wstring& text)
{
    std::string bytes;
    bytes.reserve(text.size() * 2);
    for (wchar_t c : text)
        AppendUnitBytes(bytes, c, false);
    return bytes;
}

void ReportRate(const char* parser, uint32_t inputs, DWORD milliseconds)
{
    const double seconds = milliseconds / 1000.0;
    std::printf("[fuzz] %-12s seed %llu: %u inputs in %.1f s, %.0f inputs/s\n", parser,
                static_cast<unsigned long long>(Settings().Seed), inputs, seconds,
                seconds > 0 ? inputs / seconds : 0.0);
    std::fflush(stdout);
}
