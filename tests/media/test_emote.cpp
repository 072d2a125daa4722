// E-mote players against a fake component: the calls each operation makes, in order, the player
// table's limits, the busy order, pending time, the camera matrices and the text conversion; and the
// E-mote command run from a built game folder on a layer whose PSB image made a player.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "core/engine_globals.h"
#include "core/kx_texts.h"
#include "image/layer.h"
#include "media/emote.h"
#include "media/emote_component.h"
#include "platform/plat_modules.h"
#include "tests/image/cmd_layer_fixture.h"
#include "tests/media/emote_fake.h"
#include "tests/support/test_support.h"

namespace {

// ---- The fake component ----

std::vector<std::string>& g_calls = g_EmoteFake.calls;
std::string Quoted(const char* psz) { return std::string("'") + (psz ? psz : "(null)") + "'"; }

// The device's SetTransform, recorded.
struct SET_TRANSFORM {
    int nState;
    EMOTE_MATRIX m;
};
std::vector<SET_TRANSFORM> g_transforms;
void RecordTransform(int nState, const EMOTE_MATRIX* p)
{
    g_transforms.push_back({nState, *p});
    g_calls.push_back("T" + std::to_string(nState));
}

int g_device = 0;   // its address stands for the Direct3D device

// Binds the fake component and, unless told otherwise, makes the device object.
void StartComponent(bool bDevice = true)
{
    ASSERT_EQ(PlatRegisterFakeModule("emotedriver.dll", nullptr, 0), 0);
    ASSERT_EQ(RegisterEmoteFake(true), 0);
    ASSERT_EQ(LoadEmoteDLL(), 0);
    g_pfnEmoteSetTransform = RecordTransform;
    if (bDevice) {
        void* pDevice = &g_device;
        ASSERT_EQ(InitEmoteDevice(&pDevice), 0);
    }
    g_calls.clear();
}

void StopComponent()
{
    ReleaseEmotePlayers();
    void* pNone = nullptr;
    InitEmoteDevice(&pNone);   // forgets the device
    g_pfnEmoteSetTransform = nullptr;
    UnloadEmoteDLL();
    PlatResetModules();
    ResetEmoteFake();
    g_transforms.clear();
}

std::string Device() { return std::to_string(reinterpret_cast<uintptr_t>(&g_device)); }

struct EmoteTest : ::testing::Test {
    MSGBOX_RECORDER boxes;
    std::vector<LAYER> layers = std::vector<LAYER>(KX_EMOTE_PLAYERS + 2);
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(StartComponent()); }
    void TearDown() override { StopComponent(); }
    int Create(LAYER* p)
    {
        static const uint8_t abPsb[4] = {'P', 'S', 'B', 0};
        p->bKind = LAYERKIND_EMOTE;
        return CreateEmotePlayer(p, abPsb, sizeof abPsb);
    }
};

using Calls = std::vector<std::string>;

TEST(EmoteDevice, MadeOnceOfTheDeviceAndNeverWithoutOne)
{
    ASSERT_NO_FATAL_FAILURE(StartComponent(false));
    void* pNone = nullptr;
    EXPECT_EQ(InitEmoteDevice(&pNone), 1);
    EXPECT_EQ(InitEmoteDevice(nullptr), 1);
    EXPECT_EQ(g_calls, Calls{});
    void* pDevice = &g_device;
    EXPECT_EQ(InitEmoteDevice(&pDevice), 0);
    EXPECT_EQ(g_calls, (Calls{"2 " + Device() + " 0 0", "110 17408 0"}));
    // A restart releases everything, the object too, and makes it again.
    g_calls.clear();
    EXPECT_EQ(InitEmoteDevice(&pDevice), 0);
    EXPECT_EQ(g_calls, (Calls{"102 17408", "2 " + Device() + " 0 0", "110 17408 0"}));
    // Without a device object no player can be made.
    g_calls.clear();
    ReleaseEmotePlayers();
    EXPECT_EQ(g_calls, Calls{"102 17408"});
    LAYER layer{};
    MSGBOX_RECORDER boxes;
    g_calls.clear();
    EXPECT_EQ(CreateEmotePlayer(&layer, reinterpret_cast<const uint8_t*>("x"), 1), 1);
    EXPECT_EQ(g_calls, Calls{});
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].strText, GetEngineText(TXT_EMOTE_CREATE_FAILED));
    StopComponent();
}

