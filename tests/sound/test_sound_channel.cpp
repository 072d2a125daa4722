// Sound channels and streaming, heard through the manual audio sink: what comes out of the mixer
// at unity must be the file's samples, through every half refill, loop wrap, seek and end; damaged
// files end in their error codes without reading outside the file.
#include <gtest/gtest.h>
#include <vorbis/vorbisfile.h>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include "core/codecs.h"
#include "core/engine_globals.h"
#include "core/object_tree.h"
#include "core/script_thread.h"
#include "platform/plat_audio.h"
#include "platform/plat_modules.h"
#include "platform/plat_time.h"
#include "core/game_config.h"
#include "sound/sound.h"
#include "sound/sound_thread.h"
#include "tests/support/game_folder.h"
#include "tests/support/engine_test.h"
#include "tests/support/test_support.h"
#include "tools/lib/ogg_writer.h"
#include "tools/lib/wav_writer.h"

namespace {

constexpr uint32_t kRate = 48000;      // the mixer's own rate: no resampling, samples pass unchanged
constexpr uint32_t kStepFrames = 480;  // 10 ms of output per pass

// Interleaved stereo output frames as one vector of samples.
typedef std::vector<int16_t> SAMPLES;

// Deterministic, distinct samples: any misplaced byte shows.
std::vector<int16_t> Noise(size_t n, uint32_t seed)
{
    std::vector<int16_t> v(n);
    uint32_t s = seed;
    for (int16_t& x : v) {
        s = s * 214013u + 2531011u;
        x = static_cast<int16_t>((s >> 8) & 0xFFFF);
        if (x == 0) x = 1;  // never confused with silence
    }
    return v;
}

// The output frames that interleaved source samples give at unity (mono goes to both sides).
SAMPLES ToOutput(const int16_t* p, size_t nFrames, int nChannels)
{
    SAMPLES out;
    out.reserve(nFrames * 2);
    for (size_t i = 0; i < nFrames; ++i) {
        out.push_back(p[i * nChannels]);
        out.push_back(p[i * nChannels + (nChannels == 2 ? 1 : 0)]);
    }
    return out;
}

void Append(SAMPLES* pOut, const SAMPLES& part)
{
    pOut->insert(pOut->end(), part.begin(), part.end());
}

void AppendSilence(SAMPLES* pOut, size_t nFrames)
{
    pOut->insert(pOut->end(), nFrames * 2, 0);
}

std::vector<uint8_t> Wav16(int nChannels, const std::vector<int16_t>& samples, uint32_t nRate = kRate)
{
    WAV_WRITER_OPTIONS opt;
    opt.nChannels = static_cast<uint16_t>(nChannels);
    opt.nSamplesPerSec = nRate;
    opt.wBitsPerSample = 16;
    return WriteWavSamples(opt, samples.data(), samples.size() / size_t(nChannels));
}

// Every sample ov_read gives for a whole file, read in one go from its start.
struct OGG_MEMORY {
    const std::vector<uint8_t>* pData;
    size_t nPos;
};
size_t TestOggRead(void* p, size_t s, size_t n, void* src)
{
    OGG_MEMORY* m = static_cast<OGG_MEMORY*>(src);
    const size_t nLeft = m->pData->size() - m->nPos;
    const size_t nCopy = std::min(nLeft, s * n);
    std::memcpy(p, m->pData->data() + m->nPos, nCopy);
    m->nPos += nCopy;
    return nCopy;
}
std::vector<int16_t> DecodeWholeOgg(const std::vector<uint8_t>& file, int* pnChannels)
{
    OGG_MEMORY m{&file, 0};
    ov_callbacks cb = {TestOggRead, nullptr, nullptr, nullptr};
    OggVorbis_File vf;
    std::vector<int16_t> out;
    if (ov_open_callbacks(&m, &vf, nullptr, 0, cb) < 0) return out;
    *pnChannels = ov_info(&vf, -1)->channels;
    char buf[4096];
    int nStream = 0;
    for (;;) {
        const long r = ov_read(&vf, buf, sizeof buf, 0, 2, 1, &nStream);
        if (r <= 0) break;
        const size_t n0 = out.size();
        out.resize(n0 + size_t(r) / 2);
        std::memcpy(out.data() + n0, buf, size_t(r));
    }
    ov_clear(&vf);
    return out;
}

class SoundChannelTest : public EngineTest {
protected:
    TEMP_DIR dir;
    std::string strOldCwd;
    ERROR_RECORDER errors;
    MSGBOX_RECORDER boxes;
    TREE_NODE* pNode = nullptr;
    SOUND_CHANNEL* pChannel = nullptr;
    SAMPLES heard;   // every output frame mixed so far

    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(OpenObjectTreeGame(dir, &strOldCwd));
        PlatDsClearFakeFailures();
        PlatDsSetSinkOverride("manual");
        PlatDsSetManualLatency(0);
        ASSERT_EQ(PlatDsCreate(&g_lpDirectSound), PLAT_DS_OK);
        ASSERT_EQ(InitSoundRequests(), 0);
        ResetSoundRequests();
        pNode = CreateNode(g_pSoundRoot, "S0/a", 0, 1);
        ASSERT_NE(pNode, nullptr);
        pChannel = AttachSoundChannel(pNode);
        ASSERT_NE(pChannel, nullptr);
    }

    void TearDown() override
    {
        CloseObjectTreeGame(strOldCwd);
        PlatDsRelease(g_lpDirectSound);
        g_lpDirectSound = nullptr;
        PlatDsSetSinkOverride(nullptr);
        PlatDsClearFakeFailures();
    }

    // One pass of the sound thread, which must not fail.
    void Pass()
    {
        const int r = RunSoundPassOnce();
        ASSERT_GE(r, 0) << "sound pass failed with " << r;
    }

    void Post(uint8_t bCode, int32_t nValue, const char* pszText = nullptr)
    {
        ASSERT_GE(PostSoundRequest(pNode, bCode, nValue, pszText), 0);
    }

