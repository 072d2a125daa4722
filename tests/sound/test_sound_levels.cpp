// Levels, fades, pausing and the request handlers, driven on the fake clock with the manual sink.
// Every leaf here has the order key of the built-in silence, so loading reads no file.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>
#include "core/engine_globals.h"
#include "core/object_tree.h"
#include "platform/plat_audio.h"
#include "platform/plat_time.h"
#include "core/game_config.h"
#include "core/script_thread.h"
#include "sound/sound.h"
#include "sound/sound_thread.h"
#include "tests/support/engine_test.h"

namespace {

constexpr uint32_t kStart = 100000;  // fake clock at the start of every test

int32_t BufferVolume(const SOUND_CHANNEL* pChannel)
{
    int32_t n = 12345;
    if (!pChannel->pBuffer || PlatDsBufferGetVolume(pChannel->pBuffer, &n) != PLAT_DS_OK) return 12345;
    return n;
}

int32_t BufferPan(const SOUND_CHANNEL* pChannel)
{
    int32_t n = 12345;
    if (!pChannel->pBuffer || PlatDsBufferGetPan(pChannel->pBuffer, &n) != PLAT_DS_OK) return 12345;
    return n;
}

uint32_t BufferFrequency(const SOUND_CHANNEL* pChannel)
{
    uint32_t n = 12345;
    if (!pChannel->pBuffer || PlatDsBufferGetFrequency(pChannel->pBuffer, &n) != PLAT_DS_OK) return 12345;
    return n;
}

int IsBufferPlaying(const SOUND_CHANNEL* pChannel)
{
    uint32_t dwStatus = 0;
    if (!pChannel->pBuffer || PlatDsBufferGetStatus(pChannel->pBuffer, &dwStatus) != PLAT_DS_OK) return 0;
    return (dwStatus & DSBSTATUS_PLAYING) != 0;
}

const SOUND_OP_FN kOps[SNDREQ_CODE_COUNT] = {
    nullptr,         SoundOpLoad,      SoundOpPlay,    SoundOpPause,   SoundOpFadeOut,
    SoundOpVolume,   SoundOpFadeTarget, SoundOpLoopCount, SoundOpEndPos, SoundOpStartPos,
    SoundOpLoopStart, SoundOpPan,      SoundOpFrequency, SoundOpNop,   SoundOpUnload,
};

// A small sound tree: the unnamed root holds the group "G" (leaves "a" and "b") and the leaf "top".
struct SoundLevelsTest : EngineTest {
    char szG[2] = "G", szA[2] = "a", szB[2] = "b", szTop[4] = "top";
    TREE_NODE root{}, group{}, a{}, b{}, top{};
    SOUND_CHANNEL* pRootChannel = nullptr;

    void Link(TREE_NODE* pParent, TREE_NODE* pNode, char* pszName, uint8_t bGroup)
    {
        pNode->pszName = pszName;
        pNode->nNameLen = static_cast<int32_t>(std::strlen(pszName));
        pNode->bGroup = bGroup;
        pNode->llOrder = bGroup ? 1 : SND_SILENCE_ORDER;
        pNode->pParent = pParent;
        pNode->pPrev = pParent->pLastChild;
        if (pParent->pLastChild) pParent->pLastChild->pNext = pNode;
        else pParent->pFirstChild = pNode;
        pParent->pLastChild = pNode;
        ++pParent->nChildCount;
        ASSERT_NE(AttachSoundChannel(pNode), nullptr);
        Ch(pNode)->bSourceKind = SNDSRC_WAV;  // set by the sound command before a load
    }

    void SetUp() override
    {
        PlatUseFakeClock(1);
        PlatSetFakeTime(kStart);
        PlatDsSetSinkOverride("manual");
        ASSERT_EQ(PlatDsCreate(&g_lpDirectSound), PLAT_DS_OK);
        ResetSoundRequests();
        pRootChannel = new SOUND_CHANNEL();
        root.pPayload = pRootChannel;
        Link(&root, &group, szG, 1);
        Link(&group, &a, szA, 0);
        Link(&group, &b, szB, 0);
        Link(&root, &top, szTop, 0);
    }

    void TearDown() override
    {
        for (TREE_NODE* p : {&a, &b, &top, &group}) {
            UnloadChannel(Ch(p));
            ReleaseSoundChannel(Ch(p));
        }
        delete pRootChannel;
        PlatDsRelease(g_lpDirectSound);
        g_lpDirectSound = nullptr;
        PlatDsSetSinkOverride(nullptr);
        PlatUseFakeClock(0);
    }

    static SOUND_CHANNEL* Ch(TREE_NODE* p) { return static_cast<SOUND_CHANNEL*>(p->pPayload); }

    // Runs one request through its handler as the sound thread would.
    int Op(TREE_NODE* pNode, uint8_t bCode, int32_t nValue = 0, const char* pszText = "x.ogg")
    {
        g_apSndReqNode[0] = pNode;
        g_abSndReqCode[0] = bCode;
        g_anSndReqValue[0] = nValue;
        std::strcpy(g_apszSndReqText[0], pszText);
        return kOps[bCode](0);
    }

    // The fade step of one pass, at ms after the start of the test.
    void StepAt(uint32_t ms)
    {
        PlatSetFakeTime(kStart + ms);
        StepSoundFades(root.pFirstChild);
    }

