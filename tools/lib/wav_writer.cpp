#include "tools/lib/wav_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

const int16_t g_aMsAdpcmCoef[7][2] = {
    {256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232},
};

namespace {

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

int Clamp16(int v)
{
    return v < -32768 ? -32768 : (v > 32767 ? 32767 : v);
}

void Append16(std::vector<uint8_t>& v, uint32_t n)
{
    v.push_back(static_cast<uint8_t>(n));
    v.push_back(static_cast<uint8_t>(n >> 8));
}
void Append32(std::vector<uint8_t>& v, uint32_t n)
{
    for (int i = 0; i < 4; ++i)
        v.push_back(static_cast<uint8_t>(n >> (8 * i)));
}
void Put32(std::vector<uint8_t>& v, size_t at, uint32_t n)
{
    for (int i = 0; i < 4; ++i)
        v[at + i] = static_cast<uint8_t>(n >> (8 * i));
}

void AppendChunk(std::vector<uint8_t>& v, const char* id, const uint8_t* p, size_t n, int64_t llSize, bool bNoPad)
{
    v.insert(v.end(), id, id + 4);
    Append32(v, llSize >= 0 ? static_cast<uint32_t>(llSize) : static_cast<uint32_t>(n));
    if (n)
        v.insert(v.end(), p, p + n);
    if ((n & 1) && !bNoPad)
        v.push_back(0);
}

void AppendChunks(std::vector<uint8_t>& v, const std::vector<WAV_CHUNK>& list)
{
    for (const WAV_CHUNK& c : list)
        AppendChunk(v, c.id, c.data.data(), c.data.size(), c.llSizeOverride, c.bNoPad);
}

uint16_t DefaultBlockAlign(const WAV_WRITER_OPTIONS& opt)
{
    const uint16_t ch = opt.nChannels ? opt.nChannels : 1;
    switch (opt.wFormatTag) {
    case WAVTAG_IMAADPCM:
    case WAVTAG_MSADPCM:
        return opt.nBlockAlign ? opt.nBlockAlign : static_cast<uint16_t>(256 * ch);
    case WAVTAG_ALAW:
    case WAVTAG_MULAW:
        return ch;
    default:
        return static_cast<uint16_t>(ch * ((opt.wBitsPerSample + 7) / 8));
    }
}

// The fmt chunk's bytes: the 16-byte header, cbSize and the tag's extra bytes, cut or zero-filled to
// the chosen size.
std::vector<uint8_t> BuildFmt(const WAV_WRITER_OPTIONS& opt, size_t nBody)
{
    const uint16_t ch = opt.nChannels;
    const uint16_t wAlign = DefaultBlockAlign(opt);
    uint16_t wBits = opt.wBitsPerSample;
    std::vector<uint8_t> extra;
    uint32_t nAvg = opt.nSamplesPerSec * wAlign;
    size_t nDefault = 16;
    if (opt.wFormatTag == WAVTAG_IMAADPCM) {
        wBits = 4;
        const int nSpb = ImaAdpcmSamplesPerBlock(ch ? ch : 1, wAlign);
        Append16(extra, static_cast<uint32_t>(nSpb));
        nAvg = nSpb > 0 ? static_cast<uint32_t>(uint64_t(opt.nSamplesPerSec) * wAlign / nSpb) : 0;
        nDefault = 20;
    } else if (opt.wFormatTag == WAVTAG_MSADPCM) {
        wBits = 4;
        const int nSpb = MsAdpcmSamplesPerBlock(ch ? ch : 1, wAlign);
        Append16(extra, static_cast<uint32_t>(nSpb));
        Append16(extra, 7);
        for (const auto& c : g_aMsAdpcmCoef) {
            Append16(extra, static_cast<uint16_t>(c[0]));
            Append16(extra, static_cast<uint16_t>(c[1]));
        }
        nAvg = nSpb > 0 ? static_cast<uint32_t>(uint64_t(opt.nSamplesPerSec) * wAlign / nSpb) : 0;
        nDefault = 50;
    } else if (opt.wFormatTag == WAVTAG_ALAW || opt.wFormatTag == WAVTAG_MULAW) {
        wBits = 8;
        nDefault = 18;
    }
    const size_t nSize = opt.nFmtSize ? opt.nFmtSize : nDefault;
    std::vector<uint8_t> f;
    Append16(f, opt.wFormatTag);
    Append16(f, ch);
    Append32(f, opt.nSamplesPerSec);
    Append32(f, opt.llAvgBytesOverride >= 0 ? static_cast<uint32_t>(opt.llAvgBytesOverride) : nAvg);
    Append16(f, opt.nBlockAlignOverride >= 0 ? static_cast<uint32_t>(opt.nBlockAlignOverride) : wAlign);
    Append16(f, wBits);
    uint32_t nCb = static_cast<uint32_t>(extra.size());
    if (opt.nCbSizeOverride >= 0)
        nCb = static_cast<uint32_t>(opt.nCbSizeOverride);
    Append16(f, nCb);
    f.insert(f.end(), extra.begin(), extra.end());
    f.resize(nSize, 0);
    (void)nBody;
    return f;
}

// One IMA ADPCM step: the nibble for sample s, with the decoder state advanced as a decoder would.
uint8_t ImaEncodeStep(int s, int& nPred, int& nIndex)
{
    int nStep = kImaStep[nIndex];
    int nDiff = s - nPred;
    uint8_t nib = 0;
    if (nDiff < 0) {
        nib = 8;
        nDiff = -nDiff;
    }
    int nMask = 4;
    int nTemp = nStep;
    for (int i = 0; i < 3; ++i) {
        if (nDiff >= nTemp) {
            nib |= static_cast<uint8_t>(nMask);
            nDiff -= nTemp;
        }
        nTemp >>= 1;
        nMask >>= 1;
    }
    int nDelta = nStep >> 3;
    if (nib & 4) nDelta += nStep;
    if (nib & 2) nDelta += nStep >> 1;
    if (nib & 1) nDelta += nStep >> 2;
    nPred = Clamp16((nib & 8) ? nPred - nDelta : nPred + nDelta);
    nIndex = std::clamp(nIndex + kImaIndex[nib], 0, 88);
    return nib;
}

// Sample f of channel c, the last frame repeated past the end.
int SampleAt(const int16_t* p, size_t nFrames, int nChannels, size_t f, int c)
{
    if (nFrames == 0)
        return 0;
    if (f >= nFrames)
        f = nFrames - 1;
    return p[f * nChannels + c];
}

// Encodes nCount samples of one channel with MS ADPCM predictor k; returns the squared error and writes
// the nibbles (and the first delta) when pOut is given.
int64_t MsEncodeChannel(const int16_t* p, size_t nFrames, int nChannels, size_t f0, int c, int nCount, int k,
                        int nDelta0, uint8_t* pNibbles)
{
    int s2 = SampleAt(p, nFrames, nChannels, f0, c);
    int s1 = SampleAt(p, nFrames, nChannels, f0 + 1, c);
    int nDelta = nDelta0;
    int64_t llErr = 0;
    for (int i = 0; i < nCount; ++i) {
        const int x = SampleAt(p, nFrames, nChannels, f0 + 2 + i, c);
        const int nPred = (s1 * g_aMsAdpcmCoef[k][0] + s2 * g_aMsAdpcmCoef[k][1]) / 256;
        int e = x - nPred;
        int q = e >= 0 ? (e + nDelta / 2) / nDelta : -((-e + nDelta / 2) / nDelta);
        q = std::clamp(q, -8, 7);
        const int v = Clamp16(nPred + q * nDelta);
        const int nib = q & 15;
        nDelta = kMsAdapt[nib] * nDelta / 256;
        if (nDelta < 16)
            nDelta = 16;
        llErr += int64_t(x - v) * (x - v);
        s2 = s1;
        s1 = v;
        if (pNibbles)
            pNibbles[i] = static_cast<uint8_t>(nib);
    }
    return llErr;
}

}  // namespace

