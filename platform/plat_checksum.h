// Checksums computed by the platform's libraries.
#pragma once
#include <cstdint>

// Continues zlib's CRC-32 (the reflected polynomial 0xEDB88320 of zlib and PNG; start with 0) over
// nLen bytes. A checksum cannot fail, and it is needed before start-up binds the codec modules
// (the script key) and where they are hidden, so it is a plain call rather than a module entry.
// NULL or no bytes leave nCrc as it is.
uint32_t PlatCrc32(uint32_t nCrc, const void* pData, uint32_t nLen);
