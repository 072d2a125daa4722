// The sound thread and its request ring, driven one pass at a time: request order, a full ring,
// waits that end with the thread, the focus pause, the error box and the device's start-up.
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include <vector>
#include "root/startup.h"
#include "core/engine_globals.h"
#include "core/engine_hooks.h"
#include "core/errors.h"
#include "core/object_tree.h"
#include "display/window_state.h"
#include "platform/plat_audio.h"
#include "platform/plat_thread.h"
#include "core/game_config.h"
#include "core/script_thread.h"
#include "sound/sound_thread.h"
#include "tests/support/engine_test.h"
#include "tests/support/test_support.h"

namespace {

// A scripted handler: each entry's answers in turn (the last one repeats), and the order of calls.
struct FAKE_OPS {
    std::vector<int32_t> calls;                 // ring indexes in call order
    std::vector<std::vector<int>> answers;      // by ring index
};
FAKE_OPS* g_pFake = nullptr;

int FakeOp(int32_t nEntry)
{
    g_pFake->calls.push_back(nEntry);
    std::vector<int>& a = g_pFake->answers[static_cast<size_t>(nEntry)];
    if (a.empty()) return 1;
    const int r = a.front();
    if (a.size() > 1) a.erase(a.begin());
    return r;
}

// Stands in for the sound thread inside a wait: one pass, and an error ends the "thread".
void DrivePass(void)
{
    const int r = RunSoundPassOnce();
    if (r < 0) {
        ShowSoundError(r);
        PlatLockEnter(g_csEngine);
        g_bSoundThreadState = SNDTHREAD_ENDED;
        PlatLockLeave(g_csEngine);
    }
}

class SoundThreadTest : public EngineTest {
protected:
    ERROR_RECORDER errors;
    MSGBOX_RECORDER boxes;
    FAKE_OPS fake;
    TREE_NODE* pNode = nullptr;
    WINDOW_STATE* pSavedWindow = nullptr;
    WINDOW_STATE window{};

    void SetUp() override
    {
        g_bRunInBackground = 0;
        ResetSoundRequests();
        fake.answers.assign(SNDREQ_RING_SIZE, {});
        g_pFake = &fake;
        for (int i = 1; i < SNDREQ_CODE_COUNT; ++i) g_apfnSoundOps[i] = FakeOp;
        ASSERT_EQ(CreateObjectTrees(), 0);
        pNode = CreateNode(g_pSoundRoot, "S0/a", 0, 1);
        ASSERT_NE(pNode, nullptr);
        ASSERT_NE(AttachSoundChannel(pNode), nullptr);
        pSavedWindow = g_apWindowState[0];
        window.bActive = 1;
        g_apWindowState[0] = &window;
    }

    void TearDown() override
    {
        SetSoundWaitIdle(nullptr);
        g_apWindowState[0] = pSavedWindow;
        FreeObjectTrees();
        g_pFake = nullptr;
        PlatDsClearFakeFailures();
        PlatDsSetSinkOverride(nullptr);
    }

