// The sound commands run from built game folders, with recording request handlers in place of the
// channel code. Waits are driven by draining the ring in the wait itself, so what a command waited
// for has been executed when it goes on and what it did not wait for is still pending.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/file_location.h"
#include "core/frame_loop.h"
#include "core/object_tree.h"
#include "core/pack_archive.h"
#include "platform/plat_audio.h"
#include "platform/plat_thread.h"
#include "core/game_config.h"
#include "script/script_tables.h"
#include "core/script_thread.h"
#include "script/variables.h"
#include "sound/cmd_sound.h"
#include "sound/sound_thread.h"
#include "tests/support/game_folder.h"
#include "tests/support/engine_test.h"
#include "tests/support/test_support.h"
#include "tools/lib/command_table.h"
#include "tools/lib/expr_assembler.h"
#include "tools/lib/pack_writer.h"
#include "tools/lib/script_builder.h"

namespace {

constexpr uint16_t kVarInt = 1000, kVarText = 1001, kVarInts = 1002;

BUILDER_ARG I(int nId, int64_t v) { return ExprArg(static_cast<uint8_t>(nId), MakeExprInt(v), EVALTYPE_INT); }
BUILDER_ARG T(int nId, const std::string& s) { return ExprArg(static_cast<uint8_t>(nId), MakeExprText(s), EVALTYPE_TEXT); }
BUILDER_ARG OutInt() { return ExprArg(SOUND_GET_ARG_OUT, MakeExprVar(kVarInt), EVALTYPE_INT); }
BUILDER_ARG OutText() { return ExprArg(SOUND_GET_ARG_OUT, MakeExprVar(kVarText), EVALTYPE_TEXT); }

// One executed request as the recording handlers saw it.
struct EXECUTED {
    uint8_t bCode;
    int32_t nValue;
    std::string strText;
    std::string strNode;
    int32_t nWriteIndex;   // the ring's write index when it ran: what had been posted by then
};
std::vector<EXECUTED>* g_pExecuted = nullptr;

// Records the request and gives the channel the state change that the real handler would.
int RecordingOp(int32_t nEntry)
{
    TREE_NODE* pNode = g_apSndReqNode[nEntry];
    SOUND_CHANNEL* c = static_cast<SOUND_CHANNEL*>(pNode->pPayload);
    const uint8_t bCode = g_abSndReqCode[nEntry];
    const int32_t v = g_anSndReqValue[nEntry];
    g_pExecuted->push_back({bCode, v, g_apszSndReqText[nEntry], pNode->pszName ? pNode->pszName : "",
                            g_nSndReqWrite.load()});
    switch (bCode) {
    case SNDREQ_LOAD:
        std::strncpy(c->szName, g_apszSndReqText[nEntry], sizeof c->szName - 1);
        c->bState = SNDSTATE_LOADED;
        break;
    case SNDREQ_UNLOAD:
        c->szName[0] = 0;
        c->bState = SNDSTATE_EMPTY;
        break;
    case SNDREQ_PLAY: c->bState = SNDSTATE_PLAYING; break;
    case SNDREQ_PAUSE: c->bPaused = static_cast<uint8_t>(v); break;
    case SNDREQ_VOLUME: c->nVolume = v; break;
    default: break;
    }
    return 1;
}

// The sound thread's part inside a wait: every pending request.
void DrainInWait(void)
{
    PlatLockEnter(g_csEngine);
    DrainSoundRequests();
    PlatLockLeave(g_csEngine);
}

// A posted request as the ring holds it.
struct POSTED {
    uint8_t bCode;
    int32_t nValue;
    int32_t nDone;
    bool operator==(const POSTED& o) const { return bCode == o.bCode && nValue == o.nValue && nDone == o.nDone; }
};
void PrintTo(const POSTED& p, std::ostream* os) { *os << "{" << int(p.bCode) << "," << p.nValue << "," << p.nDone << "}"; }

class SoundCmdTest : public EngineTest {
protected:
    ERROR_RECORDER errors;
    MSGBOX_RECORDER boxes;
    TEMP_DIR dir;
    std::string strOldCwd;
    SCRIPT_BUILDER b;
    std::vector<EXECUTED> executed;
    std::vector<PACK_WRITER_ENTRY> packEntries;

