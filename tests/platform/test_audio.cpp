// Sound output: buffer descriptions, cursors, lock regions, the level laws and the mixer, driven
// through the manual sink.
#include "platform/plat_audio.h"
#include "tests/platform/plat_test_util.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kAllCtrl = DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLPAN | DSBCAPS_CTRLVOLUME | DSBCAPS_LOCSOFTWARE |
                              DSBCAPS_GLOBALFOCUS | DSBCAPS_GETCURRENTPOSITION2;

PLAT_WAVEFORMATEX MakeFormat(uint16_t nChannels, uint32_t nRate, uint16_t nBits)
{
    PLAT_WAVEFORMATEX w{};
    w.wFormatTag = PLAT_WAVE_FORMAT_PCM;
    w.nChannels = nChannels;
    w.nSamplesPerSec = nRate;
    w.wBitsPerSample = nBits;
    w.nBlockAlign = (uint16_t)(nChannels * nBits / 8);
    w.nAvgBytesPerSec = nRate * w.nBlockAlign;
    return w;
}

class AudioTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        PlatDsClearFakeFailures();
        PlatDsSetSinkOverride("manual");
        PlatDsSetManualLatency(0);
        ASSERT_EQ(PlatDsCreate(&m_pDs), PLAT_DS_OK);
    }
    void TearDown() override
    {
        for (PLAT_DS_BUFFER* b : m_apBufs) PlatDsBufferRelease(b);
        if (m_pDs) PlatDsRelease(m_pDs);
        PlatDsClearFakeFailures();
        PlatDsSetManualLatency(0);
        PlatDsSetSinkOverride(nullptr);
    }
    // Recreates the device with the given manual latency.
    void UseLatency(uint32_t nFrames)
    {
        PlatDsRelease(m_pDs);
        PlatDsSetManualLatency(nFrames);
        ASSERT_EQ(PlatDsCreate(&m_pDs), PLAT_DS_OK);
    }
    PLAT_DS_BUFFER* NewBuffer(uint16_t nChannels, uint32_t nRate, uint16_t nBits, uint32_t nBytes)
    {
        PLAT_WAVEFORMATEX w = MakeFormat(nChannels, nRate, nBits);
        PLAT_DSBUFFERDESC d{kAllCtrl, nBytes, &w};
        PLAT_DS_BUFFER* b = nullptr;
        EXPECT_EQ(PlatDsCreateBuffer(m_pDs, &d, &b), PLAT_DS_OK);
        if (b) m_apBufs.push_back(b);
        return b;
    }
    void Fill(PLAT_DS_BUFFER* b, const void* pSrc, uint32_t nBytes)
    {
        void *p1, *p2;
        uint32_t n1, n2;
        ASSERT_EQ(PlatDsBufferLock(b, 0, nBytes, &p1, &n1, &p2, &n2, 0), PLAT_DS_OK);
        std::memcpy(p1, pSrc, n1);
        ASSERT_EQ(PlatDsBufferUnlock(b, p1, n1, p2, n2), PLAT_DS_OK);
    }
    std::vector<int16_t> Mix(uint32_t nFrames)
    {
        EXPECT_EQ(PlatDsAdvance(nFrames), PLAT_DS_OK);
        std::vector<int16_t> out((size_t)nFrames * 2);
        EXPECT_EQ(PlatDsReadOutput(out.data(), nFrames), (size_t)nFrames);
        return out;
    }
    void Cursors(PLAT_DS_BUFFER* b, uint32_t* pPlay, uint32_t* pWrite)
    {
        ASSERT_EQ(PlatDsBufferGetCurrentPosition(b, pPlay, pWrite), PLAT_DS_OK);
    }

    PLAT_DS* m_pDs = nullptr;
    std::vector<PLAT_DS_BUFFER*> m_apBufs;
};

TEST_F(AudioTest, BufferDescriptionsAreValidatedLikeDirectSound)
{
    struct CASE {
        const char* pszWhat;
        uint16_t nTag, nChannels, nBits, nAlign;
        uint32_t nRate, nAvg, nFlags, nBytes;
        int nExpected;
    };
    const CASE aCases[] = {
        {"16-bit stereo", 1, 2, 16, 4, 44100, 176400, kAllCtrl, 176400, PLAT_DS_OK},
        {"8-bit mono at the lowest rate and size", 1, 1, 8, 1, 100, 100, 0, 4, PLAT_DS_OK},
        {"highest rate", 1, 1, 16, 2, 200000, 400000, 0, 400000, PLAT_DS_OK},
        {"ADPCM tag", 2, 1, 4, 256, 22050, 11155, kAllCtrl, 4096, DSERR_BADFORMAT},
        {"no channels", 1, 0, 16, 0, 22050, 0, kAllCtrl, 4096, DSERR_INVALIDPARAM},
        {"three channels", 1, 3, 16, 6, 22050, 132300, kAllCtrl, 4096, DSERR_INVALIDPARAM},
        {"24 bits", 1, 2, 24, 6, 22050, 132300, kAllCtrl, 4096, DSERR_INVALIDPARAM},
        {"wrong block align", 1, 2, 16, 2, 22050, 44100, kAllCtrl, 4096, DSERR_INVALIDPARAM},
        {"wrong average bytes", 1, 2, 16, 4, 22050, 88000, kAllCtrl, 4096, DSERR_INVALIDPARAM},
        {"rate below 100", 1, 1, 8, 1, 99, 99, kAllCtrl, 4096, DSERR_INVALIDPARAM},
        {"rate above 200000", 1, 1, 8, 1, 200001, 200001, kAllCtrl, 4096, DSERR_INVALIDPARAM},
        {"size below 4", 1, 1, 8, 1, 8000, 8000, kAllCtrl, 3, DSERR_INVALIDPARAM},
        {"size above the maximum", 1, 1, 8, 1, 8000, 8000, kAllCtrl, 0x10000000, DSERR_INVALIDPARAM},
        {"primary buffer", 1, 2, 16, 4, 44100, 176400, DSBCAPS_PRIMARYBUFFER, 4096, DSERR_INVALIDPARAM},
        {"3D control", 1, 2, 16, 4, 44100, 176400, kAllCtrl | DSBCAPS_CTRL3D, 4096, DSERR_INVALIDPARAM},
        {"hardware voice", 1, 2, 16, 4, 44100, 176400, DSBCAPS_LOCHARDWARE, 4096, DSERR_INVALIDPARAM},
    };
    for (const CASE& c : aCases) {
        PLAT_WAVEFORMATEX w{c.nTag, c.nChannels, c.nRate, c.nAvg, c.nAlign, c.nBits, 0};
        PLAT_DSBUFFERDESC d{c.nFlags, c.nBytes, &w};
        PLAT_DS_BUFFER* b = (PLAT_DS_BUFFER*)&w;  // must be cleared on failure
        EXPECT_EQ(PlatDsCreateBuffer(m_pDs, &d, &b), c.nExpected) << c.pszWhat;
        if (c.nExpected == PLAT_DS_OK) {
            ASSERT_NE(b, nullptr);
            PlatDsBufferRelease(b);
        } else {
            EXPECT_EQ(b, nullptr) << c.pszWhat;
        }
    }
    PLAT_DS_BUFFER* b = nullptr;
    EXPECT_EQ(PlatDsCreateBuffer(m_pDs, nullptr, &b), DSERR_INVALIDPARAM);
    PLAT_DSBUFFERDESC dNoFormat{0, 4096, nullptr};
    EXPECT_EQ(PlatDsCreateBuffer(m_pDs, &dNoFormat, &b), DSERR_INVALIDPARAM);
}

