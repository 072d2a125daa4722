// System variables: the three readers over their sources (settings, machine facts, counters, the
// command line, time under the fake clock, the running thread), indirect access and its
// designation, key and joystick numbers, assignments allowed and refused, and element indices
// outside what a number serves.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/frame_loop.h"
#include "core/input_state.h"
#include "core/object_tree.h"
#include "core/settings.h"
#include "core/sysfacts.h"
#include "core/window_record.h"
#include "platform/plat_sysinfo.h"
#include "platform/plat_time.h"
#include "core/game_config.h"
#include "script/engine_control.h"
#include "script/evaluator.h"
#include "script/flow_frames.h"
#include "script/script_tables.h"
#include "core/script_thread.h"
#include "script/system_vars.h"
#include "script/text_buffer.h"
#include "script/variables.h"
#include "tests/support/engine_test.h"
#include "tests/support/test_support.h"
#include "tools/lib/expr_assembler.h"
#include "tools/lib/kx_writers.h"

namespace {

const PLAT_LOCAL_TIME kNow = {2026, 3, 14, 6, 15, 9, 26, 535};
const PLAT_LOCAL_TIME kStart = {2025, 12, 31, 3, 23, 59, 58, 7};

std::string ReadText(int nVar, int64_t llElem)
{
    char sz[KX_VAR_TEXT_BUFFER];
    std::memset(sz, 'x', sizeof sz);
    const int n = GetSysVarString(nVar, sz, llElem);
    EXPECT_EQ(static_cast<size_t>(n), std::strlen(sz)) << "number " << nVar << " element " << llElem;
    return sz;
}

// The variable table with the standard system-variable shapes, the readers installed, a running
// thread with a call frame and two open loops, and the fake clock. Every engine global a test
// changes is put back to its start value afterwards.
class SysVarTest : public EngineTest {
protected:
    SCRIPT_THREAD thread{};
    CALL_FRAME frames[2]{};
    LOOP_FRAME loops[2]{};
    TREE_NODE node{};
    std::vector<uint8_t> defs;
    // A message text buffer of the engine's size, zeroed, made the current one by UseTextBuffer.
    std::vector<char> text = std::vector<char>(KX_TEXT_BUFFER_BYTES, 0);
    std::vector<char> codes = std::vector<char>(KX_TEXT_BUFFER_BYTES, 0);
    TEXT_BUFFER buffer{};

    void UseTextBuffer()
    {
        buffer.pszText = text.data();
        buffer.pszCodes = codes.data();
        g_pTextBuffer = &buffer;
    }

    void SetUp() override
    {
        ASSERT_EQ(CreateVarTable(1100), 0);
        defs = BuildKxv(StandardSysVarDefs());
        g_pVarDefs = defs.data();
        g_nVarDefsBytes = defs.size();
        ASSERT_EQ(ApplyVarDefRecords(-1, nullptr), 0);
        PlatUseFakeClock(1);
        PlatSetFakeTime(50000);
        PlatSetFakeLocalTime(&kNow);

        for (int i = 0; i < 2; ++i) thread.apCall[i] = &frames[i];
        for (int i = 0; i < 2; ++i) thread.apLoop[i] = &loops[i];
        g_pCurThread = &thread;
        node.pszName = const_cast<char*>("worker");
        g_pCurThreadNode = &node;
    }
    void TearDown() override
    {
        // The text buffer and the file list may be the tests' own: the engine's reset would free them.
        g_pTextBuffer = nullptr;
        g_apszFileList = nullptr;
        PlatUseFakeClock(0);
        PlatSetFakeLocalTime(nullptr);
    }
    static VAR_DESC* Declare(int nVar, int nType, int32_t nCount)
    {
        VAR_DESC* p = GetVarDesc(nVar);
        p->nDims = 1;
        p->anDim[0] = nCount;
        int nInit = -1;
        if (nType == KX_VAR_TYPE_INT) nInit = InitVarInt(p, 0);
        if (nType == KX_VAR_TYPE_FLOAT) nInit = InitVarFloat(p, 0.0);
        if (nType == KX_VAR_TYPE_STRING) nInit = InitVarString(p, "", 0);
        EXPECT_EQ(nInit, 0);
        return p;
    }
    static int64_t Ref(int nVar, int64_t llElem) { return (static_cast<int64_t>(nVar) << 32) + llElem; }
};

struct INT_CASE {
    int nVar;
    int64_t llElem;
    int64_t llExpected;
};

void ExpectInts(const std::vector<INT_CASE>& cases)
{
    for (const INT_CASE& c : cases)
        EXPECT_EQ(GetSysVarInt(c.nVar, c.llElem), c.llExpected) << "number " << c.nVar << " element " << c.llElem;
}

}  // namespace

