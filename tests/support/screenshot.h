// The engine's screenshots (PNG files the screenshot switch writes) read back for checks.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct SHOT {
    uint32_t nWidth = 0, nHeight = 0;
    std::vector<uint8_t> rgb;   // R, G, B per pixel, rows top-down
    const uint8_t* At(int x, int y) const { return &rgb[(size_t(y) * nWidth + size_t(x)) * 3]; }
};

// The file's pixels as RGB bytes; false when it is missing or unreadable.
bool ReadShot(const std::string& strPath, SHOT* pShot);