    // Writes the file into the game folder and loads it into the channel.
    void Load(const std::string& strName, const std::vector<uint8_t>& file, uint8_t bKind)
    {
        dir.Write(strName, file);
        pChannel->bSourceKind = bKind;
        Post(SNDREQ_LOAD, 0, strName.c_str());
        ASSERT_NO_FATAL_FAILURE(Pass());
        ASSERT_EQ(pChannel->bState.load(), SNDSTATE_LOADED);
    }

    // Starts at full volume: the fade of 0 ms is done once the clock has moved on.
    void Play(int32_t nPlays)
    {
        pChannel->nPlaysRequested = nPlays;
        Post(SNDREQ_LOOP_COUNT, nPlays);
        Post(SNDREQ_PLAY, 0);
        ASSERT_NO_FATAL_FAILURE(Pass());
        PlatAdvanceFakeTime(1);
        ASSERT_NO_FATAL_FAILURE(Pass());
        ASSERT_EQ(pChannel->nVolume, 256);
    }

    // Mixes nMs of output in 10 ms steps with a pass after each step.
    void Run(uint32_t nMs)
    {
        for (uint32_t t = 0; t < nMs; t += 10) {
            ASSERT_EQ(PlatDsAdvance(kStepFrames), PLAT_DS_OK);
            SAMPLES part(size_t(kStepFrames) * 2);
            ASSERT_EQ(PlatDsReadOutput(part.data(), kStepFrames), size_t(kStepFrames));
            Append(&heard, part);
            PlatAdvanceFakeTime(10);
            ASSERT_NO_FATAL_FAILURE(Pass());
        }
    }

    // The heard frames match the expected ones, then only silence follows.
    void ExpectHeard(const SAMPLES& expected)
    {
        ASSERT_GE(heard.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i)
            ASSERT_EQ(heard[i], expected[i]) << "at output frame " << i / 2 << " channel " << i % 2;
        for (size_t i = expected.size(); i < heard.size(); ++i)
            ASSERT_EQ(heard[i], 0) << "not silent at output frame " << i / 2;
    }

    // Puts a file image straight into the channel (as the loader reads it) and parses it.
    int Decode(const std::vector<uint8_t>& file, uint8_t bKind)
    {
        UnloadChannel(pChannel);
        uint8_t* p = static_cast<uint8_t*>(std::malloc(file.empty() ? 1 : file.size()));
        if (!file.empty()) std::memcpy(p, file.data(), file.size());
        pChannel->pFileImage = p;
        pChannel->nFileSize = int32_t(file.size());
        pChannel->bSourceKind = bKind;
        return DecodeChannelSource(pChannel);
    }
};

// ---------------------------------------------------------------------------------------------
// Content at unity

TEST_F(SoundChannelTest, Wav16StereoComesOutSampleExactThroughTheLoopWrap)
{
    // 0.7 s: several half refills, a wrap to 100 ms, then the end.
    const size_t nFrames = kRate * 7 / 10;
    const std::vector<int16_t> src = Noise(nFrames * 2, 1);
    ASSERT_NO_FATAL_FAILURE(Load("a.wav", Wav16(2, src), SNDSRC_WAV));
    EXPECT_EQ(pChannel->llLength, 700);
    Post(SNDREQ_LOOP_START, 100);
    ASSERT_NO_FATAL_FAILURE(Play(2));
    ASSERT_NO_FATAL_FAILURE(Run(1700));

    SAMPLES expected = ToOutput(src.data(), nFrames, 2);
    const size_t nLoop = kRate / 10;
    Append(&expected, ToOutput(src.data() + nLoop * 2, nFrames - nLoop, 2));
    ASSERT_NO_FATAL_FAILURE(ExpectHeard(expected));
    // Two plays requested: the channel has ended and let go of everything.
    EXPECT_EQ(pChannel->bState.load(), SNDSTATE_EMPTY);
    EXPECT_EQ(pChannel->pFileImage, nullptr);
    EXPECT_EQ(pChannel->pBuffer, nullptr);
}

TEST_F(SoundChannelTest, Wav8MonoComesOutSampleExactWithSilenceBeforeTheRepeat)
{
    // 605 ms, so that the end falls between two passes and the silence after it is heard too.
    const size_t nFrames = kRate * 605 / 1000;
    std::vector<uint8_t> body(nFrames);
    const std::vector<int16_t> noise = Noise(nFrames, 2);
    for (size_t i = 0; i < nFrames; ++i) body[i] = static_cast<uint8_t>(noise[i] >> 8) | 1;
    WAV_WRITER_OPTIONS opt;
    opt.nChannels = 1;
    opt.nSamplesPerSec = kRate;
    opt.wBitsPerSample = 8;
    ASSERT_NO_FATAL_FAILURE(Load("b.wav", WriteWav(opt, body.data(), body.size()), SNDSRC_WAV));
    // 8-bit silence is the middle value 128: the mixer must hear 0 there, not a full negative level.
    Post(SNDREQ_LOOP_START, -40);
    ASSERT_NO_FATAL_FAILURE(Play(2));
    ASSERT_NO_FATAL_FAILURE(Run(1500));

    std::vector<int16_t> as16(nFrames);
    for (size_t i = 0; i < nFrames; ++i) as16[i] = static_cast<int16_t>((int(body[i]) - 128) * 256);
    SAMPLES expected = ToOutput(as16.data(), nFrames, 1);
    AppendSilence(&expected, kRate * 40 / 1000);
    Append(&expected, ToOutput(as16.data(), nFrames, 1));
    ASSERT_NO_FATAL_FAILURE(ExpectHeard(expected));
    EXPECT_GT(heard.size(), expected.size());
    EXPECT_EQ(pChannel->bState.load(), SNDSTATE_EMPTY);
}

