// Constants of the engine's file formats, shared by the engine and every fixture writer.
#pragma once
#include <cstdint>

// Key text of compiled script bodies; its CRC-32 (0xEF44F270) gives the key bytes EF 44 F2 70.
#define KX_SCRIPT_KEY_TEXT "KOLVEX-SCRIPT1"
inline constexpr uint32_t KX_SCRIPT_KEY_CRC = 0xEF44F270u;

// Pairs of name lengths swapped by the pack-name permutation (every other length maps to itself).
inline constexpr uint8_t KX_PACK_PERM_PAIRS[12][2] = {
    {3, 200}, {7, 129}, {12, 77}, {18, 240}, {25, 96}, {31, 160},
    {40, 111}, {52, 181}, {64, 222}, {70, 143}, {88, 250}, {101, 199},
};

// OS code reported on Linux: a build outside the table, newer than every version test.
inline constexpr int KX_OS_CODE_LINUX = 255;
// DirectX major version reported to scripts.
inline constexpr int KX_DIRECTX_VERSION = 9;