TEST_F(EmoteTest, CreationRegistersAndSetsTheThreeValues)
{
    ASSERT_EQ(Create(&layers[0]), 0);
    EXPECT_EQ(g_calls, (Calls{"119 17408 4", "214 256 0.5", "218 256 0.5", "216 256 0.5"}));
    EXPECT_EQ(layers[0].hEmotePlayer, 0x100u);
    EXPECT_EQ(g_apEmoteLayer[0], &layers[0]);
    EXPECT_TRUE(boxes.boxes.empty());
    g_calls.clear();
    StartEmotePlayer(&layers[0]);
    EXPECT_EQ(g_calls, (Calls{"222 256 0 0 0", "205 256"}));
}

TEST_F(EmoteTest, CreationFailuresShowTheirBoxes)
{
    // A second player for the same layer.
    ASSERT_EQ(Create(&layers[0]), 0);
    g_calls.clear();
    EXPECT_EQ(Create(&layers[0]), 1);
    EXPECT_EQ(g_calls, Calls{});
    EXPECT_EQ(layers[0].hEmotePlayer, 0x100u);
    // The component makes none.
    g_EmoteFake.hNextPlayer = 0;
    EXPECT_EQ(Create(&layers[1]), 1);
    EXPECT_EQ(g_calls, Calls{"119 17408 4"});
    EXPECT_EQ(g_apEmoteLayer[1], nullptr);
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(boxes.boxes[0].strText, GetEngineText(TXT_EMOTE_ALREADY_LOADED));
    EXPECT_EQ(boxes.boxes[1].strText, GetEngineText(TXT_EMOTE_CREATE_FAILED));
    EXPECT_EQ(boxes.boxes[1].strCaption, "");
}

TEST_F(EmoteTest, AFullTableReleasesTheNewPlayerAtOnce)
{
    for (int i = 0; i < KX_EMOTE_PLAYERS; ++i) ASSERT_EQ(Create(&layers[i]), 0) << i;
    g_calls.clear();
    LAYER& extra = layers[KX_EMOTE_PLAYERS];
    EXPECT_EQ(Create(&extra), 1);
    const std::string h = std::to_string(0x100 + KX_EMOTE_PLAYERS);
    EXPECT_EQ(g_calls, (Calls{"119 17408 4", "202 " + h}));
    EXPECT_EQ(extra.hEmotePlayer, 0u);
    EXPECT_EQ(extra.bKind, LAYERKIND_CPU);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].strText, GetEngineText(TXT_EMOTE_TOO_MANY));
    // A freed entry takes the next player.
    ReleaseEmotePlayer(&layers[5]);
    EXPECT_EQ(g_apEmoteLayer[5], nullptr);
    EXPECT_EQ(layers[5].bKind, LAYERKIND_CPU);
    EXPECT_EQ(Create(&extra), 0);
    EXPECT_EQ(g_apEmoteLayer[5], &extra);
}

TEST_F(EmoteTest, ReleaseAllReleasesEveryPlayerThenTheDeviceObject)
{
    ASSERT_EQ(Create(&layers[0]), 0);
    ASSERT_EQ(Create(&layers[1]), 0);
    RetargetEmoteLayer(&layers[1], &layers[2]);
    layers[2].hEmotePlayer = layers[1].hEmotePlayer;
    layers[1].hEmotePlayer = 0;
    g_calls.clear();
    ReleaseEmotePlayers();
    EXPECT_EQ(g_calls, (Calls{"202 256", "202 257", "102 17408"}));
    for (LAYER* p : g_apEmoteLayer) EXPECT_EQ(p, nullptr);
    EXPECT_EQ(g_pEmoteDevice, 0u);
    EXPECT_EQ(layers[2].hEmotePlayer, 0u);
    // Releasing a layer without a player calls nothing.
    g_calls.clear();
    ReleaseEmotePlayer(&layers[0]);
    ReleaseEmotePlayer(nullptr);
    EXPECT_EQ(g_calls, Calls{});
}