TEST_F(SysVarTest, StandInsReadTheirStartValues)
{
    ExpectInts({
        {15, 0, 0},    // empty file list
        {117, 0, 0}, {118, 0, 0}, {119, 0, 0}, {120, 0, 0}, {132, 0, 0}, {145, 0, 0}, {146, 0, 0},
        {133, 0, 0}, {134, 0, 0}, {137, 0, 0}, {138, 0, 0}, {142, 0, 0},
        {144, 32, 0}, {147, 0, 0}, {281, 0, 0}, {415, 0, 0}, {280, 33, 0},
    });
    // Timers run from offset 0 until start-up starts them: they read the raw clock.
    EXPECT_EQ(GetSysVarInt(1, 1), 50000);
    EXPECT_EQ(ReadText(122, 0), "");   // no message text buffer yet
    EXPECT_EQ(ReadText(123, 0), "");
}

TEST_F(SysVarTest, IntegersFromSettingsFactsAndCounters)
{
    ResetUserSettings();
    g_nUserSwitch = 1;
    g_nSaveFolderMode = 2;
    const PLAT_DESKTOP_INFO desktop = {1920, 1080, 24, 60};
    PlatSetFakeDesktopInfo(&desktop);
    ReadSystemMetrics();
    PlatSetFakeDesktopInfo(nullptr);
    GetDirectXVersion(&g_nDirectXVersion, nullptr, nullptr);
    ASSERT_EQ(CopyCommandLineArgs("\\game\\kolvex", {"-w", "save1"}), 0);
    g_llFrameCount = 1234567890123LL;
    g_llPassCount = 77;
    g_nVarTableExtra = -5;
    g_nSoundMode = 2;
    g_bFolderReadOnly = 1;
    g_bDirect3D = 1;
    g_bDebug = 1;
    TREE_NODE root{};
    root.nChildCount = 3;
    TREE_NODE* pSavedRoot = g_pThreadRoot;
    g_pThreadRoot = &root;

    ExpectInts({
        {2, 0, 255}, {3, 0, 9}, {4, 0, 1}, {8, 0, 0}, {9, 0, 1}, {11, 0, 1}, {13, 0, 2},
        {49, 0, 999}, {108, 0, 555}, {109, 0, 1234567890123LL}, {110, 0, 77}, {112, 0, 2}, {113, 0, 1},
        {114, 0, 24}, {115, 0, 1920}, {116, 0, 1080}, {121, 0, 1}, {124, 0, -5}, {126, 0, 3}, {143, 0, 0},
        // Unlisted numbers, and numbers outside the served range.
        {16, 0, 0}, {47, 0, 0}, {100, 0, 0}, {409, 0, 0}, {548, 0, 0}, {999, 0, 0}, {-1, 0, 0},
    });
    // Through the variable store: the descriptor's shape, then the engine's value.
    EXPECT_EQ(GetVarInt(2, 0), 255);
    EXPECT_EQ(GetVarInt(121, 0), 1);

    // Memory in 32-bit figures: the total as the platform reports it, clamped.
    PLAT_MEMORY_INFO mem;
    PlatGetMemoryInfo(&mem);
    EXPECT_EQ(GetSysVarInt(5, 0), static_cast<int64_t>(mem.nTotal < 0xFFFFFFFFull ? mem.nTotal : 0xFFFFFFFFull));
    EXPECT_GT(GetSysVarInt(5, 0), 0);
    EXPECT_LE(GetSysVarInt(7, 0), GetSysVarInt(5, 0));
    const int64_t nLoad = GetSysVarInt(6, 0);
    EXPECT_GE(nLoad, 0);
    EXPECT_LE(nLoad, 100);

    g_nSoundMode = 0;
    EXPECT_EQ(GetSysVarInt(4, 0), 0);

    g_pThreadRoot = pSavedRoot;
}

TEST_F(SysVarTest, LocalTimeClockAndTimers)
{
    g_stStartTime = kStart;
    ExpectInts({
        {0, 0, 2026}, {0, 1, 3}, {0, 2, 14}, {0, 3, 6}, {0, 4, 15}, {0, 5, 9}, {0, 6, 26}, {0, 7, 535},
        {0, 8, 2025}, {0, 9, 12}, {0, 10, 31}, {0, 11, 3}, {0, 12, 23}, {0, 13, 59}, {0, 14, 58}, {0, 15, 7},
        {0, 16, 0}, {0, -1, 0},
        {1, 0, 50000}, {1, 5, 0}, {1, -1, 0},
    });

    // Timers 1..4 from their offsets; timer 2 stopped at 45000.
    for (int i = 0; i < KX_SCRIPT_TIMERS; ++i) g_anTimerPaused[i] = 1000u * (i + 1);
    g_abTimerRunning[1] = 0;
    g_allTimerStopTime[1] = 45000;
    ExpectInts({{1, 1, 49000}, {1, 2, 43000}, {1, 3, 47000}, {1, 4, 46000}, {111, 0, 49000}});
    PlatAdvanceFakeTime(700);
    ExpectInts({{1, 0, 50700}, {1, 1, 49700}, {1, 2, 43000}, {111, 0, 49700}});

    // Across the clock's wrap a timer keeps counting up.
    PlatSetFakeTime(200);
    g_anTimerPaused[0] = 0xFFFFFF00u;
    EXPECT_EQ(GetSysVarInt(1, 1), 456);

    // StartScriptTimers: every timer runs from now.
    StartScriptTimers();
    PlatAdvanceFakeTime(25);
    ExpectInts({{1, 1, 25}, {1, 2, 25}, {1, 4, 25}});
}

