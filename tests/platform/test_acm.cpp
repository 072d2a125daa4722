// Conversion of compressed WAV data to 16-bit PCM: the suggest step, the four decoders against
// references worked out here from each codec's published description, and damaged input.
#include "platform/plat_acm.h"
#include "tools/lib/wav_writer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace {

// ---- References written from the codecs' descriptions ----

// G.711 mu-law: the byte is stored inverted; sign bit, 3-bit exponent, 4-bit mantissa;
// magnitude = ((mantissa x 8 + 132) << exponent) - 132.
int RefMuLaw(uint8_t code)
{
    const uint8_t u = static_cast<uint8_t>(~code);
    const int nExp = (u >> 4) & 7, nMant = u & 15;
    const int nMag = ((nMant * 8 + 132) << nExp) - 132;
    return (u & 0x80) ? -nMag : nMag;
}

// G.711 A-law: even bits inverted (XOR 0x55); sign bit set means positive; segment 0 is linear
// (mantissa x 16 + 8), segment e > 0 is (mantissa x 16 + 264) << (e - 1).
int RefALaw(uint8_t code)
{
    const uint8_t a = code ^ 0x55;
    const int nSeg = (a >> 4) & 7, nMant = a & 15;
    const int nMag = nSeg == 0 ? nMant * 16 + 8 : (nMant * 16 + 264) << (nSeg - 1);
    return (a & 0x80) ? nMag : -nMag;
}

const int kImaSteps[89] = {
    7, 8, 9, 10, 11, 12, 13, 14, 16, 17, 19, 21, 23, 25, 28, 31, 34, 37, 41, 45, 50, 55, 60, 66, 73, 80, 88,
    97, 107, 118, 130, 143, 157, 173, 190, 209, 230, 253, 279, 307, 337, 371, 408, 449, 494, 544, 598, 658,
    724, 796, 876, 963, 1060, 1166, 1282, 1411, 1552, 1707, 1878, 2066, 2272, 2499, 2749, 3024, 3327, 3660,
    4026, 4428, 4871, 5358, 5894, 6484, 7132, 7845, 8630, 9493, 10442, 11487, 12635, 13899, 15289, 16818,
    18500, 20350, 22385, 24623, 27086, 29794, 32767,
};

int Sat(long v)
{
    return v < -32768 ? -32768 : v > 32767 ? 32767 : static_cast<int>(v);
}

// IMA/DVI ADPCM as the Windows block layout stores it: per channel sample (16 bits), step index,
// reserved byte; then per channel 4 bytes (8 nibbles, low nibble first) in turn. A nibble's value
// is (2 x magnitude + 1) x step / 8 computed bit by bit, the index moves by -1,-1,-1,-1,2,4,6,8.
std::vector<int16_t> RefImaDecode(const std::vector<uint8_t>& body, int ch, int nBlockAlign)
{
    static const int kMove[8] = {-1, -1, -1, -1, 2, 4, 6, 8};
    std::vector<int16_t> out;
    const int nSpb = (nBlockAlign - 4 * ch) * 2 / ch + 1;
    for (size_t at = 0; at + nBlockAlign <= body.size(); at += nBlockAlign) {
        const uint8_t* b = body.data() + at;
        std::vector<int> pred(ch), idx(ch);
        std::vector<std::vector<int>> chan(ch);
        for (int c = 0; c < ch; ++c) {
            pred[c] = static_cast<int16_t>(b[4 * c] | (b[4 * c + 1] << 8));
            idx[c] = b[4 * c + 2];
            chan[c].push_back(pred[c]);
        }
        for (int w = 0; w < (nBlockAlign - 4 * ch) / 4; ++w) {
            const int c = w % ch;
            const uint8_t* q = b + 4 * ch + 4 * w;
            for (int i = 0; i < 8; ++i) {
                const int nib = (q[i / 2] >> ((i & 1) * 4)) & 15;
                const int st = kImaSteps[idx[c]];
                long d = st >> 3;
                if (nib & 4) d += st;
                if (nib & 2) d += st >> 1;
                if (nib & 1) d += st >> 2;
                pred[c] = Sat(nib & 8 ? pred[c] - d : pred[c] + d);
                idx[c] = std::min(88, std::max(0, idx[c] + kMove[nib & 7]));
                chan[c].push_back(pred[c]);
            }
        }
        for (int f = 0; f < nSpb; ++f)
            for (int c = 0; c < ch; ++c)
                out.push_back(static_cast<int16_t>(chan[c][f]));
    }
    return out;
}

