#include "tools/lib/bmp_writer.h"

#include <cstring>

namespace {

void Put16(std::vector<uint8_t>& v, size_t at, uint32_t n)
{
    v[at] = static_cast<uint8_t>(n);
    v[at + 1] = static_cast<uint8_t>(n >> 8);
}
void Put32(std::vector<uint8_t>& v, size_t at, uint32_t n)
{
    for (int i = 0; i < 4; ++i)
        v[at + i] = static_cast<uint8_t>(n >> (8 * i));
}

size_t RowBytes(int nBits, size_t w)
{
    return ((w * static_cast<size_t>(nBits) + 31) / 32) * 4;
}

}  // namespace

std::vector<uint8_t> WriteBmp(int32_t nWidth, int32_t nHeight, const BMP_WRITER_OPTIONS& opt,
                              const uint32_t* pPixels, const uint8_t* pIndices)
{
    const size_t w = nWidth > 0 ? static_cast<size_t>(nWidth) : 0;
    const size_t h = nHeight > 0 ? static_cast<size_t>(nHeight) : 0;
    const bool bIndexed = opt.nBits == 1 || opt.nBits == 4 || opt.nBits == 8;
    uint32_t nEntries = 0;
    if (bIndexed)
        nEntries = opt.nPaletteEntries ? opt.nPaletteEntries : (opt.nColorsUsed ? opt.nColorsUsed : (1u << opt.nBits));
    const size_t nInfo = opt.nInfoSize;
    const bool bCore = nInfo == 12;
    const size_t nEntryBytes = bCore ? 3 : 4;
    const size_t nPalOffset = 14 + nInfo;
    const size_t nOffset = nPalOffset + size_t(nEntries) * nEntryBytes;
    const size_t nRow = RowBytes(opt.nBits > 0 ? opt.nBits : 0, w);
    std::vector<uint8_t> v(nOffset + nRow * h, 0);
    v[0] = 'B';
    v[1] = 'M';
    Put32(v, 2, static_cast<uint32_t>(v.size()));
    Put32(v, 10, static_cast<uint32_t>(nOffset));
    if (bCore && v.size() >= 14 + 12) {
        Put32(v, 14, 12);
        Put16(v, 18, static_cast<uint32_t>(nWidth));
        Put16(v, 20, static_cast<uint32_t>(nHeight));
        Put16(v, 22, 1);
        Put16(v, 24, static_cast<uint32_t>(opt.nBits));
    } else if (v.size() >= 14 + 40 || (nInfo >= 16 && v.size() >= 14 + nInfo)) {
        // The fields of the 40-byte form, each only when the header reaches over it.
        std::vector<uint8_t> info(40, 0);
        Put32(info, 0, static_cast<uint32_t>(nInfo));
        Put32(info, 4, static_cast<uint32_t>(nWidth));
        Put32(info, 8, static_cast<uint32_t>(opt.bTopDown ? -nHeight : nHeight));
        Put16(info, 12, 1);
        Put16(info, 14, static_cast<uint32_t>(opt.nBits));
        Put32(info, 16, opt.nCompression);
        Put32(info, 20, static_cast<uint32_t>(nRow * h));
        Put32(info, 32, opt.nColorsUsed);
        std::memcpy(v.data() + 14, info.data(), nInfo < 40 ? nInfo : 40);
    }
    for (uint32_t i = 0; i < nEntries; ++i) {
        const uint32_t c = i < opt.palette.size() ? (opt.palette[i] & 0x00FFFFFFu) : 0;
        for (size_t k = 0; k < nEntryBytes; ++k)
            v[nPalOffset + nEntryBytes * i + k] = static_cast<uint8_t>(c >> (8 * k));
    }
    for (size_t y = 0; y < h; ++y) {
        uint8_t* pRow = v.data() + nOffset + (opt.bTopDown ? y : h - 1 - y) * nRow;
        for (size_t x = 0; x < w; ++x) {
            const size_t i = y * w + x;
            switch (opt.nBits) {
            case 1:
                if (pIndices && (pIndices[i] & 1))
                    pRow[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
                break;
            case 4:
                if (pIndices)
                    pRow[x >> 1] |= static_cast<uint8_t>((x & 1) ? (pIndices[i] & 0x0F) : (pIndices[i] << 4));
                break;
            case 8:
                if (pIndices)
                    pRow[x] = pIndices[i];
                break;
            case 24:
                if (pPixels) {
                    pRow[3 * x + 0] = static_cast<uint8_t>(pPixels[i]);
                    pRow[3 * x + 1] = static_cast<uint8_t>(pPixels[i] >> 8);
                    pRow[3 * x + 2] = static_cast<uint8_t>(pPixels[i] >> 16);
                }
                break;
            case 32:
                if (pPixels)
                    std::memcpy(pRow + 4 * x, &pPixels[i], 4);
                break;
            default:
                break;
            }
        }
    }
    if (opt.bBadSignature)
        v[0] = 'X';
    if (opt.llOffsetOverride >= 0)
        Put32(v, 10, static_cast<uint32_t>(opt.llOffsetOverride));
    if (opt.bWidthOverride && v.size() >= 26)
        Put32(v, 18, static_cast<uint32_t>(opt.nWidthOverride));
    if (opt.bHeightOverride && v.size() >= 26)
        Put32(v, 22, static_cast<uint32_t>(opt.nHeightOverride));
    if (opt.nTruncateTo < v.size())
        v.resize(opt.nTruncateTo);
    return v;
}
