// MurmurHash2 for names and the zlib CRC-32 for checksums and the script key.
#include "core/kx_hash.h"

#include <bit>
#include <climits>
#include <cstring>
#include <zlib.h>

namespace {

inline uint32_t LoadLE32(const unsigned char* p)
{
    uint32_t v;
    memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big)
        v = (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
    return v;
}

}  // namespace

uint32_t MurmurHash2(const void* pKey, size_t len, uint32_t seed)
{
    const uint32_t m = 0x5bd1e995u;
    const int r = 24;
    const unsigned char* p = static_cast<const unsigned char*>(pKey);

    // The length is mixed in as the 32-bit value the names' writers use.
    uint32_t h = seed ^ static_cast<uint32_t>(len);
    while (len >= 4) {
        uint32_t k = LoadLE32(p);
        k *= m;
        k ^= k >> r;
        k *= m;
        h *= m;
        h ^= k;
        p += 4;
        len -= 4;
    }
    switch (len) {
    case 3: h ^= static_cast<uint32_t>(p[2]) << 16; [[fallthrough]];
    case 2: h ^= static_cast<uint32_t>(p[1]) << 8; [[fallthrough]];
    case 1:
        h ^= p[0];
        h *= m;
        break;
    default: break;
    }
    h ^= h >> 13;
    h *= m;
    h ^= h >> 15;
    return h;
}

uint32_t HashName(const char* psz)
{
    return MurmurHash2(psz, strlen(psz), 0);
}

uint32_t UpdateCRC32(uint32_t crc, const void* pData, size_t len)
{
    const Bytef* p = static_cast<const Bytef*>(pData);
    uLong c = crc;
    // zlib takes 32-bit lengths; feed larger buffers in pieces.
    while (len > 0) {
        uInt chunk = len > 0x40000000u ? 0x40000000u : static_cast<uInt>(len);
        c = crc32(c, p, chunk);
        p += chunk;
        len -= chunk;
    }
    return static_cast<uint32_t>(c);
}

uint32_t ComputeCRC32(const void* pData, size_t len)
{
    return UpdateCRC32(0, pData, len);
}