// Microsoft ADPCM: per channel predictor index, delta, sample1, sample2 (the block's first two output
// frames are sample2 then sample1); then nibbles high first, channels alternating. Prediction
// (s1 x c1 + s2 x c2) / 256, new sample prediction + signed nibble x delta, new delta
// adapt[nibble] x delta / 256, at least 16.
std::vector<int16_t> RefMsDecode(const std::vector<uint8_t>& body, int ch, int nBlockAlign)
{
    static const int kAdapt[16] = {230, 230, 230, 230, 307, 409, 512, 614, 768, 614, 512, 409, 307, 230, 230, 230};
    static const int kC1[7] = {256, 512, 0, 192, 240, 460, 392};
    static const int kC2[7] = {0, -256, 0, 64, 0, -208, -232};
    std::vector<int16_t> out;
    for (size_t at = 0; at + nBlockAlign <= body.size(); at += nBlockAlign) {
        const uint8_t* b = body.data() + at;
        int pi[2], delta[2], s1[2], s2[2];
        auto rd = [&](int off) { return static_cast<int>(static_cast<int16_t>(b[off] | (b[off + 1] << 8))); };
        for (int c = 0; c < ch; ++c) {
            pi[c] = b[c];
            delta[c] = rd(ch + 2 * c);
            s1[c] = rd(3 * ch + 2 * c);
            s2[c] = rd(5 * ch + 2 * c);
        }
        for (int c = 0; c < ch; ++c) out.push_back(static_cast<int16_t>(s2[c]));
        for (int c = 0; c < ch; ++c) out.push_back(static_cast<int16_t>(s1[c]));
        const int nNib = (nBlockAlign - 7 * ch) * 2;
        for (int i = 0; i < nNib; ++i) {
            const int c = i % ch;
            const int nib = (b[7 * ch + i / 2] >> (i & 1 ? 0 : 4)) & 15;
            const int pred = (s1[c] * kC1[pi[c]] + s2[c] * kC2[pi[c]]) / 256;
            const int v = Sat(pred + (nib >= 8 ? nib - 16 : nib) * delta[c]);
            s2[c] = s1[c];
            s1[c] = v;
            delta[c] = std::max(16, kAdapt[nib] * delta[c] / 256);
            out.push_back(static_cast<int16_t>(v));
        }
    }
    return out;
}

// ---- Helpers ----

// The fmt chunk bytes of a WAV made by the writer (the format block as a loader reads it).
std::vector<uint8_t> FmtOf(const std::vector<uint8_t>& wav)
{
    for (size_t at = 12; at + 8 <= wav.size();) {
        const uint32_t n = wav[at + 4] | (wav[at + 5] << 8) | (wav[at + 6] << 16) | (uint32_t(wav[at + 7]) << 24);
        if (std::memcmp(&wav[at], "fmt ", 4) == 0)
            return std::vector<uint8_t>(wav.begin() + at + 8, wav.begin() + at + 8 + n);
        at += 8 + n + (n & 1);
    }
    return {};
}

std::vector<uint8_t> FormatBlock(uint16_t tag, uint16_t ch, uint16_t align, uint16_t bits, std::vector<uint16_t> extra = {})
{
    std::vector<uint8_t> f(18 + 2 * extra.size(), 0);
    auto put16 = [&](size_t at, uint32_t v) { f[at] = uint8_t(v); f[at + 1] = uint8_t(v >> 8); };
    put16(0, tag);
    put16(2, ch);
    put16(4, 22050);
    put16(12, align);
    put16(14, bits);
    put16(16, static_cast<uint32_t>(2 * extra.size()));
    for (size_t i = 0; i < extra.size(); ++i)
        put16(18 + 2 * i, extra[i]);
    return f;
}