    static std::string Cp(const char* pszUtf8) { return Cp932(pszUtf8); }
};

TEST_F(SoundThreadTest, RequestsRunInPostingOrderAndUnfinishedOnesHoldTheRest)
{
    const int32_t a = PostSoundRequest(nullptr, SNDREQ_NOP, 0, nullptr);   // completes without handler
    const int32_t b = PostSoundRequest(pNode, SNDREQ_LOAD, 0, "x.wav");     // not finished once
    const int32_t c = PostSoundRequest(pNode, SNDREQ_PLAY, 0, nullptr);
    ASSERT_EQ(a, 0);
    ASSERT_EQ(b, 1);
    ASSERT_EQ(c, 2);
    fake.answers[static_cast<size_t>(b)] = {0, 1};

    EXPECT_EQ(RunSoundPassOnce(), 1);
    EXPECT_EQ(fake.calls, (std::vector<int32_t>{b}));
    EXPECT_EQ(g_anSndReqDone[a].load(), 1);
    EXPECT_EQ(g_anSndReqDone[b].load(), 0);
    EXPECT_EQ(g_anSndReqDone[c].load(), 0);
    EXPECT_EQ(g_nSndReqRead.load(), b);

    EXPECT_EQ(RunSoundPassOnce(), 1);
    EXPECT_EQ(fake.calls, (std::vector<int32_t>{b, b, c}));
    EXPECT_EQ(g_anSndReqDone[b].load(), 1);
    EXPECT_EQ(g_anSndReqDone[c].load(), 1);
    EXPECT_EQ(g_nSndReqRead.load(), g_nSndReqWrite.load());
    EXPECT_STREQ(g_apszSndReqText[b], "x.wav");
    EXPECT_TRUE(errors.reports.empty());
}

TEST_F(SoundThreadTest, HandlerErrorEndsThePassAndLeavesTheEntryUnread)
{
    const int32_t a = PostSoundRequest(pNode, SNDREQ_VOLUME, 5, nullptr);
    const int32_t b = PostSoundRequest(pNode, SNDREQ_PLAY, 0, nullptr);
    fake.answers[static_cast<size_t>(a)] = {-1030};
    EXPECT_EQ(RunSoundPassOnce(), -1030);
    EXPECT_EQ(g_nSndReqRead.load(), a);
    EXPECT_EQ(g_anSndReqDone[a].load(), 0);
    EXPECT_EQ(g_anSndReqDone[b].load(), 0);
    EXPECT_EQ(fake.calls.size(), 1u);
}

TEST_F(SoundThreadTest, PassReportsTheEngineStop)
{
    EXPECT_EQ(RunSoundPassOnce(), 1);
    g_bEngineStop = 1;
    EXPECT_EQ(RunSoundPassOnce(), 0);
}

TEST_F(SoundThreadTest, FullRingDropsTheRequestAndKeepsWhatIsQueued)
{
    for (int32_t i = 0; i < SNDREQ_RING_SIZE - 1; ++i)
        ASSERT_EQ(PostSoundRequest(pNode, SNDREQ_VOLUME, i, nullptr), i);
    EXPECT_TRUE(errors.reports.empty());
    EXPECT_EQ(PostSoundRequest(pNode, SNDREQ_PAN, 999, nullptr), -1);
    ASSERT_EQ(errors.reports.size(), 1u);
    EXPECT_EQ(errors.reports[0].nId, 110200);
    EXPECT_EQ(errors.reports[0].bFatal, 0);
    EXPECT_EQ(g_nSndReqWrite.load(), SNDREQ_RING_SIZE - 1);
    EXPECT_EQ(g_abSndReqCode[SNDREQ_RING_SIZE - 1], 0);
    EXPECT_EQ(g_anSndReqValue[0], 0);
    EXPECT_EQ(g_abSndReqCode[0], SNDREQ_VOLUME);
    // A dropped request has no entry to wait for.
    EXPECT_EQ(WaitSoundRequest(-1), -1);

    // Once the thread has drained the ring, the write index wraps and posting goes on.
    EXPECT_EQ(RunSoundPassOnce(), 1);
    EXPECT_EQ(fake.calls.size(), static_cast<size_t>(SNDREQ_RING_SIZE - 1));
    EXPECT_EQ(PostSoundRequest(pNode, SNDREQ_PAN, 7, nullptr), SNDREQ_RING_SIZE - 1);
    EXPECT_EQ(PostSoundRequest(pNode, SNDREQ_PAN, 8, nullptr), 0);
    EXPECT_EQ(RunSoundPassOnce(), 1);
    EXPECT_EQ(g_anSndReqValue[0], 8);
    EXPECT_EQ(g_anSndReqDone[0].load(), 1);
}

TEST_F(SoundThreadTest, LongTextIsCutAtAWholeCharacter)
{
    std::string strLong(SNDREQ_TEXT_SIZE - 2, 'a');
    strLong += "\x82\xA0";  // a double-byte character across the buffer's end
    strLong += "tail";
    const int32_t w = PostSoundRequest(pNode, SNDREQ_LOAD, 0, strLong.c_str());
    ASSERT_GE(w, 0);
    EXPECT_EQ(std::strlen(g_apszSndReqText[w]), static_cast<size_t>(SNDREQ_TEXT_SIZE - 2));
}

TEST_F(SoundThreadTest, WaitEndsWhenDoneOrWhenTheThreadIsGone)
{
    const int32_t w = PostSoundRequest(pNode, SNDREQ_PLAY, 0, nullptr);
    // The thread has ended: the wait gives up instead of spinning for ever.
    g_bSoundThreadState = SNDTHREAD_ENDED;
    EXPECT_EQ(WaitSoundRequest(w), -1);
    // The engine stops while the thread still runs.
    g_bSoundThreadState = SNDTHREAD_RUNNING;
    g_bEngineStop = 1;
    EXPECT_EQ(WaitSoundRequest(w), -1);
    g_bEngineStop = 0;
    // Done before the thread ended: success.
    g_anSndReqDone[w] = 1;
    g_bSoundThreadState = SNDTHREAD_ENDED;
    EXPECT_EQ(WaitSoundRequest(w), 0);
    EXPECT_EQ(WaitSoundRequest(SNDREQ_RING_SIZE), -1);
}

TEST_F(SoundThreadTest, WaitDrivenByPassesEndsAfterTheRequestRuns)
{
    SetSoundWaitIdle(DrivePass);
    const int32_t a = PostSoundRequest(pNode, SNDREQ_LOAD, 0, "a.ogg");
    fake.answers[static_cast<size_t>(a)] = {0, 0, 1};
    EXPECT_EQ(WaitSoundRequest(a), 0);
    EXPECT_EQ(fake.calls.size(), 3u);

    // A request that fails: the "thread" ends with its box and the wait ends too.
    const int32_t b = PostSoundRequest(pNode, SNDREQ_PLAY, 0, nullptr);
    fake.answers[static_cast<size_t>(b)] = {-110};
    EXPECT_EQ(WaitSoundRequest(b), -1);
    EXPECT_EQ(g_bEngineStop.load(), 1);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].strCaption, "DEBUG Message");
}

