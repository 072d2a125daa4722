#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <thread>
#include <vector>
#include <cstring>
#include <string>

#include "root/startup.h"
#include "core/engine_hooks.h"
#include "core/cp932.h"
#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/kx_texts.h"
#include "platform/plat_thread.h"
#include "platform/plat_time.h"
#include "platform/plat_trace.h"
#include "core/game_config.h"
#include "tests/support/engine_test.h"
#include "tests/support/test_support.h"

namespace {

// A compiled message table as the script tables' loader leaves it.
struct COMPILED_TABLE {
    std::vector<std::string> texts;
    COMPILED_TABLE(std::initializer_list<std::pair<int, std::string>> entries)
    {
        g_nErrorTexts = 0;
        texts.reserve(entries.size());
        for (const auto& e : entries) {
            texts.push_back(e.second);
            g_anErrorId[g_nErrorTexts] = e.first;
            g_apszErrorText[g_nErrorTexts] = texts.back().data();
            ++g_nErrorTexts;
        }
    }
    ~COMPILED_TABLE() { g_nErrorTexts = 0; }
};

const char* g_pszFakeFile = nullptr;
int g_nFakeLine = 0;
int FakeLocation(const char** ppszFile, int* pnLine)
{
    if (!g_pszFakeFile) return 0;
    *ppszFile = g_pszFakeFile;
    *pnLine = g_nFakeLine;
    return 1;
}

const char* g_pszFakeCommand = nullptr;
const char* FakeCommand(void) { return g_pszFakeCommand; }

struct SCRIPT_AT {
    SCRIPT_AT(const char* pszFile, int nLine, const char* pszCommand = nullptr)
    {
        g_pszFakeFile = pszFile;
        g_nFakeLine = nLine;
        g_pszFakeCommand = pszCommand;
        g_EngineHooks.pfnGetScriptLocation = FakeLocation;
        g_EngineHooks.pfnGetScriptCommand = FakeCommand;
    }
    ~SCRIPT_AT()
    {
        InstallEngineParts();
        g_pszFakeFile = nullptr;
        g_pszFakeCommand = nullptr;
    }
};

// The trace goes to a file of the test while alive.
struct TRACE_FILE {
    TEMP_DIR dir;
    std::string strOld;
    bool bHadOld;
    TRACE_FILE()
    {
        const char* pszOld = std::getenv("KOLVEX_TRACE");
        bHadOld = pszOld != nullptr;
        strOld = pszOld ? pszOld : "";
        setenv("KOLVEX_TRACE", (dir.strNative + "/trace.txt").c_str(), 1);
    }
    ~TRACE_FILE()
    {
        if (bHadOld) setenv("KOLVEX_TRACE", strOld.c_str(), 1);
        else unsetenv("KOLVEX_TRACE");
    }
    std::string Read() { return dir.Exists("trace.txt") ? dir.Read("trace.txt") : std::string(); }
};

std::vector<std::string> Lines(const std::string& s)
{
    std::vector<std::string> v;
    size_t nStart = 0;
    for (size_t n; (n = s.find('\n', nStart)) != std::string::npos; nStart = n + 1) v.push_back(s.substr(nStart, n - nStart));
    if (nStart < s.size()) v.push_back(s.substr(nStart));
    return v;
}

}  // namespace

TEST(ErrorText, LookupPrefersBuiltinThenCompiledThenUnlisted)
{
    COMPILED_TABLE table{{120010, "compiled 120010"}, {100010, "compiled memory text"}, {120010, "second entry"}};
    EXPECT_STREQ(LookupErrorText(120010), "compiled 120010");   // the first match wins
    EXPECT_EQ(std::string(LookupErrorText(100010)), Cp932("メモリ不足です。"));
    EXPECT_STREQ(LookupErrorText(999999), GetEngineText(TXT_ERR_UNLISTED));
    EXPECT_EQ(std::string(LookupErrorText(999999)),
              Cp932("[内部エラー]\n\nエラー文字列の指定ミスです。\nシステム開発者までお問い合わせください。"));
}

