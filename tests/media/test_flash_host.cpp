// The Flash host against a fake control host: the window and control of an open movie, the queries,
// one movie at a time, and the product's case of a missing Flash player.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/kx_texts.h"
#include "media/flash_host.h"
#include "platform/plat_modules.h"
#include "platform/plat_window.h"
#include "tests/image/cmd_layer_fixture.h"
#include "tests/support/test_support.h"

namespace {

using namespace layer_cmd_test;
using Calls = std::vector<std::string>;

// ---- The fake control host ----

Calls g_calls;
int32_t g_nCreateResult = 0;   // below 0: the control cannot be made
std::string g_strVariable = "123";
bool g_bVariableMissing = false;

std::string Narrow(const char16_t* p)
{
    std::string s;
    for (; p && *p; ++p) s.push_back(*p < 0x80 ? static_cast<char>(*p) : '?');
    return s;
}

struct FAKE_CONTROL {
    FLASH_CONTROL base;
    int nRefs;
    int nId;
};

int32_t FakeQuery(FLASH_CONTROL* p, const char* pszIid, FLASH_CONTROL** ppOut)
{
    g_calls.push_back(std::string("qi ") + pszIid);
    ++reinterpret_cast<FAKE_CONTROL*>(p)->nRefs;
    *ppOut = p;
    return 0;
}
uint32_t FakeRelease(FLASH_CONTROL* p)
{
    FAKE_CONTROL* f = reinterpret_cast<FAKE_CONTROL*>(p);
    g_calls.push_back("release " + std::to_string(f->nId));
    return static_cast<uint32_t>(--f->nRefs);
}
int32_t FakeMovie(FLASH_CONTROL*, const char16_t* psz)
{
    g_calls.push_back("movie " + Narrow(psz));
    return 0;
}
int32_t FakeTotal(FLASH_CONTROL*, int32_t* pn)
{
    g_calls.push_back("total");
    *pn = 42;
    return 0;
}
int32_t FakePlay(FLASH_CONTROL*)
{
    g_calls.push_back("play");
    return 0;
}
int32_t FakeFrame(FLASH_CONTROL*, int32_t* pn)
{
    *pn = 7;
    return 0;
}
int32_t FakePlaying(FLASH_CONTROL*, int16_t* pb)
{
    *pb = -1;
    return 0;
}
int32_t FakeVariable(FLASH_CONTROL*, const char16_t* pszName, char* pszOut, size_t nCap)
{
    g_calls.push_back("variable " + Narrow(pszName));
    if (g_bVariableMissing) return -1;
    std::strncpy(pszOut, g_strVariable.c_str(), nCap - 1);
    return 0;
}
const FLASH_CONTROL_VTBL g_vtbl = {FakeQuery, FakeRelease, FakeMovie, FakeTotal, FakePlay, FakeFrame, FakePlaying, FakeVariable};

FAKE_CONTROL g_aControls[4];
int g_nControls = 0;

int32_t FakeWinInit(void)
{
    g_calls.push_back("init");
    return 0;
}
int32_t FakeCreate(const char16_t* pszClsid, PLAT_HWND, void*, void**)
{
    g_calls.push_back("create " + Narrow(pszClsid));
    if (g_nCreateResult < 0) return g_nCreateResult;
    g_aControls[g_nControls] = FAKE_CONTROL{{&g_vtbl}, 1, g_nControls};
    ++g_nControls;
    return 0;
}
int32_t FakeGet(PLAT_HWND, FLASH_CONTROL** pp)
{
    g_calls.push_back("get");
    *pp = &g_aControls[g_nControls - 1].base;
    return 0;
}

void* Fn(auto pfn) { return reinterpret_cast<void*>(pfn); }
const PLAT_MODULE_ENTRY g_aAtl[] = {
    {"AtlAxWinInit", 0, Fn(FakeWinInit)},
    {"AtlAxCreateControl", 0, Fn(FakeCreate)},
    {"AtlAxGetControl", 0, Fn(FakeGet)},
};

BUILDER_ARG Out(bool bText = false)
{
    return ExprArg(FLASH_GET_ARG_OUT, MakeExprVar(bText ? kVarText : kVarInt), bText ? EVALTYPE_TEXT : EVALTYPE_INT);
}

class FlashTest : public LayerCmdTest {
protected:
    PLAT_HWND hMain = 0;
    void SetUp() override
    {
        LayerCmdTest::SetUp();
        ASSERT_EQ(PlatInitWindowSystem(PLAT_BACKEND_FAKE), 0);
        hMain = PlatCreateWindow("KxTest", "main", PLAT_WS_POPUP | PLAT_WS_VISIBLE, 0, 0, 640, 480, 0, PlatDefWindowProc, nullptr);
        ASSERT_NE(hMain, 0u);
        aWindow[0].hWnd = hMain;
        aWindow[0].nWidth = 320;
        aWindow[0].nHeight = 240;
        g_nOutputWidth = 640;
        g_nOutputHeight = 480;
        g_nOutputOffsetX = 5;
        g_nOutputOffsetY = 7;
        ResetFlashHost();
        dir.Write("movie.swf", std::string("FWS"));
        dir.Write("other.swf", std::string("FWS"));
        g_calls.clear();
        g_nControls = 0;
        g_nCreateResult = 0;
        g_bVariableMissing = false;
        g_strVariable = "123";
    }
    void TearDown() override
    {
        CmdFlashClose();
        g_nFlashX = g_nFlashY = g_nFlashW = g_nFlashH = 0;
        ResetFlashHost();
        PlatResetModules();
        PlatShutdownWindowSystem();
        g_nOutputOffsetX = g_nOutputOffsetY = 0;
        LayerCmdTest::TearDown();
    }
    void InstallHost() { ASSERT_EQ(PlatRegisterFakeModule("atl.dll", g_aAtl, 3), 0); }
    void Open(std::vector<BUILDER_ARG> args) { ASSERT_GE(EmitCommand(&b, KXCMD_FLASH_OPEN, args), 0); }
    void Get(std::vector<BUILDER_ARG> args) { ASSERT_GE(EmitCommand(&b, KXCMD_FLASH_GET, args), 0); }
};

TEST_F(FlashTest, OpenMakesTheScaledWindowAndPlaysTheMovie)
{
    InstallHost();
    Open({T(0, "Movie.SWF"), I(1, 1), I(2, 10), I(3, 20), I(4, 100), I(5, 50), I(6, 5)});
    Run();
    ASSERT_TRUE(errors.reports.empty());
    EXPECT_TRUE(boxes.boxes.empty());
    ASSERT_NE(g_hFlashWnd, 0u);
    // Twice the game size: the rectangle doubles in size, the offsets are added unscaled.
    PLAT_RECT rcMain, rc;
    PlatGetWindowRect(hMain, &rcMain);
    PlatGetWindowRect(g_hFlashWnd, &rc);
    EXPECT_EQ(rc.left - rcMain.left, 15);
    EXPECT_EQ(rc.top - rcMain.top, 27);
    EXPECT_EQ(rc.right - rc.left, 200);
    EXPECT_EQ(rc.bottom - rc.top, 100);
    EXPECT_EQ(PlatGetWindowStyle(g_hFlashWnd) & PLAT_WS_CHILD, PLAT_WS_CHILD);
    EXPECT_STREQ(g_szFlashFile, "movie.swf");
    EXPECT_EQ(g_bFlashOpen, 1);
    EXPECT_EQ(g_nFlashTotalFrames, 42);
    EXPECT_EQ(g_nFlashValue, 5);
    EXPECT_EQ(g_nFlashRefs, 1);
    const std::string strPath = std::string(g_szWorkDir) + "\\movie.swf";
    EXPECT_EQ(g_calls, (Calls{"init", "create {d27cdb6e-ae6d-11cf-96b8-444553540000}", "get",
                              "qi D27CDB6C-AE6D-11CF-96B8-444553540000", "release 0", "movie " + strPath, "total",
                              "play"}));
}

TEST_F(FlashTest, QueriesOfAnOpenMovie)
{
    InstallHost();
    Open({T(0, "movie.swf"), I(1, 1), I(2, 10), I(2, 3, ARGOP_ADD), I(6, 5)});
    const struct {
        int nId;
        int64_t llExpected;
    } aCases[] = {{FLASH_GET_ARG_PLAYING, 1}, {FLASH_GET_ARG_VARIABLE, 123}, {FLASH_GET_ARG_X, 3},
                  {FLASH_GET_ARG_Y, 0},       {FLASH_GET_ARG_W, 320},        {FLASH_GET_ARG_H, 240},
                  {FLASH_GET_ARG_FRAME, 7},   {FLASH_GET_ARG_VALUE, 5},      {FLASH_GET_ARG_TOTAL, 42}};
    for (size_t i = 0; i < std::size(aCases); ++i)
        Get({I(aCases[i].nId, 1), ExprArg(FLASH_GET_ARG_OUT, MakeExprElement(kVarInts, {int64_t(i)}), EVALTYPE_INT)});
    // The first present selector answers.
    Get({I(FLASH_GET_ARG_TOTAL, 1), I(FLASH_GET_ARG_W, 1), Out()});
    Run();
    ASSERT_TRUE(errors.reports.empty());
    for (size_t i = 0; i < std::size(aCases); ++i) EXPECT_EQ(GetVarInt(kVarInts, int64_t(i)), aCases[i].llExpected) << i;
    EXPECT_EQ(OutInt(), 320);
}

TEST_F(FlashTest, QueriesBeforeAnyOpenAnswer0)
{
    for (int nId : {FLASH_GET_ARG_PLAYING, FLASH_GET_ARG_VARIABLE, FLASH_GET_ARG_FRAME, FLASH_GET_ARG_VALUE, FLASH_GET_ARG_TOTAL})
        Get({I(nId, 1), ExprArg(FLASH_GET_ARG_OUT, MakeExprElement(kVarInts, {int64_t(nId)}), EVALTYPE_INT)});
    Run();
    ASSERT_TRUE(errors.reports.empty());
    for (int nId : {0, 1, 6, 7, 8}) EXPECT_EQ(GetVarInt(kVarInts, nId), 0) << nId;
}

TEST_F(FlashTest, ANumberIntoATextIsAnError)
{
    Get({I(FLASH_GET_ARG_FRAME, 1), Out(true)});
    Run();
    ExpectOneFatalError(errors, KX_ERR_VAR_WRONG_TYPE);
}

TEST_F(FlashTest, AMissingFileIsAnError)
{
    InstallHost();
    Open({T(0, "none.swf"), I(1, 1)});
    Run();
    ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(errors, KX_ERR_FILE_MISSING));
    EXPECT_EQ(g_hFlashWnd, 0u);
    EXPECT_EQ(g_calls, Calls{});
}

