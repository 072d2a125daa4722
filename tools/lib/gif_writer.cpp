// GIF writer with its own LZW encoder (see gif_writer.h).
#include "tools/lib/gif_writer.h"

#include <algorithm>
#include <cstring>

namespace {

void PutWord(std::vector<uint8_t>& out, int n)
{
    out.push_back(uint8_t(n & 0xFF));
    out.push_back(uint8_t((n >> 8) & 0xFF));
}

// Bits of a colour table holding the given number of entries: 2^(bits+1) >= entries.
int PaletteBits(size_t nEntries)
{
    int nBits = 0;
    while ((size_t(1) << (nBits + 1)) < nEntries && nBits < 7)
        ++nBits;
    return nBits;
}

void PutPalette(std::vector<uint8_t>& out, const std::vector<uint8_t>& palette, int nBits)
{
    const size_t nBytes = (size_t(1) << (nBits + 1)) * 3;
    for (size_t i = 0; i < nBytes; ++i)
        out.push_back(i < palette.size() ? palette[i] : 0);
}

int MinCodeSizeFor(const std::vector<uint8_t>& indices)
{
    int nMax = 0;
    for (uint8_t b : indices)
        nMax = std::max(nMax, int(b));
    int nSize = 2;
    while ((1 << nSize) <= nMax)
        ++nSize;
    return nSize;
}

}  // namespace

std::vector<int> EncodeGIFCodes(const std::vector<uint8_t>& indices, int nMinCodeSize, const GIF_LZW_OPTIONS& opt)
{
    const int nClear = 1 << nMinCodeSize, nEnd = nClear + 1;
    std::vector<int> codes;
    // Dictionary: (prefix code, index) -> code, -1 when absent.
    std::vector<int16_t> dict(size_t(4096) * size_t(nClear), -1);
    int nNext = nEnd + 1;
    auto reset = [&] {
        std::fill(dict.begin(), dict.end(), int16_t(-1));
        nNext = nEnd + 1;
    };
    if (opt.bClearFirst)
        codes.push_back(nClear);
    int nCur = -1;
    bool bFirstAfterClear = true;
    const size_t nCount = indices.size();
    for (size_t i = 0; i < nCount; ++i) {
        const int c = indices[i] & (nClear - 1);
        if (opt.nEndAtPixel >= 0 && i == size_t(opt.nEndAtPixel)) {
            if (nCur >= 0)
                codes.push_back(nCur);
            codes.push_back(nEnd);
            return codes;
        }
        if (opt.nClearAtPixel >= 0 && i == size_t(opt.nClearAtPixel) && nCur >= 0) {
            codes.push_back(nCur);
            codes.push_back(nClear);
            reset();
            nCur = -1;
            bFirstAfterClear = true;
        }
        if (nCur < 0) {
            nCur = c;
            continue;
        }
        const int nFound = dict[size_t(nCur) * size_t(nClear) + size_t(c)];
        if (nFound >= 0) {
            nCur = nFound;
            continue;
        }
        codes.push_back(nCur);
        bFirstAfterClear = false;
        if (nNext < 4096) {
            dict[size_t(nCur) * size_t(nClear) + size_t(c)] = int16_t(nNext++);
        } else if (!opt.bDeferredClear) {
            codes.push_back(nClear);
            reset();
            bFirstAfterClear = true;
        }
        nCur = c;
    }
    (void)bFirstAfterClear;
    if (nCur >= 0)
        codes.push_back(nCur);
    if (!opt.bNoEndCode)
        codes.push_back(nEnd);
    return codes;
}

std::vector<uint8_t> PackGIFCodes(const std::vector<int>& codes, int nMinCodeSize)
{
    // The width follows the decoder: it grows when the decoder's next free entry reaches 2^width.
    const int nClear = 1 << nMinCodeSize, nEnd = nClear + 1;
    int nWidth = nMinCodeSize + 1, nNext = nEnd + 1, nPrev = -1;
    std::vector<uint8_t> out;
    uint32_t uBits = 0;
    int nBits = 0;
    for (int nCode : codes) {
        uBits |= uint32_t(nCode & ((1 << nWidth) - 1)) << nBits;
        nBits += nWidth;
        while (nBits >= 8) {
            out.push_back(uint8_t(uBits & 0xFF));
            uBits >>= 8;
            nBits -= 8;
        }
        if (nCode == nClear) {
            nWidth = nMinCodeSize + 1;
            nNext = nEnd + 1;
            nPrev = -1;
            continue;
        }
        if (nCode == nEnd)
            continue;
        const bool bKnown = nCode < nClear || (nCode > nEnd && nCode < nNext) || (nCode == nNext && nPrev >= 0);
        if (!bKnown)
            continue;
        if (nPrev >= 0 && nNext < 4096) {
            ++nNext;
            if (nNext >= (1 << nWidth) && nWidth < 12)
                ++nWidth;
        }
        nPrev = nCode;
    }
    if (nBits > 0)
        out.push_back(uint8_t(uBits & 0xFF));
    return out;
}