TEST_F(AudioTest, NewBuffersAreSilentAndSizedToWholeFrames)
{
    PLAT_DS_BUFFER* b8 = NewBuffer(1, 8000, 8, 100);
    PLAT_DS_BUFFER* b16 = NewBuffer(2, 22050, 16, 4099);  // not a whole frame: rounded down
    ASSERT_TRUE(b8 && b16);
    uint32_t n = 0;
    PlatDsBufferGetSize(b16, &n);
    EXPECT_EQ(n, 4096u);
    void *p1, *p2;
    uint32_t n1, n2;
    ASSERT_EQ(PlatDsBufferLock(b8, 0, 0, &p1, &n1, &p2, &n2, DSBLOCK_ENTIREBUFFER), PLAT_DS_OK);
    ASSERT_EQ(n1, 100u);
    for (uint32_t i = 0; i < n1; ++i) ASSERT_EQ(((uint8_t*)p1)[i], 128);
    PlatDsBufferUnlock(b8, p1, n1, p2, n2);
    ASSERT_EQ(PlatDsBufferLock(b16, 0, 0, &p1, &n1, &p2, &n2, DSBLOCK_ENTIREBUFFER), PLAT_DS_OK);
    for (uint32_t i = 0; i < n1; ++i) ASSERT_EQ(((uint8_t*)p1)[i], 0);
    PlatDsBufferUnlock(b16, p1, n1, p2, n2);
    // Both playing at full level add nothing to the output.
    PlatDsBufferPlay(b8, DSBPLAY_LOOPING);
    PlatDsBufferPlay(b16, DSBPLAY_LOOPING);
    for (int16_t s : Mix(500)) ASSERT_EQ(s, 0);
}

TEST_F(AudioTest, LockGivesOneOrTwoRegions)
{
    PLAT_DS_BUFFER* b = NewBuffer(2, 48000, 16, 4000);
    ASSERT_NE(b, nullptr);
    void *p0, *pz;
    uint32_t n0, nz;
    ASSERT_EQ(PlatDsBufferLock(b, 0, 0, &p0, &n0, &pz, &nz, DSBLOCK_ENTIREBUFFER), PLAT_DS_OK);
    PlatDsBufferUnlock(b, p0, n0, pz, nz);
    uint8_t* pBase = (uint8_t*)p0;

    struct CASE {
        uint32_t nOff, nBytes, nFlags;
        int nRes;
        uint32_t nOff1, nLen1, nLen2;  // expected regions (second always from the start)
    };
    const CASE aCases[] = {
        {0, 4000, 0, PLAT_DS_OK, 0, 4000, 0},
        {1000, 2000, 0, PLAT_DS_OK, 1000, 2000, 0},
        {3000, 1000, 0, PLAT_DS_OK, 3000, 1000, 0},        // ends exactly at the end
        {3000, 2000, 0, PLAT_DS_OK, 3000, 1000, 1000},     // wraps
        {3996, 4000, 0, PLAT_DS_OK, 3996, 4, 3996},        // the whole buffer from near the end
        {2000, 0, DSBLOCK_ENTIREBUFFER, PLAT_DS_OK, 2000, 2000, 2000},
        {4000, 4, 0, DSERR_INVALIDPARAM, 0, 0, 0},         // offset at the size
        {0, 4001, 0, DSERR_INVALIDPARAM, 0, 0, 0},         // more than the buffer
        {0, 0, 0, DSERR_INVALIDPARAM, 0, 0, 0},            // nothing
    };
    for (const CASE& c : aCases) {
        void* p1 = nullptr;
        void* p2 = (void*)1;
        uint32_t n1 = 0, n2 = 7;
        int nRes = PlatDsBufferLock(b, c.nOff, c.nBytes, &p1, &n1, &p2, &n2, c.nFlags);
        ASSERT_EQ(nRes, c.nRes) << c.nOff << "+" << c.nBytes;
        if (nRes != PLAT_DS_OK) continue;
        EXPECT_EQ((uint8_t*)p1, pBase + c.nOff1);
        EXPECT_EQ(n1, c.nLen1);
        EXPECT_EQ(n2, c.nLen2);
        EXPECT_EQ((uint8_t*)p2, c.nLen2 ? pBase : nullptr);
        EXPECT_EQ(PlatDsBufferUnlock(b, p1, n1, p2, n2), PLAT_DS_OK);
    }
    // Without room for a second region a wrapping range is cut at the end.
    void* p1;
    uint32_t n1;
    ASSERT_EQ(PlatDsBufferLock(b, 3000, 2000, &p1, &n1, nullptr, nullptr, 0), PLAT_DS_OK);
    EXPECT_EQ(n1, 1000u);
    // Unlock refuses regions that are not the buffer's.
    uint8_t abOther[16];
    EXPECT_EQ(PlatDsBufferUnlock(b, abOther, 16, nullptr, 0), DSERR_INVALIDPARAM);
    EXPECT_EQ(PlatDsBufferUnlock(b, pBase + 3990, 20, nullptr, 0), DSERR_INVALIDPARAM);
    EXPECT_EQ(PlatDsBufferUnlock(b, nullptr, 4, nullptr, 0), DSERR_INVALIDPARAM);
}

