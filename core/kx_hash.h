// Hashes and checksums.
#pragma once
#include <cstddef>
#include <cstdint>

// MurmurHash2, 32-bit (multiplier 0x5bd1e995, shift 24); tail bytes are read unsigned.
uint32_t MurmurHash2(const void* pKey, size_t len, uint32_t seed);
// MurmurHash2 with seed 0 over a NUL-terminated text.
uint32_t HashName(const char* psz);
// The standard CRC-32 of zlib and PNG (reflected polynomial 0xEDB88320).
uint32_t ComputeCRC32(const void* pData, size_t len);
// Continues a CRC-32 over more bytes (start with 0).
uint32_t UpdateCRC32(uint32_t crc, const void* pData, size_t len);
