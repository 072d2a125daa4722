// The real kolvex executable headless on a game that shows a message box and an input dialog,
// writes a text file through the system command and appends to the debug log.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
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
    EXPECT_GE(AddLabel(&b, "IDLE"), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_WAIT, {ExprArg(0, MakeExprInt(1))}), 0);
    EXPECT_GE(EmitGoto(&b, "IDLE"), 0);
    EXPECT_EQ(FinishScriptBody(&b), 0);
    GAME_DATA game = DefaultGameData();
    game.config.nWidth = 160;
    game.config.nHeight = 120;
    game.defs.push_back(MakeTextVarDef(kTyped, ""));
    game.defs.push_back(MakeIntVarDef(kAnswer, 0));
    game.scripts.push_back(ScriptFromBuilder("start.txt", b));
    return BuildGameFiles(game);
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