TEST_F(AudioTest, CursorsTrailByTheLatencyAndWrap)
{
    UseLatency(480);
    PLAT_DS_BUFFER* b = NewBuffer(2, 48000, 16, 4800 * 4);  // 4800 frames
    PLAT_DS_BUFFER* bHalf = NewBuffer(1, 24000, 8, 3000);  // half the output rate: latency 240 frames
    ASSERT_TRUE(b && bHalf);
    uint32_t nPlay = 1, nWrite = 1;
    Cursors(b, &nPlay, &nWrite);
    EXPECT_EQ(nPlay, 0u);
    EXPECT_EQ(nWrite, 0u);
    PlatDsBufferPlay(b, DSBPLAY_LOOPING);
    PlatDsBufferPlay(bHalf, DSBPLAY_LOOPING);

    struct STEP {
        uint32_t nAdvance;
        uint32_t nPlay, nWrite, nHalfPlay, nHalfWrite;  // bytes
    };
    const STEP aSteps[] = {
        {0, 0, 0, 0, 0},
        {100, 0, 400, 0, 50},                       // less than the latency mixed: play stays
        {1000, 620 * 4, 1100 * 4, 310, 550},        // write = mixed, play = write - latency
        {3700, 4320 * 4, 0, 2160, 2400},            // write wraps to 0 exactly
        {300, 4620 * 4, 300 * 4, 2310, 2550},       // play behind the wrap, write after it
        {600, 420 * 4, 900 * 4, 2610, 2850},
        {400, 820 * 4, 1300 * 4, 2810, 50},         // the 8-bit buffer wraps
    };
    for (const STEP& s : aSteps) {
        if (s.nAdvance) Mix(s.nAdvance);
        Cursors(b, &nPlay, &nWrite);
        EXPECT_EQ(nPlay, s.nPlay) << "after " << s.nAdvance;
        EXPECT_EQ(nWrite, s.nWrite) << "after " << s.nAdvance;
        Cursors(bHalf, &nPlay, &nWrite);
        EXPECT_EQ(nPlay, s.nHalfPlay) << "after " << s.nAdvance;
        EXPECT_EQ(nWrite, s.nHalfWrite) << "after " << s.nAdvance;
    }
    // Stop keeps what was not heard yet: the position goes back to the play cursor.
    PlatDsBufferStop(b);
    Cursors(b, &nPlay, &nWrite);
    EXPECT_EQ(nPlay, 820u * 4);
    EXPECT_EQ(nWrite, 820u * 4);
    Mix(1000);
    Cursors(b, &nPlay, &nWrite);
    EXPECT_EQ(nWrite, 820u * 4);  // a stopped buffer does not move
    PlatDsBufferPlay(b, DSBPLAY_LOOPING);
    Mix(10);
    Cursors(b, &nPlay, &nWrite);
    EXPECT_EQ(nPlay, 820u * 4);
    EXPECT_EQ(nWrite, 830u * 4);
    // Lock from the write cursor starts there.
    void *p1, *p2, *pBase;
    uint32_t n1, n2, nAll, nz;
    PlatDsBufferLock(b, 0, 0, &pBase, &nAll, &p2, &nz, DSBLOCK_ENTIREBUFFER);
    ASSERT_EQ(PlatDsBufferLock(b, 0, 16, &p1, &n1, &p2, &n2, DSBLOCK_FROMWRITECURSOR), PLAT_DS_OK);
    EXPECT_EQ((uint8_t*)p1, (uint8_t*)pBase + 830 * 4);
    // SetCurrentPosition moves without committing anything.
    ASSERT_EQ(PlatDsBufferSetCurrentPosition(b, 1003), PLAT_DS_OK);
    Cursors(b, &nPlay, &nWrite);
    EXPECT_EQ(nPlay, 1000u);
    EXPECT_EQ(nWrite, 1000u);
    EXPECT_EQ(PlatDsBufferSetCurrentPosition(b, 4800 * 4), DSERR_INVALIDPARAM);
}

TEST_F(AudioTest, UnityMixingIsBitExact)
{
    // 16-bit stereo, 16-bit mono and 8-bit stereo at the output rate, full volume, centre pan.
    std::srand(7);
    const uint32_t kFrames = 3000;
    std::vector<int16_t> anStereo(kFrames * 2), anMono(kFrames);
    std::vector<uint8_t> abStereo(kFrames * 2);
    for (auto& v : anStereo) v = (int16_t)((std::rand() & 0xFFFF) - 32768);
    anStereo[0] = -32768;
    anStereo[1] = 32767;
    for (auto& v : anMono) v = (int16_t)((std::rand() & 0xFFFF) - 32768);
    for (auto& v : abStereo) v = (uint8_t)std::rand();

    struct CASE {
        uint16_t nChannels, nBits;
        const void* pData;
    };
    const CASE aCases[] = {{2, 16, anStereo.data()}, {1, 16, anMono.data()}, {2, 8, abStereo.data()}};
    for (const CASE& c : aCases) {
        PLAT_DS_BUFFER* b = NewBuffer(c.nChannels, 48000, c.nBits, kFrames * c.nChannels * c.nBits / 8);
        ASSERT_NE(b, nullptr);
        Fill(b, c.pData, kFrames * c.nChannels * c.nBits / 8);
        ASSERT_EQ(PlatDsBufferPlay(b, DSBPLAY_LOOPING), PLAT_DS_OK);
        std::vector<int16_t> out = Mix(kFrames + 700);  // once round and on into the second pass
        for (uint32_t i = 0; i < kFrames + 700; ++i) {
            uint32_t k = i % kFrames;
            int16_t l, r;
            if (c.nBits == 16 && c.nChannels == 2) {
                l = anStereo[2 * k];
                r = anStereo[2 * k + 1];
            } else if (c.nBits == 16) {
                l = r = anMono[k];
            } else {
                l = (int16_t)((abStereo[2 * k] - 128) * 256);
                r = (int16_t)((abStereo[2 * k + 1] - 128) * 256);
            }
            ASSERT_EQ(out[2 * i], l) << "frame " << i << " channels " << c.nChannels << " bits " << c.nBits;
            ASSERT_EQ(out[2 * i + 1], r) << "frame " << i;
        }
        PlatDsBufferStop(b);
    }
}