TEST_F(EmoteTest, BusyAsksEachPlayer255Then246AndStopsAtTheFirstBusy)
{
    EXPECT_EQ(IsAnyEmotePlayerBusy(), 0);
    ASSERT_EQ(Create(&layers[0]), 0);
    ASSERT_EQ(Create(&layers[1]), 0);
    ASSERT_EQ(Create(&layers[2]), 0);
    g_calls.clear();
    EXPECT_EQ(IsAnyEmotePlayerBusy(), 0);
    EXPECT_EQ(g_calls, (Calls{"255 256", "246 256 ''", "255 257", "246 257 ''", "255 258", "246 258 ''"}));
    g_calls.clear();
    g_EmoteFake.hBusy246 = 0x101;
    EXPECT_EQ(IsAnyEmotePlayerBusy(), 1);
    EXPECT_EQ(g_calls, (Calls{"255 256", "246 256 ''", "255 257", "246 257 ''"}));
    g_calls.clear();
    g_EmoteFake.hBusy255 = 0x100;
    EXPECT_EQ(IsAnyEmotePlayerBusy(), 1);
    EXPECT_EQ(g_calls, Calls{"255 256"});
}

TEST_F(EmoteTest, PendingTimeIsConsumedExactlyOnce)
{
    ASSERT_EQ(Create(&layers[0]), 0);
    ASSERT_EQ(Create(&layers[1]), 0);
    g_calls.clear();
    AdvanceEmotePlayers(50);   // nothing pending yet
    EXPECT_EQ(g_calls, Calls{});
    EXPECT_EQ(g_afEmotePendingMs[0], 50.0f);
    // The drawing takes layer 0's time; the frame step advances only layer 1 by its own.
    DrawEmoteLayer(&layers[0], 640, 480);
    g_calls.clear();
    AdvanceEmotePlayers(20000);
    EXPECT_EQ(g_calls, Calls{"254 257 3"});
    EXPECT_EQ(g_afEmotePendingMs[0], 16.0f);
    EXPECT_EQ(g_afEmotePendingMs[1], 16.0f);
    // Without the component the frame step leaves the players alone.
    g_calls.clear();
    g_bEmoteAvailable = 0;
    AdvanceEmotePlayers(10);
    g_bEmoteAvailable = 1;
    EXPECT_EQ(g_calls, Calls{});
    EXPECT_EQ(g_afEmotePendingMs[1], 16.0f);
}

TEST_F(EmoteTest, DrawingALayerSetsPlayerAndCameraThenAdvancesAndDraws)
{
    LAYER& l = layers[0];
    ASSERT_EQ(Create(&l), 0);
    l.allGpuValue[0] = 400;   // halves of a pixel times 100
    l.allGpuValue[1] = -200;
    l.llScaleX = 15000;
    l.afGpuAngle[2] = 9000.0f;   // 90 degrees
    l.llX100 = 10000;
    l.llY100 = 5000;
    g_afEmotePendingMs[0] = 100.0f;
    g_calls.clear();
    DrawEmoteLayer(&l, 640, 480);
    ASSERT_EQ(g_calls.size(), 8u);
    EXPECT_EQ(g_calls[0], "220 256 -2 -1 0 0");
    EXPECT_EQ(g_calls[1], "222 256 1.5 0 0");
    EXPECT_EQ(g_calls[2].substr(0, 14), "224 256 -1.570");
    EXPECT_EQ((Calls{g_calls.begin() + 3, g_calls.end()}), (Calls{"T256", "T2", "T3", "254 256 6", "256 256"}));
    // The camera of x = 100 - 2 - 320, y = 50 + 1 - 240.
    EMOTE_MATRIX w, v, p;
    ComputeEmoteTransforms(640, 480, -222.0f, -189.0f, 0.0f, &w, &v, &p);
    EXPECT_EQ(0, std::memcmp(&g_transforms[1].m, &v, sizeof v));
    // Without a player nothing is called.
    g_calls.clear();
    DrawEmoteLayer(&layers[1], 640, 480);
    EXPECT_EQ(g_calls, (Calls{"T256", "T2", "T3"}));
}

void ExpectMatrix(const EMOTE_MATRIX& m, const float (&e)[4][4], const char* pszName)
{
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_NEAR(m.m[i][j], e[i][j], 1e-5f) << pszName << " [" << i << "][" << j << "]";
}

