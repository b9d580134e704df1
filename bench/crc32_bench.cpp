// Throughput of Crc32 against zlib's crc32 on the same 64 MiB buffer, in one
// process. Prints both in MB/s (10^6 bytes) and their ratio, from the median
// of a few rounds; with --row, one row of the benchmark table instead.
#include "bench_support.h"
#include "common/crc32.h"

#include <windows.h>

#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <vector>

namespace
{

const size_t kBufferBytes = 64u << 20;
const int kRounds = 5;

double Seconds(const LARGE_INTEGER& start, const LARGE_INTEGER& end)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
}

template <class Function> double MedianSeconds(Function function, uint32_t& crc)
{
    std::vector<double> samples;
    for (int round = 0; round < kRounds; round++)
    {
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        crc = function();
        QueryPerformanceCounter(&end);
        samples.push_back(Seconds(start, end));
    }
    return Median(samples);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const bool tableRow = argc > 1 && std::wcscmp(argv[1], L"--row") == 0;
    unsigned char* buffer = static_cast<unsigned char*>(
        VirtualAlloc(nullptr, kBufferBytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (buffer == nullptr)
    {
        std::printf("crc32_bench: cannot allocate %u bytes\n", unsigned(kBufferBytes));
        return 1;
    }
    // Pseudo-random contents: table lookups must not all hit the same entries.
    uint32_t state = 0x12345678;
    for (size_t i = 0; i < kBufferBytes; i++)
    {
        state = state * 1103515245u + 12345u;
        buffer[i] = static_cast<unsigned char>(state >> 24);
    }

    uint32_t ownCrc = 0;
    uint32_t zlibCrc = 0;
    const double ownSeconds =
        MedianSeconds([&] { return ~Crc32(0xFFFFFFFF, buffer, kBufferBytes); }, ownCrc);
    const double zlibSeconds = MedianSeconds(
        [&] { return uint32_t(crc32(0, buffer, static_cast<uInt>(kBufferBytes))); }, zlibCrc);
    VirtualFree(buffer, 0, MEM_RELEASE);

    const double megabytes = double(kBufferBytes) / 1e6;
    const double ownRate = megabytes / ownSeconds;
    const double zlibRate = megabytes / zlibSeconds;
    if (tableRow)
    {
        BenchRow row;
        row.What = "CRC-32 of 64 MiB: Crc32";
        row.Runs = kRounds;
        row.Seconds = ownSeconds;
        row.Floor = "zlib crc32";
        row.FloorSeconds = zlibSeconds;
        char note[96];
        std::snprintf(note, sizeof(note), "%.0f vs %.0f MB/s%s", ownRate, zlibRate,
                      ownCrc == zlibCrc ? "" : "; THE VALUES DIFFER");
        row.Note = note;
        PrintRow(row);
        return ownCrc == zlibCrc ? 0 : 2;
    }
    std::printf("buffer      %u MiB, median of %d rounds\n", unsigned(kBufferBytes >> 20), kRounds);
    std::printf("Crc32       %9.1f MB/s  crc %08X\n", ownRate, unsigned(ownCrc));
    std::printf("zlib crc32  %9.1f MB/s  crc %08X  (zlib %s)\n", zlibRate, unsigned(zlibCrc),
                zlibVersion());
    std::printf("ratio       %9.2fx of zlib\n", ownRate / zlibRate);
    if (ownCrc != zlibCrc)
    {
        std::printf("crc32_bench: the two values differ\n");
        return 2;
    }
    return 0;
}