    void SetUp() override
    {
        ResetSoundRequests();
        for (int i = 1; i < SNDREQ_CODE_COUNT; ++i) g_apfnSoundOps[i] = RecordingOp;
        g_pExecuted = &executed;
        SetSoundWaitIdle(DrainInWait);
        ASSERT_NO_FATAL_FAILURE(OpenObjectTreeGame(dir, &strOldCwd));
        InitScriptBuilder(&b, 0);
        ASSERT_EQ(AddLabel(&b, "SYSTEM_START"), 0);
    }
    void TearDown() override
    {
        SetSoundWaitIdle(nullptr);
        ResetSoundRequests();
        ReclaimDeletedSoundNodes();
        CloseObjectTreeGame(strOldCwd);
        g_pExecuted = nullptr;
        PlatDsClearFakeFailures();
        PlatDsSetSinkOverride(nullptr);
        // A table of cases runs TearDown and SetUp again within one test: each case starts from the
        // engine's start state as the test does.
        ResetEngineState();
    }

    void Sound(std::vector<BUILDER_ARG> args) { ASSERT_GE(EmitCommand(&b, KXCMD_SOUND, args), 0); }
    void Delete(const std::string& strPath) { ASSERT_GE(EmitCommand(&b, KXCMD_SOUND_DELETE, {T(0, strPath)}), 0); }
    void Get(std::vector<BUILDER_ARG> args) { ASSERT_GE(EmitCommand(&b, KXCMD_SOUND_GET, args), 0); }

    // The park at the end, the folder written, the scripts started and one pass run.
    void Run()
    {
        ASSERT_GE(EmitCommand(&b, KXCMD_WAIT, {I(0, 1000000)}), 0);
        ASSERT_EQ(FinishScriptBody(&b), 0) << b.strError;
        GAME_DATA game = DefaultGameData();
        game.defs.push_back(MakeIntVarDef(kVarInt, 99));
        game.defs.push_back(MakeTextVarDef(kVarText, "x"));
        game.defs.push_back(MakeIntVarDef(kVarInts, 99, {16}));
        game.scripts = {ScriptFromBuilder("main.txt", b)};
        ASSERT_EQ(WriteGameFolder(dir.strNative, BuildGameFiles(game)), 0);
        if (!packEntries.empty()) {
            ASSERT_EQ(WritePackFile(dir.strNative + "/data.kpf", packEntries), 0);
            ASSERT_EQ(BuildPackIndex(), 0);
        }
        ASSERT_EQ(StartScriptSystem(), 0);
        ++g_llPassCount;
        RunScriptThreads(g_pThreadRoot);
    }

    // A leaf or group below "S0" with a channel, as an earlier sound command would have made it.
    static TREE_NODE* MakeNode(const char* pszPath, uint8_t bGroup = 0)
    {
        TREE_NODE* p = CreateNode(g_pSoundRoot, pszPath, bGroup, 1);
        EXPECT_NE(p, nullptr);
        if (p) {
            EXPECT_NE(AttachSoundChannel(p), nullptr);
        }
        return p;
    }
    static TREE_NODE* Node(const char* pszPath, bool bGroup = false)
    {
        return FindNodeByPath(g_pSoundRoot, pszPath, bGroup ? KX_FIND_GROUP : KX_FIND_LEAF);
    }
    static SOUND_CHANNEL* Ch(const TREE_NODE* p) { return static_cast<SOUND_CHANNEL*>(p->pPayload); }

