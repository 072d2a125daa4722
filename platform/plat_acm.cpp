#include "platform/plat_acm.h"

#include <climits>
#include <cstring>

namespace {

enum : uint16_t { TAG_MSADPCM = 2, TAG_ALAW = 6, TAG_MULAW = 7, TAG_IMAADPCM = 0x11 };

const int kImaStep[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,
    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,   143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,
    544,   598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,
    9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767,
};
const int kImaIndex[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};
const int kMsAdapt[16] = {230, 230, 230, 230, 307, 409, 512, 614, 768, 614, 512, 409, 307, 230, 230, 230};
const int16_t kMsStandardCoef[7][2] = {
    {256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232},
};

// What a source format block says about its stream, checked once.
struct ACM_CODEC {
    PLAT_WAVE_FORMAT fmt;
    int nChannels;
    size_t nBlockAlign;        // bytes per block (G.711: per frame)
    int nSamplesPerBlock;      // frames per block (G.711: 1)
    int nCoef;                 // MS ADPCM coefficient pairs
    int16_t aCoef[256][2];
};

uint16_t Read16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

int Clamp16(int64_t v)
{
    return v < -32768 ? -32768 : (v > 32767 ? 32767 : static_cast<int>(v));
}

void Put16(uint8_t* p, int v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(static_cast<unsigned>(v) >> 8);
}

int ParseCodec(const uint8_t* pFmt, size_t nBytes, ACM_CODEC* c)
{
    if (!pFmt || !c)
        return PLAT_ACM_INVALPARAM;
    std::memset(c, 0, sizeof(*c));
    PlatAcmReadFormat(pFmt, nBytes, &c->fmt);
    const PLAT_WAVE_FORMAT& f = c->fmt;
    if (f.nChannels < 1 || f.nChannels > 2 || f.nSamplesPerSec == 0)
        return PLAT_ACM_NOTPOSSIBLE;
    const int ch = f.nChannels;
    c->nChannels = ch;
    c->nBlockAlign = f.nBlockAlign;
    // The extra bytes that the block really holds after the 18-byte header.
    const size_t nExtra = nBytes > 18 ? (f.cbSize < nBytes - 18 ? f.cbSize : nBytes - 18) : 0;
    const uint8_t* pExtra = pFmt + 18;
    switch (f.wFormatTag) {
    case TAG_ALAW:
    case TAG_MULAW:
        if (f.wBitsPerSample != 8 || f.nBlockAlign != ch)
            return PLAT_ACM_NOTPOSSIBLE;
        c->nSamplesPerBlock = 1;
        return PLAT_ACM_OK;
    case TAG_IMAADPCM: {
        // Per channel a 4-byte header, then groups of 4 bytes (8 samples) per channel.
        if (f.wBitsPerSample != 4 || f.nBlockAlign < 8 * ch)
            return PLAT_ACM_NOTPOSSIBLE;
        const int nMax = 1 + (f.nBlockAlign - 4 * ch) / (4 * ch) * 8;
        int nSpb = nMax;
        if (nExtra >= 2) {
            nSpb = Read16(pExtra);
            if (nSpb < 1 || nSpb > nMax)
                return PLAT_ACM_NOTPOSSIBLE;
        }
        c->nSamplesPerBlock = nSpb;
        return PLAT_ACM_OK;
    }
    case TAG_MSADPCM: {
        // Per channel a 7-byte header (two of its samples), then one nibble per sample.
        if (f.wBitsPerSample != 4 || f.nBlockAlign < 7 * ch)
            return PLAT_ACM_NOTPOSSIBLE;
        const int nMax = (f.nBlockAlign - 7 * ch) * 2 / ch + 2;
        int nSpb = nMax;
        c->nCoef = 7;
        std::memcpy(c->aCoef, kMsStandardCoef, sizeof(kMsStandardCoef));
        if (nExtra >= 4) {
            nSpb = Read16(pExtra);
            const int nCoef = Read16(pExtra + 2);
            if (nSpb < 2 || nSpb > nMax || nCoef < 1 || nCoef > 256 || nExtra < 4 + size_t(nCoef) * 4)
                return PLAT_ACM_NOTPOSSIBLE;
            c->nCoef = nCoef;
            for (int i = 0; i < nCoef; ++i) {
                c->aCoef[i][0] = static_cast<int16_t>(Read16(pExtra + 4 + 4 * i));
                c->aCoef[i][1] = static_cast<int16_t>(Read16(pExtra + 6 + 4 * i));
            }
        }
        c->nSamplesPerBlock = nSpb;
        return PLAT_ACM_OK;
    }
    default:
        return PLAT_ACM_NOTPOSSIBLE;
    }
}

size_t BoundBytes(const ACM_CODEC& c, size_t nSrc)
{
    const size_t nBlocks = nSrc / c.nBlockAlign + (nSrc % c.nBlockAlign ? 1 : 0);
    return nBlocks * size_t(c.nSamplesPerBlock) * size_t(c.nChannels) * 2;
}

int DecodeMuLaw(uint8_t u)
{
    u = static_cast<uint8_t>(~u);
    int t = ((u & 0x0F) << 3) + 0x84;
    t <<= (u & 0x70) >> 4;
    return (u & 0x80) ? 0x84 - t : t - 0x84;
}

int DecodeALaw(uint8_t a)
{
    a ^= 0x55;
    int t = (a & 0x0F) << 4;
    const int nSeg = (a & 0x70) >> 4;
    if (nSeg == 0)
        t += 8;
    else
        t = (t + 0x108) << (nSeg - 1);
    return (a & 0x80) ? t : -t;
}

// Decodes one IMA ADPCM block of nBytes (at most a whole block) into frames at pOut; returns the frames
// written, or -1 for an invalid header.
int DecodeImaBlock(const ACM_CODEC& c, const uint8_t* p, size_t nBytes, uint8_t* pOut)
{
    const int ch = c.nChannels;
    int nPred[2], nIndex[2];
    for (int k = 0; k < ch; ++k) {
        nPred[k] = static_cast<int16_t>(Read16(p + 4 * k));
        nIndex[k] = p[4 * k + 2];
        if (nIndex[k] > 88)
            return -1;
        Put16(pOut + 2 * k, nPred[k]);
    }
    const size_t nGroups = (nBytes - 4 * size_t(ch)) / (4 * size_t(ch));
    const int nFollowing = c.nSamplesPerBlock - 1;
    int nFrames = 1;
    const uint8_t* d = p + 4 * ch;
    for (size_t g = 0; g < nGroups; ++g) {
        for (int k = 0; k < ch; ++k, d += 4) {
            for (int i = 0; i < 8; ++i) {
                const int nFrame = static_cast<int>(g) * 8 + i;
                if (nFrame >= nFollowing)
                    break;
                const int nib = (i & 1) ? d[i / 2] >> 4 : d[i / 2] & 0x0F;
                const int nStep = kImaStep[nIndex[k]];
                int nDiff = nStep >> 3;
                if (nib & 4) nDiff += nStep;
                if (nib & 2) nDiff += nStep >> 1;
                if (nib & 1) nDiff += nStep >> 2;
                nPred[k] = Clamp16((nib & 8) ? int64_t(nPred[k]) - nDiff : int64_t(nPred[k]) + nDiff);
                nIndex[k] += kImaIndex[nib];
                nIndex[k] = nIndex[k] < 0 ? 0 : (nIndex[k] > 88 ? 88 : nIndex[k]);
                Put16(pOut + (size_t(1 + nFrame) * ch + k) * 2, nPred[k]);
                if (1 + nFrame + 1 > nFrames)
                    nFrames = 1 + nFrame + 1;
            }
        }
    }
    return nFrames;
}

// Decodes one MS ADPCM block; as DecodeImaBlock.
int DecodeMsBlock(const ACM_CODEC& c, const uint8_t* p, size_t nBytes, uint8_t* pOut)
{
    const int ch = c.nChannels;
    int nCoef1[2], nCoef2[2], nDelta[2], s1[2], s2[2];
    for (int k = 0; k < ch; ++k) {
        const int nPredictor = p[k];
        if (nPredictor >= c.nCoef)
            return -1;
        nCoef1[k] = c.aCoef[nPredictor][0];
        nCoef2[k] = c.aCoef[nPredictor][1];
        nDelta[k] = static_cast<int16_t>(Read16(p + ch + 2 * k));
        s1[k] = static_cast<int16_t>(Read16(p + 3 * ch + 2 * k));
        s2[k] = static_cast<int16_t>(Read16(p + 5 * ch + 2 * k));
        Put16(pOut + 2 * k, s2[k]);
        Put16(pOut + (size_t(ch) + k) * 2, s1[k]);
    }
    const size_t nNibbles = (nBytes - 7 * size_t(ch)) * 2;
    size_t nFollowing = nNibbles / ch;
    if (nFollowing > size_t(c.nSamplesPerBlock - 2))
        nFollowing = size_t(c.nSamplesPerBlock - 2);
    const uint8_t* d = p + 7 * ch;
    for (size_t i = 0; i < nFollowing * ch; ++i) {
        const int k = static_cast<int>(i % ch);
        const int nib = (i & 1) ? d[i / 2] & 0x0F : d[i / 2] >> 4;
        const int nSigned = nib >= 8 ? nib - 16 : nib;
        const int64_t llPred = (int64_t(s1[k]) * nCoef1[k] + int64_t(s2[k]) * nCoef2[k]) / 256;
        const int v = Clamp16(llPred + int64_t(nSigned) * nDelta[k]);
        s2[k] = s1[k];
        s1[k] = v;
        nDelta[k] = static_cast<int>(int64_t(kMsAdapt[nib]) * nDelta[k] / 256);
        if (nDelta[k] < 16)
            nDelta[k] = 16;
        else if (nDelta[k] > INT_MAX / 768)
            nDelta[k] = INT_MAX / 768;  // a damaged block cannot grow the step without bound
        Put16(pOut + (2 * size_t(ch) + i) * 2, v);
    }
    return static_cast<int>(2 + nFollowing);
}

}  // namespace

