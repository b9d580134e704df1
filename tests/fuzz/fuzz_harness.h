#pragma once
// The mutation fuzzer shared by the parser targets: a seeded generator,
// buffers that end right before an inaccessible page, the mutations, and the
// record of the input in progress that a crash or a hang reports.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

// From the environment: VNX_FUZZ_SEED, VNX_FUZZ_INPUTS (per parser),
// VNX_FUZZ_FINDINGS (folder for inputs that crashed or hung),
// VNX_FUZZ_LIMIT_MS (time one input may take).
struct FuzzSettings
{
    uint64_t Seed;
    uint32_t Inputs;
    std::wstring Findings;
    DWORD LimitMs;
};
const FuzzSettings& Settings();

// splitmix64: the same seed gives the same inputs on every machine.
class Rng
{
public:
    explicit Rng(uint64_t seed) : State(seed) {}
    uint64_t Next()
    {
        uint64_t z = (State += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t Below(uint32_t n) { return n == 0 ? 0 : static_cast<uint32_t>(Next() % n); }
    bool OneIn(uint32_t n) { return Below(n) == 0; }

private:
    uint64_t State;
};

// Committed pages followed by one PAGE_NOACCESS page. Place() puts a block
// of the given size flush against the inaccessible page.
class GuardedBlock
{
public:
    explicit GuardedBlock(size_t capacityBytes);
    ~GuardedBlock();
    GuardedBlock(const GuardedBlock&) = delete;
    GuardedBlock& operator=(const GuardedBlock&) = delete;
    void* Place(size_t bytes);
    size_t Capacity() const { return Usable; }

private:
    void Allocate(size_t capacityBytes);
    BYTE* Base = nullptr;
    size_t Usable = 0;
};

// The text and its terminator, ending at the guard page.
wchar_t* PlaceText(GuardedBlock& block, const std::wstring& text);
// A buffer of capacity characters ending at the guard page, filled with a
// pattern so that a missing terminator shows.
wchar_t* PlaceBuffer(GuardedBlock& block, size_t capacity);

// The input in progress, for the crash and hang reports.
void BeginInput(const char* parser, uint32_t index, const std::string& bytes);
void EndInput();
// Unhandled exceptions, aborts (stack protector) and inputs running past the
// time limit end the process after saving the input and naming it.
void InstallFaultReports();
// Saves an input that broke a check (not a crash) like a crash would be.
std::wstring SaveFinding(const char* parser, uint32_t index, const char* kind,
                         const std::string& bytes);

// Regression inputs kept under tests/fuzz/regressions/<parser>/.
struct RegressionInput
{
    std::string Name;
    std::string Bytes;
};
std::vector<RegressionInput> LoadRegressions(const char* parser);
// Runs each of them, its name in any failure.
template <class Run> void ReplayRegressions(const char* parser, Run run)
{
    InstallFaultReports();
    for (const RegressionInput& input : LoadRegressions(parser))
    {
        SCOPED_TRACE(input.Name);
        run(input.Bytes);
    }
}

// Mutations. Texts are sequences of 16-bit units; file inputs are encoded to
// bytes afterwards.
struct MutationPlan
{
    const std::vector<std::wstring>* Seeds;
    const std::vector<std::wstring>* Tokens; // spliced in whole
    const std::vector<size_t>* Lengths;      // line and text lengths worth hitting
};
std::wstring MutateText(Rng& rng, const MutationPlan& plan);

// The encodings a text file may come in.
enum class FileEncoding
{
    Ansi,
    Utf8Mark,
    Utf8,
    Utf16Mark,
    Utf16,
    Utf16BigMark,
    Count,
};
std::string EncodeText(const std::wstring& text, FileEncoding encoding);
// A few byte-level changes (bits, odd lengths, marks) and, sometimes, a
// total length from lengths.
void MutateBytes(Rng& rng, std::string& bytes, const std::vector<size_t>& lengths);
std::wstring BytesToText(const std::string& bytes);
std::string TextToBytes(const std::wstring& text);

// Throughput line printed by every target.
void ReportRate(const char* parser, uint32_t inputs, DWORD milliseconds);

// Runs the configured number of inputs of one parser (or as many as asked)
// and prints the rate; stops at the first failure. salt keeps the parsers'
// input streams apart.
template <class Make, class Run>
void RunFuzz(const char* parser, uint64_t salt, Make make, Run run,
             uint32_t inputs = Settings().Inputs)
{
    InstallFaultReports();
    Rng rng(Settings().Seed ^ salt);
    const DWORD start = GetTickCount();
    uint32_t done = 0;
    for (; done < inputs && !::testing::Test::HasFailure(); done++)
        run(make(rng), done);
    ReportRate(parser, done, GetTickCount() - start);
}
