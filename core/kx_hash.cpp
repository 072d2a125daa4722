// MurmurHash2 for names and the zlib CRC-32 for checksums and the script key, both computed by the
// platform.
#include "core/kx_hash.h"

#include <cstring>

#include "platform/plat_checksum.h"
#include "platform/plat_instance.h"

// One MurmurHash2 serves the whole program: the platform's, which the instance locks use too.
uint32_t MurmurHash2(const void* pKey, size_t len, uint32_t seed)
{
    return PlatMurmurHash2(pKey, len, seed);
}

uint32_t HashName(const char* psz)
{
    return MurmurHash2(psz, strlen(psz), 0);
}

uint32_t UpdateCRC32(uint32_t crc, const void* pData, size_t len)
{
    const uint8_t* p = static_cast<const uint8_t*>(pData);
    uint32_t c = crc;
    // The platform takes 32-bit lengths; feed larger buffers in pieces.
    while (len > 0) {
        const uint32_t chunk = len > 0x40000000u ? 0x40000000u : static_cast<uint32_t>(len);
        c = PlatCrc32(c, p, chunk);
        p += chunk;
        len -= chunk;
    }
    return c;
}

uint32_t ComputeCRC32(const void* pData, size_t len)
{
    return UpdateCRC32(0, pData, len);
}