std::vector<uint8_t> Cut(std::vector<uint8_t> v, size_t n)
{
    v.resize(n);
    return v;
}

// Converts into a heap block of exactly the announced size, so any write past it trips the sanitizer.
int Convert(const std::vector<uint8_t>& fmt, const uint8_t* pSrc, size_t nSrc, std::vector<int16_t>& out)
{
    size_t nCap = 0;
    int r = PlatAcmConvertSize(fmt.data(), fmt.size(), nSrc, &nCap);
    if (r != PLAT_ACM_OK)
        return r;
    std::unique_ptr<uint8_t[]> dst(new uint8_t[nCap ? nCap : 1]);
    size_t nProduced = 12345;
    r = PlatAcmConvert(fmt.data(), fmt.size(), pSrc, nSrc, nCap ? dst.get() : nullptr, nCap, &nProduced);
    EXPECT_LE(nProduced, nCap);
    out.assign(nProduced / 2, 0);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<int16_t>(dst[2 * i] | (dst[2 * i + 1] << 8));
    return r;
}

// Body of a WAV made by the writer (the data chunk's bytes).
std::vector<uint8_t> BodyOf(const std::vector<uint8_t>& wav)
{
    for (size_t at = 12; at + 8 <= wav.size();) {
        const uint32_t n = wav[at + 4] | (wav[at + 5] << 8) | (wav[at + 6] << 16) | (uint32_t(wav[at + 7]) << 24);
        if (std::memcmp(&wav[at], "data", 4) == 0)
            return std::vector<uint8_t>(wav.begin() + at + 8, wav.begin() + at + 8 + n);
        at += 8 + n + (n & 1);
    }
    return {};
}

// ---- Tests ----