TEST_F(SysVarTest, CallFrameArgumentsReturnsAndThreadParameters)
{
    thread.nCallDepth = 1;
    CALL_FRAME& f = frames[1];
    f.abArgIntGiven[0] = 2;
    f.abArgIntGiven[1] = 1;       // int 1 given, int 2 not
    f.allArgInt[0] = 11;
    f.allArgInt[1] = 22;
    f.allArgInt[2] = 33;          // beyond the count
    f.abArgFloatGiven[0] = 1;
    f.abArgFloatGiven[1] = 1;
    f.adArgFloat[0] = 1.25;
    f.adArgFloat[1] = 9.0;        // beyond the count
    char szArg[] = "text arg";
    f.abArgTextGiven[0] = 3;
    f.abArgTextGiven[3] = 1;
    f.apszArgText[2] = szArg;     // item 3; items 1 and 2 absent (empty)
    f.abRetIntGiven[0] = 1;
    f.abRetIntGiven[1] = 1;
    f.allRetInt[0] = -7;
    f.allRetInt[15] = 16;
    f.abRetFloatGiven[3] = 1;
    f.adRetFloat[2] = 2.5;        // item 3
    char szRet[] = "returned";
    f.abRetTextGiven[16] = 1;
    f.apszRetText[15] = szRet;
    frames[0].allArgInt[0] = 999; // the caller's level is not read

    ExpectInts({
        {53, 1, 11}, {53, 2, 22}, {53, 3, 0}, {53, 0, 0}, {53, -1, 0}, {53, 16, 0},
        {57, 1, 1}, {57, 2, 0}, {57, 3, 0}, {58, 1, 1}, {59, 3, 1}, {59, 1, 0},
        {56, 1, 1}, {56, 3, 1}, {56, 2, 0}, {56, 0, 0}, {56, 17, 0},
        {60, 1, -7}, {60, 16, 16}, {60, 17, 0}, {60, 0, 0},
        {63, 1, 1}, {63, 3, 1}, {63, 16, 1}, {63, 2, 0},
        {64, 1, 1}, {65, 3, 1}, {66, 16, 1}, {66, 1, 0},
    });
    EXPECT_EQ(GetSysVarFloat(54, 1), 1.25);
    EXPECT_EQ(GetSysVarFloat(54, 2), 0.0);   // above the count
    EXPECT_EQ(GetSysVarFloat(61, 3), 2.5);
    EXPECT_EQ(GetSysVarFloat(61, 17), 0.0);
    EXPECT_EQ(ReadText(55, 3), "text arg");
    EXPECT_EQ(ReadText(55, 1), "");
    EXPECT_EQ(ReadText(55, 4), "");
    EXPECT_EQ(ReadText(62, 16), "returned");
    EXPECT_EQ(ReadText(62, 0), "");

    // Thread parameters 0..16.
    char szParam[] = "param";
    thread.allParam[16] = 160;
    thread.adParam[4] = -0.5;
    thread.apszParam[2] = szParam;
    ExpectInts({{67, 16, 160}, {67, 17, 0}, {67, -1, 0}});
    EXPECT_EQ(GetSysVarFloat(68, 4), -0.5);
    EXPECT_EQ(GetSysVarFloat(68, 100), 0.0);
    EXPECT_EQ(ReadText(69, 2), "param");
    EXPECT_EQ(ReadText(69, 3), "");       // no text
    EXPECT_EQ(ReadText(69, 17), "");

    // Loop pass of the innermost open loop; 0 outside loops.
    loops[0].llPassCounter = 4;
    loops[1].llPassCounter = 9;
    thread.nLoopDepth = 2;
    EXPECT_EQ(GetSysVarInt(48, 0), 9);
    thread.nLoopDepth = 0;
    EXPECT_EQ(GetSysVarInt(48, 0), 0);

    // Without a running thread every one of them reads empty.
    g_pCurThread = nullptr;
    ExpectInts({{53, 1, 0}, {60, 1, 0}, {67, 16, 0}, {48, 0, 0}});
    EXPECT_EQ(ReadText(69, 2), "");
}