TEST(ErrorReport, FatalFlagIsOredIntoTheStopFlagAndOnlyTheFirstErrorShowsTheDialog)
{
    ERROR_RECORDER errors;
    MSGBOX_RECORDER boxes;
    ReportErrorF(KX_ERR_FILE_MISSING, 1, "kxbin\\kxcfg.kbn");
    EXPECT_EQ(g_bEngineStop.load(), 1);
    ReportErrorF(KX_ERR_FILE_READ, 1, "b.png");
    // A later non-fatal report does not cancel the pending stop.
    ReportErrorF(KX_ERR_PACK_DUPLICATE, 0, "c.png");
    EXPECT_EQ(g_bEngineStop.load(), 1);

    ASSERT_EQ(errors.reports.size(), 3u);
    EXPECT_EQ(errors.reports[0].nId, KX_ERR_FILE_MISSING);
    EXPECT_EQ(errors.reports[0].strText, Cp932("[kxbin\\kxcfg.kbn]ファイルが\n存在しません。"));
    EXPECT_EQ(errors.reports[2].bFatal, 0);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].strCaption, "KOLVEX Debug Info.");
    EXPECT_EQ(boxes.boxes[0].strText, errors.reports[0].strText);
}

TEST(ErrorReport, NonFatalReportAloneLeavesTheEngineRunning)
{
    ERROR_RECORDER errors;
    MSGBOX_RECORDER boxes;
    ReportError(KX_ERR_TOO_MANY_FOLDERS, 0);
    EXPECT_EQ(g_bEngineStop.load(), 0);
    EXPECT_EQ(boxes.boxes.size(), 1u);
}

TEST(ErrorReport, ScriptErrorsCarryTheFileAndLineHeader)
{
    ERROR_RECORDER errors;
    MSGBOX_RECORDER boxes;
    {
        SCRIPT_AT at("kxs\\main.kxs", 42);
        ReportScriptErrorF(KX_ERR_FILE_MISSING, 1, "bg01.png");
        EXPECT_STREQ(g_pszErrorFile, "kxs\\main.kxs");
        EXPECT_EQ(g_nErrorLine, 42);
    }
    ReportScriptError(KX_ERR_NO_MEMORY, 1);   // no current thread: the bare text
    EXPECT_EQ(g_pszErrorFile, nullptr);
    EXPECT_EQ(g_nErrorLine, 1);
    ASSERT_EQ(errors.reports.size(), 2u);
    EXPECT_EQ(errors.reports[0].strText,
              Cp932("[対象ファイル]\nkxs\\main.kxs\n\n[場所]\n42 行目\n\n[内容]\n\n[bg01.png]ファイルが\n存在しません。"));
    EXPECT_EQ(errors.reports[1].strText, Cp932("メモリ不足です。"));
}

// Every report names itself on one line of standard error and of the trace, whatever the game's
// table holds; for an id the table lacks, the box shows the id and the command.
TEST(ErrorReport, EveryReportWritesOneLineWithItsIdPlaceAndCommand)
{
    ERROR_RECORDER errors;
    MSGBOX_RECORDER boxes;
    TRACE_FILE trace;
    COMPILED_TABLE table{{120010, "first %d beyond\n\"%s\""}};
    testing::internal::CaptureStderr();
    {
        SCRIPT_AT at("scene\\start.txt", 3, "wait");
        ReportScriptErrorF(160010, 1, "a\nb", 7, 2.5);   // in no table
        ReportScriptErrorF(120010, 0, 9, "x");            // in the game's table
    }
    ReportError(901030, 0);                              // no script: id alone
    NoteErrorF(KX_ERR_FILE_MISSING, "why it failed", Cp932("マニュアル.html"));
    const std::string strErr = testing::internal::GetCapturedStderr();

    const std::vector<std::string> expected = {
        "kolvex: fatal error 160010 in scene\\start.txt line 3 (command wait): the game's message table (kxbin/kxe.kbn) "
        "has no text for this id; its arguments: \"a b\", 7, 2.5",
        "kolvex: error 120010 in scene\\start.txt line 3 (command wait): first 9 beyond \"x\"",
        "kolvex: error 901030: the game's message table (kxbin/kxe.kbn) has no text for this id",
        "kolvex: error 104060: [マニュアル.html]ファイルが 存在しません。 (why it failed)",
    };
    EXPECT_EQ(Lines(strErr), expected) << strErr;
    EXPECT_EQ(Lines(trace.Read()), expected);

    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].strText,
              Cp932("[対象ファイル]\nscene\\start.txt\n\n[場所]\n3 行目\n\n[内容]\n\n[エラー番号]\n160010\n\n[コマンド]\nwait\n\n") +
                  GetEngineText(TXT_ERR_UNLISTED));
    ASSERT_EQ(errors.reports.size(), 4u);
    EXPECT_EQ(errors.reports[2].strText, Cp932("[エラー番号]\n901030\n\n") + GetEngineText(TXT_ERR_UNLISTED));
    EXPECT_EQ(errors.reports[3].nId, KX_ERR_FILE_MISSING);
    EXPECT_EQ(errors.reports[3].bFatal, 0);
}