    // Every entry posted since the ring was reset.
    static std::vector<POSTED> Posted()
    {
        std::vector<POSTED> v;
        for (int32_t i = 0; i < g_nSndReqWrite.load(); ++i)
            v.push_back({g_abSndReqCode[i], g_anSndReqValue[i], g_anSndReqDone[i].load()});
        return v;
    }
    std::vector<uint8_t> ExecutedCodes() const
    {
        std::vector<uint8_t> v;
        for (const EXECUTED& e : executed) v.push_back(e.bCode);
        return v;
    }
};

// ---- the sound command --------------------------------------------------------------------------

TEST_F(SoundCmdTest, SettingsArePostedInTheFixedOrderAndOnlyPlayAndPauseAreWaitedFor)
{
    struct CASE {
        const char* pszName;
        std::vector<BUILDER_ARG> args;   // after the path
        std::vector<POSTED> expected;
    };
    const std::vector<CASE> cases = {
        {"every setting, play and pause: given in reverse, posted in the fixed order",
         {I(SOUND_ARG_PAUSE, 1), I(SOUND_ARG_NOP, 13), I(SOUND_ARG_FREQUENCY, 300), I(SOUND_ARG_PAN, 100),
          I(SOUND_ARG_VOLUME, 200), I(SOUND_ARG_PLAYS, 3), I(SOUND_ARG_END, 5000), I(SOUND_ARG_LOOP_START, 700),
          I(SOUND_ARG_START, 600), I(SOUND_ARG_FADE, 500), I(SOUND_ARG_PLAY, 1)},
         {{SNDREQ_START_POS, 600, 1}, {SNDREQ_LOOP_START, 700, 1}, {SNDREQ_END_POS, 5000, 1},
          {SNDREQ_LOOP_COUNT, 3, 1}, {SNDREQ_PAN, 100, 1}, {SNDREQ_FREQUENCY, 300, 1}, {SNDREQ_NOP, 13, 1},
          {SNDREQ_FADE_TARGET, 200, 1}, {SNDREQ_PLAY, 500, 1}, {SNDREQ_PAUSE, 1, 1}}},
        {"volume without a play switch sets the volume and is not waited for",
         {I(SOUND_ARG_VOLUME, 128)}, {{SNDREQ_VOLUME, 128, 0}}},
        {"a stop fades out without a wait; the fade defaults to 0",
         {I(SOUND_ARG_VOLUME, 64), I(SOUND_ARG_PLAY, 0)}, {{SNDREQ_FADE_TARGET, 64, 0}, {SNDREQ_FADEOUT, 0, 0}}},
        {"a play switch other than 1 stops; a pause value other than 1 resumes",
         {I(SOUND_ARG_PLAY, 2), I(SOUND_ARG_FADE, 250), I(SOUND_ARG_PAUSE, 7)},
         {{SNDREQ_FADEOUT, 250, 1}, {SNDREQ_PAUSE, 0, 1}}},
        {"only the low 32 bits of a value are posted",
         {I(SOUND_ARG_PAN, 0x100000000LL + 5)}, {{SNDREQ_PAN, 5, 0}}},
        {"enabled posts the current volume", {I(SOUND_ARG_ENABLED, 0)}, {{SNDREQ_VOLUME, 256, 0}}},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        TearDown();
        executed.clear();
        SetUp();
        TREE_NODE* pNode = MakeNode("S0/a");
        std::vector<BUILDER_ARG> args = {T(SOUND_ARG_PATH, "a")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Sound(args);
        Run();
        EXPECT_EQ(Posted(), c.expected);
        EXPECT_TRUE(errors.reports.empty());
        if (std::string(c.pszName).rfind("every", 0) == 0) {
            EXPECT_EQ(Ch(pNode)->nPlaysRequested, 3);
        }
        if (std::string(c.pszName).rfind("enabled", 0) == 0) {
            EXPECT_EQ(Ch(pNode)->bEnabled, 0);
        }
    }
}

TEST_F(SoundCmdTest, WithSoundOffNothingIsPostedOrCreated)
{
    g_nSoundMode = SNDMODE_OFF;
    TREE_NODE* pNode = MakeNode("S0/a");
    Sound({T(0, "a"), I(SOUND_ARG_VOLUME, 10), I(SOUND_ARG_PLAY, 1)});
    Sound({T(0, "g/")});
    Run();
    EXPECT_TRUE(Posted().empty());
    EXPECT_EQ(Ch(pNode)->nVolume, 256);
    EXPECT_EQ(Node("S0/g", true), nullptr);
}

TEST_F(SoundCmdTest, NewObjects)
{
    dir.Write("se/hit.wav", std::vector<uint8_t>(64, 0));
    Sound({T(0, "b"), I(SOUND_ARG_VOLUME, 100)});        // a new leaf without a file: nothing at all
    Sound({T(0, "g/"), I(SOUND_ARG_VOLUME, 90)});        // a new group without a file: made
    Sound({T(0, "g/c"), T(SOUND_ARG_FILE, "SE/Hit")});   // a new leaf with a file: made and loaded
    Run();
    EXPECT_TRUE(errors.reports.empty());
    EXPECT_EQ(Node("S0/b"), nullptr);
    TREE_NODE* g = Node("S0/g", true);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->llOrder, 1);
    EXPECT_EQ(g->bGroup, 1);
    ASSERT_NE(g->pPayload, nullptr);
    TREE_NODE* c = Node("S0/g/c");
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(Ch(c)->bSourceKind, SNDSRC_WAV);
    EXPECT_EQ(Ch(c)->bState.load(), SNDSTATE_LOADED);
    ASSERT_EQ(executed.size(), 2u);   // the group's VOLUME ran inside the wait for the LOAD
    EXPECT_EQ(executed[0].bCode, SNDREQ_VOLUME);
    EXPECT_EQ(executed[0].strNode, "g");
    EXPECT_EQ(executed[1].bCode, SNDREQ_LOAD);
    EXPECT_EQ(executed[1].strText, "se\\hit.wav");
}

TEST_F(SoundCmdTest, AFileForAGroupPathIsAnError)
{
    // For a new group and for one that is already there (made by an earlier command or left from
    // before): nothing is loaded, the group stays empty.
    for (const bool bExisting : {false, true}) {
        SCOPED_TRACE(bExisting ? "existing group" : "new group");
        TearDown();
        executed.clear();
        SetUp();
        errors.reports.clear();
        dir.Write("bgm.ogg", std::vector<uint8_t>(64, 0));
        TREE_NODE* g = bExisting ? MakeNode("S0/g", 1) : nullptr;
        Sound({T(0, "g/"), T(SOUND_ARG_FILE, "bgm.ogg"), I(SOUND_ARG_PLAYS, 2), I(SOUND_ARG_PLAY, 1)});
        Run();
        ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(errors, KX_ERR_SOUND_GROUP_FILE));
        EXPECT_EQ(Node("S0/g", true), g);
        if (g) {
            EXPECT_EQ(Ch(g)->bState.load(), SNDSTATE_EMPTY);
            EXPECT_EQ(Ch(g)->bSourceKind, SNDSRC_NONE);
        }
        EXPECT_TRUE(Posted().empty());
    }
}

