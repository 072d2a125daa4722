// Writes pack archives (.kpf) with the engine's own hash, CRC, case folding and name permutation,
// so that what the writer stores is exactly what the engine's reader expects.
#include "tools/lib/pack_writer.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include "core/cp932.h"
#include "core/kx_format_consts.h"
#include "core/kx_hash.h"

namespace {

constexpr size_t kHeaderSize = 32;
constexpr size_t kEntryFixedSize = 27;
constexpr size_t kRepairBlock = 1024;
constexpr uint8_t kNameXor = 0xC5;

// The name-length permutation: the identity with the fixed pairs swapped (its own inverse).
struct PACK_PERM {
    uint8_t ab[256];
    PACK_PERM()
    {
        for (int i = 0; i < 256; i++) ab[i] = static_cast<uint8_t>(i);
        for (const auto& pair : KX_PACK_PERM_PAIRS) {
            ab[pair[0]] = pair[1];
            ab[pair[1]] = pair[0];
        }
    }
};
const PACK_PERM g_packPerm;

void PutU8(std::vector<uint8_t>& out, uint32_t v) { out.push_back(static_cast<uint8_t>(v)); }
void PutU16(std::vector<uint8_t>& out, uint32_t v)
{
    for (int i = 0; i < 2; i++) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void PutU32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int i = 0; i < 4; i++) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void PutU64(std::vector<uint8_t>& out, uint64_t v)
{
    for (int i = 0; i < 8; i++) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
uint32_t GetU32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
uint64_t GetU64(const uint8_t* p) { return GetU32(p) | (static_cast<uint64_t>(GetU32(p + 4)) << 32); }

bool EndsWithNoCase(const std::string& s, const char* pszSuffix)
{
    size_t n = std::strlen(pszSuffix);
    return s.size() >= n && CompareNoCaseASCII(s.c_str() + s.size() - n, pszSuffix) == 0;
}

// An entry's bytes as they go into the pack, before the raw options are applied.
struct PREPARED_ENTRY {
    std::vector<uint8_t> stored;
    size_t nTrailer = 0;
    int64_t llOffset = 0;
};

// The repair trailer: P, N, the low 16 bits of each block's CRC-32, and the XOR of all blocks.
void AppendTrailer(std::vector<uint8_t>& out, const PACK_WRITER_ENTRY& e, const std::vector<uint8_t>& stored)
{
    if (!e.bRepairTrailer) {
        PutU32(out, static_cast<uint32_t>(e.nRawParityLength >= 0 ? e.nRawParityLength : 0));
        PutU32(out, static_cast<uint32_t>(e.nRawBlockCount >= 0 ? e.nRawBlockCount : 0));
        return;
    }
    size_t nBlocks = (stored.size() + kRepairBlock - 1) / kRepairBlock;
    PutU32(out, static_cast<uint32_t>(e.nRawParityLength >= 0 ? e.nRawParityLength : static_cast<int>(kRepairBlock)));
    PutU32(out, static_cast<uint32_t>(e.nRawBlockCount >= 0 ? e.nRawBlockCount : static_cast<int>(nBlocks)));
    uint8_t abParity[kRepairBlock] = {};
    for (size_t b = 0; b < nBlocks; b++) {
        size_t nStart = b * kRepairBlock;
        size_t nLen = std::min(kRepairBlock, stored.size() - nStart);
        PutU16(out, ComputeCRC32(stored.data() + nStart, nLen) & 0xFFFF);
        for (size_t i = 0; i < nLen; i++) abParity[i] ^= stored[nStart + i];
    }
    out.insert(out.end(), abParity, abParity + kRepairBlock);
}

size_t TrailerSize(const PACK_WRITER_ENTRY& e, size_t nStored)
{
    if (!e.bRepairTrailer) return 8;
    return 8 + 2 * ((nStored + kRepairBlock - 1) / kRepairBlock) + kRepairBlock;
}

// Decodes the packed entry at pos; the position after it, or 0 when it does not fit in nEnd.
size_t ParseEntryAt(const uint8_t* pData, size_t nEnd, size_t pos, PACK_TABLE_ENTRY* pOut)
{
    if (pos > nEnd || nEnd - pos < 5) return 0;
    pOut->nHash = GetU32(pData + pos);
    pOut->bStoredLength = pData[pos + 4];
    size_t nLen = g_packPerm.ab[255 - pOut->bStoredLength];
    if (nEnd - pos < kEntryFixedSize + nLen) return 0;
    const uint8_t* p = pData + pos + 5;
    pOut->strName.resize(nLen);
    for (size_t i = 0; i < nLen; i++) pOut->strName[i] = static_cast<char>(static_cast<uint8_t>(~p[i]) ^ kNameXor);
    p += nLen;
    pOut->nType = p[0];
    pOut->nCompression = p[1];
    pOut->nSize = static_cast<int32_t>(GetU32(p + 2));
    pOut->nStoredSize = static_cast<int32_t>(GetU32(p + 6));
    pOut->llOffset = static_cast<int64_t>(GetU64(p + 10));
    pOut->nChecksum = GetU32(p + 18);
    return pos + kEntryFixedSize + nLen;
}

}  // namespace

uint8_t PackStoredLengthByte(int nLength)
{
    return static_cast<uint8_t>(255 - g_packPerm.ab[nLength & 0xFF]);
}

int PackTypeFromName(const std::string& strName)
{
    static const struct {
        const char* pszExt;
        int nType;
    } kTypes[] = {
        {".bmp", 1}, {".png", 2}, {".jpg", 3}, {".gif", 4}, {".wav", 5},
        {".ogg", 6}, {".psd", 7}, {".kcg", 8}, {".psb", 9}, {".webp", 10},
    };
    for (const auto& t : kTypes)
        if (EndsWithNoCase(strName, t.pszExt)) return t.nType;
    return 0;
}

std::vector<uint8_t> BuildPackImage(const std::vector<PACK_WRITER_ENTRY>& entries, const PACK_WRITER_OPTIONS& opt)
{
    // Stored bytes and sizes first: the data offsets depend on the table size.
    std::vector<PREPARED_ENTRY> prepared(entries.size());
    size_t nTableSize = 0;
    for (size_t i = 0; i < entries.size(); i++) {
        const PACK_WRITER_ENTRY& e = entries[i];
        bool bRawLength = e.nRawStoredLengthByte >= 0;
        if (!bRawLength && (e.strName.empty() || e.strName.size() > 255)) return {};
        if (e.data.size() > static_cast<size_t>(INT32_MAX)) return {};
        PREPARED_ENTRY& p = prepared[i];
        if (e.nCompression == 0) {
            p.stored = e.data;
        } else if (e.nCompression == 1) {
            uLongf nDst = compressBound(static_cast<uLong>(e.data.size()));
            p.stored.resize(nDst);
            if (compress2(p.stored.data(), &nDst, e.data.data(), static_cast<uLong>(e.data.size()), 9) != Z_OK)
                return {};
            p.stored.resize(nDst);
            if (p.stored.size() > static_cast<size_t>(INT32_MAX)) return {};
        } else {
            return {};
        }
        p.nTrailer = TrailerSize(e, p.stored.size());
        nTableSize += kEntryFixedSize + e.strName.size();
    }
    int64_t llPos = static_cast<int64_t>(kHeaderSize + nTableSize);
    for (PREPARED_ENTRY& p : prepared) {
        p.llOffset = llPos;
        llPos += static_cast<int64_t>(p.stored.size() + p.nTrailer);
    }

    std::vector<uint8_t> image;
    image.reserve(static_cast<size_t>(llPos));
    std::string strMagic = opt.strMagic;
    strMagic.resize(4, '\0');
    image.insert(image.end(), strMagic.begin(), strMagic.end());
    PutU32(image, static_cast<uint32_t>(opt.nVersion));
    int nCount = opt.nRawEntryCount >= 0 ? opt.nRawEntryCount : static_cast<int>(entries.size());
    PutU32(image, static_cast<uint32_t>(nCount));
    PutU32(image, static_cast<uint32_t>(opt.nRawTableSize >= 0 ? opt.nRawTableSize : static_cast<int>(nTableSize)));
    image.resize(kHeaderSize, 0);

    for (size_t i = 0; i < entries.size(); i++) {
        const PACK_WRITER_ENTRY& e = entries[i];
        const PREPARED_ENTRY& p = prepared[i];
        std::string strLower = e.strName;
        LowerCaseASCII(strLower.data());
        uint32_t nHash = e.bRawHash ? e.nRawHash : MurmurHash2(strLower.data(), strLower.size(), 0);
        PutU32(image, nHash);
        PutU8(image, e.nRawStoredLengthByte >= 0 ? static_cast<uint32_t>(e.nRawStoredLengthByte)
                                                  : PackStoredLengthByte(static_cast<int>(e.strName.size())));
        for (char c : e.strName) PutU8(image, static_cast<uint8_t>(~static_cast<uint8_t>(c) ^ kNameXor));
        PutU8(image, static_cast<uint32_t>(e.nType >= 0 ? e.nType : PackTypeFromName(e.strName)));
        PutU8(image, static_cast<uint32_t>(e.nRawCompression >= 0 ? e.nRawCompression : e.nCompression));
        PutU32(image, static_cast<uint32_t>(e.llRawSize >= 0 ? e.llRawSize : static_cast<int64_t>(e.data.size())));
        PutU32(image, static_cast<uint32_t>(e.llRawStoredSize >= 0 ? e.llRawStoredSize
                                                                   : static_cast<int64_t>(p.stored.size())));
        PutU64(image, static_cast<uint64_t>(e.llRawOffset >= 0 ? e.llRawOffset : p.llOffset));
        PutU32(image, e.llRawChecksum >= 0 ? static_cast<uint32_t>(e.llRawChecksum)
                                           : MurmurHash2(p.stored.data(), p.stored.size(), 0));
    }
    for (size_t i = 0; i < entries.size(); i++) {
        image.insert(image.end(), prepared[i].stored.begin(), prepared[i].stored.end());
        AppendTrailer(image, entries[i], prepared[i].stored);
    }
    if (opt.bTruncateTable) image.resize(kHeaderSize + nTableSize / 2);
    return image;
}

int WritePackFile(const std::string& strNativePath, const std::vector<PACK_WRITER_ENTRY>& entries,
                  const PACK_WRITER_OPTIONS& opt)
{
    std::vector<uint8_t> image = BuildPackImage(entries, opt);
    if (image.empty()) return -1;
    FILE* fp = std::fopen(strNativePath.c_str(), "wb");
    if (!fp) return -1;
    bool bOk = std::fwrite(image.data(), 1, image.size(), fp) == image.size();
    bOk = (std::fclose(fp) == 0) && bOk;
    return bOk ? 0 : -1;
}

int64_t FindPackEntryDataOffset(const std::vector<uint8_t>& image, size_t nEntry)
{
    std::vector<PACK_TABLE_ENTRY> entries;
    if (ReadPackTable(image.data(), image.size(), &entries) != 0 || nEntry >= entries.size()) return -1;
    return entries[nEntry].llOffset;
}

int ReadPackTable(const uint8_t* pData, size_t nSize, std::vector<PACK_TABLE_ENTRY>* pOut)
{
    pOut->clear();
    if (nSize < kHeaderSize) return -1;
    int32_t nCount = static_cast<int32_t>(GetU32(pData + 8));
    int32_t nTableSize = static_cast<int32_t>(GetU32(pData + 12));
    if (nCount < 0 || nTableSize < 0 || static_cast<size_t>(nTableSize) > nSize - kHeaderSize) return -1;
    size_t nEnd = kHeaderSize + static_cast<size_t>(nTableSize);
    size_t pos = kHeaderSize;
    for (int32_t i = 0; i < nCount; i++) {
        PACK_TABLE_ENTRY entry;
        pos = ParseEntryAt(pData, nEnd, pos, &entry);
        if (pos == 0) return -1;
        pOut->push_back(std::move(entry));
    }
    return 0;
}