TEST(PlatAcm, SuggestGivesPcmOfTheSameShapeForTheFourCodecs)
{
    struct CASE {
        std::vector<uint8_t> fmt;
        int nExpected;
    };
    const CASE aCases[] = {
        {FormatBlock(6, 1, 1, 8), PLAT_ACM_OK},
        {FormatBlock(7, 2, 2, 8), PLAT_ACM_OK},
        {FormatBlock(0x11, 2, 512, 4, {505}), PLAT_ACM_OK},
        {FormatBlock(0x11, 1, 256, 4), PLAT_ACM_OK},                    // no extra bytes: worked out
        {FormatBlock(2, 1, 256, 4), PLAT_ACM_OK},                       // standard coefficients
        {FormatBlock(1, 1, 2, 16), PLAT_ACM_NOTPOSSIBLE},               // PCM needs no conversion
        {FormatBlock(3, 1, 4, 32), PLAT_ACM_NOTPOSSIBLE},               // float
        {FormatBlock(0x31, 1, 65, 0), PLAT_ACM_NOTPOSSIBLE},            // GSM 6.10
        {FormatBlock(0x55, 2, 1, 0), PLAT_ACM_NOTPOSSIBLE},             // MPEG layer 3
        {FormatBlock(7, 0, 1, 8), PLAT_ACM_NOTPOSSIBLE},                // no channels
        {FormatBlock(6, 3, 3, 8), PLAT_ACM_NOTPOSSIBLE},                // three channels
        {FormatBlock(7, 1, 1, 16), PLAT_ACM_NOTPOSSIBLE},               // wrong sample size
        {FormatBlock(6, 2, 1, 8), PLAT_ACM_NOTPOSSIBLE},                // block align not a frame
        {FormatBlock(0x11, 2, 12, 4), PLAT_ACM_NOTPOSSIBLE},            // block shorter than header + group
        {FormatBlock(0x11, 1, 256, 4, {506}), PLAT_ACM_NOTPOSSIBLE},    // more samples than the block holds
        {FormatBlock(2, 2, 13, 4), PLAT_ACM_NOTPOSSIBLE},               // block shorter than its header
        {FormatBlock(2, 1, 256, 4, {500, 0}), PLAT_ACM_NOTPOSSIBLE},    // empty coefficient table
        {FormatBlock(2, 1, 256, 4, {500, 7, 256, 0}), PLAT_ACM_NOTPOSSIBLE},  // table cut short
        {Cut(FormatBlock(7, 1, 1, 8), 14), PLAT_ACM_NOTPOSSIBLE},        // 14 bytes: no sample size
    };
    for (size_t i = 0; i < std::size(aCases); ++i) {
        PLAT_WAVE_FORMAT dst;
        std::memset(&dst, 0xCC, sizeof dst);
        ASSERT_EQ(PlatAcmSuggestPCM(aCases[i].fmt.data(), aCases[i].fmt.size(), &dst), aCases[i].nExpected) << i;
        if (aCases[i].nExpected != PLAT_ACM_OK)
            continue;
        PLAT_WAVE_FORMAT src;
        PlatAcmReadFormat(aCases[i].fmt.data(), aCases[i].fmt.size(), &src);
        EXPECT_EQ(dst.wFormatTag, 1) << i;
        EXPECT_EQ(dst.nChannels, src.nChannels) << i;
        EXPECT_EQ(dst.nSamplesPerSec, 22050u) << i;
        EXPECT_EQ(dst.wBitsPerSample, 16) << i;
        EXPECT_EQ(dst.nBlockAlign, 2 * src.nChannels) << i;
        EXPECT_EQ(dst.nAvgBytesPerSec, 22050u * 2 * src.nChannels) << i;
        EXPECT_EQ(dst.cbSize, 0) << i;
    }
    PLAT_WAVE_FORMAT dst;
    EXPECT_EQ(PlatAcmSuggestPCM(nullptr, 0, &dst), PLAT_ACM_INVALPARAM);
    const std::vector<uint8_t> f = FormatBlock(6, 1, 1, 8);
    EXPECT_EQ(PlatAcmSuggestPCM(f.data(), f.size(), nullptr), PLAT_ACM_INVALPARAM);
}

TEST(PlatAcm, G711DecodesEveryCodeAsTheStandardSays)
{
    // Every byte value, mono and stereo, against the segment formulas; fixed points of the tables.
    std::vector<uint8_t> all(256);
    for (int i = 0; i < 256; ++i)
        all[i] = static_cast<uint8_t>(i);
    for (uint16_t tag : {uint16_t(6), uint16_t(7)})
        for (uint16_t ch : {uint16_t(1), uint16_t(2)}) {
            std::vector<int16_t> out;
            ASSERT_EQ(Convert(FormatBlock(tag, ch, ch, 8), all.data(), all.size(), out), PLAT_ACM_OK);
            ASSERT_EQ(out.size(), 256u);
            for (int i = 0; i < 256; ++i)
                EXPECT_EQ(out[i], tag == 6 ? RefALaw(uint8_t(i)) : RefMuLaw(uint8_t(i))) << tag << " " << i;
        }
    EXPECT_EQ(RefMuLaw(0xFF), 0);
    EXPECT_EQ(RefMuLaw(0x80), 32124);
    EXPECT_EQ(RefMuLaw(0x00), -32124);
    EXPECT_EQ(RefALaw(0xD5), 8);
    EXPECT_EQ(RefALaw(0xAA), 32256);
    EXPECT_EQ(RefALaw(0x2A), -32256);

    // The fixture encoders invert the decoders: every code but mu-law's negative zero comes back.
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(EncodeALawSample(static_cast<int16_t>(RefALaw(uint8_t(i)))), i) << i;
        if (i != 0x7F) {
            EXPECT_EQ(EncodeMuLawSample(static_cast<int16_t>(RefMuLaw(uint8_t(i)))), i) << i;
        }
    }
    // A stereo stream with half a frame at its end drops that half.
    std::vector<int16_t> out;
    ASSERT_EQ(Convert(FormatBlock(7, 2, 2, 8), all.data(), 5, out), PLAT_ACM_OK);
    EXPECT_EQ(out.size(), 4u);
}