void PlatAcmReadFormat(const uint8_t* pFmt, size_t nBytes, PLAT_WAVE_FORMAT* pOut)
{
    uint8_t b[18] = {};
    if (pFmt)
        std::memcpy(b, pFmt, nBytes < 18 ? nBytes : 18);
    pOut->wFormatTag = Read16(b);
    pOut->nChannels = Read16(b + 2);
    pOut->nSamplesPerSec = Read16(b + 4) | (uint32_t(Read16(b + 6)) << 16);
    pOut->nAvgBytesPerSec = Read16(b + 8) | (uint32_t(Read16(b + 10)) << 16);
    pOut->nBlockAlign = Read16(b + 12);
    pOut->wBitsPerSample = Read16(b + 14);
    pOut->cbSize = Read16(b + 16);
}

int PlatAcmSuggestPCM(const uint8_t* pFmt, size_t nFmtBytes, PLAT_WAVE_FORMAT* pDst)
{
    if (!pDst)
        return PLAT_ACM_INVALPARAM;
    ACM_CODEC c;
    const int r = ParseCodec(pFmt, nFmtBytes, &c);
    if (r != PLAT_ACM_OK)
        return r;
    const uint16_t ch = c.fmt.nChannels;
    pDst->wFormatTag = 1;
    pDst->nChannels = ch;
    pDst->nSamplesPerSec = c.fmt.nSamplesPerSec;
    pDst->nBlockAlign = static_cast<uint16_t>(ch * 2);
    pDst->nAvgBytesPerSec = c.fmt.nSamplesPerSec * ch * 2u;
    pDst->wBitsPerSample = 16;
    pDst->cbSize = 0;
    return PLAT_ACM_OK;
}