// A note takes no box and ends nothing; the first fatal error gets its box even after an error that
// ended nothing took the run's first; later errors get none.
TEST(ErrorReport, TheFirstFatalErrorIsShownAfterANonFatalBoxAndNotesTakeNone)
{
    ERROR_RECORDER errors;
    MSGBOX_RECORDER boxes;
    testing::internal::CaptureStderr();
    NoteScriptErrorF(KX_ERR_FILE_MISSING, "there is no such file", "doc.html");
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(g_bEngineStop.load(), 0);
    ReportErrorF(KX_ERR_PACK_DUPLICATE, 0, "a.png");
    ReportErrorF(KX_ERR_PACK_DUPLICATE, 0, "b.png");
    ReportErrorF(KX_ERR_FILE_READ, 1, "c.png");
    ReportErrorF(KX_ERR_FILE_READ, 1, "d.png");
    NoteErrorF(KX_ERR_FILE_MISSING, "there is no such file", "e.html");
    const std::string strErr = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Lines(strErr).size(), 6u) << strErr;
    EXPECT_EQ(g_bEngineStop.load(), 1);
    EXPECT_EQ(WasFatalErrorReported(), 1);
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_NE(boxes.boxes[0].strText.find("[a.png]"), std::string::npos);
    EXPECT_NE(boxes.boxes[1].strText.find("[c.png]"), std::string::npos);
    // A fatal error first: the run's one box.
    ResetErrorStateForRun();
    g_bEngineStop = 0;
    boxes.boxes.clear();
    testing::internal::CaptureStderr();
    ReportErrorF(KX_ERR_FILE_READ, 1, "f.png");
    ReportErrorF(KX_ERR_PACK_DUPLICATE, 0, "g.png");
    testing::internal::GetCapturedStderr();
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_NE(boxes.boxes[0].strText.find("[f.png]"), std::string::npos);
}

TEST(ErrorReport, PercentInScriptFileNameStaysText)
{
    ERROR_RECORDER errors;
    MSGBOX_RECORDER boxes;
    SCRIPT_AT at("kxs\\100%s.kxs", 7);
    ReportScriptErrorF(KX_ERR_FILE_MISSING, 1, "x.png");
    ASSERT_EQ(errors.reports.size(), 1u);
    EXPECT_NE(errors.reports[0].strText.find("kxs\\100%s.kxs"), std::string::npos);
    EXPECT_NE(errors.reports[0].strText.find("[x.png]"), std::string::npos);
}

TEST(ErrorReport, FormatsNeverReadAWrongArgument)
{
    ERROR_RECORDER errors;
    MSGBOX_RECORDER boxes;
    COMPILED_TABLE table{{120010, "value %d of %s, again %d, %5.1f%%"}, {120020, "plain %s and %d"}};
    ReportErrorF(120010, 0, "only a text");
    ReportError(120020, 0);   // reported without arguments: the directives show as they stand
    ReportError(KX_ERR_FILE_READ, 0);
    ReportErrorF(120010, 0, 3, "t", 4, 2.25);
    ASSERT_EQ(errors.reports.size(), 4u);
    EXPECT_EQ(errors.reports[0].strText, "value %d of only a text, again %d, %5.1f%");
    EXPECT_EQ(errors.reports[1].strText, "plain %s and %d");
    EXPECT_EQ(errors.reports[2].strText, Cp932("[%s]ファイルを\n読み込めませんでした。"));
    EXPECT_EQ(errors.reports[3].strText, "value 3 of t, again 4,   2.2%");
}

TEST(ErrorReport, LongArgumentsAreCutAtAWholeCharacter)
{
    ERROR_RECORDER errors;
    MSGBOX_RECORDER boxes;
    std::string strLong;
    strLong += 'x';
    while (strLong.size() < 5000) strLong += "\x82\xa0";   // odd offset: every cut point splits a pair
    ReportErrorF(KX_ERR_FILE_MISSING, 0, strLong);
    ASSERT_EQ(errors.reports.size(), 1u);
    const std::string& s = errors.reports[0].strText;
    EXPECT_LT(s.size(), static_cast<size_t>(KX_ERROR_BUFFER));
    EXPECT_GT(s.size(), 1000u);
    // The text is whole cp932: walking it never ends inside a character.
    size_t n = 0;
    for (const char* p = s.c_str(); *p; p = NextCharCp932(p)) n = static_cast<size_t>(p - s.c_str()) + CharLenCp932(p);
    EXPECT_EQ(n, s.size());
}