TEST_F(SoundChannelTest, OggComesOutAsTheWholeFileDecodes)
{
    OGG_WRITER_OPTIONS opt;
    opt.nChannels = 2;
    opt.nRate = kRate;
    opt.llFrames = kRate * 13 / 10;
    opt.dHz = 523.0;
    const std::vector<uint8_t> file = WriteOggVorbis(opt);
    ASSERT_FALSE(file.empty());
    int nChannels = 0;
    const std::vector<int16_t> whole = DecodeWholeOgg(file, &nChannels);
    ASSERT_EQ(nChannels, 2);
    ASSERT_EQ(whole.size(), size_t(opt.llFrames) * 2);

    ASSERT_NO_FATAL_FAILURE(Load("c.ogg", file, SNDSRC_OGG));
    EXPECT_EQ(pChannel->bDecodedForm, SNDFORM_OGG);
    EXPECT_EQ(pChannel->llLength, 1300);
    ASSERT_NO_FATAL_FAILURE(Play(1));
    ASSERT_NO_FATAL_FAILURE(Run(2000));
    ASSERT_NO_FATAL_FAILURE(ExpectHeard(ToOutput(whole.data(), whole.size() / 2, 2)));
    EXPECT_EQ(pChannel->bState.load(), SNDSTATE_EMPTY);
}

TEST_F(SoundChannelTest, OggStartsAndWrapsOnTheExactSample)
{
    OGG_WRITER_OPTIONS opt;
    opt.nChannels = 1;
    opt.nRate = kRate;
    opt.llFrames = kRate * 6 / 10;
    opt.signal = OGGSIG_RAMP;
    const std::vector<uint8_t> file = WriteOggVorbis(opt);
    int nChannels = 0;
    const std::vector<int16_t> whole = DecodeWholeOgg(file, &nChannels);
    ASSERT_EQ(whole.size(), size_t(opt.llFrames));
    const size_t nLoop = kRate / 5;   // 200 ms
    // Start positions: inside the sound, and before it (leading silence).
    for (int32_t nStart : {0, 130, -30}) {
        SCOPED_TRACE(nStart);
        heard.clear();
        ASSERT_NO_FATAL_FAILURE(Load("r.ogg", file, SNDSRC_OGG));
        Post(SNDREQ_LOOP_START, 200);
        Post(SNDREQ_START_POS, nStart);
        ASSERT_NO_FATAL_FAILURE(Play(2));
        ASSERT_NO_FATAL_FAILURE(Run(1400));
        SAMPLES expected;
        const size_t nFrom = nStart > 0 ? size_t(nStart) * kRate / 1000 : 0;
        if (nStart < 0) AppendSilence(&expected, size_t(-nStart) * kRate / 1000);
        Append(&expected, ToOutput(whole.data() + nFrom, whole.size() - nFrom, 1));
        Append(&expected, ToOutput(whole.data() + nLoop, whole.size() - nLoop, 1));
        ASSERT_NO_FATAL_FAILURE(ExpectHeard(expected));
        EXPECT_EQ(pChannel->bState.load(), SNDSTATE_EMPTY);
    }
}

// ---------------------------------------------------------------------------------------------
// Loop points, start positions and plays

struct LOOP_CASE {
    const char* pszName;
    int32_t nLoopStart;       // ms, posted when not INT32_MIN
    int32_t nEndPos;          // ms, posted when not INT32_MIN
    int32_t nStartPos;        // ms, posted when not INT32_MIN
    // The second play: the source from this ms (after nLoopSilence ms of silence) to nSecondEnd ms.
    int32_t nFirstFrom, nFirstTo, nLeadSilence;
    int32_t nLoopSilence, nSecondFrom, nSecondEnd;
    int32_t nStoredLoopStart;   // the channel's loop start after the wrap
};

TEST_F(SoundChannelTest, LoopPointsAndStartPositions)
{
    constexpr int32_t kNone = INT32_MIN;
    // The file is 400 ms of mono 16-bit noise.
    const LOOP_CASE cases[] = {
        {"loop from the start", 0, kNone, kNone, 0, 400, 0, 0, 0, 400, 0},
        {"loop from the middle", 150, kNone, kNone, 0, 400, 0, 0, 150, 400, 150},
        {"loop start at the end plays from 0", 400, kNone, kNone, 0, 400, 0, 0, 0, 400, 0},
        {"loop start past an end position plays from 0", 300, 250, kNone, 0, 250, 0, 0, 0, 250, 0},
        {"negative loop start: silence before the repeat", -50, kNone, kNone, 0, 400, 0, 50, 0, 400, -50},
        {"end position below the length", 100, 300, kNone, 0, 300, 0, 0, 100, 300, 100},
        {"negative start: leading silence", 0, kNone, -30, 0, 400, 30, 0, 0, 400, 0},
        {"start inside the sound", 0, kNone, 120, 120, 400, 0, 0, 0, 400, 0},
        {"start at the length plays from 0", 0, kNone, 400, 0, 400, 0, 0, 0, 400, 0},
    };
    const size_t nFrames = kRate * 4 / 10;
    const std::vector<int16_t> src = Noise(nFrames, 3);
    const std::vector<uint8_t> file = Wav16(1, src);
    auto frames = [](int32_t ms) { return size_t(ms) * kRate / 1000; };
    for (const LOOP_CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        heard.clear();
        ASSERT_NO_FATAL_FAILURE(Load("loop.wav", file, SNDSRC_WAV));
        if (c.nLoopStart != kNone) Post(SNDREQ_LOOP_START, c.nLoopStart);
        if (c.nEndPos != kNone) Post(SNDREQ_END_POS, c.nEndPos);
        if (c.nStartPos != kNone) Post(SNDREQ_START_POS, c.nStartPos);
        ASSERT_NO_FATAL_FAILURE(Play(2));
        ASSERT_NO_FATAL_FAILURE(Run(400));
        EXPECT_EQ(pChannel->nLoopStart, c.nStoredLoopStart);
        ASSERT_NO_FATAL_FAILURE(Run(800));

        SAMPLES expected;
        AppendSilence(&expected, frames(c.nLeadSilence));
        Append(&expected, ToOutput(src.data() + frames(c.nFirstFrom), frames(c.nFirstTo) - frames(c.nFirstFrom), 1));
        AppendSilence(&expected, frames(c.nLoopSilence));
        Append(&expected, ToOutput(src.data() + frames(c.nSecondFrom), frames(c.nSecondEnd) - frames(c.nSecondFrom), 1));
        ASSERT_NO_FATAL_FAILURE(ExpectHeard(expected));
        EXPECT_EQ(pChannel->bState.load(), SNDSTATE_EMPTY);
    }
}