TEST_F(SysVarTest, TextsCommandLineFoldersAndPaths)
{
    ASSERT_EQ(CopyCommandLineArgs("\\game\\kolvex", {"-w", "\x83\x5C" "file"}), 0);
    EXPECT_EQ(ReadText(12, 0), "\\game\\kolvex");
    EXPECT_EQ(ReadText(12, 2), "\x83\x5C" "file");
    EXPECT_EQ(ReadText(12, 8), "");
    EXPECT_EQ(ReadText(12, 9), "");
    EXPECT_EQ(ReadText(12, -1), "");

    std::strcpy(g_szExeDir, "\\home\\p\\game");
    EXPECT_EQ(ReadText(103, 0), "\\home\\p\\game\\");
    std::strcpy(g_szExeDir, "\\home\\p\\\x83\x5C");   // a trail byte 0x5C is not a separator
    EXPECT_EQ(ReadText(103, 0), "\\home\\p\\\x83\x5C\\");
    // The working folder ends in one backslash as the game folder does.
    const struct { const char* pszWork; const char* pszRead; } aWork[] = {
        {"\\work", "\\work\\"},
        {"\\work\\", "\\work\\"},
        {"\\home\\\x83\x5C", "\\home\\\x83\x5C\\"},
    };
    for (const auto& w : aWork) {
        std::strcpy(g_szWorkDir, w.pszWork);
        EXPECT_EQ(ReadText(104, 0), w.pszRead) << w.pszWork;
    }
    EXPECT_EQ(ReadText(105, 0), g_szSaveFolder);
    EXPECT_EQ(ReadText(106, 0), g_szAppDataDir);
    EXPECT_EQ(ReadText(107, 0), g_szDocumentsDir);

    EXPECT_EQ(ReadText(125, 0), "worker");
    EXPECT_EQ(ReadText(127, 65), "A");
    EXPECT_EQ(ReadText(127, 0x141), "A");   // the low byte
    EXPECT_EQ(ReadText(127, 0), "");

    char aszPath[4][KX_MAX_OBJECT_PATH] = {"W0/a/", "S0/", "/", "M0/file/"};
    g_pszLayerPath = aszPath[0];
    g_pszSoundPath = aszPath[1];
    g_pszThreadPath = aszPath[2];
    g_pszMenuPath = aszPath[3];
    EXPECT_EQ(ReadText(128, 0), "W0/a/");
    EXPECT_EQ(ReadText(129, 0), "S0/");
    EXPECT_EQ(ReadText(130, 0), "/");
    EXPECT_EQ(ReadText(131, 0), "M0/file/");

    UseTextBuffer();
    std::memset(text.data(), 'a', 5000);   // longer than a variable text: cut to 4095
    std::strcpy(codes.data(), "1121E");
    EXPECT_EQ(ReadText(122, 0), std::string(4095, 'a'));
    EXPECT_EQ(ReadText(123, 0), "1121E");

    // Unlisted text numbers and the double readers' constants.
    EXPECT_EQ(ReadText(13, 0), "");
    EXPECT_EQ(ReadText(600, 0), "");
    EXPECT_EQ(GetSysVarFloat(10, 0), 3.141592653589793);
    EXPECT_EQ(GetSysVarFloat(11, 0), 0.0);
    EXPECT_EQ(GetSysVarFloat(600, 0), 0.0);
    // Through the store the text lands in the variable's own element.
    const char* psz = GetVarString(125, 0);
    ASSERT_NE(psz, nullptr);
    EXPECT_STREQ(psz, "worker");
}

TEST_F(SysVarTest, FileListEntriesAreCheckedAgainstTheRealList)
{
    char szA[] = "a.png", szB[] = "b.ogg";
    char* apList[] = {szA, szB, nullptr};
    g_apszFileList = apList;
    g_nFileListCount = 2;
    EXPECT_EQ(GetSysVarInt(15, 0), 2);
    {
        ERROR_RECORDER errors;
        EXPECT_EQ(ReadText(14, 1), "b.ogg");
        EXPECT_TRUE(errors.reports.empty());
    }
    // A script may write a larger count: reads past the real list still fail cleanly.
    EXPECT_EQ(AssignSysVarInt(15, 0, 0, 10), 0);
    EXPECT_EQ(GetSysVarInt(15, 0), 10);
    for (int64_t k : {int64_t{2}, int64_t{5}, int64_t{-1}, int64_t{10}}) {
        ERROR_RECORDER errors;
        EXPECT_EQ(ReadText(14, k), "") << k;
        ASSERT_EQ(errors.reports.size(), 1u) << k;
        EXPECT_EQ(errors.reports[0].nId, 107010);
        EXPECT_EQ(errors.reports[0].bFatal, 1);
        EXPECT_EQ(g_bEngineStop.load(), 1);
    }
    g_apszFileList = nullptr;
    {
        ERROR_RECORDER errors;
        EXPECT_EQ(ReadText(14, 0), "");
        ASSERT_EQ(errors.reports.size(), 1u);
        EXPECT_EQ(errors.reports[0].nId, 107010);
    }
}

