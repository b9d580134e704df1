#include "common/crc32.h"

namespace
{

const uint32_t kPolynomial = 0xEDB88320;

// Eight tables, zero in static storage until built.
uint32_t g_crcTables[8][256];

void BuildCrc32Tables()
{
    uint32_t(*T)[256] = g_crcTables;
    if (T[0][1] == 0)
    {
        for (uint32_t i = 0; i < 256; i++)
        {
            uint32_t v = i;
            for (int bit = 0; bit < 8; bit++)
                v = (v & 1) ? (v >> 1) ^ kPolynomial : v >> 1;
            T[0][i] = v;
        }
    }
    for (int k = 1; k < 8; k++)
        for (int i = 0; i < 256; i++)
            T[k][i] = (T[k - 1][i] >> 8) ^ T[0][T[k - 1][i] & 0xFF];
}

// Builds the tables during static initialisation, before the entry point.
struct Crc32TablesBuilder
{
    Crc32TablesBuilder() { BuildCrc32Tables(); }
} g_crcTablesBuilder;

inline uint32_t UpdateByte(uint32_t crc, uint8_t byte)
{
    return (crc >> 8) ^ g_crcTables[0][(crc ^ byte) & 0xFF];
}

inline uint32_t ReadLe32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

} // namespace

uint32_t Crc32(uint32_t crc, const void* data, size_t length)
{
    const uint8_t* p = static_cast<const uint8_t*>(data);
    for (; length != 0 && (reinterpret_cast<uintptr_t>(p) & 7) != 0; length--)
        crc = UpdateByte(crc, *p++);
    const uint32_t(*T)[256] = g_crcTables;
    for (; length >= 8; length -= 8, p += 8)
    {
        crc ^= ReadLe32(p);
        const uint32_t d = ReadLe32(p + 4);
        crc = T[7][crc & 0xFF] ^ T[6][(crc >> 8) & 0xFF] ^ T[5][(crc >> 16) & 0xFF] ^
              T[4][crc >> 24] ^ T[3][d & 0xFF] ^ T[2][(d >> 8) & 0xFF] ^ T[1][(d >> 16) & 0xFF] ^
              T[0][d >> 24];
    }
    for (; length != 0; length--)
        crc = UpdateByte(crc, *p++);
    return crc;
}