TEST(FormatChecked, DirectivesTable)
{
    struct CASE {
        const char* pszFormat;
        std::vector<KX_FMT_ARG> args;
        const char* pszExpected;
    } cases[] = {
        {"%d|%5d|%-5d|%05d", {MakeFmtArg(1), MakeFmtArg(-2), MakeFmtArg(3), MakeFmtArg(-4)}, "1|   -2|3    |-0004"},
        {"%x %X %o %u", {MakeFmtArg(255), MakeFmtArg(255), MakeFmtArg(8), MakeFmtArg(-1)}, "ff FF 10 18446744073709551615"},
        {"%I64d %lld %ld", {MakeFmtArg(int64_t{1} << 40), MakeFmtArg(-5), MakeFmtArg(6)}, "1099511627776 -5 6"},
        {"%.3s|%6s|%-4s|", {MakeFmtArg("abcdef"), MakeFmtArg("ab"), MakeFmtArg("c")}, "abc|    ab|c   |"},
        {"%*d|%.*f", {MakeFmtArg(4), MakeFmtArg(7), MakeFmtArg(2), MakeFmtArg(3.14159)}, "   7|3.14"},
        {"%c%c", {MakeFmtArg('o'), MakeFmtArg('k')}, "ok"},
        {"%s", {MakeFmtArg(5)}, "%s"},
        {"%d", {MakeFmtArg("x")}, "%d"},
        {"%n %p 100%", {}, "%n %p 100%"},
        {"%99999d", {MakeFmtArg(1)}, "%99999d"},
        {"%", {}, "%"},
    };
    for (const CASE& c : cases) {
        char buf[256];
        FormatChecked(buf, sizeof buf, c.pszFormat, c.args.data(), static_cast<int>(c.args.size()));
        EXPECT_STREQ(buf, c.pszExpected) << c.pszFormat;
    }
    // A cut never leaves half a character and always terminates.
    char small[4];
    FormatText(small, sizeof small, "%s", "a\x82\xa0\x82\xa0");
    EXPECT_STREQ(small, "a\x82\xa0");
}

TEST(GetPathFileName, Cases)
{
    struct CASE {
        const char* pszPath;
        int nResult;
        const char* pszName;
    } cases[] = {
        {"C:\\Program Files\\Editor\\sakura.exe", 1, "sakura.exe"},
        {"/usr/bin/vim", 1, "vim"},
        {"vim", 0, ""},
        {"dir\\", 0, ""},
        {"dir\\\x83\x5c", 1, "\x83\x5c"},          // a trail byte 0x5C is no separator
        {"\x83\x5c\\name", 1, "name"},
    };
    for (const CASE& c : cases) {
        char buf[64] = "junk";
        EXPECT_EQ(GetPathFileName(buf, sizeof buf, c.pszPath), c.nResult) << c.pszPath;
        EXPECT_STREQ(buf, c.pszName) << c.pszPath;
    }
}

TEST(EditorParams, EveryEditorForm)
{
    struct CASE {
        const char* pszEditor;
        const char* pszExpected;
    } cases[] = {
        {"apsaly.exe", " /j12 P"},        {"EmEditor.exe", " \"P\" /l 12"}, {"Ginnie.exe", " \"P\" /r12"},
        {"GinnieFE.exe", " \"P\" /r12"},  {"Jcref.exe", " \"P\" /r12"},     {"JmEdit2.exe", " \"P\"/12"},
        {"K2Editor.exe", " P /j12"},      {"MIW.exe", " \"P+12\""},         {"oseditor2.exe", " /j12 P"},
        {"otbedit.exe", " P /r12"},       {"QXW32.exe", " -J12 \"P\""},     {"tepa.exe", " /j12 \"P\""},
        {"TeraPad.exe", " /jl=12 P"},     {"whinny.exe", " \"P/12\""},      {"WZEDITOR.exe", " P /j12"},
        {"sakura.exe", " \"P\" -Y=12"},   {"hidemaru.exe", " /j12 \"P\""},  {"HIDEMARU.EXE", " /j12 \"P\""},
        {"vim", " P"},                    {"", " P"},
    };
    for (const CASE& c : cases) {
        char buf[128];
        FormatEditorParams(buf, sizeof buf, c.pszEditor, "P", 12);
        EXPECT_STREQ(buf, c.pszExpected) << c.pszEditor;
    }
}