std::vector<uint8_t> MakeGIFSubBlocks(const std::vector<uint8_t>& data, int nBlockSize, bool bTerminator)
{
    nBlockSize = std::clamp(nBlockSize, 1, 255);
    std::vector<uint8_t> out;
    for (size_t i = 0; i < data.size(); i += size_t(nBlockSize)) {
        const size_t n = std::min(size_t(nBlockSize), data.size() - i);
        out.push_back(uint8_t(n));
        out.insert(out.end(), data.begin() + long(i), data.begin() + long(i + n));
    }
    if (bTerminator)
        out.push_back(0);
    return out;
}

std::vector<uint8_t> InterlaceGIFRows(const std::vector<uint8_t>& indices, int nWidth, int nHeight)
{
    static const int s_anStart[4] = {0, 4, 2, 1};
    static const int s_anStep[4] = {8, 8, 4, 2};
    std::vector<uint8_t> out;
    out.reserve(indices.size());
    for (int nPass = 0; nPass < 4; ++nPass)
        for (int y = s_anStart[nPass]; y < nHeight; y += s_anStep[nPass])
            out.insert(out.end(), indices.begin() + long(y) * nWidth, indices.begin() + long(y + 1) * nWidth);
    return out;
}

std::vector<uint8_t> MakeGIFComment(const std::vector<std::vector<uint8_t>>& subBlocks)
{
    std::vector<uint8_t> out = {0x21, 0xFE};
    for (const auto& b : subBlocks) {
        out.push_back(uint8_t(b.size()));
        out.insert(out.end(), b.begin(), b.end());
    }
    out.push_back(0);
    return out;
}

std::vector<uint8_t> MakeGIFApplication(const char* pszId11, const std::vector<std::vector<uint8_t>>& subBlocks)
{
    std::vector<uint8_t> out = {0x21, 0xFF, 11};
    for (int i = 0; i < 11; ++i)
        out.push_back(uint8_t(pszId11[i]));
    for (const auto& b : subBlocks) {
        out.push_back(uint8_t(b.size()));
        out.insert(out.end(), b.begin(), b.end());
    }
    out.push_back(0);
    return out;
}

std::vector<uint8_t> WriteGIF(const GIF_WRITER_FILE& file)
{
    const char* pszSig = file.b87a ? "GIF87a" : "GIF89a";
    std::vector<uint8_t> out(pszSig, pszSig + 6);
    PutWord(out, file.nScreenWidth);
    PutWord(out, file.nScreenHeight);
    const bool bGlobal = !file.globalPalette.empty();
    const int nGlobalBits = bGlobal ? PaletteBits(file.globalPalette.size() / 3) : 0;
    out.push_back(uint8_t((bGlobal ? 0x80 : 0) | 0x70 | nGlobalBits));
    out.push_back(uint8_t(file.nBackground));
    out.push_back(0);
    if (bGlobal)
        PutPalette(out, file.globalPalette, nGlobalBits);
    if (file.nLoopCount >= 0) {
        const std::vector<uint8_t> loop = {1, uint8_t(file.nLoopCount & 0xFF), uint8_t(file.nLoopCount >> 8)};
        const std::vector<uint8_t> block = MakeGIFApplication("NETSCAPE2.0", {loop});
        out.insert(out.end(), block.begin(), block.end());
    }
    for (const GIF_WRITER_FRAME& f : file.frames) {
        out.insert(out.end(), f.before.begin(), f.before.end());
        if (f.bControl) {
            out.push_back(0x21);
            out.push_back(0xF9);
            out.push_back(4);
            out.push_back(uint8_t(((f.nDisposal & 7) << 2) | (f.bTransparent ? 1 : 0)));
            PutWord(out, f.nDelay);
            out.push_back(uint8_t(f.nTransparentIndex));
            out.push_back(0);
        }
        out.push_back(0x2C);
        PutWord(out, f.nLeft);
        PutWord(out, f.nTop);
        PutWord(out, f.nWidth);
        PutWord(out, f.nHeight);
        const bool bLocal = !f.localPalette.empty();
        const int nLocalBits = bLocal ? PaletteBits(f.localPalette.size() / 3) : 0;
        out.push_back(uint8_t((bLocal ? 0x80 : 0) | (f.bInterlace ? 0x40 : 0) | nLocalBits));
        if (bLocal)
            PutPalette(out, f.localPalette, nLocalBits);
        int nMin = f.lzw.nMinCodeSize > 0 ? f.lzw.nMinCodeSize : MinCodeSizeFor(f.indices);
        std::vector<int> codes;
        if (!f.rawCodes.empty()) {
            codes = f.rawCodes;
        } else {
            const std::vector<uint8_t> ordered =
                f.bInterlace ? InterlaceGIFRows(f.indices, f.nWidth, f.nHeight) : f.indices;
            codes = EncodeGIFCodes(ordered, nMin, f.lzw);
        }
        out.push_back(uint8_t(f.nRawMinCodeSize >= 0 ? f.nRawMinCodeSize : nMin));
        const std::vector<uint8_t> blocks = MakeGIFSubBlocks(PackGIFCodes(codes, nMin), f.nSubBlockSize, !f.bNoTerminator);
        out.insert(out.end(), blocks.begin(), blocks.end());
    }
    out.insert(out.end(), file.beforeTrailer.begin(), file.beforeTrailer.end());
    if (file.bTrailer)
        out.push_back(0x3B);
    return out;
}