TEST_F(AudioTest, VoicesAddAndClip)
{
    PLAT_DS_BUFFER* a = NewBuffer(1, 48000, 16, 8);
    PLAT_DS_BUFFER* b = NewBuffer(1, 48000, 16, 8);
    ASSERT_TRUE(a && b);
    const int16_t anA[4] = {1000, 30000, -30000, -7};
    const int16_t anB[4] = {-300, 30000, -30000, 7};
    Fill(a, anA, 8);
    Fill(b, anB, 8);
    PlatDsBufferPlay(a, DSBPLAY_LOOPING);
    PlatDsBufferPlay(b, DSBPLAY_LOOPING);
    std::vector<int16_t> out = Mix(4);
    const int16_t anExpected[4] = {700, 32767, -32768, 0};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(out[2 * i], anExpected[i]);
        EXPECT_EQ(out[2 * i + 1], anExpected[i]);
    }
}

TEST_F(AudioTest, VolumeAndPanLaws)
{
    PLAT_DS_BUFFER* b = NewBuffer(1, 48000, 16, 4);
    ASSERT_NE(b, nullptr);
    const int16_t nLevel = 20000;
    const int16_t anLevel[2] = {nLevel, nLevel};
    Fill(b, anLevel, 4);
    PlatDsBufferPlay(b, DSBPLAY_LOOPING);
    struct CASE {
        int32_t nVolume, nPan;
        double dLeft, dRight;  // expected gains
    };
    const CASE aCases[] = {
        {0, 0, 1.0, 1.0},
        {-600, 0, std::pow(10.0, -0.3), std::pow(10.0, -0.3)},
        {-2000, 0, 0.1, 0.1},
        {-9999, 0, std::pow(10.0, -9999 / 2000.0), std::pow(10.0, -9999 / 2000.0)},
        {-10000, 0, 0.0, 0.0},
        {-10000, 5000, 0.0, 0.0},
        {0, -10000, 1.0, 0.0},       // full left
        {0, 10000, 0.0, 1.0},        // full right
        {0, 2000, 0.1, 1.0},         // right of centre attenuates the left
        {0, -1204, 1.0, std::pow(10.0, -1204 / 2000.0)},
        {-2000, -2000, 0.1, 0.01},   // volume and pan attenuations add
    };
    for (const CASE& c : aCases) {
        ASSERT_EQ(PlatDsBufferSetVolume(b, c.nVolume), PLAT_DS_OK);
        ASSERT_EQ(PlatDsBufferSetPan(b, c.nPan), PLAT_DS_OK);
        std::vector<int16_t> out = Mix(1);
        EXPECT_EQ(out[0], (int16_t)std::lrint(nLevel * c.dLeft)) << c.nVolume << "/" << c.nPan;
        EXPECT_EQ(out[1], (int16_t)std::lrint(nLevel * c.dRight)) << c.nVolume << "/" << c.nPan;
    }
    int32_t n = 1;
    EXPECT_EQ(PlatDsBufferGetVolume(b, &n), PLAT_DS_OK);
    EXPECT_EQ(n, -2000);
    EXPECT_EQ(PlatDsBufferGetPan(b, &n), PLAT_DS_OK);
    EXPECT_EQ(n, -2000);
    // Out of range values are refused and change nothing.
    EXPECT_EQ(PlatDsBufferSetVolume(b, 1), DSERR_INVALIDPARAM);
    EXPECT_EQ(PlatDsBufferSetVolume(b, -10001), DSERR_INVALIDPARAM);
    EXPECT_EQ(PlatDsBufferSetPan(b, 10001), DSERR_INVALIDPARAM);
    EXPECT_EQ(PlatDsBufferSetPan(b, -10001), DSERR_INVALIDPARAM);
    EXPECT_EQ(PlatDsBufferSetFrequency(b, 99), DSERR_INVALIDPARAM);
    EXPECT_EQ(PlatDsBufferSetFrequency(b, 200001), DSERR_INVALIDPARAM);
    PlatDsBufferGetVolume(b, &n);
    EXPECT_EQ(n, -2000);
}

TEST_F(AudioTest, ControlsNeedTheirCapabilityFlags)
{
    PLAT_WAVEFORMATEX w = MakeFormat(1, 22050, 16);
    PLAT_DSBUFFERDESC d{DSBCAPS_LOCSOFTWARE, 4410, &w};
    PLAT_DS_BUFFER* b = nullptr;
    ASSERT_EQ(PlatDsCreateBuffer(m_pDs, &d, &b), PLAT_DS_OK);
    m_apBufs.push_back(b);
    int32_t n;
    uint32_t u;
    EXPECT_EQ(PlatDsBufferSetVolume(b, -100), DSERR_CONTROLUNAVAIL);
    EXPECT_EQ(PlatDsBufferSetPan(b, 100), DSERR_CONTROLUNAVAIL);
    EXPECT_EQ(PlatDsBufferSetFrequency(b, 11025), DSERR_CONTROLUNAVAIL);
    EXPECT_EQ(PlatDsBufferGetVolume(b, &n), DSERR_CONTROLUNAVAIL);
    EXPECT_EQ(PlatDsBufferGetFrequency(b, &u), DSERR_CONTROLUNAVAIL);
}

