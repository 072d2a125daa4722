#include "tools/lib/kcg_writer.h"

#include <cstring>

#include "core/codecs.h"
#include "image/kcg_format.h"

namespace {

void PutU32(std::vector<uint8_t>* pOut, size_t nAt, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        (*pOut)[nAt + i] = static_cast<uint8_t>(v >> (8 * i));
}

// One part: the rows' pixel bytes coded by nCodec. false when the codec failed.
bool EncodePart(int nCodec, int nWidth, int nRows, const uint8_t* pBytes, std::vector<uint8_t>* pOut)
{
    const uint32_t nBytes = static_cast<uint32_t>(nWidth) * static_cast<uint32_t>(nRows) * 4;
    pOut->clear();
    if (nBytes == 0)
        return true;
    switch (nCodec) {
    case KCGCOMP_RAW:
        pOut->assign(pBytes, pBytes + nBytes);
        return true;
    case KCGCOMP_ZLIB: {
        uint32_t nLen = nBytes + nBytes / 100 + 1024;
        pOut->resize(nLen);
        if (g_pfnCompress2(pOut->data(), &nLen, pBytes, nBytes, 9) != KX_Z_OK)
            return false;
        pOut->resize(nLen);
        return true;
    }
    case KCGCOMP_SNAPPY: {
        uint32_t nLen = g_pfnSnpCompressedLength(nBytes);
        if (nLen == 0)
            return false;
        pOut->resize(nLen);
        if (g_pfnSnpCompress(pBytes, nBytes, pOut->data(), &nLen) != KX_SNP_OK)
            return false;
        pOut->resize(nLen);
        return true;
    }
    case KCGCOMP_WEBP: {
        const uint32_t nCap = nBytes * 2 + 4096;
        pOut->resize(nCap);
        const uint32_t nLen = g_pfnWebPEncode(pBytes, pOut->data(), nCap, nWidth, nRows, 6, -1);
        if (nLen == 0)
            return false;
        pOut->resize(nLen);
        return true;
    }
    default:
        return false;
    }
}

}  // namespace

std::vector<uint8_t> BuildKcgImage(int nWidth, int nHeight, const uint32_t* pPixels, const KCG_WRITER_OPTIONS& opt)
{
    const int nSplit = opt.nSplitRow < 0 ? nHeight / 2 : opt.nSplitRow;
    if (nWidth < 1 || nHeight < 1 || !pPixels || nSplit > nHeight)
        return {};
    const uint8_t* pBytes = reinterpret_cast<const uint8_t*>(pPixels);
    std::vector<uint8_t> part1, part2;
    if (!EncodePart(opt.nCodec, nWidth, nSplit, pBytes, &part1) ||
        !EncodePart(opt.nCodec, nWidth, nHeight - nSplit, pBytes + size_t(nWidth) * nSplit * 4, &part2))
        return {};
    const uint32_t nDecoded1 = static_cast<uint32_t>(nWidth) * static_cast<uint32_t>(nSplit) * 4;
    const uint32_t nDecoded2 = static_cast<uint32_t>(nWidth) * static_cast<uint32_t>(nHeight - nSplit) * 4;
    for (std::vector<uint8_t>* pPart : {&part1, &part2})
        if (opt.nDamagePart & (pPart == &part1 ? 1 : 2))
            for (size_t i = 2; i < pPart->size(); ++i)
                (*pPart)[i] = 0xA5;

    std::vector<uint8_t> file(KCG_HEADER_SIZE, 0);
    std::memcpy(file.data(), opt.abMagic, 4);
    auto Field = [](int64_t llRaw, uint32_t nTrue) { return llRaw >= 0 ? static_cast<uint32_t>(llRaw) : nTrue; };
    PutU32(&file, KCG_OFS_WIDTH, Field(opt.llWidth, static_cast<uint32_t>(nWidth)));
    PutU32(&file, KCG_OFS_HEIGHT, Field(opt.llHeight, static_cast<uint32_t>(nHeight)));
    PutU32(&file, KCG_OFS_COMPRESSION, Field(opt.llCompression, static_cast<uint32_t>(opt.nCodec)));
    PutU32(&file, KCG_OFS_DECODED1, Field(opt.llDecoded1, nDecoded1));
    PutU32(&file, KCG_OFS_STORED1, Field(opt.llStored1, static_cast<uint32_t>(part1.size())));
    PutU32(&file, KCG_OFS_DECODED2, Field(opt.llDecoded2, nDecoded2));
    PutU32(&file, KCG_OFS_STORED2, Field(opt.llStored2, static_cast<uint32_t>(part2.size())));
    file.insert(file.end(), part1.begin(), part1.end());
    file.insert(file.end(), part2.begin(), part2.end());
    if (opt.llTruncate >= 0 && static_cast<uint64_t>(opt.llTruncate) < file.size())
        file.resize(static_cast<size_t>(opt.llTruncate));
    return file;
}
