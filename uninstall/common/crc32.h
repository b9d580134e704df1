#pragma once
// CRC-32 (reflected polynomial 0xEDB88320), eight bytes at a time.
#include <cstddef>
#include <cstdint>

// Updates a running CRC with a block. Neither the initial nor the final
// inversion is applied: start with 0xFFFFFFFF and invert the final value.
uint32_t Crc32(uint32_t crc, const void* data, size_t length);