uint8_t EncodeMuLawSample(int16_t s)
{
    const int kBias = 0x84, kClip = 32635;
    int v = s;
    int nSign = 0;
    if (v < 0) {
        nSign = 0x80;
        v = -v;
    }
    if (v > kClip)
        v = kClip;
    v += kBias;
    int nExp = 7;
    for (int nMask = 0x4000; (v & nMask) == 0 && nExp > 0; nMask >>= 1)
        --nExp;
    const int nMant = (v >> (nExp + 3)) & 0x0F;
    return static_cast<uint8_t>(~(nSign | (nExp << 4) | nMant));
}

uint8_t EncodeALawSample(int16_t s)
{
    static const int kSegEnd[8] = {0x1F, 0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF};
    int v = s >> 3;
    int nMask = 0xD5;
    if (v < 0) {
        nMask = 0x55;
        v = -v - 1;
    }
    int nSeg = 0;
    while (nSeg < 8 && v > kSegEnd[nSeg])
        ++nSeg;
    if (nSeg >= 8)
        return static_cast<uint8_t>(0x7F ^ nMask);
    int a = nSeg << 4;
    a |= nSeg < 2 ? (v >> 1) & 0x0F : (v >> nSeg) & 0x0F;
    return static_cast<uint8_t>(a ^ nMask);
}