TEST_F(SoundCmdTest, AFileThatIsNeitherWavNorOggIsAnError)
{
    // A pack entry named like a sound whose stored type is PNG.
    PACK_WRITER_ENTRY e;
    e.strName = "bgm\\title.ogg";
    e.data = std::vector<uint8_t>(32, 1);
    e.nType = FILETYPE_PNG;
    packEntries.push_back(e);
    Sound({T(0, "a"), T(SOUND_ARG_FILE, "bgm/title"), I(SOUND_ARG_PLAY, 1)});
    Run();
    ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(errors, KX_ERR_SOUND_BAD_TYPE));
    TREE_NODE* a = Node("S0/a");
    ASSERT_NE(a, nullptr);   // made before the file was looked at
    EXPECT_EQ(Ch(a)->bSourceKind, SNDSRC_NONE);
    EXPECT_TRUE(Posted().empty());
}

TEST_F(SoundCmdTest, AFileForAPlayingObjectUnloadsItFirstThenLoads)
{
    dir.Write("voice/v2.ogg", std::vector<uint8_t>(64, 0));
    TREE_NODE* a = MakeNode("S0/a");
    std::strcpy(Ch(a)->szName, "voice\\v1.ogg");
    Ch(a)->bState = SNDSTATE_PLAYING;
    Sound({T(0, "a"), T(SOUND_ARG_FILE, "voice/v2"), I(SOUND_ARG_PLAY, 1)});
    Run();
    EXPECT_TRUE(errors.reports.empty());
    ASSERT_EQ(ExecutedCodes(), (std::vector<uint8_t>{SNDREQ_UNLOAD, SNDREQ_LOAD, SNDREQ_PLAY}));
    // The UNLOAD had run before the LOAD was posted.
    EXPECT_EQ(executed[0].nWriteIndex, 1);
    EXPECT_EQ(executed[1].strText, "voice\\v2.ogg");
    EXPECT_EQ(Ch(a)->bSourceKind, SNDSRC_OGG);
    EXPECT_EQ(Ch(a)->bState.load(), SNDSTATE_PLAYING);
    EXPECT_STREQ(Ch(a)->szName, "voice\\v2.ogg");
}