    // Brings a channel into a state through the handlers (the clock stays where it is).
    void Reach(TREE_NODE* pNode, uint8_t bState)
    {
        if (bState == SNDSTATE_EMPTY) return;
        ASSERT_EQ(Op(pNode, SNDREQ_LOAD), 1);
        if (bState == SNDSTATE_LOADED) return;
        ASSERT_EQ(Op(pNode, SNDREQ_PLAY, bState == SNDSTATE_FADEIN ? 1000 : 0), 1);
        if (bState == SNDSTATE_FADEIN) return;
        // One millisecond later the instant fade is done; the clock then goes back.
        const uint32_t dwNow = PlatGetTime();
        PlatSetFakeTime(dwNow + 1);
        StepSoundFades(root.pFirstChild);
        PlatSetFakeTime(dwNow);
        ASSERT_EQ(Ch(pNode)->bState, SNDSTATE_PLAYING);
        if (bState == SNDSTATE_PLAYING) return;
        ASSERT_EQ(Op(pNode, SNDREQ_FADEOUT, 1000), 1);
    }
};

TEST(SoundLaws, VolumePanAndFrequency)
{
    const struct { int32_t nIn, nOut; } volumes[] = {
        {0, -10000}, {1, -9632}, {2, -8428}, {64, -2408}, {128, -1204}, {255, -6}, {256, 0}, {300, 0},
        {-5, -10000}, {INT32_MIN, -10000}, {INT32_MAX, 0},
    };
    for (const auto& c : volumes) EXPECT_EQ(SoundVolumeToBuffer(c.nIn), c.nOut) << "volume " << c.nIn;
    const struct { int32_t nIn, nOut; } pans[] = {
        {0, -10000}, {128, -1204}, {256, 0}, {384, 1204}, {512, 10000}, {-1, 0}, {513, 0}, {1, -9632}, {511, 9632},
    };
    for (const auto& c : pans) EXPECT_EQ(SoundPanToBuffer(c.nIn), c.nOut) << "pan " << c.nIn;
    const struct { int32_t nIn; uint32_t nOut; } freqs[] = {
        {0, 22050}, {128, 33075}, {256, 44100}, {512, 66150}, {600, 44100}, {-1, 44100}, {1, 22137},
    };
    for (const auto& c : freqs) EXPECT_EQ(SoundFrequencyToRate(c.nIn, 44100), c.nOut) << "frequency " << c.nIn;
    // Odd rates: the half rate truncates before the product.
    EXPECT_EQ(SoundFrequencyToRate(0, 11025), 11025u - 5512u);
}

TEST_F(SoundLevelsTest, LawsReachTheBuffers)
{
    Reach(&top, SNDSTATE_LOADED);
    SOUND_CHANNEL* p = Ch(&top);
    ASSERT_NE(p->pBuffer, nullptr);
    SetBufferVolume(&top, 128);
    EXPECT_EQ(BufferVolume(p), -1204);
    SetBufferVolume(&top, -7);
    EXPECT_EQ(BufferVolume(p), -10000);
    EXPECT_EQ(Op(&top, SNDREQ_PAN, 384), 1);
    EXPECT_EQ(BufferPan(p), 1204);
    EXPECT_EQ(p->nPan, 384);
    EXPECT_EQ(Op(&top, SNDREQ_PAN, 9999), 1);
    EXPECT_EQ(BufferPan(p), 0);
    // The silence plays at 8000 Hz.
    EXPECT_EQ(Op(&top, SNDREQ_FREQUENCY, 512), 1);
    EXPECT_EQ(BufferFrequency(p), 12000u);
    EXPECT_EQ(Op(&top, SNDREQ_FREQUENCY, 0), 1);
    EXPECT_EQ(BufferFrequency(p), 4000u);
    // Pan and frequency are neither stored nor applied on an empty channel.
    EXPECT_EQ(Op(&a, SNDREQ_PAN, 0), 1);
    EXPECT_EQ(Op(&a, SNDREQ_FREQUENCY, 0), 1);
    EXPECT_EQ(Ch(&a)->nPan, 256);
    EXPECT_EQ(Ch(&a)->nFrequency, 0);
}

TEST_F(SoundLevelsTest, VolumesScaleByGroupAndEnabledFlags)
{
    Reach(&a, SNDSTATE_LOADED);
    Reach(&b, SNDSTATE_LOADED);
    Reach(&top, SNDSTATE_LOADED);
    // Below the tree root a volume counts alone; below a group it is scaled by the group's.
    EXPECT_EQ(Op(&top, SNDREQ_VOLUME, 128), 1);
    EXPECT_EQ(BufferVolume(Ch(&top)), -1204);
    EXPECT_EQ(Op(&group, SNDREQ_VOLUME, 128), 1);
    EXPECT_EQ(BufferVolume(Ch(&a)), -1204);
    EXPECT_EQ(Op(&a, SNDREQ_VOLUME, 128), 1);
    EXPECT_EQ(BufferVolume(Ch(&a)), -2408);
    EXPECT_EQ(BufferVolume(Ch(&b)), -1204);
    // A disabled leaf is silent when its volume is applied.
    Ch(&a)->bEnabled = 0;
    EXPECT_EQ(Op(&a, SNDREQ_VOLUME, 256), 1);
    EXPECT_EQ(BufferVolume(Ch(&a)), -10000);
    EXPECT_EQ(BufferVolume(Ch(&b)), -1204);
    // Disabling the group silences every node below it, enabling it brings them back.
    Ch(&a)->bEnabled = 1;
    Ch(&group)->bEnabled = 0;
    EXPECT_EQ(Op(&group, SNDREQ_VOLUME, 256), 1);
    EXPECT_EQ(BufferVolume(Ch(&a)), -10000);
    EXPECT_EQ(BufferVolume(Ch(&b)), -10000);
    EXPECT_EQ(BufferVolume(Ch(&top)), -1204);
    Ch(&group)->bEnabled = 1;
    EXPECT_EQ(Op(&group, SNDREQ_VOLUME, 256), 1);
    EXPECT_EQ(BufferVolume(Ch(&a)), 0);
    EXPECT_EQ(BufferVolume(Ch(&b)), 0);
    // Muting gives the quiet level 2, scaled below a group.
    MuteSoundNode(&top);
    EXPECT_EQ(BufferVolume(Ch(&top)), -8428);
    EXPECT_EQ(Op(&group, SNDREQ_VOLUME, 128), 1);
    MuteSoundNode(&a);
    EXPECT_EQ(BufferVolume(Ch(&a)), -9632);  // 2 x 128 >> 8 = 1
    SilenceSoundNode(&b);
    EXPECT_EQ(BufferVolume(Ch(&b)), -10000);
}

TEST_F(SoundLevelsTest, FadeInTimeline)
{
    Reach(&top, SNDSTATE_LOADED);
    SOUND_CHANNEL* p = Ch(&top);
    ASSERT_EQ(Op(&top, SNDREQ_PLAY, 1000), 1);
    EXPECT_EQ(p->bState, SNDSTATE_FADEIN);
    EXPECT_EQ(p->nFadeSpeed, 262);
    EXPECT_EQ(p->nFadeStart, 0);
    EXPECT_TRUE(IsBufferPlaying(p));
    EXPECT_EQ(BufferVolume(p), -10000);  // silenced before it starts
    const struct { uint32_t ms; int32_t nVolume; uint8_t bState; } steps[] = {
        {0, 0, SNDSTATE_FADEIN},     {250, 63, SNDSTATE_FADEIN},  {1000, 255, SNDSTATE_FADEIN},
        {1001, 256, SNDSTATE_PLAYING}, {5000, 256, SNDSTATE_PLAYING},
    };
    for (const auto& s : steps) {
        StepAt(s.ms);
        EXPECT_EQ(p->nVolume, s.nVolume) << s.ms << " ms";
        EXPECT_EQ(p->bState, s.bState) << s.ms << " ms";
        EXPECT_EQ(BufferVolume(p), SoundVolumeToBuffer(s.nVolume)) << s.ms << " ms";
    }
}

TEST_F(SoundLevelsTest, FadeOutDuringFadeInTakesItsSpeedFromTheReference)
{
    Reach(&top, SNDSTATE_LOADED);
    SOUND_CHANNEL* p = Ch(&top);
    ASSERT_EQ(Op(&top, SNDREQ_PLAY, 1000), 1);
    StepAt(500);
    EXPECT_EQ(p->nVolume, 127);
    ASSERT_EQ(Op(&top, SNDREQ_FADEOUT, 1000), 1);
    EXPECT_EQ(p->bState, SNDSTATE_FADEOUT);
    EXPECT_EQ(p->nFadeSpeed, -262);
    EXPECT_EQ(p->nFadeStart, 127);
    EXPECT_EQ(p->nFadeTarget, 0);
    StepAt(500 + 250);
    EXPECT_EQ(p->nVolume, 127 - 63);
    StepAt(500 + 496);
    EXPECT_EQ(p->nVolume, 1);
    EXPECT_EQ(p->bState, SNDSTATE_FADEOUT);
    // At 0 the channel is unloaded and its volumes are back at their defaults.
    StepAt(500 + 497);
    EXPECT_EQ(p->bState, SNDSTATE_EMPTY);
    EXPECT_EQ(p->pBuffer, nullptr);
    EXPECT_EQ(p->pFileImage, nullptr);
    EXPECT_EQ(p->nVolume, 256);
    EXPECT_EQ(p->nFadeTarget, 256);
    EXPECT_EQ(p->nRefVolume, 256);
    EXPECT_EQ(p->nFadeStart, 0);
    // The name stays, so PLAY loads the file again and fades in from 0.
    EXPECT_EQ(Op(&top, SNDREQ_PLAY, 0), 1);
    EXPECT_EQ(p->bState, SNDSTATE_FADEIN);
    EXPECT_TRUE(IsBufferPlaying(p));
}

TEST_F(SoundLevelsTest, FadeArithmeticDoesNotOverflowAfterLongRuns)
{
    // Fading from 0 to 256 in 0 ms has speed 262144: 10 s of elapsed time times it passes 2^31.
    Reach(&top, SNDSTATE_LOADED);
    ASSERT_EQ(Op(&top, SNDREQ_PLAY, 0), 1);
    EXPECT_EQ(Ch(&top)->nFadeSpeed, 262144);
    StepAt(10000);
    EXPECT_EQ(Ch(&top)->nVolume, 256);
    EXPECT_EQ(Ch(&top)->bState, SNDSTATE_PLAYING);
    // A fade-in whose clock lies in the future only mutes.
    ASSERT_EQ(Op(&top, SNDREQ_PLAY, 1000), 1);
    Ch(&top)->dwFadeClock = kStart + 20000;
    StepAt(10000);
    EXPECT_EQ(BufferVolume(Ch(&top)), -8428);
    EXPECT_EQ(Ch(&top)->bState, SNDSTATE_FADEIN);
}

TEST_F(SoundLevelsTest, PlayFadesFromTheCurrentVolume)
{
    Reach(&top, SNDSTATE_PLAYING);
    SOUND_CHANNEL* p = Ch(&top);
    // A volume with a play switch is a fade target: in state 3 the speed starts at the current volume.
    ASSERT_EQ(Op(&top, SNDREQ_FADE_TARGET, 128), 1);
    EXPECT_EQ(p->nRefVolume, 256);
    ASSERT_EQ(Op(&top, SNDREQ_PLAY, 1000), 1);
    EXPECT_EQ(p->bState, SNDSTATE_FADEIN);
    EXPECT_EQ(p->nFadeStart, 256);
    EXPECT_EQ(p->nFadeSpeed, -131);
    StepAt(500);
    EXPECT_EQ(p->nVolume, 256 - 63);
    // In state 2 the speed comes from the reference volume.
    ASSERT_EQ(Op(&top, SNDREQ_FADE_TARGET, 64), 1);
    ASSERT_EQ(Op(&top, SNDREQ_PLAY, 1000), 1);
    EXPECT_EQ(p->nFadeStart, 193);
    EXPECT_EQ(p->nFadeSpeed, -65);
    StepAt(500 + 2000);
    EXPECT_EQ(p->nVolume, 193 - 126);
    StepAt(500 + 3000);
    EXPECT_EQ(p->nVolume, 64);
    EXPECT_EQ(p->bState, SNDSTATE_PLAYING);
}

// Every line of the state table, from each state the request applies to.
TEST_F(SoundLevelsTest, StateTable)
{
    const struct {
        uint8_t bFrom, bCode;
        int32_t nValue;
        int nResult;
        uint8_t bTo;
    } rows[] = {
        {SNDSTATE_EMPTY, SNDREQ_LOAD, 0, 1, SNDSTATE_LOADED},
        {SNDSTATE_LOADED, SNDREQ_PLAY, 100, 1, SNDSTATE_FADEIN},
        {SNDSTATE_FADEIN, SNDREQ_PLAY, 100, 1, SNDSTATE_FADEIN},
        {SNDSTATE_PLAYING, SNDREQ_PLAY, 100, 1, SNDSTATE_FADEIN},
        {SNDSTATE_FADEIN, SNDREQ_FADEOUT, 100, 1, SNDSTATE_FADEOUT},
        {SNDSTATE_PLAYING, SNDREQ_FADEOUT, 100, 1, SNDSTATE_FADEOUT},
        {SNDSTATE_FADEOUT, SNDREQ_FADEOUT, 100, 1, SNDSTATE_FADEOUT},
        {SNDSTATE_EMPTY, SNDREQ_FADEOUT, 100, 1, SNDSTATE_EMPTY},
        {SNDSTATE_LOADED, SNDREQ_FADEOUT, 100, 1, SNDSTATE_LOADED},
        {SNDSTATE_FADEOUT, SNDREQ_PLAY, 100, 0, SNDSTATE_EMPTY},
        {SNDSTATE_LOADED, SNDREQ_LOAD, 0, 0, SNDSTATE_EMPTY},
        {SNDSTATE_FADEIN, SNDREQ_LOAD, 0, 0, SNDSTATE_EMPTY},
        {SNDSTATE_PLAYING, SNDREQ_LOAD, 0, 0, SNDSTATE_EMPTY},
        {SNDSTATE_FADEOUT, SNDREQ_LOAD, 0, 0, SNDSTATE_EMPTY},
        {SNDSTATE_LOADED, SNDREQ_UNLOAD, 0, 1, SNDSTATE_EMPTY},
        {SNDSTATE_FADEIN, SNDREQ_UNLOAD, 0, 1, SNDSTATE_EMPTY},
        {SNDSTATE_PLAYING, SNDREQ_UNLOAD, 0, 1, SNDSTATE_EMPTY},
        {SNDSTATE_FADEOUT, SNDREQ_UNLOAD, 0, 1, SNDSTATE_EMPTY},
        {SNDSTATE_EMPTY, SNDREQ_UNLOAD, 0, 1, SNDSTATE_EMPTY},
        {SNDSTATE_PLAYING, SNDREQ_NOP, 7, 1, SNDSTATE_PLAYING},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(::testing::Message() << "from " << int(r.bFrom) << " code " << int(r.bCode));
        ASSERT_EQ(Op(&top, SNDREQ_UNLOAD), 1);
        std::strcpy(Ch(&top)->szName, "");
        ASSERT_NO_FATAL_FAILURE(Reach(&top, r.bFrom));
        ASSERT_EQ(Ch(&top)->bState, r.bFrom);
        EXPECT_EQ(Op(&top, r.bCode, r.nValue), r.nResult);
        EXPECT_EQ(Ch(&top)->bState, r.bTo);
        if (r.bTo == SNDSTATE_EMPTY) {
            EXPECT_EQ(Ch(&top)->pBuffer, nullptr);
            EXPECT_EQ(Ch(&top)->pFileImage, nullptr);
        }
        if (r.nResult == 0) {
            // The request runs again in the next pass: LOAD loads, PLAY starts afresh.
            EXPECT_EQ(Op(&top, r.bCode, r.nValue), 1);
            EXPECT_EQ(Ch(&top)->bState, r.bCode == SNDREQ_LOAD ? SNDSTATE_LOADED : SNDSTATE_FADEIN);
        }
        if (r.bCode == SNDREQ_UNLOAD) {
            EXPECT_STREQ(Ch(&top)->szName, "");
        }
    }
    // PLAY without a name finishes at once and changes nothing; with a name it loads and starts.
    ASSERT_EQ(Op(&top, SNDREQ_UNLOAD), 1);
    EXPECT_EQ(Op(&top, SNDREQ_PLAY, 0), 1);
    EXPECT_EQ(Ch(&top)->bState, SNDSTATE_EMPTY);
    std::strcpy(Ch(&top)->szName, "x.ogg");
    EXPECT_EQ(Op(&top, SNDREQ_PLAY, 0), 1);
    EXPECT_EQ(Ch(&top)->bState, SNDSTATE_FADEIN);
    EXPECT_TRUE(IsBufferPlaying(Ch(&top)));
}

TEST_F(SoundLevelsTest, FadeOutRestartKeepsTheVolumeItFadedFrom)
{
    Reach(&top, SNDSTATE_PLAYING);
    ASSERT_EQ(Op(&top, SNDREQ_VOLUME, 200), 1);
    ASSERT_EQ(Op(&top, SNDREQ_FADEOUT, 1000), 1);
    EXPECT_EQ(Op(&top, SNDREQ_PLAY, 500), 0);
    EXPECT_EQ(Ch(&top)->nFadeTarget, 200);
    EXPECT_EQ(Op(&top, SNDREQ_PLAY, 500), 1);
    EXPECT_EQ(Ch(&top)->nFadeSpeed, 200 * 1024 / 500);
}

TEST_F(SoundLevelsTest, PositionsAndLoopCountOnlyOnLoadedChannels)
{
    // On an empty channel nothing is stored.
    for (uint8_t bCode : {SNDREQ_START_POS, SNDREQ_LOOP_START, SNDREQ_END_POS, SNDREQ_LOOP_COUNT})
        EXPECT_EQ(Op(&top, bCode, 123), 1);
    EXPECT_EQ(Ch(&top)->nStartPos, 0);
    EXPECT_EQ(Ch(&top)->nLoopStart, 0);
    EXPECT_EQ(Ch(&top)->nEndPos, 0);
    EXPECT_EQ(Ch(&top)->nDecoderLoops, 0);
    Reach(&top, SNDSTATE_LOADED);
    SOUND_CHANNEL* p = Ch(&top);
    ASSERT_EQ(p->llLength, 500);
    const struct { uint8_t bCode; int32_t nValue; int32_t SOUND_CHANNEL::*pField; int32_t nStored; } rows[] = {
        {SNDREQ_START_POS, 200, &SOUND_CHANNEL::nStartPos, 200},
        {SNDREQ_START_POS, -300, &SOUND_CHANNEL::nStartPos, -300},
        {SNDREQ_START_POS, 500, &SOUND_CHANNEL::nStartPos, 0},
        {SNDREQ_LOOP_START, 499, &SOUND_CHANNEL::nLoopStart, 499},
        {SNDREQ_LOOP_START, 600, &SOUND_CHANNEL::nLoopStart, 0},
        {SNDREQ_END_POS, 300, &SOUND_CHANNEL::nEndPos, 300},
        {SNDREQ_END_POS, 501, &SOUND_CHANNEL::nEndPos, 500},
        {SNDREQ_LOOP_COUNT, 3, &SOUND_CHANNEL::nDecoderLoops, 3},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(Op(&top, r.bCode, r.nValue), 1);
        EXPECT_EQ(p->*r.pField, r.nStored) << "code " << int(r.bCode) << " value " << r.nValue;
    }
    // PLAY from a start at or beyond the end starts from 0.
    ASSERT_EQ(Op(&top, SNDREQ_END_POS, 300), 1);
    p->nStartPos = 400;
    ASSERT_EQ(Op(&top, SNDREQ_PLAY, 0), 1);
    EXPECT_EQ(p->nStartPos, 0);
    EXPECT_EQ(p->llBytesPlayed, 0);
}

TEST_F(SoundLevelsTest, GroupPauseReleasesEveryChannelAndStopsItsFades)
{
    Reach(&a, SNDSTATE_FADEIN);
    Reach(&b, SNDSTATE_PLAYING);
    ASSERT_EQ(Op(&group, SNDREQ_PAUSE, 1), 1);
    for (TREE_NODE* p : {&a, &b}) {
        EXPECT_NE(Ch(p)->dwPauseStamp, 0u);
        EXPECT_EQ(Ch(p)->pBuffer, nullptr);
        EXPECT_NE(Ch(p)->pFileImage, nullptr);
    }
    EXPECT_EQ(Ch(&a)->bState, SNDSTATE_FADEIN);
    // Passes while paused: the fade stands still and nothing fails.
    for (uint32_t ms = 100; ms <= 3000; ms += 700) {
        StepAt(ms);
        EXPECT_EQ(Ch(&a)->nVolume, 0);
        EXPECT_EQ(Ch(&a)->bState, SNDSTATE_FADEIN);
    }
    EXPECT_EQ(PauseSoundTree(root.pFirstChild, 1), 0);  // pausing again changes nothing
    ASSERT_EQ(Op(&group, SNDREQ_PAUSE, 0), 1);
    for (TREE_NODE* p : {&a, &b}) {
        EXPECT_EQ(Ch(p)->dwPauseStamp, 0u);
        EXPECT_TRUE(IsBufferPlaying(Ch(p)));
    }
    // The fade goes on from where it stood: 250 ms after the resume is 250 ms into the fade.
    StepAt(2900 + 250);
    EXPECT_EQ(Ch(&a)->nVolume, 63);
}

TEST_F(SoundLevelsTest, ScriptPausedChildStaysPausedWhenItsGroupResumes)
{
    Reach(&a, SNDSTATE_PLAYING);
    Reach(&b, SNDSTATE_PLAYING);
    ASSERT_EQ(Op(&a, SNDREQ_PAUSE, 1), 1);
    ASSERT_EQ(Op(&group, SNDREQ_PAUSE, 1), 1);
    ASSERT_EQ(Op(&group, SNDREQ_PAUSE, 0), 1);
    EXPECT_NE(Ch(&a)->dwPauseStamp, 0u);
    EXPECT_EQ(Ch(&a)->pBuffer, nullptr);
    EXPECT_TRUE(IsBufferPlaying(Ch(&b)));
    EXPECT_EQ(IsChannelChainPaused(&a), 1);
    EXPECT_EQ(IsChannelChainPaused(&b), 0);
    ASSERT_EQ(Op(&a, SNDREQ_PAUSE, 0), 1);
    EXPECT_TRUE(IsBufferPlaying(Ch(&a)));
}

TEST_F(SoundLevelsTest, FocusLossAndReturnLeaveChannelsOfADisabledGroupPaused)
{
    Reach(&a, SNDSTATE_PLAYING);
    Reach(&top, SNDSTATE_PLAYING);
    Ch(&group)->bEnabled = 0;
    ASSERT_EQ(Op(&group, SNDREQ_VOLUME, 256), 1);
    EXPECT_EQ(IsChannelChainEnabled(&a), 0);
    EXPECT_EQ(IsChannelChainEnabled(&top), 1);
    // Focus lost, then back, as the sound thread does it.
    g_bSoundsPaused = 1;
    EXPECT_EQ(PauseSoundTree(root.pFirstChild, 1), 0);
    g_bSoundsPaused = 0;
    EXPECT_EQ(PauseSoundTree(root.pFirstChild, 0), 0);
    EXPECT_TRUE(IsBufferPlaying(Ch(&top)));
    // The disabled one keeps its pause, without a buffer, and its fades keep standing still.
    EXPECT_NE(Ch(&a)->dwPauseStamp, 0u);
    EXPECT_EQ(Ch(&a)->pBuffer, nullptr);
    StepAt(5000);
    EXPECT_EQ(Ch(&a)->bState, SNDSTATE_PLAYING);
    // Enabled again, the next focus return brings it back.
    Ch(&group)->bEnabled = 1;
    g_bSoundsPaused = 1;
    EXPECT_EQ(PauseSoundTree(root.pFirstChild, 1), 0);
    g_bSoundsPaused = 0;
    EXPECT_EQ(PauseSoundTree(root.pFirstChild, 0), 0);
    EXPECT_EQ(Ch(&a)->dwPauseStamp, 0u);
    EXPECT_TRUE(IsBufferPlaying(Ch(&a)));
}

TEST_F(SoundLevelsTest, PlayInsideAPausedChainStaysPausedUntilTheResume)
{
    Reach(&top, SNDSTATE_LOADED);
    ASSERT_EQ(Op(&top, SNDREQ_PAUSE, 1), 1);
    EXPECT_EQ(Ch(&top)->dwPauseStamp, 0u);  // nothing plays yet, nothing to pause
    ASSERT_EQ(Op(&top, SNDREQ_PLAY, 1000), 1);
    EXPECT_EQ(Ch(&top)->bState, SNDSTATE_FADEIN);
    EXPECT_NE(Ch(&top)->dwPauseStamp, 0u);
    EXPECT_EQ(Ch(&top)->pBuffer, nullptr);
    StepAt(2000);
    EXPECT_EQ(Ch(&top)->bState, SNDSTATE_FADEIN);
    ASSERT_EQ(Op(&top, SNDREQ_PAUSE, 0), 1);
    EXPECT_EQ(Ch(&top)->dwPauseStamp, 0u);
    EXPECT_TRUE(IsBufferPlaying(Ch(&top)));
    StepAt(2000 + 250);
    EXPECT_EQ(Ch(&top)->nVolume, 63);
    // The same below a group paused by the script, and while every sound is paused.
    Reach(&a, SNDSTATE_LOADED);
    ASSERT_EQ(Op(&group, SNDREQ_PAUSE, 1), 1);
    ASSERT_EQ(Op(&a, SNDREQ_PLAY, 0), 1);
    EXPECT_NE(Ch(&a)->dwPauseStamp, 0u);
    ASSERT_EQ(Op(&group, SNDREQ_PAUSE, 0), 1);
    EXPECT_TRUE(IsBufferPlaying(Ch(&a)));
    Reach(&b, SNDSTATE_LOADED);
    g_bSoundsPaused = 1;
    ASSERT_EQ(Op(&b, SNDREQ_PLAY, 0), 1);
    EXPECT_NE(Ch(&b)->dwPauseStamp, 0u);
    // A script's resume while every sound is paused clears only its own flag.
    ASSERT_EQ(Op(&b, SNDREQ_PAUSE, 1), 1);
    ASSERT_EQ(Op(&b, SNDREQ_PAUSE, 0), 1);
    EXPECT_EQ(Ch(&b)->bPaused, 0);
    EXPECT_NE(Ch(&b)->dwPauseStamp, 0u);
    g_bSoundsPaused = 0;
    EXPECT_EQ(PauseSoundTree(root.pFirstChild, 0), 0);
    EXPECT_TRUE(IsBufferPlaying(Ch(&b)));
}

TEST_F(SoundLevelsTest, ResumeStartsWherePlaybackStood)
{
    Reach(&top, SNDSTATE_PLAYING);
    SOUND_CHANNEL* p = Ch(&top);
    ASSERT_EQ(Op(&top, SNDREQ_PAN, 128), 1);
    ASSERT_EQ(Op(&top, SNDREQ_FREQUENCY, 384), 1);
    p->llBytesPlayed = 2000;  // 250 ms of the 8000-byte-per-second silence
    ASSERT_EQ(Op(&top, SNDREQ_PAUSE, 1), 1);
    ASSERT_EQ(Op(&top, SNDREQ_PAUSE, 0), 1);
    EXPECT_EQ(p->nStartPos, 250);
    EXPECT_EQ(p->llBytesPlayed, 2000);
    EXPECT_EQ(p->nEndPos, 500);
    EXPECT_EQ(BufferPan(p), -1204);
    EXPECT_EQ(BufferFrequency(p), 10000u);
    EXPECT_EQ(BufferVolume(p), 0);
    // A position at or beyond a shortened end resumes from 0.
    ASSERT_EQ(Op(&top, SNDREQ_END_POS, 200), 1);
    ASSERT_EQ(Op(&top, SNDREQ_PAUSE, 1), 1);
    ASSERT_EQ(Op(&top, SNDREQ_PAUSE, 0), 1);
    EXPECT_EQ(p->nStartPos, 0);
    EXPECT_EQ(p->nEndPos, 200);
    EXPECT_TRUE(IsBufferPlaying(p));
}

TEST_F(SoundLevelsTest, ConvertedWavResumesFromItsConvertedPcm)
{
    Reach(&top, SNDSTATE_PLAYING);
    SOUND_CHANNEL* p = Ch(&top);
    // After a conversion the file image holds bare PCM, which cannot be parsed as a file again.
    p->bDecodedForm = SNDFORM_CONVERTED_WAV;
    std::memset(p->pFileImage, 0, 12);
    ASSERT_EQ(Op(&top, SNDREQ_PAUSE, 1), 1);
    ASSERT_EQ(Op(&top, SNDREQ_PAUSE, 0), 1);
    EXPECT_TRUE(IsBufferPlaying(p));
    EXPECT_EQ(p->bDecodedForm, SNDFORM_CONVERTED_WAV);
    EXPECT_EQ(p->fmt.nSamplesPerSec, 8000u);
}

TEST_F(SoundLevelsTest, PauseAndResumeErrors)
{
    Reach(&top, SNDSTATE_PLAYING);
    PlatDsFailOp(PLATDS_OP_GETCURRENTPOSITION, DSERR_GENERIC, 0, 1);
    EXPECT_EQ(Op(&top, SNDREQ_PAUSE, 1), -420);
    PlatDsClearFakeFailures();
    ASSERT_EQ(Op(&top, SNDREQ_PAUSE, 1), 1);
    PlatDsFailOp(PLATDS_OP_PLAY, DSERR_GENERIC, 0, 1);
    EXPECT_EQ(Op(&top, SNDREQ_PAUSE, 0), -440);
    PlatDsClearFakeFailures();
    // A playing channel without a buffer.
    Reach(&a, SNDSTATE_PLAYING);
    ReleaseChannelBuffers(Ch(&a));
    EXPECT_EQ(PauseChannel(&a), -410);
    // Play failures at PLAY by the state it starts from.
    Reach(&b, SNDSTATE_LOADED);
    PlatDsFailOp(PLATDS_OP_PLAY, DSERR_GENERIC, 0, 1);
    EXPECT_EQ(Op(&b, SNDREQ_PLAY, 0), -120);
    PlatDsClearFakeFailures();
    ASSERT_EQ(Op(&b, SNDREQ_UNLOAD), 1);
    std::strcpy(Ch(&b)->szName, "x.ogg");
    PlatDsFailOp(PLATDS_OP_PLAY, DSERR_GENERIC, 0, 1);
    EXPECT_EQ(Op(&b, SNDREQ_PLAY, 0), -110);
    PlatDsClearFakeFailures();
}

TEST_F(SoundLevelsTest, EngineStopMutesAndEmptiesInsteadOfPausing)
{
    Reach(&top, SNDSTATE_PLAYING);
    Reach(&a, SNDSTATE_FADEIN);
    Reach(&b, SNDSTATE_LOADED);
    ASSERT_EQ(Op(&group, SNDREQ_VOLUME, 128), 1);
    g_bEngineStop = 1;
    EXPECT_EQ(PauseSoundTree(root.pFirstChild, 1), 0);
    EXPECT_EQ(Ch(&top)->bState, SNDSTATE_EMPTY);
    EXPECT_EQ(BufferVolume(Ch(&top)), -8428);
    EXPECT_EQ(Ch(&top)->dwPauseStamp, 0u);
    EXPECT_EQ(Ch(&a)->bState, SNDSTATE_EMPTY);
    EXPECT_EQ(BufferVolume(Ch(&a)), -9632);  // 2 scaled by the group's 128
    EXPECT_EQ(Ch(&b)->bState, SNDSTATE_LOADED);  // never started: nothing to mute
}

TEST_F(SoundLevelsTest, PassesRunTheHandlersInPostingOrder)
{
    TREE_NODE* pSavedRoot = g_pSoundRoot;
    const uint8_t bSavedBackground = g_bRunInBackground;
    g_pSoundRoot = &root;
    g_bRunInBackground = 1;
    g_bEnginePaused = 0;
    ASSERT_EQ(InitSoundRequests(), 0);
    ResetSoundRequests();
    ASSERT_GE(PostSoundRequest(&top, SNDREQ_LOAD, 0, "x.ogg"), 0);
    ASSERT_GE(PostSoundRequest(&top, SNDREQ_PLAY, 0, nullptr), 0);
    EXPECT_EQ(RunSoundPassOnce(), 1);
    EXPECT_EQ(Ch(&top)->bState, SNDSTATE_FADEIN);
    PlatAdvanceFakeTime(1);
    EXPECT_EQ(RunSoundPassOnce(), 1);
    EXPECT_EQ(Ch(&top)->bState, SNDSTATE_PLAYING);
    // A new file for a playing channel: the LOAD empties it first and runs again in the next pass,
    // and the requests after it wait for it.
    const int32_t wLoad = PostSoundRequest(&top, SNDREQ_LOAD, 0, "y.ogg");
    const int32_t wPlay = PostSoundRequest(&top, SNDREQ_PLAY, 1000, nullptr);
    ASSERT_GE(wLoad, 0);
    ASSERT_GE(wPlay, 0);
    EXPECT_EQ(RunSoundPassOnce(), 1);
    EXPECT_EQ(Ch(&top)->bState, SNDSTATE_EMPTY);
    EXPECT_EQ(g_anSndReqDone[wLoad].load(), 0);
    EXPECT_EQ(g_anSndReqDone[wPlay].load(), 0);
    EXPECT_EQ(RunSoundPassOnce(), 1);
    EXPECT_EQ(g_anSndReqDone[wLoad].load(), 1);
    EXPECT_EQ(g_anSndReqDone[wPlay].load(), 1);
    EXPECT_EQ(Ch(&top)->bState, SNDSTATE_FADEIN);
    EXPECT_STREQ(Ch(&top)->szName, "y.ogg");
    EXPECT_TRUE(IsBufferPlaying(Ch(&top)));
    g_pSoundRoot = pSavedRoot;
    g_bRunInBackground = bSavedBackground;
}

// Whole passes (requests, focus pause, fades, tracking, refills) over paused channels: a channel
// whose buffers a group pause or a skipped resume released must never be tracked or refilled.
TEST_F(SoundLevelsTest, PassesOverPausedChannelsRaiseNoError)
{
    TREE_NODE* pSavedRoot = g_pSoundRoot;
    const uint8_t bSavedBackground = g_bRunInBackground;
    g_pSoundRoot = &root;
    g_bRunInBackground = 1;
    g_bEnginePaused = 0;
    ASSERT_EQ(InitSoundRequests(), 0);
    ResetSoundRequests();
    auto Passes = [&](int n) {
        for (int i = 0; i < n; ++i) {
            PlatAdvanceFakeTime(300);
            PlatDsAdvance(PLAT_DS_OUTPUT_RATE * 3 / 10);
            ASSERT_EQ(RunSoundPassOnce(), 1) << "pass " << i;
        }
    };
    for (TREE_NODE* p : {&a, &b, &top}) {
        ASSERT_GE(PostSoundRequest(p, SNDREQ_LOAD, 0, "x.wav"), 0);
        ASSERT_GE(PostSoundRequest(p, SNDREQ_PLAY, 500, nullptr), 0);
    }
    ASSERT_NO_FATAL_FAILURE(Passes(4));
    EXPECT_EQ(Ch(&a)->bState, SNDSTATE_PLAYING);
    // A group pause, then passes.
    ASSERT_GE(PostSoundRequest(&group, SNDREQ_PAUSE, 1, nullptr), 0);
    ASSERT_NO_FATAL_FAILURE(Passes(5));
    EXPECT_EQ(Ch(&a)->pBuffer, nullptr);
    EXPECT_EQ(Ch(&b)->pBuffer, nullptr);
    EXPECT_TRUE(IsBufferPlaying(Ch(&top)));
    ASSERT_GE(PostSoundRequest(&group, SNDREQ_PAUSE, 0, nullptr), 0);
    ASSERT_NO_FATAL_FAILURE(Passes(3));
    EXPECT_TRUE(IsBufferPlaying(Ch(&a)));
    // A disabled group through an engine pause and back: its channels stay released.
    Ch(&group)->bEnabled = 0;
    ASSERT_GE(PostSoundRequest(&group, SNDREQ_VOLUME, 256, nullptr), 0);
    ASSERT_NO_FATAL_FAILURE(Passes(1));
    g_bEnginePaused = 1;
    ASSERT_NO_FATAL_FAILURE(Passes(3));
    EXPECT_EQ(g_bSoundsPaused, 1);
    EXPECT_EQ(Ch(&top)->pBuffer, nullptr);
    g_bEnginePaused = 0;
    ASSERT_NO_FATAL_FAILURE(Passes(5));
    EXPECT_EQ(g_bSoundsPaused, 0);
    EXPECT_TRUE(IsBufferPlaying(Ch(&top)));
    EXPECT_EQ(Ch(&a)->pBuffer, nullptr);
    EXPECT_NE(Ch(&a)->dwPauseStamp, 0u);
    EXPECT_EQ(Ch(&a)->bState, SNDSTATE_PLAYING);
    g_pSoundRoot = pSavedRoot;
    g_bRunInBackground = bSavedBackground;
}

}  // namespace