int ImaAdpcmSamplesPerBlock(int nChannels, uint16_t nBlockAlign)
{
    if (nChannels < 1 || nBlockAlign < 4 * nChannels)
        return 0;
    return (nBlockAlign - 4 * nChannels) * 2 / nChannels + 1;
}

int MsAdpcmSamplesPerBlock(int nChannels, uint16_t nBlockAlign)
{
    if (nChannels < 1 || nBlockAlign < 7 * nChannels)
        return 0;
    return (nBlockAlign - 7 * nChannels) * 2 / nChannels + 2;
}

std::vector<uint8_t> EncodeImaAdpcm(const int16_t* pSamples, size_t nFrames, int nChannels, uint16_t nBlockAlign)
{
    std::vector<uint8_t> out;
    const int nSpb = ImaAdpcmSamplesPerBlock(nChannels, nBlockAlign);
    if (nSpb < 1 || (nBlockAlign - 4 * nChannels) % (4 * nChannels) != 0)
        return out;
    int nIndex[2] = {0, 0};
    for (size_t f0 = 0; f0 < nFrames; f0 += static_cast<size_t>(nSpb)) {
        const size_t nStart = out.size();
        out.resize(nStart + nBlockAlign, 0);
        uint8_t* b = out.data() + nStart;
        int nPred[2];
        for (int c = 0; c < nChannels; ++c) {
            nPred[c] = SampleAt(pSamples, nFrames, nChannels, f0, c);
            b[4 * c] = static_cast<uint8_t>(nPred[c]);
            b[4 * c + 1] = static_cast<uint8_t>(nPred[c] >> 8);
            b[4 * c + 2] = static_cast<uint8_t>(nIndex[c]);
            b[4 * c + 3] = 0;
        }
        uint8_t* d = b + 4 * nChannels;
        for (int g = 0; g < (nSpb - 1) / 8; ++g) {
            for (int c = 0; c < nChannels; ++c) {
                for (int k = 0; k < 8; ++k) {
                    const size_t f = f0 + 1 + size_t(g) * 8 + k;
                    const uint8_t nib = ImaEncodeStep(SampleAt(pSamples, nFrames, nChannels, f, c), nPred[c], nIndex[c]);
                    d[k / 2] |= static_cast<uint8_t>((k & 1) ? nib << 4 : nib);
                }
                d += 4;
            }
        }
    }
    return out;
}

std::vector<uint8_t> EncodeMsAdpcm(const int16_t* pSamples, size_t nFrames, int nChannels, uint16_t nBlockAlign)
{
    std::vector<uint8_t> out;
    const int nSpb = MsAdpcmSamplesPerBlock(nChannels, nBlockAlign);
    if (nSpb < 2 || nChannels > 2)
        return out;
    const int nCount = nSpb - 2;
    std::vector<uint8_t> nib[2];
    for (size_t f0 = 0; f0 < nFrames; f0 += static_cast<size_t>(nSpb)) {
        const size_t nStart = out.size();
        out.resize(nStart + nBlockAlign, 0);
        uint8_t* b = out.data() + nStart;
        for (int c = 0; c < nChannels; ++c) {
            const int s2 = SampleAt(pSamples, nFrames, nChannels, f0, c);
            const int s1 = SampleAt(pSamples, nFrames, nChannels, f0 + 1, c);
            const int x = SampleAt(pSamples, nFrames, nChannels, f0 + 2, c);
            const int nDelta0 = std::max(16, std::abs(x - s1) / 2);
            int nBest = 0;
            int64_t llBest = -1;
            for (int k = 0; k < 7; ++k) {
                const int64_t e = MsEncodeChannel(pSamples, nFrames, nChannels, f0, c, nCount, k, nDelta0, nullptr);
                if (llBest < 0 || e < llBest) {
                    llBest = e;
                    nBest = k;
                }
            }
            nib[c].assign(static_cast<size_t>(nCount), 0);
            MsEncodeChannel(pSamples, nFrames, nChannels, f0, c, nCount, nBest, nDelta0, nib[c].data());
            b[c] = static_cast<uint8_t>(nBest);
            uint8_t* p = b + nChannels;
            p[2 * c] = static_cast<uint8_t>(nDelta0);
            p[2 * c + 1] = static_cast<uint8_t>(nDelta0 >> 8);
            p += 2 * nChannels;
            p[2 * c] = static_cast<uint8_t>(s1);
            p[2 * c + 1] = static_cast<uint8_t>(s1 >> 8);
            p += 2 * nChannels;
            p[2 * c] = static_cast<uint8_t>(s2);
            p[2 * c + 1] = static_cast<uint8_t>(s2 >> 8);
        }
        // Nibbles follow in sample order, channels interleaved, the high nibble first.
        uint8_t* d = b + 7 * nChannels;
        const size_t nTotal = size_t(nCount) * nChannels;
        for (size_t i = 0; i < nTotal; ++i) {
            const uint8_t n = nib[i % nChannels][i / nChannels];
            d[i / 2] |= static_cast<uint8_t>((i & 1) ? n : n << 4);
        }
    }
    return out;
}