// The dialog tests switch the debug flag; the fixture puts it back.
class ErrorDialog : public EngineTest {};

TEST_F(ErrorDialog, EditOpensTheScriptAtTheLineAndTheDialogStaysOpen)
{
    TEMP_DIR dir;
    CopyTextBounded(g_szExeDir, sizeof g_szExeDir, dir.strEngine.c_str());
    setenv("VISUAL", "/opt/editors/sakura.exe", 1);
    ERROR_RECORDER errors;
    MSGBOX_RECORDER boxes;
    SPAWN_RECORDER spawns;
    boxes.answers = {1033, 1034};
    g_bDebug = 1;
    {
        SCRIPT_AT at("kxs\\scene 1.kxs", 9);
        ReportScriptError(KX_ERR_NO_MEMORY, 1);
    }
    unsetenv("VISUAL");
    ASSERT_EQ(boxes.boxes.size(), 2u);   // shown again after Edit, until Exit
    EXPECT_EQ(boxes.boxes[0].buttonIds, (std::vector<int>{1033, 1034}));
    EXPECT_EQ(boxes.boxes[0].buttonTexts[0], Cp932("編集(&E)"));
    EXPECT_EQ(boxes.boxes[0].buttonTexts[1], Cp932("終了(&X)"));
    EXPECT_EQ(boxes.boxes[0].nDefaultId, 1033);
    ASSERT_EQ(spawns.starts.size(), 1u);
    const std::string strPath = dir.strNative + "/kxs/scene 1.kxs";
    // The editor comes back as an engine path; the script path is handed over in the system's form.
    EXPECT_EQ(spawns.starts[0], (std::vector<std::string>{"\\opt\\editors\\sakura.exe", strPath, "-Y=9"}));
}

TEST_F(ErrorDialog, EditButtonOnlyInDebugModeWithAScriptFile)
{
    struct CASE {
        uint8_t bDebug;
        bool bScript;
        std::vector<int> buttons;
    } cases[] = {
        {1, false, {1034}},
        {0, true, {1034}},
        {0, false, {1034}},
    };
    for (const CASE& c : cases) {
        ERROR_RECORDER errors;
        MSGBOX_RECORDER boxes;
        g_bDebug = c.bDebug;
        if (c.bScript) {
            SCRIPT_AT at("a.kxs", 3);
            ReportScriptError(KX_ERR_NO_MEMORY, 1);
        } else {
            ReportScriptError(KX_ERR_NO_MEMORY, 1);
        }
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].buttonIds, c.buttons);
        EXPECT_EQ(boxes.boxes[0].nDefaultId, 1034);
    }
}

TEST(DebugLog, FirstWriteResetsTheFileAndWritesTheRunHeaderThenWarnsPastTheBudget)
{
    TEMP_DIR dir;
    CopyTextBounded(g_szExeDir, sizeof g_szExeDir, dir.strEngine.c_str());
    dir.Write("debuglog.txt", std::string("old run\n"));
    ERROR_RECORDER errors;   // also starts a fresh run of the log
    MSGBOX_RECORDER boxes;
    PLAT_LOCAL_TIME t{2026, 12, 10, 4, 9, 5, 7, 0};
    PlatSetFakeLocalTime(&t);
    KX_FMT_ARG a[] = {MakeFmtArg(3)};
    int64_t n1 = WriteDebugLog("debuglog.txt", 1, 1000, "count=%d", a, 1);
    int64_t n2 = WriteDebugLog("debuglog.txt", 1, 0, "second", nullptr, 0);
    PlatSetFakeLocalTime(nullptr);

    const std::string strHeader = Cp932(
        "//----------------------------------------------------------------------------\n"
        "//■26/12/10 time=09:05:07\n"
        "//----------------------------------------------------------------------------\n");
    const std::string strWarning = Cp932(
        "log が 10MB を超えました。\n\nこのまま続けていくと動作が遅くなっていく可能性があります。\n\n"
        "\t\t\t\t\t\t\t\t\tdebuglog.txt を削除していただくか、\n別の場所に待避させてください。\n");
    EXPECT_EQ(dir.Read("debuglog.txt"), strHeader + "count=3\nsecond\n" + strWarning);
    EXPECT_EQ(n1, static_cast<int64_t>(strHeader.size() + 8));
    EXPECT_EQ(n2, static_cast<int64_t>(7 + strWarning.size()));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].strText + "\n", strWarning);
    EXPECT_EQ(boxes.boxes[0].strCaption, "");
}