TEST_F(SoundCmdTest, AFileThatIsNotFoundLeavesThePlayingObjectUnloaded)
{
    TREE_NODE* a = MakeNode("S0/a");
    std::strcpy(Ch(a)->szName, "voice\\v1.ogg");
    Ch(a)->bState = SNDSTATE_PLAYING;
    Sound({T(0, "a"), T(SOUND_ARG_FILE, "voice/none"), I(SOUND_ARG_PLAY, 1)});
    Run();
    EXPECT_TRUE(errors.reports.empty());
    EXPECT_EQ(ExecutedCodes(), (std::vector<uint8_t>{SNDREQ_UNLOAD}));
    EXPECT_EQ(Posted().size(), 1u);   // nothing after the file
    EXPECT_EQ(Ch(a)->bState.load(), SNDSTATE_EMPTY);
}

TEST_F(SoundCmdTest, WaitsEndWithTheSoundThread)
{
    // No thread and nobody draining: the PLAY is never executed, and the command ends instead of
    // waiting for ever; the PAUSE after it is not posted.
    SetSoundWaitIdle(nullptr);
    g_bSoundThreadState = SNDTHREAD_ENDED;
    TREE_NODE* a = MakeNode("S0/a");
    Ch(a)->bState = SNDSTATE_LOADED;
    Sound({T(0, "a"), I(SOUND_ARG_PLAY, 1), I(SOUND_ARG_PAUSE, 1)});
    Run();
    EXPECT_EQ(Posted(), (std::vector<POSTED>{{SNDREQ_PLAY, 0, 0}}));
    EXPECT_TRUE(executed.empty());
}

// ---- the delete command -------------------------------------------------------------------------

TEST_F(SoundCmdTest, DeletingAGroupDeletesDepthFirstThenTheGroup)
{
    // Every channel holds something, so each deletion posts an UNLOAD and waits for it.
    for (const char* psz : {"S0/g/", "S0/g/x", "S0/g/h/", "S0/g/h/y", "S0/g/z", "S0/p"}) {
        const size_t n = std::strlen(psz);
        const std::string strPath(psz, psz[n - 1] == '/' ? n - 1 : n);
        TREE_NODE* pNode = MakeNode(strPath.c_str(), psz[n - 1] == '/' ? 1 : 0);
        ASSERT_NE(pNode, nullptr);
        Ch(pNode)->bState = SNDSTATE_LOADED;
    }
    Delete("g/");
    Delete("p");
    Delete("missing");
    Delete("nogroup/");
    Run();
    EXPECT_TRUE(errors.reports.empty());
    std::vector<std::string> order;
    for (const EXECUTED& e : executed) {
        EXPECT_EQ(e.bCode, SNDREQ_UNLOAD);
        order.push_back(e.strNode);
    }
    EXPECT_EQ(order, (std::vector<std::string>{"x", "y", "h", "z", "g", "p"}));
    EXPECT_EQ(Node("S0/g", true), nullptr);
    EXPECT_EQ(Node("S0/p"), nullptr);
    TREE_NODE* s0 = Node("S0", true);
    ASSERT_NE(s0, nullptr);
    EXPECT_EQ(s0->nChildCount, 0);
    EXPECT_EQ(s0->pFirstChild, nullptr);
    // Every request has run: nothing keeps the deleted records any more.
    EXPECT_EQ(ReclaimDeletedSoundNodes(), 0);
}