TEST_F(SoundThreadTest, ErrorCodesChooseTheirMessages)
{
    struct CASE {
        int32_t nCode;
        const char* pszBody;
    };
    const CASE cases[] = {
        {-1, "サウンドバッファがありませんでした。"},
        {-310, "サウンドバッファがありませんでした。"},
        {-1010, "サウンドバッファがありませんでした。"},
        {-120, "サウンド再生エラーです。"},
        {-440, "サウンド再生エラーです。"},
        {-340, "サウンド再生位置取得エラーです。"},
        {-1020, "ファイルが開けませんでした。"},
        {-1030, "oggファイルとして正しく認識できませんでした。"},
        {-1040, "シークできないoggファイルでした。"},
        {-1050, "oggファイルの詳細を取得できませんでした。"},
        {-1080, "DirectSoundバッファエラーです。"},
        {-1090, "DirectSoundバッファが確保できませんでした。"},
        {-1120, "DirectSoundバッファ作成エラーです。"},
        {-3010, "oggファイルを正しく開けませんでした。"},
        {-2020, "oggファイルをシークできませんでした。"},
        {-3030, "サウンドバッファに書き込みできませんでした。"},
        {-3040, "サウンドバッファをロックできませんでした。"},
        {-3050, "サウンドバッファをアンロックできませんでした。"},
        {-90002, "oggデコードエラーです。"},
    };
    const std::string strInternal = Cp(
        "サウンド関係で内部エラーが発生しました。処理を停止します。\n\nこのエラーが発生した場合、宜しければエラー番号と一緒に\n"
        "システム制作者までご報告いただけますと非常に助かります。");
    char sz[1024];
    for (const CASE& c : cases) {
        FormatSoundError(c.nCode, sz, sizeof sz);
        EXPECT_EQ(std::string(sz), Cp("エラー番号：") + std::to_string(-c.nCode) + "\n\n" + Cp(c.pszBody))
            << c.nCode;
    }
    FormatSoundError(-1045, sz, sizeof sz);
    EXPECT_EQ(std::string(sz), Cp("複数曲連結OGGには対応していません。"));
    FormatSoundError(-10040, sz, sizeof sz);
    EXPECT_EQ(std::string(sz), Cp("エラー番号：") + "10040\n\n" + strInternal);
    FormatSoundError(INT32_MIN, sz, sizeof sz);
    EXPECT_EQ(std::string(sz), Cp("エラー番号：") + "2147483648\n\n" + strInternal);
    // A small buffer is cut at a whole character.
    char szSmall[8];
    FormatSoundError(-1, szSmall, sizeof szSmall);
    EXPECT_EQ(std::string(szSmall), Cp("エラー番").substr(0, 6));
}