TEST_F(SysVarTest, IndirectReadsSetTheDesignation)
{
    VAR_DESC* pInt = Declare(1000, KX_VAR_TYPE_INT, 4);
    pInt->pllValues[2] = -42;
    VAR_DESC* pFloat = Declare(1001, KX_VAR_TYPE_FLOAT, 3);
    pFloat->pdValues[1] = -2.75;
    Declare(1002, KX_VAR_TYPE_STRING, 2);
    ASSERT_EQ(SetVarString(1002, 1, "abc"), 0);

    struct CASE {
        int64_t llRef;
        int64_t llInt;
        double dFloat;
        const char* pszText;
        int64_t llType;
        int nDesignated;   // variable designated afterwards (-1: unchanged)
    };
    const CASE cases[] = {
        {Ref(1000, 2), -42, -42.0, "", KX_VAR_TYPE_INT, 1000},
        {Ref(1001, 1), -2, -2.75, "", KX_VAR_TYPE_FLOAT, 1001},
        {Ref(1002, 1), 0, 0.0, "abc", KX_VAR_TYPE_STRING, 1002},
        {Ref(1000, 4), 0, 0.0, "", KX_VAR_TYPE_INT, 1000},       // element outside the variable
        {Ref(1003, 0), 0, 0.0, "", KX_VAR_TYPE_NONE, -1},        // a slot of no type
        {Ref(2, 0), 0, 0.0, "", KX_VAR_TYPE_NONE, -1},           // a system variable
        {Ref(5000, 0), 0, 0.0, "", KX_VAR_TYPE_NONE, -1},        // beyond the table
        {-1, 0, 0.0, "", KX_VAR_TYPE_NONE, -1},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.llRef);
        g_nRefVar = -1;
        g_nRefElem = -1;
        EXPECT_EQ(GetSysVarInt(50, c.llRef), c.llInt);
        EXPECT_EQ(g_nRefVar, c.nDesignated);
        if (c.nDesignated >= 0) {
            EXPECT_EQ(g_nRefElem, static_cast<int64_t>(static_cast<uint32_t>(c.llRef)));
        }
        EXPECT_EQ(GetSysVarFloat(51, c.llRef), c.dFloat);
        EXPECT_EQ(ReadText(52, c.llRef), c.pszText);
        EXPECT_EQ(GetSysVarInt(70, c.llRef), c.llType);
    }

    // In an expression: $50[#v[2]] reads v[2] and leaves v[2] designated for a write-back.
    std::vector<uint8_t> code;
    ExprAsmOpen(code, 50);
    ExprAsmElement(code, 1000, {2}, EXPR_PREFIX_HASH);
    ExprAsmClose(code);
    EXPECT_EQ(EvalExprInt(code.data(), static_cast<uint32_t>(code.size())), -42);
    EXPECT_EQ(g_nRefVar, 1000);
    EXPECT_EQ(g_nRefElem, 2);
}

TEST_F(SysVarTest, KeyAndJoystickNumbers)
{
    const int kSpace = 32;
    g_abKeyMap[0] = kSpace;
    g_abKeyMap[127] = 91;   // the last map index that press counts and key numbers read
    g_abKeyMap[128] = 90;   // the last one of the hold counters
    g_allKeyCounter[kSpace] = 12;
    g_allKeyPresses[kSpace] = 3;
    g_allKeyCounter[90] = -4;
    g_allKeyPresses[91] = 8;
    const int kJoy1Button1 = 388 + 36 + 1;
    const int kJoy2Left = 384 + 72 + 2;
    g_allKeyCounter[kJoy1Button1] = 5;
    g_allKeyPresses[kJoy1Button1] = 2;
    g_allKeyCounter[kJoy2Left] = -9;
    g_allKeyPresses[kJoy2Left] = 6;
    g_allKeyCounter[1023] = 77;
    g_allKeyCounter[0] = 55;
    g_nLastKeyDown = 13;
    g_nLastMouseButton = 4;

    ExpectInts({
        {144, kSpace, 12}, {144, 0, 0}, {144, -3, 0}, {144, 1023, 77}, {144, 1024, 0}, {144, 5000, 0},
        {145, 0, 13}, {146, 0, 4},
        {147, 0, 12}, {275, 0, -4}, {281, 0, 3}, {408, 0, 8}, {415, 0, kSpace}, {542, 0, 91},
        {280, 33, 5}, {414, 33, 2}, {547, 33, kJoy1Button1}, {547, 0, 388},
        {278, 2, -9}, {412, 2, 6}, {545, 2, kJoy2Left}, {543, 15, 384 + 36 * 15},
        // Joysticks outside 0..15 and buttons outside 16 x 32.
        {276, 16, 0}, {276, -1, 0}, {543, 16, 0}, {280, 512, 0}, {280, -1, 0}, {547, 512, 0}, {547, -33, 0},
    });
}