TEST_F(AudioTest, ResamplesByLinearInterpolation)
{
    // A ramp at 24000 Hz: every second output frame lies halfway between two input frames.
    const uint32_t kFrames = 64;
    std::vector<int16_t> anRamp(kFrames);
    for (uint32_t i = 0; i < kFrames; ++i) anRamp[i] = (int16_t)(i * 100);
    PLAT_DS_BUFFER* b = NewBuffer(1, 24000, 16, kFrames * 2);
    ASSERT_NE(b, nullptr);
    Fill(b, anRamp.data(), kFrames * 2);
    PlatDsBufferPlay(b, DSBPLAY_LOOPING);
    std::vector<int16_t> out = Mix(2 * kFrames);
    for (uint32_t i = 0; i < kFrames; ++i) {
        EXPECT_EQ(out[4 * i], anRamp[i]);
        // Halfway; the last frame interpolates towards the loop's first frame.
        int nNext = i + 1 < kFrames ? anRamp[i + 1] : anRamp[0];
        EXPECT_EQ(out[4 * i + 2], (anRamp[i] + nNext) / 2) << i;
    }
    uint32_t nPlay, nWrite;
    Cursors(b, &nPlay, &nWrite);
    EXPECT_EQ(nWrite, 0u);  // exactly once round

    // At 96000 Hz every second input frame is taken.
    ASSERT_EQ(PlatDsBufferSetFrequency(b, 96000), PLAT_DS_OK);
    out = Mix(kFrames / 2);
    for (uint32_t i = 0; i < kFrames / 2; ++i) EXPECT_EQ(out[2 * i], anRamp[2 * i]);
    // 0 returns to the format's rate.
    ASSERT_EQ(PlatDsBufferSetFrequency(b, DSBFREQUENCY_ORIGINAL), PLAT_DS_OK);
    uint32_t nFreq = 0;
    PlatDsBufferGetFrequency(b, &nFreq);
    EXPECT_EQ(nFreq, 24000u);

    // 44100 Hz: the write cursor moves by 44100 bytes per 48000 output frames of 8-bit mono.
    PLAT_DS_BUFFER* c = NewBuffer(1, 44100, 8, 44100);
    ASSERT_NE(c, nullptr);
    PlatDsBufferPlay(c, DSBPLAY_LOOPING);
    Mix(24000);
    Cursors(c, &nPlay, &nWrite);
    EXPECT_TRUE(nWrite == 22050u || nWrite == 22051u) << nWrite;
    Mix(24000);
    Cursors(c, &nPlay, &nWrite);
    // Once round, give or take the step's rounding: on the loop's first frame, or still on its last
    // one (blending it with the first), where the cursor waits rather than wrap ahead of the mixer.
    EXPECT_TRUE(nWrite <= 1u || nWrite == 44099u) << nWrite;
}

// A streaming writer refills the half of the buffer the write cursor is not in, each time the
// cursor crosses into the other half (as the sound channels do), while the mixer resamples. The
// output must be the stream itself: the mixer never reads a frame the writer has refilled before it
// was done with it, also on the buffer's last frame, which it blends with frame 0.
TEST_F(AudioTest, AStreamingWriterNeverRefillsAFrameTheMixerStillReads)
{
    const uint32_t kFrames = 64, kHalf = kFrames / 2;
    // The stream: distinct even values, so a blend of two is exact.
    auto stream = [](uint32_t i) { return (int16_t)(20 * i); };
    for (uint32_t nRate : {24000u, 36000u}) {
        SCOPED_TRACE(nRate);
        PLAT_DS_BUFFER* b = NewBuffer(1, nRate, 16, kFrames * 2);
        ASSERT_NE(b, nullptr);
        std::vector<int16_t> anFirst(kFrames);
        for (uint32_t i = 0; i < kFrames; ++i) anFirst[i] = stream(i);
        Fill(b, anFirst.data(), kFrames * 2);
        uint32_t nNext = kFrames;  // the next stream frame to write
        int nLastHalf = 2;         // both halves hold the stream; the second was written last
        ASSERT_EQ(PlatDsBufferPlay(b, DSBPLAY_LOOPING), PLAT_DS_OK);
        const uint64_t qStep = ((uint64_t)nRate << 32) / 48000;
        uint64_t qPos = 0;  // the mixer's position in the stream (32.32)
        int nRefills = 0;
        for (uint32_t k = 0; k < 6 * kFrames; ++k) {
            const std::vector<int16_t> out = Mix(1);
            const uint32_t i = (uint32_t)(qPos >> 32);
            const float f = (float)(uint32_t)qPos * (1.0f / 4294967296.0f);
            const float fWant = (float)stream(i) + ((float)stream(i + 1) - (float)stream(i)) * f;
            ASSERT_EQ(out[0], (int16_t)std::lrintf(fWant)) << "output frame " << k << ", stream frame " << i;
            qPos += qStep;
            uint32_t nPlay = 0, nWrite = 0;
            Cursors(b, &nPlay, &nWrite);
            uint32_t nOffset;
            if (nLastHalf == 1 && nWrite < kHalf * 2) {
                nOffset = kHalf * 2;
                nLastHalf = 2;
            } else if (nLastHalf == 2 && nWrite > kHalf * 2) {
                nOffset = 0;
                nLastHalf = 1;
            } else {
                continue;
            }
            void *p1, *p2;
            uint32_t n1, n2;
            ASSERT_EQ(PlatDsBufferLock(b, nOffset, kHalf * 2, &p1, &n1, &p2, &n2, 0), PLAT_DS_OK);
            for (uint32_t j = 0; j < kHalf; ++j, ++nNext) static_cast<int16_t*>(p1)[j] = stream(nNext);
            ASSERT_EQ(PlatDsBufferUnlock(b, p1, n1, p2, n2), PLAT_DS_OK);
            ++nRefills;
        }
        EXPECT_GE(nRefills, 4);
        ASSERT_EQ(PlatDsBufferStop(b), PLAT_DS_OK);
    }
}

