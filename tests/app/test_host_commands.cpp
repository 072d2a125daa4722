// The real kolvex executable headless on a game that shows a message box and an input dialog,
// writes a text file through the system command and appends to the debug log.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_support.h"
#include "tools/lib/command_table.h"
#include "tools/lib/expr_assembler.h"
#include "tools/lib/kx_writers.h"
#include "tools/lib/script_builder.h"

namespace {

std::string ReadNative(const std::string& strPath)
{
    std::ifstream in(strPath, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

BUILDER_ARG Int(uint8_t id, int64_t v) { return ExprArg(id, MakeExprInt(v)); }
BUILDER_ARG Text(uint8_t id, const std::string& s) { return ExprArg(id, MakeExprText(s), EVALTYPE_TEXT); }

// Ends the script with a wait of one frame at a time for ever; the files of a 160 x 120 game with
// the variables.
std::vector<GAME_FILE> IdleGameFiles(SCRIPT_BUILDER* pB, const std::vector<KXV_DEF>& defs)
{
    EXPECT_GE(AddLabel(pB, "IDLE"), 0);
    EXPECT_GE(EmitCommand(pB, KXCMD_WAIT, {ExprArg(0, MakeExprInt(1))}), 0);
    EXPECT_GE(EmitGoto(pB, "IDLE"), 0);
    EXPECT_EQ(FinishScriptBody(pB), 0);
    GAME_DATA game = DefaultGameData();
    game.config.nWidth = 160;
    game.config.nHeight = 120;
    game.defs.insert(game.defs.end(), defs.begin(), defs.end());
    game.scripts.push_back(ScriptFromBuilder("start.txt", *pB));
    return BuildGameFiles(game);
}

std::vector<GAME_FILE> HostGame(void)
{
    constexpr uint16_t kTyped = 1000, kAnswer = 1001;
    SCRIPT_BUILDER b;
    InitScriptBuilder(&b, 0);
    EXPECT_GE(AddLabel(&b, "SYSTEM_START"), 0);
    // A box with Yes, No and Cancel whose default is the second button.
    EXPECT_GE(EmitCommand(&b, KXCMD_MESSAGE_BOX, {Text(0, "Question"), Text(1, "Hello from the box"), Int(15, 1),
                                                  Int(18, 2), ExprArg(11, MakeExprVar(kAnswer))}),
              0);
    // The input dialog answers with its initial text when nobody can type.
    EXPECT_GE(EmitCommand(&b, KXCMD_MESSAGE_BOX, {Text(0, "Name"), Text(1, "Your name?"), Text(9, "Ann"), Int(16, 1),
                                                  ExprArg(10, MakeExprVar(kTyped), EVALTYPE_TEXT)}),
              0);
    EXPECT_GE(EmitCommand(&b, KXCMD_SYSTEM, {Int(0, 15), Text(22, "written.txt"),
                                             ExprArg(23, MakeExprVar(kTyped), EVALTYPE_TEXT)}),
              0);
    EXPECT_GE(EmitCommand(&b, KXCMD_SYSTEM, {Int(0, 52), Text(22, "first log line")}), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_SYSTEM, {Int(0, 52), Text(22, "second log line")}), 0);
    return IdleGameFiles(&b, {MakeTextVarDef(kTyped, ""), MakeIntVarDef(kAnswer, 0)});
}

}  // namespace

TEST(KolvexHostCommands, HeadlessBoxesFilesAndTheDebugLog)
{
    TEMP_DIR dir;
    const std::string strGame = dir.strNative + "/game";
    ASSERT_EQ(WriteGameFolder(strGame, HostGame()), 0);
    std::ofstream(strGame + "/debuglog.txt") << "from an earlier run\n";
    const std::string strErr = dir.strNative + "/stderr.txt";
    const int r = RunProgramForTest(KX_KOLVEX_PATH, {"--game", strGame},
                                    {"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy", "XDG_RUNTIME_DIR=" + dir.strNative,
                                     "XDG_CONFIG_HOME=" + dir.strNative + "/config", "KOLVEX_QUIT_AFTER_FRAMES=5"},
                                    strErr);
    ASSERT_EQ(r, 0) << ReadNative(strErr);
    const std::string strStderr = ReadNative(strErr);
    EXPECT_NE(strStderr.find("[Question]\nHello from the box"), std::string::npos) << strStderr;
    EXPECT_NE(strStderr.find("[Name]\nYour name?"), std::string::npos) << strStderr;
    EXPECT_EQ(ReadNative(strGame + "/written.txt"), "Ann\r\n");
    const std::string strLog = ReadNative(strGame + "/debuglog.txt");
    EXPECT_EQ(strLog.find("earlier run"), std::string::npos);
    const size_t nFirst = strLog.find("first log line\n");
    ASSERT_NE(nFirst, std::string::npos) << strLog;
    EXPECT_GT(strLog.find("second log line\n"), nFirst);
}

namespace {

// A game that opens a document whose real name has capitals, two pages, a program with parameters
// (waiting for it), and a document the opener fails on; then idles.
std::vector<GAME_FILE> OpeningGame(void)
{
    SCRIPT_BUILDER b;
    InitScriptBuilder(&b, 0);
    EXPECT_GE(AddLabel(&b, "SYSTEM_START"), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_FILE, {Text(0, "Manual.html"), Int(6, 1), Text(8, "--dropped")}), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_FILE, {Text(0, "https://Example.invalid/Page?q=1"), Int(6, 1)}), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_SYSTEM, {Int(0, 120), Text(22, "https://example.invalid/second")}), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_FILE, {Text(0, "Tools/Record.sh"), Int(7, 1), Text(8, "-a \"b c\"")}), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_FILE, {Text(0, "broken.html"), Int(6, 1)}), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_FILE, {Text(0, Cp932("マニュアル.html")), Int(6, 1)}), 0);
    return IdleGameFiles(&b, {});
}

}  // namespace

