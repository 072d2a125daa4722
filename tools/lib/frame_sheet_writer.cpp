// The fixtures' frame-sheet writer.
#include "tools/lib/frame_sheet_writer.h"

namespace {

void PutU32(std::vector<uint8_t>& v, size_t at, uint32_t x)
{
    for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
}

}  // namespace

void ScrambleSheetBytes(uint8_t* p, size_t n)
{
    for (size_t j = 0; j < n; ++j) p[j] = static_cast<uint8_t>(p[j] ^ ((j & 0x0F) | 0x10));
}

std::vector<uint8_t> WriteFrameSheetBytes(const std::vector<SHEET_FRAME>& frames, int32_t nValue1, int32_t nValue2,
                                          int32_t nValue3, const SHEET_RAW& raw)
{
    bool bAllAlpha = !frames.empty();
    for (const SHEET_FRAME& f : frames) bAllAlpha = bAllAlpha && !f.alpha.empty();
    const int32_t nCount = raw.nCount.value_or(static_cast<int32_t>(frames.size()));
    const size_t nTable = frames.size();
    std::vector<uint8_t> out(32 + 12 * nTable, 0);
    out[0] = 'K', out[1] = 'X', out[2] = 'F', out[3] = 'S';
    PutU32(out, 8, static_cast<uint32_t>(nCount));
    PutU32(out, 12, static_cast<uint32_t>(raw.nAlphaFlag.value_or(bAllAlpha ? 1 : 0)));
    PutU32(out, 16, static_cast<uint32_t>(nValue1));
    PutU32(out, 20, static_cast<uint32_t>(nValue2));
    PutU32(out, 24, static_cast<uint32_t>(nValue3));
    for (size_t i = 0; i < frames.size(); ++i) {
        const size_t nOffset = out.size();
        for (const std::vector<uint8_t>* pPart : {&frames[i].color, &frames[i].alpha}) {
            const size_t nAt = out.size();
            out.insert(out.end(), pPart->begin(), pPart->end());
            ScrambleSheetBytes(out.data() + nAt, pPart->size());
        }
        PutU32(out, 32 + 4 * i, static_cast<uint32_t>(nOffset));
        PutU32(out, 32 + 4 * (nTable + i), static_cast<uint32_t>(frames[i].color.size()));
        PutU32(out, 32 + 4 * (2 * nTable + i), static_cast<uint32_t>(frames[i].alpha.size()));
    }
    const std::vector<std::pair<int32_t, uint32_t>>* apRaw[3] = {&raw.offsets, &raw.colorLens, &raw.alphaLens};
    for (size_t t = 0; t < 3; ++t)
        for (const auto& [i, v] : *apRaw[t])
            if (i >= 0 && size_t(i) < nTable) PutU32(out, 32 + 4 * (t * nTable + size_t(i)), v);
    if (raw.nCutTo && *raw.nCutTo < out.size()) out.resize(*raw.nCutTo);
    return out;
}