TEST_F(SoundChannelTest, PlaysRequestedEndTheChannelAndZeroLoopsForEver)
{
    const std::vector<int16_t> src = Noise(kRate / 5 * 2, 4);   // 200 ms stereo
    const std::vector<uint8_t> file = Wav16(2, src);
    for (int32_t nPlays : {1, 3}) {
        SCOPED_TRACE(nPlays);
        heard.clear();
        ASSERT_NO_FATAL_FAILURE(Load("p.wav", file, SNDSRC_WAV));
        ASSERT_NO_FATAL_FAILURE(Play(nPlays));
        ASSERT_NO_FATAL_FAILURE(Run(200 * uint32_t(nPlays) - 20));
        EXPECT_NE(pChannel->bState.load(), SNDSTATE_EMPTY) << "ended early";
        ASSERT_NO_FATAL_FAILURE(Run(40));
        EXPECT_EQ(pChannel->bState.load(), SNDSTATE_EMPTY);
        EXPECT_EQ(pChannel->nPlaysRequested, 0);
        SAMPLES expected;
        for (int i = 0; i < nPlays; ++i) Append(&expected, ToOutput(src.data(), src.size() / 2, 2));
        ASSERT_NO_FATAL_FAILURE(ExpectHeard(expected));
    }
    heard.clear();
    ASSERT_NO_FATAL_FAILURE(Load("p.wav", file, SNDSRC_WAV));
    ASSERT_NO_FATAL_FAILURE(Play(0));
    ASSERT_NO_FATAL_FAILURE(Run(2000));
    EXPECT_EQ(pChannel->bState.load(), SNDSTATE_PLAYING);
    EXPECT_GE(pChannel->nPlaysDone, 9);
    SAMPLES expected;
    for (int i = 0; i < 10; ++i) Append(&expected, ToOutput(src.data(), src.size() / 2, 2));
    expected.resize(heard.size());
    ASSERT_NO_FATAL_FAILURE(ExpectHeard(expected));
}

// A pause lets go of what the decoder wrote ahead of the play cursor, a wrap into the next play
// included; the resume decodes from the cursor again and must still give every play requested.
// Measured in output frames: every frame of the sound is non-zero, the pause and the end silent.
TEST_F(SoundChannelTest, APauseKeepsEveryPlayRequested)
{
    const std::vector<int16_t> src = Noise(kRate * 2, 12);   // 2 s mono
    const std::vector<uint8_t> file = Wav16(1, src);
    struct CASE {
        const char* pszName;
        bool bFocus;         // paused by the window losing the focus, else by the script
        int32_t nPlays;
        uint32_t nPauseAt;   // ms of output before the pause
    } cases[] = {
        {"script pause near the end of the first play", false, 2, 1600},
        {"script pause early in the first play", false, 2, 500},
        {"script pause in the last play", false, 2, 3700},
        {"script pause near the end of the second of three", false, 3, 3800},
        {"focus pause near the end of the first play", true, 2, 1600},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        heard.clear();
        ASSERT_NO_FATAL_FAILURE(Load("t.wav", file, SNDSRC_WAV));
        ASSERT_NO_FATAL_FAILURE(Play(c.nPlays));
        ASSERT_NO_FATAL_FAILURE(Run(c.nPauseAt));
        if (c.bFocus) {
            g_bRunInBackground = 1;
            g_bEnginePaused = 1;
        } else {
            Post(SNDREQ_PAUSE, 1);
        }
        ASSERT_NO_FATAL_FAILURE(Pass());
        ASSERT_NE(pChannel->dwPauseStamp, 0u);
        const size_t nBefore = heard.size();
        ASSERT_NO_FATAL_FAILURE(Run(300));
        for (size_t i = nBefore; i < heard.size(); ++i) ASSERT_EQ(heard[i], 0) << "heard while paused";
        if (c.bFocus) {
            g_bEnginePaused = 0;
        } else {
            Post(SNDREQ_PAUSE, 0);
        }
        ASSERT_NO_FATAL_FAILURE(Pass());
        ASSERT_EQ(pChannel->dwPauseStamp, 0u);
        ASSERT_NO_FATAL_FAILURE(Run(2000 * uint32_t(c.nPlays) + 1000 - c.nPauseAt));
        EXPECT_EQ(pChannel->bState.load(), SNDSTATE_EMPTY);
        size_t nSounding = 0;
        for (size_t i = 0; i < heard.size(); i += 2) nSounding += heard[i] != 0 ? 1 : 0;
        // The resume starts at the whole millisecond at or before the cursor: up to 1 ms again.
        const size_t nWant = size_t(kRate) * 2 * size_t(c.nPlays);
        EXPECT_GE(nSounding, nWant);
        EXPECT_LE(nSounding, nWant + kRate / 1000);
        g_bRunInBackground = 0;
        g_bEnginePaused = 0;
    }
}

TEST_F(SoundChannelTest, ALoopTooShortToDecodeEndsEveryRefill)
{
    // 8000 Hz mono Ogg: 16 bytes a millisecond, so a loop of 1 ms is below the smallest read.
    OGG_WRITER_OPTIONS opt;
    opt.nChannels = 1;
    opt.nRate = 8000;
    opt.llFrames = 8000;
    ASSERT_NO_FATAL_FAILURE(Load("short.ogg", WriteOggVorbis(opt), SNDSRC_OGG));
    Post(SNDREQ_LOOP_START, 100);
    Post(SNDREQ_END_POS, 101);
    ASSERT_NO_FATAL_FAILURE(Play(0));
    ASSERT_NO_FATAL_FAILURE(Run(1500));
    EXPECT_EQ(pChannel->bState.load(), SNDSTATE_PLAYING);

    // A WAV without data samples, looping for ever, the same.
    WAV_WRITER_OPTIONS wopt;
    wopt.nSamplesPerSec = kRate;
    ASSERT_EQ(Decode(WriteWav(wopt, nullptr, 0), SNDSRC_WAV), 0);
    EXPECT_EQ(pChannel->dwPcmSize, 0u);
    pChannel->nDecoderLoops = 0;
    ASSERT_EQ(SeekChannel(pChannel, 0), 0);
    EXPECT_EQ(pChannel->nDecoderPos, 0);
    EXPECT_EQ(CopyWAVHalf(pChannel), int(pChannel->dwBufferBytes / 2));
}