TEST_F(AudioTest, OneShotStopsAtTheEndLoopingRepeats)
{
    const int16_t anData[3] = {111, 222, 333};
    PLAT_DS_BUFFER* pOnce = NewBuffer(1, 48000, 16, 6);
    ASSERT_NE(pOnce, nullptr);
    Fill(pOnce, anData, 6);
    ASSERT_EQ(PlatDsBufferPlay(pOnce, 0), PLAT_DS_OK);
    uint32_t nStatus = 0;
    PlatDsBufferGetStatus(pOnce, &nStatus);
    EXPECT_EQ(nStatus, DSBSTATUS_PLAYING);
    std::vector<int16_t> out = Mix(7);
    const int16_t anOnce[7] = {111, 222, 333, 0, 0, 0, 0};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(out[2 * i], anOnce[i]) << i;
    PlatDsBufferGetStatus(pOnce, &nStatus);
    EXPECT_EQ(nStatus, 0u);
    uint32_t nPlay = 9, nWrite = 9;
    Cursors(pOnce, &nPlay, &nWrite);
    EXPECT_EQ(nPlay, 0u);
    EXPECT_EQ(nWrite, 0u);

    ASSERT_EQ(PlatDsBufferPlay(pOnce, DSBPLAY_LOOPING), PLAT_DS_OK);
    PlatDsBufferGetStatus(pOnce, &nStatus);
    EXPECT_EQ(nStatus, DSBSTATUS_PLAYING | DSBSTATUS_LOOPING);
    out = Mix(7);
    const int16_t anLoop[7] = {111, 222, 333, 111, 222, 333, 111};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(out[2 * i], anLoop[i]) << i;

    // A resampled one-shot also ends: 8 frames at 40000 Hz last 9.6 output frames.
    PlatDsBufferStop(pOnce);
    PLAT_DS_BUFFER* pSlow = NewBuffer(1, 40000, 8, 8);
    ASSERT_NE(pSlow, nullptr);
    PlatDsBufferPlay(pSlow, 0);
    Mix(9);
    PlatDsBufferGetStatus(pSlow, &nStatus);
    EXPECT_EQ(nStatus, DSBSTATUS_PLAYING);
    Mix(1);
    PlatDsBufferGetStatus(pSlow, &nStatus);
    EXPECT_EQ(nStatus, 0u);
}

TEST_F(AudioTest, WritesAtTheWriteCursorAreHeardCommittedBytesAreNot)
{
    UseLatency(100);
    PLAT_DS_BUFFER* b = NewBuffer(1, 48000, 16, 1000 * 2);
    ASSERT_NE(b, nullptr);
    PlatDsBufferPlay(b, DSBPLAY_LOOPING);
    Mix(300);
    uint32_t nPlay, nWrite;
    Cursors(b, &nPlay, &nWrite);
    ASSERT_EQ(nPlay, 200u * 2);
    ASSERT_EQ(nWrite, 300u * 2);
    // Overwrite from the play cursor on with a marker; only what lies at or after the write cursor
    // reaches the output.
    void *p1, *p2;
    uint32_t n1, n2;
    ASSERT_EQ(PlatDsBufferLock(b, nPlay, 400, &p1, &n1, &p2, &n2, 0), PLAT_DS_OK);
    for (uint32_t i = 0; i < n1 / 2; ++i) ((int16_t*)p1)[i] = 5000;
    PlatDsBufferUnlock(b, p1, n1, p2, n2);
    std::vector<int16_t> out = Mix(200);
    for (uint32_t i = 0; i < 200; ++i) EXPECT_EQ(out[2 * i], i < 100 ? 5000 : 0) << i;
}

TEST_F(AudioTest, FakeFailuresAndDeviceErrors)
{
    PLAT_DS_BUFFER* b = NewBuffer(2, 44100, 16, 4096);
    ASSERT_NE(b, nullptr);
    // Skip one call, fail two, then succeed again.
    PlatDsFailOp(PLATDS_OP_GETCURRENTPOSITION, DSERR_BUFFERLOST, 1, 2);
    uint32_t nPlay, nWrite;
    EXPECT_EQ(PlatDsBufferGetCurrentPosition(b, &nPlay, &nWrite), PLAT_DS_OK);
    EXPECT_EQ(PlatDsBufferGetCurrentPosition(b, &nPlay, &nWrite), DSERR_BUFFERLOST);
    EXPECT_EQ(PlatDsBufferGetCurrentPosition(b, &nPlay, &nWrite), DSERR_BUFFERLOST);
    EXPECT_EQ(PlatDsBufferGetCurrentPosition(b, &nPlay, &nWrite), PLAT_DS_OK);
    // A failing call changes nothing.
    PlatDsFailOp(PLATDS_OP_SETVOLUME, DSERR_GENERIC, 0, -1);
    EXPECT_EQ(PlatDsBufferSetVolume(b, -500), DSERR_GENERIC);
    EXPECT_EQ(PlatDsBufferSetVolume(b, -500), DSERR_GENERIC);
    int32_t nVol = 1;
    PlatDsBufferGetVolume(b, &nVol);
    EXPECT_EQ(nVol, 0);
    PlatDsFailOp(PLATDS_OP_PLAY, DSERR_PRIOLEVELNEEDED, 0, 1);
    EXPECT_EQ(PlatDsBufferPlay(b, DSBPLAY_LOOPING), DSERR_PRIOLEVELNEEDED);
    uint32_t nStatus = 1;
    PlatDsBufferGetStatus(b, &nStatus);
    EXPECT_EQ(nStatus, 0u);
    void *p1, *p2;
    uint32_t n1, n2;
    PlatDsFailOp(PLATDS_OP_LOCK, DSERR_INVALIDCALL, 0, 1);
    EXPECT_EQ(PlatDsBufferLock(b, 0, 16, &p1, &n1, &p2, &n2, 0), DSERR_INVALIDCALL);
    EXPECT_EQ(PlatDsBufferLock(b, 0, 16, &p1, &n1, &p2, &n2, 0), PLAT_DS_OK);
    PlatDsClearFakeFailures();
    EXPECT_EQ(PlatDsBufferSetVolume(b, -500), PLAT_DS_OK);

    // Device creation and the cooperative level, as the sound start-up sees them.
    const int anCreateCodes[] = {DSERR_ALLOCATED, DSERR_NODRIVER, DSERR_INVALIDPARAM, DSERR_OUTOFMEMORY,
                                 DSERR_NOAGGREGATION};
    for (int nCode : anCreateCodes) {
        PlatDsFailOp(PLATDS_OP_CREATE, nCode, 0, 1);
        PLAT_DS* pDs = (PLAT_DS*)&nCode;
        EXPECT_EQ(PlatDsCreate(&pDs), nCode);
        EXPECT_EQ(pDs, nullptr);
    }
    PlatDsFailOp(PLATDS_OP_SETCOOPERATIVELEVEL, DSERR_GENERIC, 0, 1);
    EXPECT_EQ(PlatDsSetCooperativeLevel(m_pDs, 1, DSSCL_PRIORITY), DSERR_GENERIC);
    EXPECT_EQ(PlatDsSetCooperativeLevel(m_pDs, 1, DSSCL_PRIORITY), PLAT_DS_OK);
    EXPECT_EQ(PlatDsSetCooperativeLevel(m_pDs, 1, DSSCL_NORMAL), PLAT_DS_OK);
    EXPECT_EQ(PlatDsSetCooperativeLevel(m_pDs, 1, 0), DSERR_INVALIDPARAM);
    PlatDsFailOp(PLATDS_OP_CREATEBUFFER, DSERR_OUTOFMEMORY, 0, 1);
    PLAT_WAVEFORMATEX w = MakeFormat(1, 8000, 8);
    PLAT_DSBUFFERDESC d{kAllCtrl, 8000, &w};
    PLAT_DS_BUFFER* c = nullptr;
    EXPECT_EQ(PlatDsCreateBuffer(m_pDs, &d, &c), DSERR_OUTOFMEMORY);
    EXPECT_EQ(c, nullptr);

    // Unknown sinks and unwritable WAV files have no driver.
    const char* apszBad[] = {"alsa", "wav:", "wav:/nonexistent-folder/x.wav"};
    for (const char* psz : apszBad) {
        PlatDsSetSinkOverride(psz);
        PLAT_DS* pDs = nullptr;
        EXPECT_EQ(PlatDsCreate(&pDs), DSERR_NODRIVER) << psz;
    }
}