TEST_F(SoundThreadTest, ThreadEndsAfterAnErrorWithTheBoxAndTheStopFlag)
{
    const int32_t w = PostSoundRequest(pNode, SNDREQ_LOAD, 0, "bad.ogg");
    fake.answers[static_cast<size_t>(w)] = {-1030};
    EXPECT_EQ(WasFatalErrorReported(), 0);
    EXPECT_EQ(SoundThreadProc(nullptr), 0);
    EXPECT_EQ(g_bSoundThreadState, SNDTHREAD_ENDED);
    EXPECT_EQ(g_bEngineStop.load(), 1);
    // A stop after a failure: the run ends with status 1.
    EXPECT_EQ(WasFatalErrorReported(), 1);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].strCaption, "DEBUG Message");
    EXPECT_EQ(boxes.boxes[0].strText,
              Cp("エラー番号：") + "1030\n\n" + Cp("oggファイルとして正しく認識できませんでした。"));
    EXPECT_EQ(WaitSoundRequest(w), -1);
}

TEST_F(SoundThreadTest, ThreadEndsQuietlyAtTheEngineStop)
{
    g_bEngineStop = 1;
    EXPECT_EQ(SoundThreadProc(nullptr), 0);
    EXPECT_EQ(g_bSoundThreadState, SNDTHREAD_ENDED);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(SoundThreadTest, FocusPauseFollowsEnginePauseBackgroundSwitchAndActivity)
{
    struct CASE {
        uint8_t bBackground, bEnginePaused, bActive, bSoundsPausedBefore, bSoundsPausedAfter;
    };
    const CASE cases[] = {
        // Running in the background: only the engine pause counts.
        {1, 1, 1, 0, 1}, {1, 1, 0, 1, 1}, {1, 0, 0, 0, 0}, {1, 0, 0, 1, 0}, {1, 0, 1, 1, 0},
        // In front only: the engine pause or a lost focus pauses, both gone resumes.
        {0, 1, 1, 0, 1}, {0, 1, 1, 1, 1}, {0, 0, 0, 0, 1}, {0, 0, 0, 1, 1}, {0, 0, 1, 1, 0},
        {0, 0, 1, 0, 0},
    };
    for (const CASE& c : cases) {
        g_bRunInBackground = c.bBackground;
        g_bEnginePaused = c.bEnginePaused;
        window.bActive = c.bActive;
        g_bSoundsPaused = c.bSoundsPausedBefore;
        EXPECT_EQ(RunSoundPassOnce(), 1);
        EXPECT_EQ(g_bSoundsPaused, c.bSoundsPausedAfter)
            << int(c.bBackground) << int(c.bEnginePaused) << int(c.bActive) << int(c.bSoundsPausedBefore);
    }
    g_bRunInBackground = 0;
}

TEST_F(SoundThreadTest, SoundRootPlaysBuiltInSilenceQuietly)
{
    ASSERT_EQ(CreateSoundRoot(), 0);
    TREE_NODE* pRoot = FindNodeByPath(g_pSoundRoot, "ROOT", KX_FIND_LEAF);
    ASSERT_NE(pRoot, nullptr);
    EXPECT_EQ(pRoot->llOrder, SND_SILENCE_ORDER);
    const SOUND_CHANNEL* pChannel = static_cast<const SOUND_CHANNEL*>(pRoot->pPayload);
    ASSERT_NE(pChannel, nullptr);
    EXPECT_STREQ(pChannel->szName, " ");
    EXPECT_EQ(pChannel->bSourceKind, SNDSRC_WAV);
    ASSERT_EQ(g_nSndReqWrite.load(), 3);
    const uint8_t codes[] = {SNDREQ_VOLUME, SNDREQ_LOAD, SNDREQ_PLAY};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(g_apSndReqNode[i], pRoot);
        EXPECT_EQ(g_abSndReqCode[i], codes[i]);
    }
    EXPECT_EQ(g_anSndReqValue[0], 2);
    EXPECT_STREQ(g_apszSndReqText[1], " ");
    EXPECT_EQ(g_anSndReqValue[2], 0);
}