std::vector<int16_t> MakeSineSamples(size_t nFrames, int nChannels, uint32_t nRate, double fHz, int nAmplitude)
{
    std::vector<int16_t> v(nFrames * nChannels);
    const double kTwoPi = 6.283185307179586;
    for (size_t f = 0; f < nFrames; ++f)
        for (int c = 0; c < nChannels; ++c) {
            const double t = kTwoPi * fHz * double(f) / double(nRate ? nRate : 1) + (c ? kTwoPi / 4 : 0.0);
            v[f * nChannels + c] = static_cast<int16_t>(Clamp16(static_cast<int>(std::lround(nAmplitude * std::sin(t)))));
        }
    return v;
}

std::vector<int16_t> MakeRampSamples(size_t nFrames, int nChannels, int nFrom, int nTo)
{
    std::vector<int16_t> v(nFrames * nChannels);
    for (size_t f = 0; f < nFrames; ++f) {
        const int64_t x = nFrames > 1 ? nFrom + (int64_t(nTo) - nFrom) * int64_t(f) / int64_t(nFrames - 1) : nFrom;
        for (int c = 0; c < nChannels; ++c)
            v[f * nChannels + c] = static_cast<int16_t>(Clamp16(static_cast<int>(x)));
    }
    return v;
}

std::vector<uint8_t> WriteWav(const WAV_WRITER_OPTIONS& opt, const uint8_t* pBody, size_t nBody)
{
    std::vector<uint8_t> v;
    v.insert(v.end(), {'R', 'I', 'F', 'F', 0, 0, 0, 0});
    if (opt.bBadRiffId)
        v[3] = 'X';
    v.insert(v.end(), {'W', 'A', 'V', 'E'});
    if (opt.bBadWaveId)
        v[11] = 'X';
    AppendChunks(v, opt.beforeFmt);
    const std::vector<uint8_t> fmt = BuildFmt(opt, nBody);
    auto writeFmt = [&] {
        if (!opt.bNoFmt)
            AppendChunk(v, "fmt ", fmt.data(), fmt.size(), opt.llFmtSizeOverride, false);
    };
    auto writeData = [&] {
        if (!opt.bNoData)
            AppendChunk(v, "data", pBody, nBody, opt.llDataSizeOverride, false);
    };
    if (opt.bDataBeforeFmt) {
        AppendChunks(v, opt.beforeData);
        writeData();
        writeFmt();
    } else {
        writeFmt();
        AppendChunks(v, opt.beforeData);
        writeData();
    }
    AppendChunks(v, opt.afterData);
    Put32(v, 4, opt.llRiffSizeOverride >= 0 ? static_cast<uint32_t>(opt.llRiffSizeOverride)
                                             : static_cast<uint32_t>(v.size() - 8));
    if (opt.nTruncateTo < v.size())
        v.resize(opt.nTruncateTo);
    return v;
}

std::vector<uint8_t> WriteWavSamples(const WAV_WRITER_OPTIONS& opt, const int16_t* pSamples, size_t nFrames)
{
    const int ch = opt.nChannels ? opt.nChannels : 1;
    const size_t n = nFrames * ch;
    std::vector<uint8_t> body;
    switch (opt.wFormatTag) {
    case WAVTAG_ALAW:
        for (size_t i = 0; i < n; ++i)
            body.push_back(EncodeALawSample(pSamples[i]));
        break;
    case WAVTAG_MULAW:
        for (size_t i = 0; i < n; ++i)
            body.push_back(EncodeMuLawSample(pSamples[i]));
        break;
    case WAVTAG_IMAADPCM:
        body = EncodeImaAdpcm(pSamples, nFrames, ch, DefaultBlockAlign(opt));
        break;
    case WAVTAG_MSADPCM:
        body = EncodeMsAdpcm(pSamples, nFrames, ch, DefaultBlockAlign(opt));
        break;
    default:
        if (opt.wBitsPerSample == 8) {
            for (size_t i = 0; i < n; ++i)
                body.push_back(static_cast<uint8_t>((pSamples[i] >> 8) + 128));
        } else {
            for (size_t i = 0; i < n; ++i)
                Append16(body, static_cast<uint16_t>(pSamples[i]));
        }
        break;
    }
    return WriteWav(opt, body.data(), body.size());
}