TEST_F(SoundChannelTest, SeeksStayInsideTheData)
{
    const std::vector<int16_t> src = Noise(kRate / 2 * 2, 5);   // 500 ms stereo
    ASSERT_EQ(Decode(Wav16(2, src), SNDSRC_WAV), 0);
    const int32_t nAlign = pChannel->fmt.nBlockAlign;
    struct {
        int32_t nMs;
        int32_t nPos;            // decoder position in bytes of PCM
        int32_t nBytePos;        // decoder byte position
        int64_t llSilence;       // pending silence added
    } cases[] = {
        {0, 0, 0, 0},
        {250, 250 * 192, 250 * 192, 0},
        {500, 490 * 192, 490 * 192, 0},    // the length: 10 ms before the end
        {9999, 490 * 192, 490 * 192, 0},
        {-20, 0, -20 * 192, 20 * 192},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.nMs);
        pChannel->llPendingSilence = 0;
        ASSERT_EQ(SeekChannel(pChannel, c.nMs), 0);
        EXPECT_EQ(pChannel->nDecoderPos, c.nPos);
        EXPECT_EQ(pChannel->nDecoderBytePos, c.nBytePos);
        EXPECT_EQ(pChannel->llPendingSilence, c.llSilence);
    }
    // Data shorter than one frame: every seek lands on 0, and copying takes nothing from past it.
    WAV_WRITER_OPTIONS opt;
    opt.nChannels = 2;
    opt.nSamplesPerSec = kRate;
    const uint8_t abShort[3] = {1, 2, 3};
    ASSERT_EQ(Decode(WriteWav(opt, abShort, sizeof abShort), SNDSRC_WAV), 0);
    EXPECT_EQ(pChannel->dwPcmSize, 3u);
    pChannel->nDecoderLoops = 1;
    for (int32_t nMs : {0, 5, 1000}) {
        ASSERT_EQ(SeekChannel(pChannel, nMs), 0);
        EXPECT_EQ(pChannel->nDecoderPos, 0);
    }
    pChannel->nEndPos = 1000;   // an end position beyond the data must not widen the copy
    EXPECT_EQ(CopyWAVHalf(pChannel), int(pChannel->dwBufferBytes / 2));
    (void)nAlign;
}

// ---------------------------------------------------------------------------------------------
// Damaged and unsupported files

TEST_F(SoundChannelTest, DamagedWavFilesEndInTheirCodes)
{
    const std::vector<int16_t> samples = Noise(2000, 6);
    struct WAV_CASE {
        const char* pszName;
        WAV_WRITER_OPTIONS opt;
        int nResult;
        uint32_t dwPcmSize;   // for the cases that load
    };
    auto base = []() {
        WAV_WRITER_OPTIONS o;
        o.nChannels = 1;
        o.nSamplesPerSec = 22050;
        return o;
    };
    std::vector<WAV_CASE> cases;
    auto add = [&](const char* pszName, auto edit, int nResult, uint32_t dwPcm = 0) {
        WAV_WRITER_OPTIONS o = base();
        edit(o);
        cases.push_back({pszName, o, nResult, dwPcm});
    };
    add("plain", [](WAV_WRITER_OPTIONS&) {}, 0, 4000);
    add("not RIFF", [](WAV_WRITER_OPTIONS& o) { o.bBadRiffId = true; }, -10040);
    add("not WAVE", [](WAV_WRITER_OPTIONS& o) { o.bBadWaveId = true; }, -10050);
    add("no fmt", [](WAV_WRITER_OPTIONS& o) { o.bNoFmt = true; }, -10060);
    add("no data", [](WAV_WRITER_OPTIONS& o) { o.bNoData = true; }, -10080);
    add("data before fmt", [](WAV_WRITER_OPTIONS& o) { o.bDataBeforeFmt = true; }, -10080);
    add("fmt runs off the end", [](WAV_WRITER_OPTIONS& o) { o.llFmtSizeOverride = 0x7FFFFFF0; }, -10090);
    add("cut inside fmt", [](WAV_WRITER_OPTIONS& o) { o.nTruncateTo = 30; }, -10090);
    add("cut before the form", [](WAV_WRITER_OPTIONS& o) { o.nTruncateTo = 10; }, -10040);
    add("empty file", [](WAV_WRITER_OPTIONS& o) { o.nTruncateTo = 0; }, -10040);
    add("RIFF size too small to hold fmt", [](WAV_WRITER_OPTIONS& o) { o.llRiffSizeOverride = 4; }, -10060);
    add("RIFF size beyond the file", [](WAV_WRITER_OPTIONS& o) { o.llRiffSizeOverride = 0xFFFFFFF0; }, 0, 4000);
    add("data size beyond the file", [](WAV_WRITER_OPTIONS& o) { o.llDataSizeOverride = 0xFFFFFFF0; }, 0, 4000);
    add("cut inside data", [](WAV_WRITER_OPTIONS& o) { o.nTruncateTo = 44 + 1001; }, 0, 1001);
    add("odd chunks with pads around", [](WAV_WRITER_OPTIONS& o) {
        WAV_CHUNK c;
        c.data = {1, 2, 3};
        o.beforeFmt.push_back(c);
        o.beforeData.push_back(c);
        o.afterData.push_back(c);
    }, 0, 4000);
    add("fmt of 14 bytes: no bits, no buffer", [](WAV_WRITER_OPTIONS& o) { o.nFmtSize = 14; }, -1120);
    add("fmt of 50 bytes", [](WAV_WRITER_OPTIONS& o) { o.nFmtSize = 50; }, 0, 4000);
    add("block align 0", [](WAV_WRITER_OPTIONS& o) { o.nBlockAlignOverride = 0; }, -1120);
    add("unknown compression", [](WAV_WRITER_OPTIONS& o) {
        o.wFormatTag = 0x55;
        o.nFmtSize = 18;
    }, -10200);

    for (const WAV_CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        std::vector<uint8_t> file;
        if (c.opt.wFormatTag == 0x55) {
            file = WriteWav(c.opt, reinterpret_cast<const uint8_t*>(samples.data()), 400);
        } else {
            file = WriteWavSamples(c.opt, samples.data(), samples.size());
        }
        EXPECT_EQ(Decode(file, SNDSRC_WAV), c.nResult);
        if (c.nResult == 0) {
            EXPECT_EQ(pChannel->dwPcmSize, c.dwPcmSize);
            EXPECT_EQ(pChannel->bDecodedForm, SNDFORM_PCM_WAV);
            // Reading every half of the data (with a claimed end far beyond it) stays inside the file.
            pChannel->nEndPos = 100000;
            pChannel->nDecoderLoops = 2;
            ASSERT_EQ(SeekChannel(pChannel, 0), 0);
            for (int i = 0; i < 4; ++i) ASSERT_GE(CopyWAVHalf(pChannel), 0);
            if (c.dwPcmSize == 4000) {
                EXPECT_EQ(std::memcmp(pChannel->pPcmData, samples.data(), 4000), 0);
            }
        }
    }
    UnloadChannel(pChannel);
}