TEST_F(SoundCmdTest, DeletingALargeGroupOfEmptyObjectsDoesNotFillTheRing)
{
    // Nobody drains: the thread is busy elsewhere. Empty channels need no UNLOAD.
    SetSoundWaitIdle(nullptr);
    g_bSoundThreadState = SNDTHREAD_ENDED;
    MakeNode("S0/g", 1);
    for (int i = 0; i < SNDREQ_RING_SIZE + 100; ++i) MakeNode(("S0/g/n" + std::to_string(i)).c_str());
    // An empty channel with a LOAD on its way still gets its UNLOAD, after the LOAD.
    TREE_NODE* q = MakeNode("S0/q");
    ASSERT_EQ(PostSoundRequest(q, SNDREQ_LOAD, 0, "a.wav"), 0);
    Delete("g/");
    Delete("q");
    Run();
    EXPECT_TRUE(errors.reports.empty());
    EXPECT_EQ(Node("S0/g", true), nullptr);
    EXPECT_EQ(Posted(), (std::vector<POSTED>{{SNDREQ_LOAD, 0, 0}, {SNDREQ_UNLOAD, 0, 0}}));
}

TEST_F(SoundCmdTest, ADeletedNodeIsKeptWhileARequestNamesIt)
{
    SetSoundWaitIdle(nullptr);
    g_bSoundThreadState = SNDTHREAD_ENDED;   // waits end at once, nothing is drained
    TREE_NODE* a = MakeNode("S0/a");
    Ch(a)->bState = SNDSTATE_PLAYING;
    Delete("a");
    Run();
    EXPECT_EQ(Node("S0/a"), nullptr);
    EXPECT_EQ(Posted(), (std::vector<POSTED>{{SNDREQ_UNLOAD, 0, 0}}));
    EXPECT_EQ(ReclaimDeletedSoundNodes(), 1);
    DrainInWait();
    EXPECT_EQ(executed.size(), 1u);
    EXPECT_EQ(ReclaimDeletedSoundNodes(), 0);
}

// ---- the get command ----------------------------------------------------------------------------

TEST_F(SoundCmdTest, GetOnAMissingObjectGivesZeroOrTheEmptyText)
{
    Get({T(0, "none"), I(5, 1), OutInt()});
    Get({T(0, "none"), I(8, 1), OutText()});
    Run();
    EXPECT_TRUE(errors.reports.empty());
    EXPECT_EQ(GetVarInt(kVarInt, 0), 0);
    EXPECT_STREQ(GetVarString(kVarText, 0), "");
}

