// Test-side writer of save files and memory-slot images (sound and damaged).
#include "tools/lib/save_file_builder.h"

#include <snappy-c.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>

namespace {

void PutU32(std::vector<uint8_t>* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void SetU32(std::vector<uint8_t>* p, size_t nPos, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        (*p)[nPos + i] = static_cast<uint8_t>(v >> (8 * i));
}

void PutU64(std::vector<uint8_t>* p, uint64_t v)
{
    PutU32(p, static_cast<uint32_t>(v));
    PutU32(p, static_cast<uint32_t>(v >> 32));
}

std::vector<uint8_t> SnappyCompress(const std::vector<uint8_t>& raw)
{
    size_t nOut = snappy_max_compressed_length(raw.size());
    std::vector<uint8_t> out(nOut);
    if (snappy_compress(reinterpret_cast<const char*>(raw.data()), raw.size(), reinterpret_cast<char*>(out.data()),
                        &nOut) != SNAPPY_OK)
        return {};
    out.resize(nOut);
    return out;
}

std::vector<uint8_t> ZlibCompress(const std::vector<uint8_t>& raw, int nLevel)
{
    uLongf nOut = compressBound(static_cast<uLong>(raw.size()));
    std::vector<uint8_t> out(nOut);
    const Bytef dummy = 0;
    if (compress2(out.data(), &nOut, raw.empty() ? &dummy : raw.data(), static_cast<uLong>(raw.size()), nLevel) != Z_OK)
        return {};
    out.resize(nOut);
    return out;
}

// The raw size a record's header states: its body, or for a container the sum of (raw + 12).
uint32_t TrueRawSize(const SAVE_BUILDER_RECORD& rec)
{
    if (rec.nKind == 2 && rec.nCodec == SB_CODEC_BY_KIND && !rec.bPackedGiven) {
        uint64_t n = 0;
        for (const SAVE_BUILDER_RECORD& sub : rec.subRecords)
            n += (sub.llRawRawSize >= 0 ? static_cast<uint64_t>(sub.llRawRawSize) : TrueRawSize(sub)) + 12;
        return static_cast<uint32_t>(n);
    }
    return static_cast<uint32_t>(rec.raw.size());
}

}  // namespace

std::vector<uint8_t> MakeSaveVarBodyRaw(uint32_t nType, const std::vector<uint32_t>& dims, int64_t llValueSize,
                                        const std::vector<uint8_t>& values)
{
    std::vector<uint8_t> out;
    PutU32(&out, nType);
    PutU32(&out, static_cast<uint32_t>(dims.size()));
    for (uint32_t d : dims)
        PutU32(&out, d);
    PutU32(&out, llValueSize >= 0 ? static_cast<uint32_t>(llValueSize) : static_cast<uint32_t>(values.size()));
    out.insert(out.end(), values.begin(), values.end());
    return out;
}

std::vector<uint8_t> MakeSaveIntBody(const std::vector<uint32_t>& dims, const std::vector<int64_t>& values)
{
    std::vector<uint8_t> bytes;
    for (int64_t v : values)
        PutU64(&bytes, static_cast<uint64_t>(v));
    return MakeSaveVarBodyRaw(1, dims, -1, bytes);
}

std::vector<uint8_t> MakeSaveFloatBody(const std::vector<uint32_t>& dims, const std::vector<double>& values)
{
    std::vector<uint8_t> bytes;
    for (double d : values) {
        uint64_t u;
        memcpy(&u, &d, 8);
        PutU64(&bytes, u);
    }
    return MakeSaveVarBodyRaw(2, dims, -1, bytes);
}

std::vector<uint8_t> MakeSaveTextBody(const std::vector<uint32_t>& dims, const std::vector<std::string>& texts)
{
    std::vector<uint8_t> bytes;
    for (const std::string& s : texts) {
        PutU32(&bytes, static_cast<uint32_t>(s.size()));
        bytes.insert(bytes.end(), s.begin(), s.end());
    }
    return MakeSaveVarBodyRaw(3, dims, -1, bytes);
}

std::vector<uint8_t> MakeSaveLayerBody(int32_t nWidth, int32_t nHeight, const std::vector<uint8_t>& pixels,
                                       uint32_t nBlockSize, int64_t llP)
{
    const uint32_t nP = llP >= 0 ? static_cast<uint32_t>(llP)
                                 : static_cast<uint32_t>(static_cast<uint64_t>(static_cast<uint32_t>(nWidth)) * 4 *
                                                         static_cast<uint32_t>(nHeight));
    std::vector<uint8_t> out;
    PutU32(&out, nBlockSize);
    PutU32(&out, nP);
    const size_t nBlockAt = out.size();
    out.resize(nBlockAt + (nBlockSize > 144 ? nBlockSize : 1680), 0);
    SetU32(&out, nBlockAt + 136, static_cast<uint32_t>(nWidth));
    SetU32(&out, nBlockAt + 140, static_cast<uint32_t>(nHeight));
    std::vector<uint8_t> pix = pixels;
    if (llP < 0 && pix.size() != nP && nP <= (64u << 20))
        pix.resize(nP, 0);
    out.insert(out.end(), pix.begin(), pix.end());
    return out;
}

SAVE_BUILDER_RECORD MakeSlotBlobRecord(const std::vector<SLOT_BLOB_ENTRY>& slots)
{
    SAVE_BUILDER_RECORD rec;
    rec.nDno = 1024;
    rec.nKind = 0;
    rec.wVar = 0;
    rec.nCodec = SB_CODEC_NONE;
    uint64_t nRawSum = 0;
    for (const SLOT_BLOB_ENTRY& e : slots) {
        std::vector<uint8_t> z;
        if (!e.image.empty())
            z = e.bGarbage ? e.image : ZlibCompress(e.image, 1);
        const uint32_t nS = e.llRawS >= 0 ? static_cast<uint32_t>(e.llRawS) : static_cast<uint32_t>(e.image.size());
        PutU32(&rec.raw, nS);
        PutU32(&rec.raw, e.llRawZ >= 0 ? static_cast<uint32_t>(e.llRawZ) : static_cast<uint32_t>(z.size()));
        rec.raw.insert(rec.raw.end(), z.begin(), z.end());
        nRawSum += nS + 8ull;
    }
    rec.llRawRawSize = static_cast<int64_t>(static_cast<uint32_t>(nRawSum));
    return rec;
}

std::vector<uint8_t> PackSaveRecordBody(const SAVE_BUILDER_RECORD& rec)
{
    if (rec.bPackedGiven)
        return rec.packedBytes;
    int nCodec = rec.nCodec;
    if (nCodec == SB_CODEC_BY_KIND) {
        if (rec.nKind == 2) {
            std::vector<uint8_t> out;
            for (const SAVE_BUILDER_RECORD& sub : rec.subRecords) {
                const std::vector<uint8_t> bytes = BuildSaveRecordBytes(sub);
                out.insert(out.end(), bytes.begin(), bytes.end());
            }
            return out;
        }
        nCodec = rec.nKind == 1 ? SB_CODEC_ZLIB : SB_CODEC_SNAPPY;
    }
    if (nCodec == SB_CODEC_SNAPPY)
        return SnappyCompress(rec.raw);
    if (nCodec == SB_CODEC_ZLIB)
        return ZlibCompress(rec.raw, rec.nZlibLevel);
    return rec.raw;
}

std::vector<uint8_t> BuildSaveRecordBytes(const SAVE_BUILDER_RECORD& rec)
{
    std::vector<uint8_t> packed = PackSaveRecordBody(rec);
    const uint32_t nPacked = rec.llRawPacked >= 0 ? static_cast<uint32_t>(rec.llRawPacked)
                                                  : static_cast<uint32_t>(packed.size());
    if (rec.llTruncatePacked >= 0 && static_cast<size_t>(rec.llTruncatePacked) < packed.size())
        packed.resize(static_cast<size_t>(rec.llTruncatePacked));
    std::vector<uint8_t> out;
    out.push_back(static_cast<uint8_t>(rec.nKind));
    out.push_back(static_cast<uint8_t>(rec.nOneByte));
    out.push_back(static_cast<uint8_t>(rec.wVar));
    out.push_back(static_cast<uint8_t>(rec.wVar >> 8));
    PutU32(&out, nPacked);
    PutU32(&out, rec.llRawRawSize >= 0 ? static_cast<uint32_t>(rec.llRawRawSize) : TrueRawSize(rec));
    out.insert(out.end(), packed.begin(), packed.end());
    return out;
}

std::vector<uint8_t> BuildSaveImage(const std::vector<SAVE_BUILDER_RECORD>& records, const SAVE_BUILDER_OPTIONS& opt)
{
    std::vector<uint8_t> image(4112, 0);
    for (size_t i = 0; i < 4 && i < opt.strMagic.size(); ++i)
        image[i] = static_cast<uint8_t>(opt.strMagic[i]);
    SetU32(&image, 4, opt.nVersion);
    SetU32(&image, 12, opt.nTableSize);
    uint32_t nCount = 0;
    for (const SAVE_BUILDER_RECORD& rec : records) {
        const size_t nPos = image.size();
        PutU32(&image, rec.llRawDno >= 0 ? static_cast<uint32_t>(rec.llRawDno) : static_cast<uint32_t>(rec.nDno));
        const std::vector<uint8_t> bytes = BuildSaveRecordBytes(rec);
        image.insert(image.end(), bytes.begin(), bytes.end());
        if (!rec.bNotInTable && rec.nDno >= 1 && rec.nDno <= 1024)
            SetU32(&image, 16 + 4 * (rec.nDno - 1), static_cast<uint32_t>(nPos));
        ++nCount;
    }
    SetU32(&image, 8, opt.llRawCount >= 0 ? static_cast<uint32_t>(opt.llRawCount) : nCount);
    for (const auto& [nDno, nOffset] : opt.rawOffsets)
        if (nDno >= 1 && nDno <= 1024)
            SetU32(&image, 16 + 4 * (nDno - 1), nOffset);
    image.insert(image.end(), opt.trailing.begin(), opt.trailing.end());
    if (opt.llTruncate >= 0 && static_cast<size_t>(opt.llTruncate) < image.size())
        image.resize(static_cast<size_t>(opt.llTruncate));
    return image;
}

int WriteSaveImageFile(const std::string& strNativePath, const std::vector<uint8_t>& image)
{
    FILE* fp = fopen(strNativePath.c_str(), "wb");
    if (!fp)
        return -1;
    const bool bOk = fwrite(image.data(), 1, image.size(), fp) == image.size();
    return (fclose(fp) == 0 && bOk) ? 0 : -1;
}

uint32_t SaveImageU32(const std::vector<uint8_t>& image, size_t nPos)
{
    if (nPos > image.size() || image.size() - nPos < 4)
        return 0;
    return static_cast<uint32_t>(image[nPos]) | (static_cast<uint32_t>(image[nPos + 1]) << 8) |
           (static_cast<uint32_t>(image[nPos + 2]) << 16) | (static_cast<uint32_t>(image[nPos + 3]) << 24);
}

uint32_t SaveImageOffset(const std::vector<uint8_t>& image, int nDno)
{
    if (nDno < 1 || nDno > 1024)
        return 0;
    return SaveImageU32(image, 16 + 4 * static_cast<size_t>(nDno - 1));
}

bool UncompressForTest(int nCodec, const uint8_t* pSrc, size_t nSrc, size_t nRaw, std::vector<uint8_t>* pOut)
{
    pOut->assign(nRaw, 0);
    uint8_t dummy = 0;
    uint8_t* pDst = nRaw ? pOut->data() : &dummy;
    if (nCodec == SB_CODEC_SNAPPY) {
        size_t nLen = 0;
        if (snappy_uncompressed_length(reinterpret_cast<const char*>(pSrc), nSrc, &nLen) != SNAPPY_OK || nLen != nRaw)
            return false;
        return snappy_uncompress(reinterpret_cast<const char*>(pSrc), nSrc, reinterpret_cast<char*>(pDst), &nLen) ==
                   SNAPPY_OK &&
               nLen == nRaw;
    }
    if (nCodec == SB_CODEC_ZLIB) {
        uLongf nLen = nRaw;
        return uncompress(pDst, &nLen, pSrc, static_cast<uLong>(nSrc)) == Z_OK && nLen == nRaw;
    }
    return false;
}