TEST_F(SoundThreadTest, DeviceCreationFailuresShowTheirBox)
{
    struct CASE {
        int nResult;
        const char* pszText;  // NULL: no box
    };
    const CASE cases[] = {
        {DSERR_ALLOCATED, "サウンドリソースが使用中でした。他の音楽プレーヤー等、起動、常駐しているソフトがあれば終了させてください。"},
        {DSERR_NODRIVER, "利用可能なサウンドドライバが存在しませんでした。起動にはサウンド機能が正常に動作している必要があります。"},
        {DSERR_INVALIDPARAM, "無効なパラメータです。"},
        {DSERR_OUTOFMEMORY, "メモリ不足です。"},
        {DSERR_NOAGGREGATION, "このオブジェクトは集合体をサポートしません。"},
        {DSERR_GENERIC, nullptr},
    };
    PlatDsSetSinkOverride("manual");
    for (const CASE& c : cases) {
        boxes.boxes.clear();
        PlatDsFailOp(PLATDS_OP_CREATE, c.nResult, 0, 1);
        EXPECT_EQ(InitDirectSound(), 0);
        EXPECT_EQ(g_lpDirectSound, nullptr);
        if (!c.pszText) {
            EXPECT_TRUE(boxes.boxes.empty());
            continue;
        }
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].strCaption, Cp("サウンド初期化エラー"));
        EXPECT_EQ(boxes.boxes[0].strText, Cp(c.pszText));
    }
    EXPECT_TRUE(errors.reports.empty());

    // The cooperative level fails: reported, not fatal, and no device is left behind.
    PlatDsFailOp(PLATDS_OP_SETCOOPERATIVELEVEL, DSERR_INVALIDPARAM, 0, 1);
    EXPECT_EQ(InitDirectSound(), 0);
    EXPECT_EQ(g_lpDirectSound, nullptr);
    ASSERT_EQ(errors.reports.size(), 1u);
    EXPECT_EQ(errors.reports[0].nId, 110010);
    EXPECT_EQ(errors.reports[0].bFatal, 0);
    g_bEngineStop = 0;

    // Through the start-up hook: 0 means the device opened.
    InstallEngineParts();
    ASSERT_NE(g_EngineHooks.pfnInitDirectSound, nullptr);
    EXPECT_EQ(g_EngineHooks.pfnInitDirectSound(), 0);
    EXPECT_NE(g_lpDirectSound, nullptr);
    ReleaseDirectSound();
    EXPECT_EQ(g_lpDirectSound, nullptr);
}

TEST_F(SoundThreadTest, SoundSystemRunsAThreadThatEndsWithTheEngine)
{
    PlatDsSetSinkOverride("manual");
    ASSERT_EQ(InitDirectSound(), 1);
    InitSoundRequests();  // the real request handlers
    ASSERT_EQ(StartSoundSystem(), 0);
    ASSERT_NE(FindNodeByPath(g_pSoundRoot, "ROOT", KX_FIND_LEAF), nullptr);
    // "ROOT" was loaded and started by the thread.
    EXPECT_EQ(WaitSoundRequest(2), 0);
    g_bEngineStop = 1;
    JoinSoundThread();
    EXPECT_EQ(g_bSoundThreadState, SNDTHREAD_ENDED);
    EXPECT_TRUE(boxes.boxes.empty());
    ReleaseDirectSound();
}

TEST_F(SoundThreadTest, SoundModeOffStartsTheThreadWithoutRoot)
{
    g_nSoundMode = SNDMODE_OFF;
    ASSERT_EQ(StartSoundSystem(), 0);
    EXPECT_EQ(FindNodeByPath(g_pSoundRoot, "ROOT", KX_FIND_LEAF), nullptr);
    EXPECT_EQ(g_nSndReqWrite.load(), 0);
    g_bEngineStop = 1;
    JoinSoundThread();
    EXPECT_EQ(g_bSoundThreadState, SNDTHREAD_ENDED);
    g_nSoundMode = SNDMODE_ON;
}

}  // namespace