TEST_F(SoundChannelTest, CompressedWavIsConvertedOnceAndKeptForResume)
{
    const std::vector<int16_t> samples = Noise(4000, 7);
    WAV_WRITER_OPTIONS opt;
    opt.wFormatTag = WAVTAG_IMAADPCM;
    opt.nChannels = 1;
    opt.nSamplesPerSec = 22050;
    ASSERT_EQ(Decode(WriteWavSamples(opt, samples.data(), samples.size()), SNDSRC_WAV), 0);
    EXPECT_EQ(pChannel->bDecodedForm, SNDFORM_CONVERTED_WAV);
    EXPECT_EQ(pChannel->fmt.wBitsPerSample, 16);
    EXPECT_EQ(pChannel->fmt.nBlockAlign, 2);
    EXPECT_GE(pChannel->dwPcmSize, 8000u);
    EXPECT_EQ(pChannel->pPcmData, pChannel->pFileImage);
    // Rebuilding the buffers (a resume) keeps the converted PCM as it is.
    const uint32_t dwPcm = pChannel->dwPcmSize;
    ReleaseChannelBuffers(pChannel);
    ASSERT_EQ(DecodeChannelSource(pChannel), 0);
    EXPECT_EQ(pChannel->dwPcmSize, dwPcm);
    EXPECT_NE(pChannel->pBuffer, nullptr);
    UnloadChannel(pChannel);
    EXPECT_EQ(pChannel->bDecodedForm, SNDFORM_PCM_WAV);
}

TEST_F(SoundChannelTest, OggFilesThatCannotPlay)
{
    OGG_WRITER_OPTIONS opt;
    opt.llFrames = 4000;
    const std::vector<uint8_t> one = WriteOggVorbis(opt);
    EXPECT_EQ(Decode(WriteChainedOgg(opt, opt), SNDSRC_OGG), SNDERR_OGG_CHAINED);
    std::vector<uint8_t> garbage(5000);
    for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<uint8_t>(i * 37 + 11);
    EXPECT_EQ(Decode(garbage, SNDSRC_OGG), -1030);
    EXPECT_EQ(Decode(std::vector<uint8_t>(), SNDSRC_OGG), -1030);
    // Only the first part of a file: whatever it gives, nothing is read outside the image.
    Decode(std::vector<uint8_t>(one.begin(), one.begin() + one.size() / 3), SNDSRC_OGG);
    EXPECT_EQ(Decode(one, SNDSRC_OGG), 0);
    UnloadChannel(pChannel);
}

TEST_F(SoundChannelTest, WithoutItsDecoderAnOggFailsToLoadAsADamagedFileDoes)
{
    OGG_WRITER_OPTIONS opt;
    opt.llFrames = 4000;
    const std::vector<uint8_t> file = WriteOggVorbis(opt);
    PlatHideModule("VORBISFILE.DLL", 1);
    UnloadCodecLibraries();   // the next open binds again, and finds nothing
    EXPECT_EQ(Decode(file, SNDSRC_OGG), -1030);
    EXPECT_EQ(pChannel->pBuffer, nullptr);
    UnloadChannel(pChannel);
    // The load request ends the pass with the same code, the channel left empty.
    dir.Write("gone.ogg", file);
    pChannel->bSourceKind = SNDSRC_OGG;
    Post(SNDREQ_LOAD, 0, "gone.ogg");
    EXPECT_EQ(RunSoundPassOnce(), -1030);
    EXPECT_EQ(pChannel->bState.load(), SNDSTATE_EMPTY);
    UnloadChannel(pChannel);

    PlatResetModules();
    UnloadCodecLibraries();
    EXPECT_EQ(Decode(file, SNDSRC_OGG), 0);
    UnloadChannel(pChannel);
}

// Offsets of the pages of an Ogg file ("OggS" capture pattern followed by version 0).
std::vector<size_t> OggPages(const std::vector<uint8_t>& f)
{
    std::vector<size_t> at;
    for (size_t i = 0; i + 27 <= f.size();) {
        if (std::memcmp(f.data() + i, "OggS", 4) != 0) return at;
        at.push_back(i);
        const size_t nSegments = f[i + 26];
        if (i + 27 + nSegments > f.size()) return at;
        size_t nBody = 0;
        for (size_t k = 0; k < nSegments; ++k) nBody += f[i + 27 + k];
        i += 27 + nSegments + nBody;
    }
    return at;
}