TEST_F(SysVarTest, AssignmentsAllowedAndRefused)
{
    struct REFUSED {
        int nVar;
        int nKind;
    };
    for (const REFUSED& r : {REFUSED{2, KX_VAR_TYPE_INT}, REFUSED{0, KX_VAR_TYPE_INT}, REFUSED{109, KX_VAR_TYPE_INT},
                             REFUSED{547, KX_VAR_TYPE_INT}, REFUSED{12, KX_VAR_TYPE_STRING},
                             REFUSED{103, KX_VAR_TYPE_STRING}, REFUSED{129, KX_VAR_TYPE_STRING}}) {
        ERROR_RECORDER errors;
        const int n = r.nKind == KX_VAR_TYPE_INT ? AssignSysVarInt(r.nVar, 0, 0, 1) : AssignSysVarString(r.nVar, 0, "x", 1);
        EXPECT_EQ(n, -1) << r.nVar;
        ASSERT_EQ(errors.reports.size(), 1u) << r.nVar;
        EXPECT_EQ(errors.reports[0].nId, 101150);
        EXPECT_EQ(errors.reports[0].bFatal, 1);
        EXPECT_EQ(g_bEngineStop.load(), 1);
    }
    {
        // A double that cannot be assigned: nothing happens, nothing is reported.
        ERROR_RECORDER errors;
        EXPECT_EQ(AssignSysVarFloat(10, 0, 0, 1.0), 0);
        EXPECT_EQ(AssignSysVarFloat(68, 1, 0, 1.0), 0);
        EXPECT_EQ(GetSysVarFloat(10, 0), 3.141592653589793);
        EXPECT_TRUE(errors.reports.empty());
    }

    ERROR_RECORDER errors;
    EXPECT_EQ(AssignSysVarInt(117, 0, 1, 0x102), 0);   // the operator is ignored; the low byte
    EXPECT_EQ(AssignSysVarInt(118, 0, 0, 3), 0);
    EXPECT_EQ(AssignSysVarInt(119, 0, 0, 1), 0);
    EXPECT_EQ(AssignSysVarInt(120, 0, 0, 4), 0);
    EXPECT_EQ(AssignSysVarInt(132, 0, 0, 30001), 0);
    EXPECT_EQ(AssignSysVarInt(145, 0, 0, 65), 0);
    EXPECT_EQ(AssignSysVarInt(146, 0, 0, 2), 0);
    ExpectInts({{117, 0, 2}, {118, 0, 3}, {119, 0, 1}, {120, 0, 4}, {132, 0, 30001}, {145, 0, 65}, {146, 0, 2}});

    // Through the variable store's write, by the descriptor's type.
    EXPECT_EQ(SetVarInt(132, 0, 7), 0);
    EXPECT_EQ(GetSysVarInt(132, 0), 7);
    EXPECT_EQ(SetVarFloat(145, 0, 66.9), 0);   // truncated for an integer number
    EXPECT_EQ(GetSysVarInt(145, 0), 66);
    EXPECT_EQ(SetVarInt(10, 0, 3), 0);         // pi: no effect
    EXPECT_TRUE(errors.reports.empty());
    EXPECT_EQ(SetVarString(132, 0, "1"), -1);  // a text for a number
    ASSERT_EQ(errors.reports.size(), 1u);
    EXPECT_EQ(errors.reports[0].nId, KX_ERR_VAR_WRONG_TYPE);
}

