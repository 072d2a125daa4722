// The system command's function codes, run from compiled scripts with the platform's fakes.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/window_record.h"
#include "platform/plat_dialog.h"
#include "platform/plat_editbox.h"
#include "platform/plat_file.h"
#include "platform/plat_msgbox.h"
#include "platform/plat_registry.h"
#include "platform/plat_sysinfo.h"
#include "platform/plat_time.h"
#include "script/cmd_system.h"
#include "script/engine_control.h"
#include "script/script_hooks.h"
#include "tests/script/host_cmd_fixture.h"

namespace {

class SystemCmdTest : public HOST_CMD_FIXTURE {
protected:
    void SetUp() override
    {
        HOST_CMD_FIXTURE::SetUp();
        ResetSystemCommandState();
        ResetErrorStateForRun();
    }
    void TearDown() override
    {
        ResetSystemCommandState();
        ResetErrorStateForRun();
        g_bGpuDirect = 0;
        if (g_apszFileList) {
            for (char** pp = g_apszFileList; *pp; ++pp) std::free(*pp);
            std::free(g_apszFileList);
        }
        g_apszFileList = nullptr;
        g_nFileListCount = 0;
        HOST_CMD_FIXTURE::TearDown();
    }
    std::vector<std::string> FileList() const
    {
        std::vector<std::string> v;
        for (int i = 0; i < g_nFileListCount && g_apszFileList && g_apszFileList[i]; ++i) v.push_back(g_apszFileList[i]);
        return v;
    }
};

TEST_F(SystemCmdTest, ConstantsReservedAndUnknownCodes)
{
    Sys(1, {OutArg(1, Elem(kInts, 0))});
    Sys(1, {OutArg(1, Var(kFloat))});
    Sys(20021, {OutArg(1, Elem(kInts, 1))});
    Sys(3, {OutArg(1, Elem(kInts, 2))});       // not a code: nothing stored
    Sys(1, {IntArg(1, kInt)});                 // a literal result designates nothing
    Sys(21031, {OutArg(1, Var(kText), EVALTYPE_TEXT)});
    ASSERT_NO_FATAL_FAILURE(Run());
    EXPECT_EQ(GetVarInt(kInts, 0), 502);
    EXPECT_EQ(GetVarFloat(kFloat, 0), 502.0);
    EXPECT_EQ(GetVarInt(kInts, 1), 0);
    EXPECT_EQ(GetVarInt(kInts, 2), -1);
    EXPECT_EQ(GetVarInt(kInt, 0), 7);
    EXPECT_EQ(VarText(kText, 0), "C:\\WINDOWS");

    ASSERT_NO_FATAL_FAILURE(Restart());
    Sys(1, {OutArg(1, Var(kText), EVALTYPE_TEXT)});
    ASSERT_NO_FATAL_FAILURE(Run(false));
    ExpectOneFatalError(errors, KX_ERR_VAR_WRONG_TYPE);
}

TEST_F(SystemCmdTest, MessagesShowTheirTexts)
{
    MSGBOX_RECORDER boxes;
    Sys(2, {TextArg(22, "hello")});
    Sys(2, {OutArg(22, Var(kText), EVALTYPE_TEXT)});
    Sys(2, {OutArg(22, Var(kInt))});   // not a text element: empty
    Sys(30);
    ASSERT_NO_FATAL_FAILURE(Run());
    ASSERT_EQ(boxes.boxes.size(), 4u);
    EXPECT_EQ(boxes.boxes[0].strText, "= hello");
    EXPECT_EQ(boxes.boxes[0].strCaption, "");
    EXPECT_EQ(boxes.boxes[1].strText, "= x");
    EXPECT_EQ(boxes.boxes[2].strText, "= ");
    EXPECT_EQ(boxes.boxes[3].strText, "COM:30 Deleted.");
}

TEST_F(SystemCmdTest, WritesExtractsAndChangesFolder)
{
    dir.Write("data/src.bin", std::string("A\0B", 3));
    dir.Write("sub/keep", "");
    Sys(15, {TextArg(22, "empty.txt")});
    Sys(15, {TextArg(22, "text.txt"), TextArg(23, "line")});
    Sys(12, {TextArg(22, "DATA/SRC.BIN"), TextArg(23, "copy.bin")});
    Sys(32, {TextArg(22, "sub")});
    Sys(15, {TextArg(22, "here.txt"), TextArg(23, std::string(2000, 'w'))});   // A and B hold 1023 bytes
    ASSERT_NO_FATAL_FAILURE(Run());
    PlatSetCurrentDir(dir.strEngine.c_str());
    EXPECT_EQ(dir.Read("empty.txt"), "\r\n");
    EXPECT_EQ(dir.Read("text.txt"), "line\r\n");
    EXPECT_EQ(dir.Read("copy.bin"), std::string("A\0B", 3));
    EXPECT_EQ(dir.Read("sub/here.txt"), std::string(1023, 'w') + "\r\n");

    // A text file that cannot be written is reported (not fatal), and the game goes on; a
    // read-only file keeps its content.
    ASSERT_NO_FATAL_FAILURE(Restart());
    dir.Write("ro.txt", "old\r\n");
    ASSERT_EQ(chmod((dir.strNative + "/ro.txt").c_str(), 0444), 0);
    Sys(15, {TextArg(22, "no/such/folder/x.txt"), TextArg(23, "x")});
    Sys(15, {TextArg(22, "ro.txt"), TextArg(23, "new")});
    Sys(15, {TextArg(22, "after.txt"), TextArg(23, "went on")});
    ASSERT_NO_FATAL_FAILURE(Run(false));
    ASSERT_EQ(errors.reports.size(), 2u);
    for (const ERROR_RECORD& r : errors.reports) {
        EXPECT_EQ(r.nId, 102140);
        EXPECT_EQ(r.bFatal, 0);
    }
    EXPECT_EQ(dir.Read("ro.txt"), "old\r\n");
    EXPECT_EQ(dir.Read("after.txt"), "went on\r\n");

    ASSERT_NO_FATAL_FAILURE(Restart());
    Sys(12, {TextArg(22, "gone.bin"), TextArg(23, "copy2.bin")});
    ASSERT_NO_FATAL_FAILURE(Run(false));
    ExpectOneFatalError(errors, KX_ERR_FILE_MISSING);
    EXPECT_FALSE(dir.Exists("copy2.bin"));
}

TEST_F(SystemCmdTest, FolderListingFiltersSortsAndReplacesTheSharedList)
{
    dir.Write("l/b.PNG", "");
    dir.Write("l/a.png", "");
    dir.Write("l/c.txt", "");
    dir.Write("l/.hidden.png", "");
    dir.Write("l/Save/x", "");
    dir.Write("l/png", "");
    Sys(21, {TextArg(22, "l"), TextArg(23, "png")});
    ASSERT_NO_FATAL_FAILURE(Run());
    EXPECT_EQ(FileList(), (std::vector<std::string>{".hidden.png", "a.png", "b.PNG"}));

    ASSERT_NO_FATAL_FAILURE(Restart());
    Sys(21, {TextArg(22, "l"), TextArg(23, "png"), IntArg(2, 1)});
    ASSERT_NO_FATAL_FAILURE(Run());
    EXPECT_EQ(FileList(), (std::vector<std::string>{".hidden.png", "a.png", "b.PNG", "Save/"}));

    ASSERT_NO_FATAL_FAILURE(Restart());
    Sys(21, {TextArg(22, "l")});
    Sys(21, {TextArg(22, "l"), OutArg(23, Var(kText), EVALTYPE_TEXT)});   // B from a variable: "x"
    ASSERT_NO_FATAL_FAILURE(Run());
    EXPECT_EQ(FileList(), std::vector<std::string>{});

    ASSERT_NO_FATAL_FAILURE(Restart());
    Sys(21, {TextArg(22, "l")});
    Sys(21, {TextArg(22, "missing")});
    ASSERT_NO_FATAL_FAILURE(Run());
    EXPECT_TRUE(FileList().empty());
}

TEST_F(SystemCmdTest, FolderListingStopsAt8192Names)
{
    for (int i = 0; i < KX_FILE_LIST_MAX + 1; ++i) {
        char sz[32];
        snprintf(sz, sizeof sz, "many/f%05d", i);
        dir.Write(sz, "");
    }
    MSGBOX_RECORDER boxes;
    Sys(21, {TextArg(22, "many")});
    ASSERT_NO_FATAL_FAILURE(Run());
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_NE(boxes.boxes[0].strText.find("8192"), std::string::npos);
    const std::vector<std::string> v = FileList();
    ASSERT_EQ(v.size(), static_cast<size_t>(KX_FILE_LIST_MAX));
    EXPECT_EQ(v.front(), "f00000");
    EXPECT_EQ(v.back(), "f08191");
}

TEST_F(SystemCmdTest, TextLengthsThroughReferenceValues)
{
    const int64_t llSrc = (static_cast<int64_t>(kTexts) << 32) | 1;
    const int64_t llDst = (static_cast<int64_t>(kInts) << 32) | 2;
    Sys(23, {IntArg(2, llSrc), IntArg(3, llDst), OutArg(1, Var(kInt))});
    Sys(23, {IntArg(2, 5LL << 32), IntArg(3, llDst), OutArg(1, Var(kFloat))});   // not a user variable
    StartParked(1000000);
    SetVarString(kTexts, 1, "abc");
    SetVarString(kTexts, 2, "\x82\xA0");
    SetVarString(kTexts, 3, "");
    Pass();
    EXPECT_EQ(GetVarInt(kInt, 0), 2);
    EXPECT_EQ(GetVarInt(kInts, 2), 3);
    EXPECT_EQ(GetVarInt(kInts, 3), 2);
    EXPECT_EQ(GetVarFloat(kFloat, 0), 0.0);
}

TEST_F(SystemCmdTest, TokenizesALineIntoTheReferencedArrays)
{
    const int64_t llTexts = static_cast<int64_t>(kTexts) << 32;
    const int64_t llKinds = static_cast<int64_t>(kInts) << 32;
    const int64_t llState = (static_cast<int64_t>(kInts) << 32) | 7;
    Sys(22, {TextArg(22, "a+=1;\r\n"), IntArg(2, llTexts), IntArg(3, llKinds), IntArg(4, llState), OutArg(1, Var(kInt))});
    StartParked(1000000);
    SetVarInt(kInts, 7, 0);
    Pass();
    EXPECT_EQ(GetVarInt(kInt, 0), 5);
    EXPECT_EQ(VarText(kTexts, 0), "a");
    EXPECT_EQ(VarText(kTexts, 1), "+=");
    EXPECT_EQ(VarText(kTexts, 2), "1");
    EXPECT_EQ(GetVarInt(kInts, 1), 12);
    EXPECT_EQ(GetVarInt(kInts, 3), 16);
    EXPECT_EQ(GetVarInt(kInts, 7), 0);
    EXPECT_TRUE(errors.reports.empty());
}

TEST_F(SystemCmdTest, SaveFolderAndEditDialogsAnswerOkCancelAndFailure)
{
    dialogs.answers = {{1, "\\home\\p\\shot.png"}, {0, ""}, {1, "\\home\\p"}, {0, ""}};
    Sys(26, {TextArg(22, "shot.png"), OutArg(1, Elem(kTexts, 0), EVALTYPE_TEXT)});
    Sys(25, {TextArg(22, "a.bmp"), OutArg(1, Elem(kTexts, 1), EVALTYPE_TEXT)});
    Sys(21000, {TextArg(22, "C:/x"), TextArg(23, "Pick"), OutArg(1, Elem(kTexts, 2), EVALTYPE_TEXT)});
    Sys(21000, {OutArg(1, Elem(kTexts, 3), EVALTYPE_TEXT)});
    Sys(10205, {OutArg(1, Elem(kTexts, 4), EVALTYPE_TEXT)});   // before any edit dialog
    ASSERT_NO_FATAL_FAILURE(Run());
    EXPECT_EQ(VarText(kTexts, 0), "\\home\\p\\shot.png");
    EXPECT_EQ(VarText(kTexts, 1), "?");
    EXPECT_EQ(VarText(kTexts, 2), "\\home\\p");
    EXPECT_EQ(VarText(kTexts, 3), "");
    EXPECT_EQ(VarText(kTexts, 4), "");
    ASSERT_EQ(dialogs.seen.size(), 4u);
    EXPECT_EQ(dialogs.seen[0].nKind, PLAT_DLG_SAVE_FILE);
    EXPECT_EQ(dialogs.seen[0].strCaption, Cp932("保存する場所を指定してください。"));
    EXPECT_EQ(dialogs.seen[0].strInitial, "shot.png");
    EXPECT_EQ(dialogs.seen[0].strFilter, "PNG File(*.png)|*.png");
    EXPECT_EQ(dialogs.seen[1].strFilter, "BMP File(*.bmp)|*.bmp");
    EXPECT_EQ(dialogs.seen[2].nKind, PLAT_DLG_FOLDER);
    EXPECT_EQ(dialogs.seen[2].strCaption, "Pick");
    EXPECT_EQ(dialogs.seen[2].strInitial, "C:\\x");

    ASSERT_NO_FATAL_FAILURE(Restart());
    dialogs.answers = {{1, "first\r\nline"}, {0, "ignored"}, {-1, ""}};
    Sys(10201, {TextArg(22, "init"), OutArg(1, Elem(kInts, 0))});
    Sys(10201, {TextArg(22, "again"), OutArg(1, Elem(kInts, 1))});
    Sys(10205, {OutArg(1, Elem(kTexts, 0), EVALTYPE_TEXT)});   // the last confirmed text
    Sys(10201, {OutArg(1, Elem(kInts, 2))});                    // cannot be shown: the turn ends
    Sys(1, {OutArg(1, Elem(kInts, 3))});
    ASSERT_NO_FATAL_FAILURE(Run());
    EXPECT_EQ(GetVarInt(kInts, 0), 1);
    EXPECT_EQ(GetVarInt(kInts, 1), 0);
    EXPECT_EQ(VarText(kTexts, 0), "first\r\nline");
    EXPECT_EQ(GetVarInt(kInts, 2), -1);
    EXPECT_EQ(GetVarInt(kInts, 3), -1);
    ASSERT_EQ(dialogs.seen.size(), 3u);
    EXPECT_EQ(dialogs.seen[0].nKind, PLAT_DLG_EDIT);
    EXPECT_EQ(dialogs.seen[0].strCaption, Cp932("編集"));
    EXPECT_EQ(dialogs.seen[0].strInitial, "init");
    EXPECT_EQ(dialogs.seen[0].nLimit, KX_EDIT_LIMIT);
    Pass();
    EXPECT_EQ(GetVarInt(kInts, 3), 502);
}

TEST_F(SystemCmdTest, EditBoxKeepsItsTextAndFocus)
{
    Sys(10102, {TextArg(22, "hello"), IntArg(2, 10), IntArg(3, 20), IntArg(4, 200), OutArg(5, Var(kInt))});
    Sys(20005);
    Sys(10105, {OutArg(1, Elem(kTexts, 0), EVALTYPE_TEXT)});
    Sys(10104, {TextArg(22, "changed")});
    Sys(10105, {OutArg(1, Elem(kTexts, 1), EVALTYPE_TEXT)});
    ASSERT_NO_FATAL_FAILURE(Run());
    int x, y, w, h, f;
    ASSERT_EQ(PlatEditBoxState(&x, &y, &w, &h, &f), 1);
    EXPECT_EQ(x, 10);
    EXPECT_EQ(y, 20);
    EXPECT_EQ(w, 200);
    EXPECT_EQ(h, 7);   // R from the variable it designates
    EXPECT_EQ(f, 1);
    EXPECT_EQ(VarText(kTexts, 0), "hello");
    EXPECT_EQ(VarText(kTexts, 1), "changed");

    ASSERT_NO_FATAL_FAILURE(Restart());
    Sys(20006);
    Sys(10103);
    Sys(10105, {OutArg(1, Elem(kTexts, 2), EVALTYPE_TEXT)});
    ASSERT_NO_FATAL_FAILURE(Run());
    EXPECT_EQ(PlatEditBoxState(nullptr, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(VarText(kTexts, 2), "");
}

uint8_t g_bDragSwitch = 9;
void RecordDragSwitch(uint8_t b) { g_bDragSwitch = b; }

TEST_F(SystemCmdTest, SwitchesAndTheTimerPause)
{
    const SCRIPT_HOOKS saved = g_ScriptHooks;
    g_ScriptHooks.pfnSetPauseOnCaptionDrag = RecordDragSwitch;
    Sys(27);
    Sys(80);
    Sys(20011);
    ASSERT_NO_FATAL_FAILURE(Run());
    EXPECT_EQ(g_bDrawDuringMovie, 1);
    EXPECT_EQ(g_bGpuDirect, 1);
    EXPECT_EQ(g_bDragSwitch, 1);
    ASSERT_NO_FATAL_FAILURE(Restart());
    g_ScriptHooks.pfnSetPauseOnCaptionDrag = RecordDragSwitch;
    Sys(28);
    Sys(81);
    Sys(20012);
    ASSERT_NO_FATAL_FAILURE(Run());
    EXPECT_EQ(g_bDrawDuringMovie, 0);
    EXPECT_EQ(g_bGpuDirect, 0);
    EXPECT_EQ(g_bDragSwitch, 0);
    g_ScriptHooks = saved;

    // The pause: a resume without a pause changes nothing; 700 ms of pause leave the running timers.
    PlatUseFakeClock(1);
    PlatSetFakeTime(50000);
    for (int i = 0; i < KX_SCRIPT_TIMERS; ++i) g_anTimerPaused[i] = 0;
    g_abTimerRunning[1] = 0;
    ResumeScriptTimers();
    EXPECT_EQ(g_anTimerPaused[0], 0u);
    PauseScriptTimers();
    PlatSetFakeTime(50400);
    PauseScriptTimers();   // a second pause keeps the first stamp
    PlatSetFakeTime(50700);
    ResumeScriptTimers();
    ResumeScriptTimers();
    EXPECT_EQ(g_anTimerPaused[0], 700u);
    EXPECT_EQ(g_anTimerPaused[1], 0u);
    EXPECT_EQ(g_anTimerPaused[3], 700u);
    EXPECT_EQ(g_bScriptTimersPaused, 0);
    EXPECT_EQ(g_llTimerPauseStamp, 0);
    g_abTimerRunning[1] = 1;
    for (int i = 0; i < KX_SCRIPT_TIMERS; ++i) g_anTimerPaused[i] = 0;
    PlatUseFakeClock(0);
}

TEST_F(SystemCmdTest, RegistryDeletionsDiskSpaceAndAdmin)
{
    PlatRegSetValue("HKEY_CURRENT_USER", "Software\\Kx", "v", PLAT_REG_SZ, "1", 1);
    PlatRegSetValue("HKEY_LOCAL_MACHINE", "Software\\Kx", "m", PLAT_REG_SZ, "2", 1);
    PlatRegSetValue("HKEY_LOCAL_MACHINE", "Software\\Kx", "keep", PLAT_REG_SZ, "3", 1);
    PlatRegSetValue("HKEY_LOCAL_MACHINE", "Software\\Gone", "g", PLAT_REG_SZ, "4", 1);
    PlatSetUserAdminForTest(1);
    Sys(33, {TextArg(22, "Software/Kx"), TextArg(23, "v")});   // the value, then the key
    Sys(36, {TextArg(22, "Software\\Kx"), TextArg(23, "m")});
    Sys(37, {TextArg(22, "Software\\Gone")});
    Sys(34, {TextArg(22, "D:/games/data"), OutArg(1, Elem(kInts, 0))});
    Sys(34, {TextArg(22, "."), OutArg(1, Elem(kInts, 1))});
    Sys(38, {OutArg(1, Elem(kInts, 2))});
    ASSERT_NO_FATAL_FAILURE(Run());
    PlatSetUserAdminForTest(-1);
    EXPECT_EQ(PlatRegKeyExists("HKEY_CURRENT_USER", "Software\\Kx"), 0);
    char buf[8];
    size_t n;
    EXPECT_EQ(PlatRegQueryValue("HKEY_LOCAL_MACHINE", "Software\\Kx", "m", buf, sizeof buf, &n, nullptr), -1);
    EXPECT_EQ(PlatRegQueryValue("HKEY_LOCAL_MACHINE", "Software\\Kx", "keep", buf, sizeof buf, &n, nullptr), 0);
    EXPECT_EQ(PlatRegKeyExists("HKEY_LOCAL_MACHINE", "Software\\Gone"), 0);
    EXPECT_GT(GetVarInt(kInts, 0), 0);
    EXPECT_GT(GetVarInt(kInts, 1), 0);
    EXPECT_EQ(GetVarInt(kInts, 2), 1);
}

TEST_F(SystemCmdTest, DebugLogStartsAfreshAppendsAndWarnsOnce)
{
    dir.Write("debuglog.txt", "old contents\n");
    MSGBOX_RECORDER boxes;
    Sys(52, {TextArg(22, "first")});
    Sys(52, {TextArg(22, "second")});
    ASSERT_NO_FATAL_FAILURE(Run());
    const std::string strLog = dir.Read("debuglog.txt");
    EXPECT_EQ(strLog.find("old contents"), std::string::npos);
    EXPECT_LT(strLog.find("first\n"), strLog.find("second\n"));
    EXPECT_TRUE(boxes.boxes.empty());

    // Past the budget every line carries the warning, and the box comes once per run.
    ASSERT_NO_FATAL_FAILURE(Restart());
    g_nDebugLogBytes = static_cast<int32_t>(KX_DEBUG_LOG_BUDGET);
    Sys(52, {TextArg(22, "third")});
    Sys(52, {TextArg(22, "fourth")});
    ASSERT_NO_FATAL_FAILURE(Run());
    EXPECT_EQ(boxes.boxes.size(), 1u);
    const std::string strLog2 = dir.Read("debuglog.txt");
    EXPECT_NE(strLog2.find("fourth"), std::string::npos);
    EXPECT_NE(strLog2.find("10MB"), strLog2.rfind("10MB"));

    ASSERT_NO_FATAL_FAILURE(Restart());
    Sys(51);
    ASSERT_NO_FATAL_FAILURE(Run());
    EXPECT_FALSE(dir.Exists("debuglog.txt"));
}

// Code 120 hands any text unchanged to the desktop's opener as its one argument, whatever it looks
// like; the browser decides what it names. An empty text opens nothing and says so, without a box.
TEST_F(SystemCmdTest, WebPageTextGoesUnchangedToTheOpener)
{
    MSGBOX_RECORDER boxes;
    SPAWN_RECORDER spawns;
    const char* const kTexts[] = {"https://Example.invalid/a b", "example.org/page", "www.example.org", "page.html",
                                  "\x83\x7d\x83\x6a\x83\x85\x83\x41\x83\x8b"};   // マニュアル
    for (const char* psz : kTexts) Sys(120, {TextArg(22, psz)});
    Sys(100);   // no main window here: nothing
    Sys(110);
    ASSERT_NO_FATAL_FAILURE(Run());
    ASSERT_EQ(spawns.starts.size(), std::size(kTexts));
    for (size_t i = 0; i < std::size(kTexts); ++i)
        EXPECT_EQ(spawns.starts[i], (std::vector<std::string>{"xdg-open", kTexts[i]}));   // the hook sees cp932
    EXPECT_TRUE(boxes.boxes.empty());

    ASSERT_NO_FATAL_FAILURE(Restart());
    spawns.starts.clear();
    Sys(120, {TextArg(22, "")});
    testing::internal::CaptureStderr();
    ASSERT_NO_FATAL_FAILURE(Run(false));
    const std::string strErr = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(spawns.starts.empty());
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(g_bEngineStop.load(), 0);
    EXPECT_NE(strErr.find("(command system)"), std::string::npos) << strErr;
    EXPECT_NE(strErr.find("no web page was opened: no address given"), std::string::npos) << strErr;
    EXPECT_EQ(strErr.find("could not be started"), std::string::npos) << strErr;
    EXPECT_EQ(std::count(strErr.begin(), strErr.end(), '\n'), 1) << strErr;
}

}  // namespace