TEST_F(SoundChannelTest, AnOggHoleEndsTheFillAndTheChannelUnloadsOnce)
{
    OGG_WRITER_OPTIONS opt;
    opt.nChannels = 1;
    opt.nRate = 22050;
    // Noise fills many pages.
    const std::vector<int16_t> noise = Noise(22050 * 3, 12);
    std::vector<float> samples(noise.size());
    for (size_t i = 0; i < noise.size(); ++i) samples[i] = float(noise[i]) / 65536.0f;
    const std::vector<uint8_t> file = WriteOggVorbisSamples(opt, samples.data(), samples.size());
    const std::vector<size_t> pages = OggPages(file);
    ASSERT_GE(pages.size(), 6u);
    // Take out one audio page early in the stream: the page sequence then has a gap.
    std::vector<uint8_t> holed(file.begin(), file.begin() + long(pages[3]));
    holed.insert(holed.end(), file.begin() + long(pages[4]), file.end());
    ASSERT_EQ(Decode(holed, SNDSRC_OGG), 0);
    pChannel->nDecoderLoops = 1;
    ASSERT_EQ(SeekChannel(pChannel, 0), 0);
    int nResult = 0;
    for (int i = 0; i < 6 && nResult >= 0; ++i) nResult = FillOggHalf(pChannel);
    EXPECT_EQ(nResult, -90001);
    // The staging buffer is still the channel's, freed once by the unload.
    EXPECT_NE(pChannel->pStaging, nullptr);
    UnloadChannel(pChannel);
    EXPECT_EQ(pChannel->pStaging, nullptr);
}

TEST_F(SoundChannelTest, OggMemoryCallbacksStayInsideTheImage)
{
    const std::vector<uint8_t> file = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    ASSERT_EQ(Decode(file, SNDSRC_NONE), 0);
    pChannel->nReadPos = 0;
    uint8_t buf[32];
    EXPECT_EQ(OggMemRead(buf, 1, 4, pChannel), 4u);
    EXPECT_EQ(OggMemTell(pChannel), 4);
    EXPECT_EQ(OggMemSeek(pChannel, 3, 1), 0);
    EXPECT_EQ(OggMemRead(buf, 1, 32, pChannel), 3u);
    EXPECT_EQ(buf[0], 8);
    EXPECT_EQ(OggMemRead(buf, 1, 32, pChannel), 0u);   // at the end
    EXPECT_EQ(OggMemSeek(pChannel, -1, 0), -1);         // before the start
    EXPECT_EQ(OggMemSeek(pChannel, 1, 2), -1);          // past the end
    EXPECT_EQ(OggMemSeek(pChannel, 100, 1), -1);
    EXPECT_EQ(OggMemTell(pChannel), 10);
    EXPECT_EQ(OggMemSeek(pChannel, 0, 3), -1);          // unknown origin
    EXPECT_EQ(OggMemSeek(pChannel, -10, 2), 0);
    EXPECT_EQ(OggMemTell(pChannel), 0);
    EXPECT_EQ(OggMemRead(buf, 4, SIZE_MAX / 2, pChannel), 10u);
    EXPECT_EQ(OggMemClose(pChannel), 1);
    UnloadChannel(pChannel);
}

// ---------------------------------------------------------------------------------------------
// The record, the built-in silence and effective volumes

TEST_F(SoundChannelTest, TheBuiltInSilenceImage)
{
    TREE_NODE* pRoot = CreateNode(g_pSoundRoot, "ROOT", 0, SND_SILENCE_ORDER);
    ASSERT_NE(pRoot, nullptr);
    SOUND_CHANNEL* p = AttachSoundChannel(pRoot);
    ASSERT_NE(p, nullptr);
    std::strcpy(p->szName, " ");
    p->bSourceKind = SNDSRC_WAV;
    ASSERT_EQ(OpenSoundSource(pRoot), 0);
    ASSERT_EQ(p->nFileSize, 4044);
    const uint8_t abHeader[44] = {'R', 'I', 'F', 'F', 0xC4, 0x0F, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                                  16, 0, 0, 0, 1, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x40, 0x1F, 0, 0,
                                  1, 0, 8, 0, 'd', 'a', 't', 'a', 0xA0, 0x0F, 0, 0};
    EXPECT_EQ(std::memcmp(p->pFileImage, abHeader, sizeof abHeader), 0);
    for (int i = 44; i < 4044; ++i) ASSERT_EQ(p->pFileImage[i], 128) << i;
    EXPECT_EQ(p->llLength, 500);
    EXPECT_EQ(p->dwPcmSize, 4000u);
    EXPECT_EQ(p->dwBufferBytes, 8000u);
    EXPECT_NE(p->pBuffer, nullptr);
    // A second open while the image is held.
    EXPECT_EQ(OpenSoundSource(pRoot), -1010);
}

TEST_F(SoundChannelTest, RecordDefaultsAndEffectiveVolume)
{
    EXPECT_EQ(AttachSoundChannel(nullptr), nullptr);
    EXPECT_EQ(pChannel->nVolume, 256);
    EXPECT_EQ(pChannel->nFadeTarget, 256);
    EXPECT_EQ(pChannel->nRefVolume, 256);
    EXPECT_EQ(pChannel->nPan, 256);
    EXPECT_EQ(pChannel->nFrequency, 0);
    EXPECT_EQ(pChannel->bEnabled, 1);
    TREE_NODE* pS0 = pNode->pParent;
    SOUND_CHANNEL* pGroup = static_cast<SOUND_CHANNEL*>(pS0->pPayload);
    ASSERT_NE(pGroup, nullptr);
    pGroup->nVolume = 128;
    pChannel->nVolume = 200;
    EXPECT_EQ(GetEffectiveVolume(pS0), 128);        // below the unnamed root: alone
    EXPECT_EQ(GetEffectiveVolume(pNode), 100);      // 200 x 128 >> 8
    pGroup->bEnabled = 0;
    EXPECT_EQ(GetEffectiveVolume(pNode), 0);
    pGroup->bEnabled = 1;
    pChannel->bEnabled = 0;
    EXPECT_EQ(GetEffectiveVolume(pNode), 0);
}