TEST_F(SysVarTest, KeyCounterWritesFollowTheKeyState)
{
    const int kSpace = 32;
    g_abKeyMap[5] = kSpace;
    g_abKeyMap[128] = 90;
    ERROR_RECORDER errors;

    // Released key: only a negative counter stays.
    g_abKeyMode[kSpace] = KX_KEY_MODE_UP;
    g_allKeyCounter[kSpace] = -3;
    EXPECT_EQ(AssignSysVarInt(147 + 5, 0, 0, 5), 0);
    EXPECT_EQ(g_allKeyCounter[kSpace], 0);
    EXPECT_EQ(AssignSysVarInt(144, kSpace, 0, -8), 0);
    EXPECT_EQ(g_allKeyCounter[kSpace], -8);
    // Pressed key: only a positive counter stays.
    g_abKeyMode[kSpace] = KX_KEY_MODE_DOWN;
    EXPECT_EQ(AssignSysVarInt(144, kSpace, 0, 20), 0);
    EXPECT_EQ(g_allKeyCounter[kSpace], 20);
    EXPECT_EQ(AssignSysVarInt(144, kSpace, 0, -1), 0);
    EXPECT_EQ(g_allKeyCounter[kSpace], 0);

    // Press counts, 409 included (map index 128), and the joystick forms.
    EXPECT_EQ(AssignSysVarInt(281 + 5, 0, 0, 4), 0);
    EXPECT_EQ(AssignSysVarInt(409, 0, 0, 6), 0);
    EXPECT_EQ(g_allKeyPresses[kSpace], 4);
    EXPECT_EQ(g_allKeyPresses[90], 6);
    const int kJoy1Button1 = 388 + 36 + 1;
    g_abKeyMode[kJoy1Button1] = KX_KEY_MODE_DOWN;
    EXPECT_EQ(AssignSysVarInt(280, 33, 0, 9), 0);
    EXPECT_EQ(AssignSysVarInt(414, 33, 0, 2), 0);
    EXPECT_EQ(g_allKeyCounter[kJoy1Button1], 9);
    EXPECT_EQ(g_allKeyPresses[kJoy1Button1], 2);
    EXPECT_EQ(AssignSysVarInt(277, 3, 0, -2), 0);   // joystick 3 down, released
    EXPECT_EQ(AssignSysVarInt(411, 3, 0, 12), 0);
    EXPECT_EQ(g_allKeyCounter[384 + 36 * 3 + 1], -2);
    EXPECT_EQ(g_allKeyPresses[384 + 36 * 3 + 1], 12);

    // Keys outside the key space and key 0 are not written.
    int64_t allBefore[KX_KEY_CODES];
    std::memcpy(allBefore, g_allKeyCounter, sizeof allBefore);
    int64_t allPressesBefore[KX_KEY_CODES];
    std::memcpy(allPressesBefore, g_allKeyPresses, sizeof allPressesBefore);
    const int64_t kHuge = int64_t{1} << 40;
    for (int64_t k : {int64_t{0}, int64_t{-1}, int64_t{1024}, kHuge}) EXPECT_EQ(AssignSysVarInt(144, k, 0, -5), 0);
    for (int64_t k : {int64_t{-1}, int64_t{512}, kHuge}) {
        EXPECT_EQ(AssignSysVarInt(280, k, 0, -5), 0);
        EXPECT_EQ(AssignSysVarInt(414, k, 0, 5), 0);
    }
    for (int64_t k : {int64_t{-1}, int64_t{16}, kHuge}) {
        EXPECT_EQ(AssignSysVarInt(276, k, 0, -5), 0);
        EXPECT_EQ(AssignSysVarInt(413, k, 0, 5), 0);
    }
    EXPECT_EQ(std::memcmp(allBefore, g_allKeyCounter, sizeof allBefore), 0);
    EXPECT_EQ(std::memcmp(allPressesBefore, g_allKeyPresses, sizeof allPressesBefore), 0);
    EXPECT_TRUE(errors.reports.empty());
}