struct ADPCM_CASE {
    uint16_t wTag;
    uint16_t nChannels;
    uint16_t nBlockAlign;
};

TEST(PlatAcm, AdpcmMatchesReferenceDecodersAndFollowsTheSignal)
{
    const ADPCM_CASE aCases[] = {
        {WAVTAG_IMAADPCM, 1, 256}, {WAVTAG_IMAADPCM, 2, 512}, {WAVTAG_IMAADPCM, 1, 36}, {WAVTAG_IMAADPCM, 2, 1024},
        {WAVTAG_MSADPCM, 1, 256},  {WAVTAG_MSADPCM, 2, 512},  {WAVTAG_MSADPCM, 1, 16},  {WAVTAG_MSADPCM, 2, 1024},
    };
    for (const ADPCM_CASE& c : aCases) {
        WAV_WRITER_OPTIONS opt;
        opt.wFormatTag = c.wTag;
        opt.nChannels = c.nChannels;
        opt.nBlockAlign = c.nBlockAlign;
        const size_t nFrames = 5000;
        // A sine with a step in the middle: the step makes the coders adapt hard.
        std::vector<int16_t> in = MakeSineSamples(nFrames, c.nChannels, 22050, 440.0, 9000);
        for (size_t i = nFrames / 2 * c.nChannels; i < in.size(); ++i)
            in[i] = static_cast<int16_t>(in[i] / 2 + 12000);
        const std::vector<uint8_t> wav = WriteWavSamples(opt, in.data(), nFrames);
        const std::vector<uint8_t> fmt = FmtOf(wav), body = BodyOf(wav);
        ASSERT_FALSE(body.empty());
        ASSERT_EQ(body.size() % c.nBlockAlign, 0u);

        std::vector<int16_t> out;
        ASSERT_EQ(Convert(fmt, body.data(), body.size(), out), PLAT_ACM_OK);
        const std::vector<int16_t> ref = c.wTag == WAVTAG_IMAADPCM ? RefImaDecode(body, c.nChannels, c.nBlockAlign)
                                                                  : RefMsDecode(body, c.nChannels, c.nBlockAlign);
        ASSERT_EQ(out, ref) << c.wTag << "/" << c.nChannels << "/" << c.nBlockAlign;
        ASSERT_GE(out.size(), in.size());

        // The round trip through the fixture encoder stays close to the input.
        int64_t llErr = 0;
        for (size_t i = 0; i < in.size(); ++i)
            llErr += std::abs(int(out[i]) - int(in[i]));
        EXPECT_LT(llErr / int64_t(in.size()), 400) << c.wTag << "/" << c.nChannels << "/" << c.nBlockAlign;
    }
}

