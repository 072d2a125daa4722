// One B,G,R,A pixel as a 32-bit word, read or written at any alignment: the access every piece of
// pixel code shares.
#pragma once
#include <cstdint>
#include <cstring>

inline uint32_t LoadPixel(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline void StorePixel(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