int PlatAcmConvertSize(const uint8_t* pFmt, size_t nFmtBytes, size_t nSrcBytes, size_t* pnDstBytes)
{
    if (!pnDstBytes)
        return PLAT_ACM_INVALPARAM;
    ACM_CODEC c;
    const int r = ParseCodec(pFmt, nFmtBytes, &c);
    if (r != PLAT_ACM_OK)
        return r;
    *pnDstBytes = BoundBytes(c, nSrcBytes);
    return PLAT_ACM_OK;
}

int PlatAcmConvert(const uint8_t* pFmt, size_t nFmtBytes, const uint8_t* pSrc, size_t nSrc,
                   uint8_t* pDst, size_t nDstCap, size_t* pnProduced)
{
    if (!pnProduced || (!pSrc && nSrc) || (!pDst && nDstCap))
        return PLAT_ACM_INVALPARAM;
    *pnProduced = 0;
    ACM_CODEC c;
    const int r = ParseCodec(pFmt, nFmtBytes, &c);
    if (r != PLAT_ACM_OK)
        return r;
    if (nDstCap < BoundBytes(c, nSrc))
        return PLAT_ACM_INVALPARAM;
    const size_t ch = size_t(c.nChannels);
    size_t nOut = 0;
    if (c.fmt.wFormatTag == TAG_ALAW || c.fmt.wFormatTag == TAG_MULAW) {
        // A last frame missing some of its channels is dropped.
        const size_t n = nSrc / ch * ch;
        const bool bALaw = c.fmt.wFormatTag == TAG_ALAW;
        for (size_t i = 0; i < n; ++i)
            Put16(pDst + 2 * i, bALaw ? DecodeALaw(pSrc[i]) : DecodeMuLaw(pSrc[i]));
        nOut = n * 2;
    } else {
        const bool bIma = c.fmt.wFormatTag == TAG_IMAADPCM;
        const size_t nHeader = (bIma ? 4 : 7) * ch;
        for (size_t at = 0; at < nSrc; at += c.nBlockAlign) {
            const size_t nBytes = nSrc - at < c.nBlockAlign ? nSrc - at : c.nBlockAlign;
            if (nBytes < nHeader)
                break;
            const int nFrames = bIma ? DecodeImaBlock(c, pSrc + at, nBytes, pDst + nOut)
                                     : DecodeMsBlock(c, pSrc + at, nBytes, pDst + nOut);
            if (nFrames < 0) {
                *pnProduced = 0;
                return PLAT_ACM_NOTPOSSIBLE;
            }
            nOut += size_t(nFrames) * ch * 2;
        }
    }
    *pnProduced = nOut;
    return PLAT_ACM_OK;
}