TEST_F(FlashTest, WithoutThePlaySwitchOnlyTheNameIsKept)
{
    InstallHost();
    Open({T(0, "movie.swf"), I(1, 0)});
    Run();
    EXPECT_STREQ(g_szFlashFile, "movie.swf");
    EXPECT_EQ(g_bFlashOpen, 0);
    EXPECT_EQ(g_hFlashWnd, 0u);
    EXPECT_EQ(g_calls, Calls{});
}

TEST_F(FlashTest, ASecondOpenClosesTheFirstAndCloseResetsEverything)
{
    InstallHost();
    Open({T(0, "movie.swf"), I(1, 1), I(6, 9)});
    Open({T(0, "other.swf"), I(1, 1), I(6, 4)});
    Run();
    // The first movie's control and window went with the second open.
    EXPECT_EQ(g_nControls, 2);
    EXPECT_EQ(g_aControls[0].nRefs, 0);
    EXPECT_EQ(g_aControls[1].nRefs, 1);
    EXPECT_EQ(g_nFlashRefs, 1);
    EXPECT_STREQ(g_szFlashFile, "other.swf");
    EXPECT_EQ(g_nFlashValue, 4);
    EXPECT_EQ(PlatFindWindow(nullptr, "kx_fls"), g_hFlashWnd);
    const PLAT_HWND hWnd = g_hFlashWnd;
    EXPECT_EQ(CmdFlashClose(), 0);
    EXPECT_EQ(PlatIsWindow(hWnd), 0);
    EXPECT_EQ(PlatFindWindow(nullptr, "kx_fls"), 0u);
    EXPECT_EQ(g_aControls[1].nRefs, 0);
    EXPECT_EQ(g_hFlashWnd, 0u);
    EXPECT_EQ(g_pFlash, nullptr);
    EXPECT_EQ(g_nFlashRefs, 0);
    EXPECT_EQ(g_bFlashOpen, 0);
    EXPECT_EQ(g_nFlashValue, 0);
    EXPECT_EQ(g_nFlashTotalFrames, 0);
    EXPECT_STREQ(g_szFlashFile, "");
    // Closing twice is harmless.
    EXPECT_EQ(CmdFlashClose(), 0);
}