TEST(KolvexHostCommands, OpensFilesAndPagesThroughTheDesktopsOpenerWithOneArgument)
{
    TEMP_DIR dir;
    const std::string strGame = dir.strNative + "/game";
    ASSERT_EQ(WriteGameFolder(strGame, OpeningGame()), 0);
    dir.Write("game/Manual.html", std::string("<p>manual</p>"));
    dir.Write("game/broken.html", std::string("<p>"));
    dir.Write("game/マニュアル.html", std::string("<p>"));
    // The stand-in opener records how many arguments it got and the first; it fails on "broken".
    const std::string strRecord = dir.strNative + "/opened.txt";
    dir.Write("bin/xdg-open", std::string("#!/bin/sh\nprintf '%s|%s\\n' \"$#\" \"$1\" >> \"$KX_OPEN_RECORD\"\n"
                                          "case \"$1\" in *broken*) exit 4;; esac\nexit 0\n"));
    dir.Write("game/Tools/Record.sh", std::string("#!/bin/sh\nprintf 'tool %s|%s|%s\\n' \"$#\" \"$1\" \"$2\" >> "
                                                  "\"$KX_OPEN_RECORD\"\n"));
    ASSERT_EQ(chmod((dir.strNative + "/bin/xdg-open").c_str(), 0755), 0);
    ASSERT_EQ(chmod((strGame + "/Tools/Record.sh").c_str(), 0755), 0);
    const char* pszPath = getenv("PATH");
    RUNNING_PROGRAM run;
    ASSERT_EQ(StartProgramForTest(&run, KX_KOLVEX_PATH, {"--game", strGame},
                                  {"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy", "KOLVEX_AUDIO=null",
                                   "XDG_RUNTIME_DIR=" + dir.strNative, "KX_OPEN_RECORD=" + strRecord,
                                   "KOLVEX_TRACE=" + dir.strNative + "/trace.txt",
                                   "PATH=" + dir.strNative + "/bin:" + (pszPath ? pszPath : "/usr/bin:/bin")}),
              0);
    // Everything opened, and the failing end of an opener was noted on one line, without a box.
    const std::string strFailed = "kolvex: error 104010: [broken.html]ファイルを 読み込めませんでした。 (" + strGame +
                                  "/broken.html could not be opened: the desktop's opener (xdg-open) ended with status 4";
    for (int i = 0; i < 600; ++i) {
        if (ReadNative(run.strErrFile).find(strFailed) != std::string::npos) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_EQ(SignalProgramForTest(&run, SIGTERM), 0);
    const PROGRAM_RESULT r = WaitProgramForTest(&run, 30000);
    EXPECT_EQ(r.nStatus, 0) << r.strErr;   // a failed open is no fatal error
    EXPECT_NE(r.strErr.find(strFailed), std::string::npos) << r.strErr;
    // No box about it (on standard error without a display): the run's box stays for what ends it.
    EXPECT_EQ(r.strErr.find("[KOLVEX Debug Info.]"), std::string::npos) << r.strErr;
    // The openers run side by side, so their lines may come in any order.
    std::vector<std::string> lines;
    std::istringstream in(ReadNative(strRecord));
    for (std::string s; std::getline(in, s);) lines.push_back(s);
    std::sort(lines.begin(), lines.end());
    std::vector<std::string> expected = {"1|" + strGame + "/Manual.html", "1|https://Example.invalid/Page?q=1",
                                         "1|https://example.invalid/second", "tool 2|-a|b c",
                                         "1|" + strGame + "/broken.html", "1|" + strGame + "/マニュアル.html"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(lines, expected);
    const std::string strTrace = ReadNative(dir.strNative + "/trace.txt");
    EXPECT_NE(strTrace.find("\"--dropped\" are dropped"), std::string::npos);
    // The platform's line names the document in UTF-8 as it is, converted once.
    EXPECT_NE(strTrace.find("open: xdg-open " + strGame + "/マニュアル.html\n"), std::string::npos) << strTrace;
    EXPECT_NE(strTrace.find(strFailed.substr(std::string("kolvex: ").size())), std::string::npos) << strTrace;
}