TEST(PlatAcm, ShortAndDamagedBlocksStayInBounds)
{
    for (uint16_t tag : {uint16_t(WAVTAG_IMAADPCM), uint16_t(WAVTAG_MSADPCM)})
        for (uint16_t ch : {uint16_t(1), uint16_t(2)}) {
            WAV_WRITER_OPTIONS opt;
            opt.wFormatTag = tag;
            opt.nChannels = ch;
            opt.nBlockAlign = static_cast<uint16_t>(64 * ch);
            const std::vector<int16_t> in = MakeRampSamples(400, ch, -20000, 20000);
            const std::vector<uint8_t> wav = WriteWavSamples(opt, in.data(), 400);
            const std::vector<uint8_t> fmt = FmtOf(wav), body = BodyOf(wav);
            std::vector<int16_t> full;
            ASSERT_EQ(Convert(fmt, body.data(), body.size(), full), PLAT_ACM_OK);
            const size_t nHeader = (tag == WAVTAG_IMAADPCM ? 4u : 7u) * ch;

            // Every cut of the data: whole blocks plus what the short block's bytes hold, always a
            // prefix of the full decoding; a block shorter than its header gives nothing.
            for (size_t n = 0; n <= body.size(); ++n) {
                std::unique_ptr<uint8_t[]> src(new uint8_t[n ? n : 1]);
                std::memcpy(src.get(), body.data(), n);
                std::vector<int16_t> out;
                ASSERT_EQ(Convert(fmt, src.get(), n, out), PLAT_ACM_OK) << n;
                ASSERT_LE(out.size(), full.size());
                ASSERT_TRUE(std::equal(out.begin(), out.end(), full.begin())) << n;
                const size_t nRest = n % opt.nBlockAlign;
                const size_t nWhole = n / opt.nBlockAlign * (full.size() / (body.size() / opt.nBlockAlign));
                if (nRest < nHeader)
                    EXPECT_EQ(out.size(), nWhole) << n;
                else
                    EXPECT_GT(out.size(), nWhole) << n;
            }

            // Random bytes never leave the buffers; an invalid header fails the whole conversion.
            std::mt19937 rng(1234 + tag + ch);
            for (int nTry = 0; nTry < 200; ++nTry) {
                std::vector<uint8_t> junk(rng() % (3 * opt.nBlockAlign));
                for (uint8_t& b : junk)
                    b = static_cast<uint8_t>(rng());
                std::vector<int16_t> out;
                const int r = Convert(fmt, junk.data(), junk.size(), out);
                EXPECT_TRUE(r == PLAT_ACM_OK || r == PLAT_ACM_NOTPOSSIBLE) << r;
                if (r != PLAT_ACM_OK) {
                    EXPECT_TRUE(out.empty());
                }
            }

            // A predictor index past the table, or an IMA step index above 88.
            std::vector<uint8_t> bad = body;
            if (tag == WAVTAG_IMAADPCM)
                bad[opt.nBlockAlign + 2] = 89;
            else
                bad[opt.nBlockAlign] = 7;
            std::vector<int16_t> out;
            EXPECT_EQ(Convert(fmt, bad.data(), bad.size(), out), PLAT_ACM_NOTPOSSIBLE);
            EXPECT_TRUE(out.empty());

            // A destination one byte too small is refused before anything is written.
            size_t nCap = 0;
            ASSERT_EQ(PlatAcmConvertSize(fmt.data(), fmt.size(), body.size(), &nCap), PLAT_ACM_OK);
            std::vector<uint8_t> dst(nCap - 1);
            size_t nProduced = 99;
            EXPECT_EQ(PlatAcmConvert(fmt.data(), fmt.size(), body.data(), body.size(), dst.data(), dst.size(), &nProduced),
                      PLAT_ACM_INVALPARAM);
            EXPECT_EQ(nProduced, 0u);
        }
}

TEST(PlatAcm, MsAdpcmUsesTheCoefficientsOfTheFormatBlock)
{
    // A one-pair table {512, -256} in the format block makes predictor 0 the linear one; a block
    // of zero nibbles then continues the line through its first two samples.
    std::vector<uint8_t> fmt = FormatBlock(2, 1, 16, 4, {20, 1, 512, static_cast<uint16_t>(-256)});
    std::vector<uint8_t> block(16, 0);
    block[1] = 16;                              // delta 16
    block[3] = 110; block[4] = 0;               // sample1 110
    block[5] = 100; block[6] = 0;               // sample2 100
    std::vector<int16_t> out;
    ASSERT_EQ(Convert(fmt, block.data(), block.size(), out), PLAT_ACM_OK);
    ASSERT_EQ(out.size(), 20u);
    for (size_t i = 0; i < out.size(); ++i)
        EXPECT_EQ(out[i], 100 + 10 * int(i)) << i;
}

}  // namespace