TEST_F(SoundCmdTest, GetChoosesTheFirstOfTheFirstSevenElseTheLastPresent)
{
    TREE_NODE* a = MakeNode("S0/a");
    SOUND_CHANNEL* c = Ch(a);
    std::strcpy(c->szName, "bgm\\a.ogg");
    c->bSourceKind = SNDSRC_OGG;
    c->bState = SNDSTATE_FADEOUT;
    c->nVolume = 77;
    c->nPan = 300;
    c->llLength = 4321;
    c->llBytesPlayed = 44100 * 4 * 3 / 2;
    c->llBytesPerSec = 44100 * 4;
    c->nPlaysDone = 2;
    c->fmt.nChannels = 2;
    c->fmt.wBitsPerSample = 16;
    c->fmt.nSamplesPerSec = 44100;
    c->bDecodedForm = SNDFORM_OGG;
    struct CASE {
        std::vector<BUILDER_ARG> args;
        int64_t llExpected;
    };
    const std::vector<CASE> cases = {
        {{I(6, 1), I(5, 1), I(16, 1)}, 77},   // the first present of 1..7; nothing later counts
        {{I(3, 1)}, 1},                       // playing: states 2, 3 and 4
        {{I(1, 1)}, 1},
        {{I(16, 1), I(9, 1)}, 4321},          // 9 is read first, 16 stands
        {{I(22, 1), I(14, 1)}, SNDFORM_OGG},
        {{I(15, 1)}, 1500},
        {{I(17, 1), I(18, 1)}, 16},
        {{I(19, 1)}, 44100},
        {{I(20, 1)}, -1},                     // no buffer: no level
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        std::vector<BUILDER_ARG> args = {T(0, "a")};
        args.insert(args.end(), cases[i].args.begin(), cases[i].args.end());
        args.push_back(ExprArg(SOUND_GET_ARG_OUT, MakeExprElement(kVarInts, {int64_t(i)}), EVALTYPE_INT));
        Get(args);
    }
    Get({T(0, "a"), I(8, 1), OutText()});
    Run();
    EXPECT_TRUE(errors.reports.empty());
    for (size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(GetVarInt(kVarInts, int64_t(i)), cases[i].llExpected) << i;
    EXPECT_STREQ(GetVarString(kVarText, 0), "bgm\\a.ogg");
}

TEST_F(SoundCmdTest, APositionBeforeAnyLoadIsZeroForANumberAndAnErrorForAText)
{
    MakeNode("S0/a");
    Get({T(0, "a"), I(SOUND_GET_ARG_POSITION, 1), OutInt()});
    Get({T(0, "a"), I(SOUND_GET_ARG_POSITION, 1), OutText()});
    Run();
    EXPECT_EQ(GetVarInt(kVarInt, 0), 0);
    ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(errors, KX_ERR_VAR_WRONG_TYPE));
    EXPECT_STREQ(GetVarString(kVarText, 0), "x");
}

// ---- levels at the play cursor ------------------------------------------------------------------

class SoundLevelTest : public EngineTest {
protected:
    PLAT_DS* pDs = nullptr;
    PLAT_DS_BUFFER* pBuf = nullptr;
    SOUND_CHANNEL* c = nullptr;

    void SetUp() override
    {
        PlatDsSetSinkOverride("manual");
        ASSERT_EQ(PlatDsCreate(&pDs), PLAT_DS_OK);
        c = new SOUND_CHANNEL();
    }
    void TearDown() override
    {
        if (pBuf) PlatDsBufferRelease(pBuf);
        if (pDs) PlatDsRelease(pDs);
        delete c;
        PlatDsClearFakeFailures();
        PlatDsSetSinkOverride(nullptr);
    }
    // A stopped buffer of the format holding the bytes, its position at byte dwPos.
    void Make(uint16_t nChannels, uint16_t nBits, const std::vector<uint8_t>& bytes, uint32_t dwPos)
    {
        if (pBuf) PlatDsBufferRelease(pBuf);
        pBuf = nullptr;
        PLAT_WAVEFORMATEX f{};
        f.wFormatTag = PLAT_WAVE_FORMAT_PCM;
        f.nChannels = nChannels;
        f.wBitsPerSample = nBits;
        f.nSamplesPerSec = 8000;
        f.nBlockAlign = static_cast<uint16_t>(nChannels * nBits / 8);
        f.nAvgBytesPerSec = f.nSamplesPerSec * f.nBlockAlign;
        PLAT_DSBUFFERDESC d{DSBCAPS_CTRLVOLUME | DSBCAPS_GETCURRENTPOSITION2, static_cast<uint32_t>(bytes.size()), &f};
        ASSERT_EQ(PlatDsCreateBuffer(pDs, &d, &pBuf), PLAT_DS_OK);
        void* p1 = nullptr;
        uint32_t n1 = 0;
        ASSERT_EQ(PlatDsBufferLock(pBuf, 0, 0, &p1, &n1, nullptr, nullptr, DSBLOCK_ENTIREBUFFER), PLAT_DS_OK);
        std::memcpy(p1, bytes.data(), n1);
        ASSERT_EQ(PlatDsBufferUnlock(pBuf, p1, n1, nullptr, 0), PLAT_DS_OK);
        ASSERT_EQ(PlatDsBufferSetCurrentPosition(pBuf, dwPos), PLAT_DS_OK);
        c->pBuffer = pBuf;
        c->fmt = f;
    }
};