TEST(MessageBox, FormatsIntoABoundedTextWithTheGivenCaption)
{
    MSGBOX_RECORDER boxes;
    ShowMessageBox("", "%s=%d", "x", 5);
    ShowMessageBox(nullptr, "%s", std::string(3000, 'y'));
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(boxes.boxes[0].strText, "x=5");
    EXPECT_EQ(boxes.boxes[0].buttonIds.size(), 1u);
    EXPECT_EQ(boxes.boxes[1].strText.size(), 1023u);
}

// The platform's lines are UTF-8 already and go through the trace unchanged; the engine's cp932
// lines are converted once.
TEST(DebugTraceFile, PlatformLinesKeepTheirUtf8)
{
    InstallEngineParts();
    TRACE_FILE trace;
    PlatTrace("open", "xdg-open /home/p/\xE3\x83\x9E\xE3\x83\x8B\xE3\x83\xA5\xE3\x82\xA2\xE3\x83\xAB.html");
    DebugTrace("open", Cp932("マニュアル.html").c_str());
    EXPECT_EQ(trace.Read(), "open: xdg-open /home/p/マニュアル.html\nopen: マニュアル.html\n");
}

// The trace never takes the engine lock: a line written while another thread holds it (as a box
// served on the window thread for a thread that holds the lock does) is written at once.
TEST(DebugTraceFile, WritesWhileAnotherThreadHoldsTheEngineLock)
{
    ERROR_RECORDER errors;
    MSGBOX_RECORDER boxes;
    TRACE_FILE trace;
    PlatLockEnter(g_csEngine);
    testing::internal::CaptureStderr();
    auto writer = std::async(std::launch::async, [] {
        DebugTrace("caption", "text");
        ReportErrorF(KX_ERR_PACK_DUPLICATE, 0, "a.png");
    });
    // Bounded: a trace that waited for the lock fails the test instead of hanging it.
    const bool bWritten = writer.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    PlatLockLeave(g_csEngine);
    writer.wait();
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(bWritten) << "the trace waited for the engine lock";
    const std::string strTrace = trace.Read();
    EXPECT_EQ(Lines(strTrace).size(), 2u) << strTrace;
    EXPECT_EQ(strTrace.rfind("caption: text\n", 0), 0u) << strTrace;
}

// The trace file is read on the user's system: the engine's cp932 texts (and the messages of the
// engine's own text table) arrive there in UTF-8, one "caption: text" line each.
TEST(DebugTraceFile, TextsAreWrittenInUtf8)
{
    TEMP_DIR dir;
    const std::string strTrace = dir.strNative + "/trace.txt";
    const char* pszOld = std::getenv("KOLVEX_TRACE");
    const std::string strOld = pszOld ? pszOld : "";
    setenv("KOLVEX_TRACE", strTrace.c_str(), 1);
    char szNotice[128];
    FormatText(szNotice, sizeof szNotice, GetEngineText(TXT_OGV_ALLOC_NOTICE), 320, 240);
    DebugTrace("ResizeOgvFrameBuffer", szNotice);
    DebugTrace("\x83\x65\x83\x58\x83\x67", "\x82\xA0 ascii \x83\x5C");   // テスト: あ ascii ソ
    DebugTrace(nullptr, nullptr);
    if (pszOld) setenv("KOLVEX_TRACE", strOld.c_str(), 1);
    else unsetenv("KOLVEX_TRACE");
    EXPECT_EQ(dir.Read("trace.txt"),
              "ResizeOgvFrameBuffer: \xE3\x83\xA1\xE3\x83\xA2\xE3\x83\xAA\xE7\xA2\xBA\xE4\xBF\x9D\xE3\x81\x97\xE3\x81\xBE"
              "\xE3\x81\x99. OGV_SX = 320, OGV_SY = 240\n"
              "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88: \xE3\x81\x82 ascii \xE3\x82\xBD\n"
              ": \n");
}