TEST_F(AudioTest, BuffersOutliveTheDeviceAndManualSteppingNeedsADevice)
{
    PLAT_DS_BUFFER* b = NewBuffer(1, 48000, 16, 64);
    ASSERT_NE(b, nullptr);
    PlatDsBufferPlay(b, DSBPLAY_LOOPING);
    ASSERT_EQ(PlatDsRelease(m_pDs), PLAT_DS_OK);
    m_pDs = nullptr;
    EXPECT_EQ(PlatDsAdvance(10), DSERR_UNINITIALIZED);
    EXPECT_EQ(PlatDsReadOutput(nullptr, 10), 0u);
    // The buffer's own state can still be read and changed; release frees the rest.
    uint32_t nStatus = 0;
    EXPECT_EQ(PlatDsBufferGetStatus(b, &nStatus), PLAT_DS_OK);
    EXPECT_EQ(PlatDsBufferSetVolume(b, -100), PLAT_DS_OK);
    EXPECT_EQ(PlatDsBufferStop(b), PLAT_DS_OK);
}

TEST_F(AudioTest, BuffersCanBeDrivenFromAnotherThreadWhileMixing)
{
    // The sound thread creates, fills, adjusts and releases buffers while the sink mixes; every
    // step keeps the buffer list and cursors consistent (checked by the sanitizers). A buffer is
    // filled before it plays: this mixer runs unpaced, so no region of a playing buffer is safe
    // from it (a paced writer refills the half behind the cursor, as the streaming test above does).
    std::atomic<int> bDone{0};
    std::thread thr([this, &bDone] {
        PLAT_WAVEFORMATEX w = MakeFormat(2, 44100, 16);
        PLAT_DSBUFFERDESC d{kAllCtrl, 4410 * 4, &w};
        for (int nRound = 0; nRound < 200; ++nRound) {
            PLAT_DS_BUFFER* b = nullptr;
            ASSERT_EQ(PlatDsCreateBuffer(m_pDs, &d, &b), PLAT_DS_OK);
            void *p1, *p2;
            uint32_t n1, n2;
            if (PlatDsBufferLock(b, 0, 0, &p1, &n1, &p2, &n2, DSBLOCK_ENTIREBUFFER) == PLAT_DS_OK) {
                std::memset(p1, nRound, n1);
                PlatDsBufferUnlock(b, p1, n1, p2, n2);
            }
            PlatDsBufferPlay(b, DSBPLAY_LOOPING);
            for (int k = 0; k < 5; ++k) {
                uint32_t nPlay, nWrite;
                PlatDsBufferGetCurrentPosition(b, &nPlay, &nWrite);
                PlatDsBufferSetVolume(b, -k * 100);
                PlatDsBufferSetFrequency(b, 22050 + 10000 * k);
            }
            PlatDsBufferRelease(b);
        }
        bDone.store(1);
    });
    while (!bDone.load()) {
        PlatDsAdvance(64);
        PlatDsReadOutput(nullptr, 64);
    }
    thr.join();
}

// The whole file; empty when it cannot be read.
std::vector<uint8_t> ReadFileBytes(const std::string& strPath)
{
    std::vector<uint8_t> ab;
    FILE* fp = std::fopen(strPath.c_str(), "rb");
    if (!fp) return ab;
    uint8_t abChunk[4096];
    size_t n;
    while ((n = std::fread(abChunk, 1, sizeof(abChunk), fp)) > 0) ab.insert(ab.end(), abChunk, abChunk + n);
    std::fclose(fp);
    return ab;
}