std::vector<uint8_t> Le16(std::initializer_list<int16_t> v)
{
    std::vector<uint8_t> out;
    for (int16_t s : v) {
        out.push_back(static_cast<uint8_t>(static_cast<uint16_t>(s) & 0xFF));
        out.push_back(static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8));
    }
    return out;
}

TEST_F(SoundLevelTest, LevelsOfTheFrameAtThePlayCursor)
{
    struct CASE {
        const char* pszName;
        uint16_t nChannels, nBits;
        std::vector<uint8_t> bytes;
        uint32_t dwPos;
        int nFirst, nSecond;
    };
    const std::vector<CASE> cases = {
        {"16-bit stereo", 2, 16, Le16({1, 2, -300, 12000, 5, 6}), 4, 300, 12000},
        {"16-bit stereo, the most negative sample", 2, 16, Le16({0, 0, -32768, 7, 0, 0}), 4, 32768, 7},
        {"16-bit mono answers its one sample twice", 1, 16, Le16({9, -1234, 3, 4}), 2, 1234, 1234},
        {"8-bit stereo", 2, 8, {128, 128, 0, 200, 128, 128}, 2, 128, 72},
        {"8-bit mono", 1, 8, {128, 100, 255, 128}, 2, 127, 127},
        {"the last frame of the buffer", 2, 16, Le16({0, 0, 0, 0, -7, 8}), 8, 7, 8},
    };
    for (const CASE& k : cases) {
        SCOPED_TRACE(k.pszName);
        ASSERT_NO_FATAL_FAILURE(Make(k.nChannels, k.nBits, k.bytes, k.dwPos));
        EXPECT_EQ(GetSoundLevelFirst(c), k.nFirst);
        EXPECT_EQ(GetSoundLevelSecond(c), k.nSecond);
    }
}

TEST_F(SoundLevelTest, NoLevelWithoutABufferAFormatOrACursor)
{
    EXPECT_EQ(GetSoundLevelFirst(nullptr), -1);
    EXPECT_EQ(GetSoundLevelFirst(c), -1);   // no buffer
    ASSERT_NO_FATAL_FAILURE(Make(2, 16, Le16({100, 200, 300, 400}), 0));
    c->fmt.wBitsPerSample = 24;
    EXPECT_EQ(GetSoundLevelSecond(c), -1);
    c->fmt.wBitsPerSample = 16;
    c->fmt.nChannels = 3;
    EXPECT_EQ(GetSoundLevelFirst(c), -1);
    c->fmt.nChannels = 2;
    EXPECT_EQ(GetSoundLevelFirst(c), 100);
    PlatDsFailOp(PLATDS_OP_GETCURRENTPOSITION, DSERR_GENERIC, 0, 1);
    EXPECT_EQ(GetSoundLevelFirst(c), -1);
    PlatDsFailOp(PLATDS_OP_LOCK, DSERR_INVALIDPARAM, 0, 1);
    EXPECT_EQ(GetSoundLevelSecond(c), -1);
    EXPECT_EQ(GetSoundLevelSecond(c), 200);
}

}  // namespace