TEST_F(FlashTest, WithoutTheFlashPlayerMoviesStayEmptyAndTheHostIsNotAskedAgain)
{
    Open({T(0, "movie.swf"), I(1, 1)});
    Run();
    ASSERT_TRUE(errors.reports.empty());
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_NE(g_hFlashWnd, 0u);
    EXPECT_EQ(g_nFlashTotalFrames, 0);
    EXPECT_EQ(g_pFlash, nullptr);
    EXPECT_EQ(g_nFlashRefs, 0);
    // A host that turns up later is not used: the first look decided.
    InstallHost();
    EXPECT_EQ(OpenFlashControl(g_hFlashWnd, u"x"), 0);
    EXPECT_EQ(g_calls, Calls{});
    EXPECT_EQ(IsFlashPlaying(), 0);
    EXPECT_EQ(GetFlashCurrentFrame(), 0);
    EXPECT_EQ(GetFlashVariable("koolvex"), 0);
}

TEST_F(FlashTest, AControlThatCannotBeMadeGives0Frames)
{
    InstallHost();
    g_nCreateResult = -2147467259;
    Open({T(0, "movie.swf"), I(1, 1)});
    Run();
    EXPECT_NE(g_hFlashWnd, 0u);
    EXPECT_EQ(g_nFlashTotalFrames, 0);
    EXPECT_EQ(g_nFlashRefs, 0);
    EXPECT_EQ(g_calls, (Calls{"init", "create {d27cdb6e-ae6d-11cf-96b8-444553540000}"}));
}

TEST_F(FlashTest, NoMainWindowShowsTheBox)
{
    InstallHost();
    aWindow[0].hWnd = 0;
    Open({T(0, "movie.swf"), I(1, 1)});
    Run();
    EXPECT_EQ(g_hFlashWnd, 0u);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].strText, GetEngineText(TXT_FLASH_NO_WINDOW));
    EXPECT_EQ(g_calls, Calls{});
}

TEST_F(FlashTest, VariableRepliesAreReadAsDecimalNumbers)
{
    InstallHost();
    Open({T(0, "movie.swf"), I(1, 1)});
    Run();
    const struct {
        const char* pszReply;
        int64_t llExpected;
    } aCases[] = {{"42", 42}, {" -7", -7}, {"abc", 0}, {"12abc", 12}, {"", 0}};
    for (const auto& c : aCases) {
        g_strVariable = c.pszReply;
        EXPECT_EQ(GetFlashVariable("koolvex"), c.llExpected) << c.pszReply;
    }
    g_bVariableMissing = true;
    EXPECT_EQ(GetFlashVariable("koolvex"), 0);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_NE(boxes.boxes[0].strText.find("koolvex"), std::string::npos);
    EXPECT_EQ(boxes.boxes[0].strCaption, "");
}

}  // namespace