// The real sinks: SDL (dummy driver when no sound is around), the null thread and the WAV file.
TEST(AudioSinks, SdlNullAndWavSinksOpenRunAndClose)
{
    if (!std::getenv("SDL_AUDIODRIVER")) setenv("SDL_AUDIODRIVER", "dummy", 1);
    std::string strDir = MakeTempFolder();
    ASSERT_FALSE(strDir.empty());
    std::string strWav = strDir + "/mix.wav";
    const std::string aSpecs[] = {"sdl", "null", "wav:" + strWav};
    for (const std::string& strSpec : aSpecs) {
        PlatDsSetSinkOverride(strSpec.c_str());
        PLAT_DS* pDs = nullptr;
        ASSERT_EQ(PlatDsCreate(&pDs), PLAT_DS_OK) << strSpec;
        EXPECT_GT(PlatDsGetLatency(pDs), 0u);
        PLAT_WAVEFORMATEX w = MakeFormat(2, 44100, 16);
        PLAT_DSBUFFERDESC d{kAllCtrl, 44100 * 4, &w};
        PLAT_DS_BUFFER* b = nullptr;
        ASSERT_EQ(PlatDsCreateBuffer(pDs, &d, &b), PLAT_DS_OK);
        EXPECT_EQ(PlatDsBufferPlay(b, DSBPLAY_LOOPING), PLAT_DS_OK);
        // The sink mixes on its own: the write cursor leaves 0 (the deadline only guards a hang).
        uint32_t nPlay = 0, nWrite = 0;
        for (int i = 0; i < 2500 && nWrite == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            ASSERT_EQ(PlatDsBufferGetCurrentPosition(b, &nPlay, &nWrite), PLAT_DS_OK);
        }
        EXPECT_NE(nWrite, 0u) << strSpec;
        EXPECT_EQ(PlatDsBufferRelease(b), PLAT_DS_OK);
        EXPECT_EQ(PlatDsRelease(pDs), PLAT_DS_OK);
    }
    PlatDsSetSinkOverride(nullptr);
    // The WAV file is a complete RIFF WAVE file of s16 stereo at 48000 Hz with consistent sizes.
    const std::vector<uint8_t> ab = ReadFileBytes(strWav);
    ASSERT_GT(ab.size(), 44u);
    auto rd32 = [&](size_t o) { return (uint32_t)ab[o] | ab[o + 1] << 8 | ab[o + 2] << 16 | (uint32_t)ab[o + 3] << 24; };
    EXPECT_EQ(std::memcmp(ab.data(), "RIFF", 4), 0);
    EXPECT_EQ(std::memcmp(ab.data() + 8, "WAVEfmt ", 8), 0);
    EXPECT_EQ(rd32(24), 48000u);
    EXPECT_EQ(ab[22], 2);
    EXPECT_EQ(ab[34], 16);
    EXPECT_EQ(rd32(40), ab.size() - 44);
    EXPECT_EQ(rd32(4), ab.size() - 8);
    RemoveTree(strDir);
}

// The frame-driven WAV sink mixes only when a frame asks: one frame's share of a second each time
// (the remainder carried, so that a second of frames makes a second of sound), whatever the clock
// does meanwhile; the file's length counts the frames.
TEST(AudioSinks, TheFrameWavSinkMixesOneFramesShareAtATime)
{
    std::string strDir = MakeTempFolder();
    ASSERT_FALSE(strDir.empty());
    const std::string strWav = strDir + "/frames.wav";
    EXPECT_EQ(PlatDsAdvanceFrame(60), DSERR_UNINITIALIZED) << "no frame-driven device yet";
    const std::string strSpec = "framewav:" + strWav;
    PlatDsSetSinkOverride(strSpec.c_str());
    PLAT_DS* pDs = nullptr;
    ASSERT_EQ(PlatDsCreate(&pDs), PLAT_DS_OK);
    PlatDsSetSinkOverride(nullptr);
    EXPECT_STREQ(PlatDsGetSinkName(pDs), "framewav");
    EXPECT_EQ(PlatDsGetLatency(pDs), 800u);
    PLAT_WAVEFORMATEX w = MakeFormat(2, 48000, 16);
    PLAT_DSBUFFERDESC d{kAllCtrl, 48000 * 4, &w};
    PLAT_DS_BUFFER* b = nullptr;
    ASSERT_EQ(PlatDsCreateBuffer(pDs, &d, &b), PLAT_DS_OK);
    EXPECT_EQ(PlatDsBufferPlay(b, DSBPLAY_LOOPING), PLAT_DS_OK);
    // No frame, no sound, however long it waits.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    uint32_t nPlay = 0, nWrite = 0;
    ASSERT_EQ(PlatDsBufferGetCurrentPosition(b, &nPlay, &nWrite), PLAT_DS_OK);
    EXPECT_EQ(nWrite, 0u);
    // Ten frames at 60 a second, then seven at 7 a second (6857 and 1/7 output frames each).
    for (int i = 0; i < 10; ++i) ASSERT_EQ(PlatDsAdvanceFrame(60), PLAT_DS_OK);
    ASSERT_EQ(PlatDsBufferGetCurrentPosition(b, &nPlay, &nWrite), PLAT_DS_OK);
    EXPECT_EQ(nWrite, 8000u * 4);
    for (int i = 0; i < 7; ++i) ASSERT_EQ(PlatDsAdvanceFrame(7), PLAT_DS_OK);
    EXPECT_EQ(PlatDsBufferRelease(b), PLAT_DS_OK);
    EXPECT_EQ(PlatDsRelease(pDs), PLAT_DS_OK);
    EXPECT_EQ(PlatDsAdvanceFrame(60), DSERR_UNINITIALIZED) << "the released device still mixes";

    const std::vector<uint8_t> ab = ReadFileBytes(strWav);
    ASSERT_GE(ab.size(), 44u);
    auto rd32 = [&](size_t o) { return (uint32_t)ab[o] | ab[o + 1] << 8 | ab[o + 2] << 16 | (uint32_t)ab[o + 3] << 24; };
    EXPECT_EQ(std::memcmp(ab.data(), "RIFF", 4), 0);
    EXPECT_EQ(rd32(40), (8000u + 48000u) * 4);
    EXPECT_EQ(ab.size(), 44u + (8000u + 48000u) * 4);
    RemoveTree(strDir);
}

}  // namespace