TEST(EmoteCamera, MatricesForKnownInputs)
{
    EMOTE_MATRIX w, v, p;
    ComputeEmoteTransforms(800, 600, 10.0f, 20.0f, 90.0f, &w, &v, &p);
    // A turn by -90 degrees: x goes to -y.
    const float world[4][4] = {{0, -1, 0, 0}, {1, 0, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
    ExpectMatrix(w, world, "world");
    // Eye (-10.5, -19.5, 300) looking down -Z with up -Y, mirrored in x.
    const float view[4][4] = {{-1, 0, 0, 0}, {0, -1, 0, 0}, {0, 0, -1, 0}, {10.5f, -19.5f, 300, 1}};
    ExpectMatrix(v, view, "view");
    const float proj[4][4] = {{0.75f, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 1}, {0, 0, 0, 0}};
    ExpectMatrix(p, proj, "projection");
    // A height of 0 is the unit canvas.
    ComputeEmoteTransforms(800, 0, 0.0f, 0.0f, 0.0f, &w, &v, &p);
    const float unitView[4][4] = {{-1, 0, 0, 0}, {0, -1, 0, 0}, {0, 0, -1, 0}, {0.5f, 0.5f, 0.5f, 1}};
    ExpectMatrix(v, unitView, "unit view");
    EXPECT_EQ(p.m[0][0], 1.0f);
}

TEST(EmoteCamera, NothingIsSetWithoutADevice)
{
    g_transforms.clear();
    g_pfnEmoteSetTransform = RecordTransform;
    SetEmoteTransforms(1, 1, 0, 0, 0);
    g_pfnEmoteSetTransform = nullptr;
    EXPECT_TRUE(g_transforms.empty());
}

TEST(EmoteText, Cp932BecomesUtf8WithAFixedReplacement)
{
    const struct {
        const char* pszIn;
        const char* pszOut;
    } aCases[] = {
        {"abc", "abc"},
        {"\xB1", "\xEF\xBD\xB1"},                       // half-width katakana A
        {"\x8A\xBF\x8E\x9A", "\xE6\xBC\xA2\xE5\xAD\x97"},  // two kanji
        {"\x87\x40", "\xE2\x91\xA0"},                   // NEC row 13: circled one
        {"a\xA0z", "a\xE3\x83\xBBz"},                   // no character at 0xA0
        {"a\x81", "a\xE3\x83\xBB"},                     // a lead byte at the end
        {"", ""},
    };
    for (const auto& c : aCases) {
        char* p = ConvertSJISToUTF8(c.pszIn, std::strlen(c.pszIn));
        ASSERT_NE(p, nullptr);
        EXPECT_STREQ(p, c.pszOut) << "input " << Quoted(c.pszIn);
        std::free(p);
    }
}

// ---- The command ----

using namespace layer_cmd_test;

constexpr uint16_t kVarNames = 1010, kVarValues = 1011;

BUILDER_ARG Var(int nId, uint16_t nVar) { return ExprArg(static_cast<uint8_t>(nId), MakeExprVar(nVar), EVALTYPE_INT); }

class EmoteCmdTest : public LayerCmdTest {
protected:
    void SetUp() override
    {
        LayerCmdTest::SetUp();
        ASSERT_NO_FATAL_FAILURE(StartComponent());
        dir.Write("m.psb", std::vector<uint8_t>{'P', 'S', 'B', '!'});
    }
    void TearDown() override
    {
        StopComponent();
        LayerCmdTest::TearDown();
    }
    // A layer "e" with a player, then the E-mote commands; the calls they made.
    Calls RunEmote(const std::vector<std::vector<BUILDER_ARG>>& commands, int nPairs = 300)
    {
        Layer({T(LAYER_ARG_PATH, "e"), I(LAYER_ARG_ORDER, 1), T(LAYER_ARG_IMAGE, "m.psb")});
        for (const auto& args : commands) EXPECT_GE(EmitCommand(&b, KXCMD_EMOTE, args), 0);
        EXPECT_GE(EmitCommand(&b, KXCMD_WAIT, {I(0, 1000000)}), 0);
        EXPECT_EQ(FinishScriptBody(&b), 0) << b.strError;
        GAME_DATA game = DefaultGameData();
        game.defs.push_back(MakeIntVarDef(kVarInt, 99));
        game.defs.push_back(MakeTextVarDef(kVarText, "x"));
        game.defs.push_back(MakeTextVarDef(kVarNames, "n", {nPairs}));
        game.defs.push_back(MakeFloatVarDef(kVarValues, 0.25, {nPairs}));
        game.scripts = {ScriptFromBuilder("main.txt", b)};
        EXPECT_EQ(WriteGameFolder(dir.strNative, BuildGameFiles(game)), 0);
        EXPECT_EQ(StartScriptSystem(), 0);
        g_calls.clear();
        Pass();
        EXPECT_TRUE(errors.reports.empty()) << (errors.reports.empty() ? "" : errors.reports[0].strText);
        // The PSB load: creation, then scale 0 and the start call.
        Calls expectedLoad{"119 17408 4", "214 256 0.5", "218 256 0.5", "216 256 0.5", "222 256 0 0 0", "205 256"};
        EXPECT_GE(g_calls.size(), expectedLoad.size());
        if (g_calls.size() < expectedLoad.size()) return g_calls;
        EXPECT_EQ(Calls(g_calls.begin(), g_calls.begin() + expectedLoad.size()), expectedLoad);
        return Calls(g_calls.begin() + expectedLoad.size(), g_calls.end());
    }
};

TEST_F(EmoteCmdTest, OrdinalSequences)
{
    const struct {
        const char* pszCase;
        std::vector<BUILDER_ARG> args;
        Calls expected;
    } aCases[] = {
        {"switch 0", {T(0, "e"), I(5, 0)}, {"236 256"}},
        {"switch 1 with defaults", {T(0, "e"), I(5, 1)}, {"235 256 0 1 1 1 1"}},
        {"switch 1 with values", {T(0, "e"), I(5, 2), I(6, 3), I(8, -4), I(10, 7)}, {"235 256 3 1 -4 1 7"}},
        {"text mode 1", {T(0, "e"), T(12, "\x82\xA0!"), I(13, 1)}, {"245 256 '\xE3\x81\x82!' 1"}},
        {"text other mode", {T(0, "e"), T(12, "hi"), I(13, 2)}, {"247 256 'hi'"}},
        {"text without mode", {T(0, "e"), T(12, "hi")}, {}},
        {"253", {T(0, "e"), I(11, 1)}, {"253 256"}},
        {"253 off", {T(0, "e"), I(11, 2)}, {}},
        {"values", {T(0, "e"), I(2, 5000), I(3, 2500), I(4, 10000)}, {"214 256 0.5", "218 256 0.25", "216 256 1"}},
        {"fixed order",
         {I(5, 0), I(4, 1), I(3, 2), I(2, 3), I(11, 1), I(13, 7), T(12, "t"), T(0, "e")},
         {"247 256 't'", "253 256", "214 256 0.0003", "218 256 0.0002", "216 256 0.0001", "236 256"}},
        {"pairs with count 0", {T(0, "e"), Var(15, kVarNames), Var(16, kVarValues), I(17, 0), I(14, 100)}, {}},
        {"pairs with count 2",
         {T(0, "e"), Var(15, kVarNames), Var(16, kVarValues), I(17, 2), I(14, 100)},
         {"233 256 'n' 0.25 6 0", "233 256 'n' 0.25 6 0"}},
        {"missing layer", {T(0, "x"), I(5, 0)}, {}},
        {"numbered missing layer", {T(0, "e"), I(1, 3), I(5, 0)}, {}},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszCase);
        EXPECT_EQ(RunEmote({c.args}), c.expected);
        TearDown();
        errors.reports.clear();
        boxes.boxes.clear();
        SetUp();
    }
}

TEST_F(EmoteCmdTest, PairsAreCutAt255)
{
    const Calls calls = RunEmote({{T(0, "e"), Var(15, kVarNames), Var(16, kVarValues), I(17, 1000)}});
    ASSERT_EQ(calls.size(), 255u);
    EXPECT_EQ(calls[0], "233 256 'n' 0.25 0 0");
}

TEST_F(EmoteCmdTest, PairsStopAtTheShorterVariable)
{
    const Calls calls = RunEmote({{T(0, "e"), Var(15, kVarNames), Var(16, kVarValues), I(17, 100)}}, 3);
    EXPECT_EQ(calls.size(), 3u);
}

}  // namespace