TEST_F(SysVarTest, IndirectAndCallFrameAssignments)
{
    VAR_DESC* pInt = Declare(1000, KX_VAR_TYPE_INT, 3);
    pInt->pllValues[1] = 10;
    VAR_DESC* pFloat = Declare(1001, KX_VAR_TYPE_FLOAT, 2);
    Declare(1002, KX_VAR_TYPE_STRING, 2);
    {
        ERROR_RECORDER errors;
        EXPECT_EQ(AssignSysVarInt(50, Ref(1000, 1), 1, 5), 0);   // +=
        EXPECT_EQ(pInt->pllValues[1], 15);
        EXPECT_EQ(AssignSysVarInt(50, Ref(1000, 1), 4, 0), 0);   // /= 0 leaves it
        EXPECT_EQ(pInt->pllValues[1], 15);
        EXPECT_EQ(AssignSysVarInt(50, Ref(1000, 3), 0, 1), 0);   // outside: unchanged, no error
        EXPECT_EQ(AssignSysVarFloat(51, Ref(1001, 1), 3, 2.5), 0);   // the operator is ignored
        EXPECT_EQ(pFloat->pdValues[1], 2.5);
        EXPECT_EQ(AssignSysVarString(52, Ref(1002, 0), "xyz", 2), 0);
        EXPECT_STREQ(GetVarString(1002, 0), "xy");
        EXPECT_TRUE(errors.reports.empty());
    }
    struct WRONG {
        int nVar;
        int64_t llRef;
    };
    for (const WRONG& w : {WRONG{50, Ref(1001, 0)}, WRONG{50, Ref(2, 0)}, WRONG{50, Ref(1003, 0)},
                           WRONG{51, Ref(1000, 0)}, WRONG{52, Ref(1000, 0)}, WRONG{52, Ref(14, 0)}}) {
        ERROR_RECORDER errors;
        const int n = w.nVar == 50 ? AssignSysVarInt(50, w.llRef, 0, 1)
                    : w.nVar == 51 ? AssignSysVarFloat(51, w.llRef, 0, 1.0)
                                   : AssignSysVarString(52, w.llRef, "a", 1);
        EXPECT_EQ(n, -1);
        ASSERT_EQ(errors.reports.size(), 1u);
        EXPECT_EQ(errors.reports[0].nId, 108230);
        EXPECT_EQ(errors.reports[0].bFatal, 1);
    }

    thread.nCallDepth = 1;
    CALL_FRAME& f = frames[1];
    f.abArgIntGiven[0] = 2;
    f.allArgInt[0] = 7;
    f.allArgInt[1] = 100;
    f.allArgInt[2] = 55;
    f.abArgFloatGiven[0] = 1;
    f.adArgFloat[0] = 3.0;
    f.adArgFloat[1] = 8.0;
    struct OP_CASE {
        int nOp;
        int64_t llValue;
        int64_t llExpected;
    };
    for (const OP_CASE& c : {OP_CASE{0, 12, 12}, OP_CASE{1, 3, 15}, OP_CASE{2, 5, 10}, OP_CASE{3, -3, -30},
                             OP_CASE{4, 4, -7}, OP_CASE{4, 0, -7}, OP_CASE{5, 4, -3}, OP_CASE{5, 0, -3},
                             OP_CASE{6, 6, 4}, OP_CASE{7, 1, 5}, OP_CASE{8, 7, 2}}) {
        EXPECT_EQ(AssignSysVarInt(53, 1, c.nOp, c.llValue), 0);
        EXPECT_EQ(f.allArgInt[0], c.llExpected) << "operator " << c.nOp;
    }
    EXPECT_EQ(AssignSysVarInt(53, 3, 0, 1), 0);   // above the count
    EXPECT_EQ(AssignSysVarInt(53, 0, 0, 1), 0);
    EXPECT_EQ(f.allArgInt[2], 55);
    EXPECT_EQ(GetSysVarInt(53, 2), 100);

    for (const auto& c : {std::pair<int, double>{1, 1.5}, {3, 4.0}, {2, 1.0}, {4, 2.0}, {5, 3.0}, {6, 1.0}, {0, -1.0}}) {
        const double dBefore = f.adArgFloat[0];
        EXPECT_EQ(AssignSysVarFloat(54, 1, c.first, c.second), 0);
        const double dWant = c.first == 0 ? c.second : c.first == 1 ? dBefore + c.second : c.first == 2 ? dBefore - c.second
                           : c.first == 3 ? dBefore * c.second : c.first == 4 ? dBefore / c.second : dBefore;
        EXPECT_EQ(f.adArgFloat[0], dWant) << "operator " << c.first;
    }
    EXPECT_EQ(AssignSysVarFloat(54, 2, 0, 9.0), 0);   // above the count
    EXPECT_EQ(f.adArgFloat[1], 8.0);
}

TEST_F(SysVarTest, MessageTextAndPathWritesStayInTheirBuffers)
{
    UseTextBuffer();
    ERROR_RECORDER errors;
    EXPECT_EQ(AssignSysVarString(122, 0, "hello", 5), 0);
    EXPECT_EQ(AssignSysVarString(123, 0, "11111E", 6), 0);
    EXPECT_EQ(ReadText(122, 0), "hello");
    EXPECT_EQ(ReadText(123, 0), "11111E");
    EXPECT_EQ(buffer.nTextLen, 5);
    EXPECT_EQ(buffer.nCodeCount, 6);

    char aszPath[2][KX_MAX_OBJECT_PATH] = {"W0/", "M0/"};
    g_pszLayerPath = aszPath[0];
    g_pszMenuPath = aszPath[1];
    EXPECT_EQ(AssignSysVarString(128, 0, "W0/menu/", 8), 0);
    EXPECT_EQ(ReadText(128, 0), "W0/menu/");
    // 254 bytes and a double-byte character: cut before the character, terminated in the buffer.
    std::string strLong(254, 'p');
    strLong += "\x83\x41";
    EXPECT_EQ(AssignSysVarString(131, 0, strLong.data(), strLong.size()), 0);
    EXPECT_EQ(ReadText(131, 0), std::string(254, 'p'));
    EXPECT_TRUE(errors.reports.empty());

    // Without a buffer the writes do nothing.
    g_pTextBuffer = nullptr;
    EXPECT_EQ(AssignSysVarString(122, 0, "x", 1), 0);
}