TEST_F(SoundChannelTest, MissingFileAndUnloadClearsThePause)
{
    std::strcpy(pChannel->szName, "nothing.wav");
    pChannel->bSourceKind = SNDSRC_WAV;
    EXPECT_EQ(OpenSoundSource(pNode), -1020);
    const std::vector<int16_t> src = Noise(1000, 8);
    ASSERT_EQ(Decode(Wav16(1, src), SNDSRC_WAV), 0);
    pChannel->dwPauseStamp = 1234;
    pChannel->nStartPos = 50;
    pChannel->nLoopStart = 20;
    UnloadChannel(pChannel);
    EXPECT_EQ(pChannel->dwPauseStamp, 0u);
    EXPECT_EQ(pChannel->nStartPos, 0);
    EXPECT_EQ(pChannel->nLoopStart, 0);
    EXPECT_EQ(pChannel->pFileImage, nullptr);
    EXPECT_EQ(pChannel->pStaging, nullptr);
    EXPECT_EQ(pChannel->pCarry, nullptr);
    EXPECT_EQ(pChannel->pPcmData, nullptr);
}

TEST_F(SoundChannelTest, PausedChannelsAreNeitherTrackedNorRefilled)
{
    const std::vector<int16_t> src = Noise(kRate, 9);
    ASSERT_NO_FATAL_FAILURE(Load("q.wav", Wav16(1, src), SNDSRC_WAV));
    ASSERT_NO_FATAL_FAILURE(Play(0));
    // A paused channel has no buffer; the per-pass work must leave it alone.
    ReleaseChannelBuffers(pChannel);
    pChannel->dwPauseStamp = PlatGetTime();
    EXPECT_EQ(TrackSoundPlayback(g_pSoundRoot->pFirstChild), 0);
    EXPECT_EQ(RefillSoundBuffers(g_pSoundRoot->pFirstChild), 0);
    // Not paused without a buffer: the pass reports it.
    pChannel->dwPauseStamp = 0;
    EXPECT_EQ(TrackSoundPlayback(g_pSoundRoot->pFirstChild), -310);
    EXPECT_EQ(RefillSoundBuffers(g_pSoundRoot->pFirstChild), -330);
}

TEST_F(SoundChannelTest, EngineStopMutesWithoutUnloading)
{
    const std::vector<int16_t> src = Noise(kRate, 10);
    ASSERT_NO_FATAL_FAILURE(Load("s.wav", Wav16(1, src), SNDSRC_WAV));
    ASSERT_NO_FATAL_FAILURE(Play(0));
    g_bEngineStop = 1;
    EXPECT_EQ(TrackSoundPlayback(g_pSoundRoot->pFirstChild), 0);
    EXPECT_EQ(pChannel->bState.load(), SNDSTATE_EMPTY);
    EXPECT_NE(pChannel->pFileImage, nullptr);
    int32_t nVolume = 0;
    ASSERT_EQ(PlatDsBufferGetVolume(pChannel->pBuffer, &nVolume), PLAT_DS_OK);
    EXPECT_EQ(nVolume, SoundVolumeToBuffer(2));
    UnloadSoundTree(g_pSoundRoot->pFirstChild);
    EXPECT_EQ(pChannel->pFileImage, nullptr);
    EXPECT_EQ(pChannel->pBuffer, nullptr);
}

TEST_F(SoundChannelTest, BufferFailuresReachThePass)
{
    const std::vector<int16_t> src = Noise(kRate, 11);
    ASSERT_NO_FATAL_FAILURE(Load("f.wav", Wav16(1, src), SNDSRC_WAV));
    ASSERT_NO_FATAL_FAILURE(Play(0));
    PlatDsFailOp(PLATDS_OP_GETCURRENTPOSITION, DSERR_GENERIC, 0, 1);
    EXPECT_EQ(TrackSoundPlayback(g_pSoundRoot->pFirstChild), -320);
    PlatDsFailOp(PLATDS_OP_GETCURRENTPOSITION, DSERR_GENERIC, 0, 1);
    EXPECT_EQ(RefillSoundBuffers(g_pSoundRoot->pFirstChild), -340);
    PlatDsFailOp(PLATDS_OP_LOCK, DSERR_GENERIC, 0, 1);
    EXPECT_EQ(FillWAVHalf(pChannel), -3040);
    PlatDsClearFakeFailures();
    // A second buffer over the held ones is refused.
    EXPECT_EQ(CreateChannelBuffer(pChannel, 1, kRate, kRate * 2, 2, 16), -1060);
    UnloadChannel(pChannel);
    PlatDsFailOp(PLATDS_OP_CREATEBUFFER, DSERR_OUTOFMEMORY, 0, 1);
    EXPECT_EQ(CreateChannelBuffer(pChannel, 1, kRate, kRate * 2, 2, 16), -1120);
    UnloadChannel(pChannel);
}

}  // namespace

// A stream whose last page claims an absurd sample position: the length is cut to the position
// range instead of overflowing the conversion to milliseconds.
TEST_F(SoundChannelTest, OggClaimingAHugeLengthIsCutToThePositionRange)
{
    OGG_WRITER_OPTIONS opt;
    opt.nRate = 8000;
    opt.llFrames = 1600;
    std::vector<uint8_t> file = WriteOggVorbis(opt);
    ASSERT_FALSE(file.empty());
    // The last page: its granule position (bytes 6..13) becomes 2^62, its checksum set again.
    size_t nLast = 0;
    for (size_t p = 0; p + 4 <= file.size(); ++p)
        if (std::memcmp(&file[p], "OggS", 4) == 0) nLast = p;
    const uint64_t qwGranule = 1ull << 62;
    for (int i = 0; i < 8; ++i) file[nLast + 6 + i] = uint8_t(qwGranule >> (8 * i));
    ogg_page page;
    page.header = &file[nLast];
    page.header_len = 27 + file[nLast + 26];
    page.body = &file[nLast + size_t(page.header_len)];
    page.body_len = long(file.size() - nLast - size_t(page.header_len));
    ogg_page_checksum_set(&page);
    Decode(file, SNDSRC_OGG);
    EXPECT_LE(pChannel->llLength, INT32_MAX);
    EXPECT_GE(pChannel->llLength, 0);
}
