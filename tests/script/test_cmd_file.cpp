// The file command, the file query, the preload cache and the text and CSV readers, run from
// compiled scripts in a temporary game folder.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/file_location.h"
#include "core/object_tree.h"
#include "core/preload_cache.h"
#include "script/cmd_file.h"
#include "script/script_hooks.h"
#include "tests/script/host_cmd_fixture.h"

namespace {

class FileCmdTest : public HOST_CMD_FIXTURE {
protected:
    void TearDown() override
    {
        FreePreloadCache();
        HOST_CMD_FIXTURE::TearDown();
    }
};

// ---- text lines ----

struct LINES_CASE {
    std::string strFile;
    std::vector<std::string> expected;   // the 8 elements afterwards ("?" untouched)
};

TEST_F(FileCmdTest, TextLinesTable)
{
    const LINES_CASE aCases[] = {
        {"a\r\nb\r\n", {"a\r", "b\r", "\r", "", "", "?", "?", "?"}},
        {"a\rb\nc", {"a\r", "b\r", "c\r", "", "", "?", "?", "?"}},
        {"", {"\r", "", "", "?", "?", "?", "?", "?"}},
        {"\x95\x5C\n\x83\x0A", {"\x95\x5C\r", std::string("\x83\x0A", 2) + "\r", "", "", "?", "?", "?", "?"}},
        {"1\n2\n3\n4\n5\n6\n7\n8\n9\n", {"1\r", "2\r", "3\r", "4\r", "5\r", "6\r", "7\r", "8\r"}},
        {std::string(5000, 'L') + "\n", {std::string(5000, 'L') + "\r", "\r", "", "", "?", "?", "?", "?"}},
    };
    for (const LINES_CASE& c : aCases) {
        SCOPED_TRACE(c.strFile.substr(0, 20));
        ASSERT_NO_FATAL_FAILURE(Restart());
        dir.Write("data/Lines.TXT", c.strFile);
        Emit(KXCMD_READ_TEXT_LINES, {TextArg(0, "DATA/lines.txt"), OutArg(1, Elem(kTexts, 0), EVALTYPE_TEXT)});
        ASSERT_NO_FATAL_FAILURE(Run());
        for (int k = 0; k < 8; ++k) EXPECT_EQ(VarText(kTexts, k), c.expected[k]) << k;
    }
}

TEST_F(FileCmdTest, TextLinesStopAtTheArrayAndReportMissingFiles)
{
    dir.Write("l.txt", "x\ny\nz\n");
    Emit(KXCMD_READ_TEXT_LINES, {TextArg(0, "l.txt"), OutArg(1, Elem(kShort, 0), EVALTYPE_TEXT)});
    Emit(KXCMD_READ_TEXT_LINES, {TextArg(0, "gone.txt"), OutArg(1, Elem(kShort, 0), EVALTYPE_TEXT)});
    ASSERT_NO_FATAL_FAILURE(Run(false));
    EXPECT_EQ(VarText(kShort, 0), "x\r");
    EXPECT_EQ(VarText(kShort, 1), "y\r");
    ExpectOneFatalError(errors, KX_ERR_FILE_MISSING);

    ASSERT_NO_FATAL_FAILURE(Restart());
    Emit(KXCMD_READ_TEXT_LINES, {TextArg(0, "l.txt"), OutArg(1, Elem(kInts, 0), EVALTYPE_TEXT)});
    ASSERT_NO_FATAL_FAILURE(Run(false));
    ExpectOneFatalError(errors, KX_ERR_VAR_WRONG_TYPE);
}

// ---- CSV ----

TEST_F(FileCmdTest, CsvFieldsAndCountsTable)
{
    struct CSV_CASE {
        std::string strFile;
        std::vector<std::string> fields;   // the elements read (the rest stay "?")
        int64_t llCount;
    };
    const CSV_CASE aCases[] = {
        {"x,y\r\nz\r\n", {"x", "y", "z", ""}, 3},
        {"\"a,b\",c\n", {"\"a,b\"", "c", ""}, 2},
        {"  a , \tb \n", {"a ", "b ", ""}, 2},
        {"\n \t\n", {"", "", ""}, 0},
        {",a", {"", "a"}, 2},
        {"a,\n", {"a", "", ""}, 2},
        {"it's,x\ny,z\n", {"it's,x", "y,z", ""}, 2},   // the single quote stays open across lines
        {"\"q,\nr,s\n", {"\"q,", "r", "s", ""}, 3},      // the double quote closes at the line end
        {"\x83\x41,\x83\x42", {"\x83\x41", "\x83\x42"}, 2},
        {std::string(6000, 'F') + ",g", {std::string(6000, 'F'), "g"}, 2},
    };
    for (const CSV_CASE& c : aCases) {
        SCOPED_TRACE(c.strFile.substr(0, 20));
        ASSERT_NO_FATAL_FAILURE(Restart());
        dir.Write("t.csv", c.strFile);
        Emit(KXCMD_CSV_READ, {TextArg(0, "t.csv"), OutArg(1, Elem(kTexts, 0), EVALTYPE_TEXT)});
        Emit(KXCMD_CSV_COUNT, {TextArg(0, "t.csv"), OutArg(2, Var(kInt))});
        ASSERT_NO_FATAL_FAILURE(Run());
        for (int k = 0; k < 8; ++k)
            EXPECT_EQ(VarText(kTexts, k), k < static_cast<int>(c.fields.size()) ? c.fields[k] : "?") << k;
        EXPECT_EQ(GetVarInt(kInt, 0), c.llCount);
    }
}

// ---- preload cache ----

TEST_F(FileCmdTest, PreloadMovesARepeatWithoutReadingAndEvictsTheOldest)
{
    dir.Write("a.png", "AAAA");
    dir.Write("b.png", "BB");
    dir.Write("s.ogg", "SSS");
    Emit(KXCMD_FILE, {TextArg(0, "a"), IntArg(16, 1)});
    Emit(KXCMD_FILE, {TextArg(0, "B.png"), IntArg(16, 1)});
    Emit(KXCMD_FILE, {TextArg(0, "s"), IntArg(17, 4)});
    Emit(KXCMD_FILE, {TextArg(0, "missing"), IntArg(16, 1)});   // silent, nothing added
    Emit(KXCMD_FILE, {TextArg(0, "a"), IntArg(16, 5)});         // no such list
    ASSERT_NO_FATAL_FAILURE(Run());
    ASSERT_EQ(g_anPreloadCount[0], 2);
    EXPECT_STREQ(g_aPreloadCache[0][0].pszName, "a.png");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(g_aPreloadCache[0][1].pData), 2), "BB");
    EXPECT_EQ(g_aPreloadCache[0][1].bType, FILETYPE_PNG);
    ASSERT_EQ(g_anPreloadCount[3], 1);
    EXPECT_STREQ(g_aPreloadCache[3][0].pszName, "s.ogg");

    // A second preload of a.png finds it: it moves to the end and keeps its data, whatever the
    // file on disk says now.
    dir.Write("a.png", "CHANGED");
    const uint8_t* pOld = g_aPreloadCache[0][0].pData;
    ASSERT_EQ(PreloadFile(0, "a.png", RESOLVE_IMAGE), 0);
    ASSERT_EQ(g_anPreloadCount[0], 2);
    EXPECT_STREQ(g_aPreloadCache[0][0].pszName, "b.png");
    EXPECT_STREQ(g_aPreloadCache[0][1].pszName, "a.png");
    EXPECT_EQ(g_aPreloadCache[0][1].pData, pOld);
    EXPECT_EQ(g_aPreloadCache[0][1].nSize, 4);
    // Another list takes a copy of the cached data.
    ASSERT_EQ(PreloadFile(1, "a.png", RESOLVE_IMAGE), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(g_aPreloadCache[1][0].pData), 4), "AAAA");
    EXPECT_NE(g_aPreloadCache[1][0].pData, pOld);

    // A full list drops its oldest entry for the 513th.
    for (int i = 0; i < KX_PRELOAD_MAX_ENTRIES; ++i) {
        const std::string strName = "f" + std::to_string(i) + ".png";
        dir.Write(strName, strName);
        ASSERT_EQ(PreloadFile(2, strName.c_str(), RESOLVE_IMAGE), 0);
    }
    ASSERT_EQ(PreloadFile(2, "b.png", RESOLVE_IMAGE), 0);
    EXPECT_EQ(g_anPreloadCount[2], KX_PRELOAD_MAX_ENTRIES);
    EXPECT_STREQ(g_aPreloadCache[2][0].pszName, "f1.png");
    EXPECT_STREQ(g_aPreloadCache[2][KX_PRELOAD_MAX_ENTRIES - 1].pszName, "b.png");
    // Re-preloading the oldest entry of a full list moves it without dropping anything.
    ASSERT_EQ(PreloadFile(2, "f1.png", RESOLVE_IMAGE), 0);
    EXPECT_STREQ(g_aPreloadCache[2][0].pszName, "f2.png");
    EXPECT_STREQ(g_aPreloadCache[2][KX_PRELOAD_MAX_ENTRIES - 1].pszName, "f1.png");
    EXPECT_TRUE(errors.reports.empty());
}

// ---- saving a layer ----

struct SAVE_CALL {
    std::string strPath;
    int nFormat, nLevel;
};
std::vector<SAVE_CALL> g_saves;
int RecordSave(TREE_NODE*, const char* pszPath, int nFormat, int nLevel)
{
    g_saves.push_back({pszPath, nFormat, nLevel});
    return 0;
}

TEST_F(FileCmdTest, SavingALayerChoosesFormatExtensionAndLevel)
{
    ASSERT_EQ(CreateObjectTrees(), 0);
    char szPath[KX_MAX_OBJECT_PATH];
    ASSERT_GE(NormalizeObjectPath(szPath, "bg.3", g_pszLayerPath, 0), 0);
    ASSERT_NE(CreateNode(g_pLayerRoot, szPath, 0, 3), nullptr);
    const SCRIPT_HOOKS saved = g_ScriptHooks;
    g_ScriptHooks.pfnSaveLayerImage = RecordSave;
    g_saves.clear();
    struct SAVE_CASE {
        const char* pszFile;
        std::vector<BUILDER_ARG> extra;
        SAVE_CALL expected;
    };
    const SAVE_CASE aCases[] = {
        {"shot", {IntArg(14, 1)}, {"shot.jpg", KX_SAVE_FORMAT_JPEG, 90}},
        {"shot.JPG", {IntArg(14, 1), IntArg(9, 0)}, {"shot.jpg", KX_SAVE_FORMAT_JPEG, 1}},
        {"shot", {IntArg(9, 12)}, {"shot.png", KX_SAVE_FORMAT_PNG, 9}},
        {"shot", {}, {"shot.png", KX_SAVE_FORMAT_PNG, 5}},
        {"shot", {IntArg(15, 1), IntArg(9, 200)}, {"shot.webp", KX_SAVE_FORMAT_WEBP, 101}},
        {"shot", {IntArg(12, 1)}, {"shot.bmp", KX_SAVE_FORMAT_BMP, 0}},
        {"shot", {IntArg(12, 2)}, {"shot.png", KX_SAVE_FORMAT_PNG, 5}},
        {"a/b", {IntArg(12, 1), IntArg(13, 1)}, {"a\\b.png", KX_SAVE_FORMAT_PNG, 5}},   // 13 after 12
    };
    for (const SAVE_CASE& c : aCases) {
        std::vector<BUILDER_ARG> args = {TextArg(0, c.pszFile), TextArg(10, "bg"), IntArg(11, 3)};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        Emit(KXCMD_FILE, args);
    }
    Emit(KXCMD_FILE, {TextArg(0, "x"), TextArg(10, "bg")});   // bg without its number is missing
    ASSERT_NO_FATAL_FAILURE(Run(false));
    g_ScriptHooks = saved;
    ASSERT_EQ(g_saves.size(), std::size(aCases));
    for (size_t i = 0; i < g_saves.size(); ++i) {
        EXPECT_EQ(g_saves[i].strPath, aCases[i].expected.strPath) << i;   // paths are lower-cased first
        EXPECT_EQ(g_saves[i].nFormat, aCases[i].expected.nFormat) << i;
        EXPECT_EQ(g_saves[i].nLevel, aCases[i].expected.nLevel) << i;
    }
    ExpectOneFatalError(errors, 101250);
    FreeObjectTrees();
}

// ---- folders, copies, deletes, programs ----

TEST_F(FileCmdTest, FoldersCopiesAndDeletesRefusingEmptyAndRootPaths)
{
    dir.Write("src.txt", "data");
    Emit(KXCMD_FILE, {TextArg(2, "Out/Deep/er"), IntArg(3, 1)});   // the folder path gets its '\'
    Emit(KXCMD_FILE, {TextArg(0, "src.txt"), TextArg(1, "out/deep/copy.txt"), IntArg(4, 1)});
    Emit(KXCMD_FILE, {TextArg(0, "src.txt"), IntArg(5, 1)});
    Emit(KXCMD_FILE, {TextArg(0, ""), TextArg(2, ""), IntArg(5, 1)});
    Emit(KXCMD_FILE, {TextArg(2, "/"), IntArg(5, 1)});
    Emit(KXCMD_FILE, {TextArg(2, "c:"), IntArg(5, 1)});
    Emit(KXCMD_FILE, {TextArg(2, "out/deep/er/"), IntArg(5, 1)});
    Emit(KXCMD_FILE, {TextArg(2, "OUT"), IntArg(5, 1)});   // not empty: stays
    ASSERT_NO_FATAL_FAILURE(Run());
    EXPECT_FALSE(dir.Exists("out/deep/er"));
    EXPECT_EQ(dir.Read("out/deep/copy.txt"), "data");
    EXPECT_FALSE(dir.Exists("src.txt"));

    EXPECT_EQ(IsEmptyOrRootPath(""), 1);
    EXPECT_EQ(IsEmptyOrRootPath("\\"), 1);
    EXPECT_EQ(IsEmptyOrRootPath("\\\\"), 1);
    EXPECT_EQ(IsEmptyOrRootPath("C:\\"), 1);
    EXPECT_EQ(IsEmptyOrRootPath("/"), 1);
    EXPECT_EQ(IsEmptyOrRootPath("save\\"), 0);
    EXPECT_EQ(IsEmptyOrRootPath("\x83\x5C"), 0);   // a character whose trail byte is '\'
}

// A copy that cannot be written is reported (not fatal) and the destination keeps its content; a
// missing source is ignored as before.
TEST_F(FileCmdTest, AFailedCopyIsReportedAndKeepsTheDestination)
{
    dir.Write("src.txt", "new");
    dir.Write("ro.txt", "old");
    ASSERT_EQ(chmod((dir.strNative + "/ro.txt").c_str(), 0444), 0);
    Emit(KXCMD_FILE, {TextArg(0, "src.txt"), TextArg(1, "ro.txt"), IntArg(4, 1)});
    Emit(KXCMD_FILE, {TextArg(0, "missing.txt"), TextArg(1, "x.txt"), IntArg(4, 1)});
    Emit(KXCMD_FILE, {TextArg(0, "src.txt"), TextArg(1, "after.txt"), IntArg(4, 1)});
    ASSERT_NO_FATAL_FAILURE(Run(false));
    ASSERT_EQ(errors.reports.size(), 1u);
    EXPECT_EQ(errors.reports[0].nId, 102140);
    EXPECT_EQ(errors.reports[0].bFatal, 0);
    EXPECT_EQ(dir.Read("ro.txt"), "old");
    EXPECT_FALSE(dir.Exists("x.txt"));
    EXPECT_EQ(dir.Read("after.txt"), "new");
}

TEST_F(FileCmdTest, OpeningGivesTheOpenerTheFileAloneByItsRealNameOrThePageAsWritten)
{
    dir.Write("Doc/Read Me.txt", "text");
    dir.Write("Manual.html", "<p>");
    SPAWN_RECORDER spawns;
    Emit(KXCMD_FILE, {TextArg(0, "Doc/Read Me.txt"), IntArg(6, 1), TextArg(8, "-a \"b c\"")});   // parameters dropped
    Emit(KXCMD_FILE, {TextArg(0, "Manual.html"), IntArg(7, 1)});   // waits for what it started (nothing here)
    Emit(KXCMD_FILE, {TextArg(0, "https://Example.invalid/A/b"), IntArg(6, 1)});
    Emit(KXCMD_FILE, {TextArg(0, ""), IntArg(6, 1)});
    ASSERT_NO_FATAL_FAILURE(Run());
    ASSERT_EQ(spawns.starts.size(), 3u);
    EXPECT_EQ(spawns.starts[0], (std::vector<std::string>{"xdg-open", dir.strNative + "/Doc/Read Me.txt"}));
    EXPECT_EQ(spawns.starts[1], (std::vector<std::string>{"xdg-open", dir.strNative + "/Manual.html"}));
    EXPECT_EQ(spawns.starts[2], (std::vector<std::string>{"xdg-open", "https://Example.invalid/A/b"}));
    EXPECT_EQ(System()->nPC, 5);   // every command ran, the closing wait too
}

TEST_F(FileCmdTest, AFailedOpenIsReportedAndTheGameGoesOn)
{
    // A file that is not there, and an opener that cannot start: each is noted on one line of
    // standard error, not fatally and without a box, which stays for the errors that end the game.
    MSGBOX_RECORDER boxes;
    const struct {
        const char* pszCase;
        const char* pszFile;
        int nSpawnResult;
        int nId;
    } kCases[] = {
        {"no such file", "missing.html", 0, 104060},
        {"no opener", "here.html", -1, 104010},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.pszCase);
        ASSERT_NO_FATAL_FAILURE(Restart());
        dir.Write("here.html", "<p>");
        SPAWN_RECORDER spawns;
        spawns.nResult = c.nSpawnResult;
        Emit(KXCMD_FILE, {TextArg(0, c.pszFile), IntArg(6, 1)});
        testing::internal::CaptureStderr();
        ASSERT_NO_FATAL_FAILURE(Run(false));
        const std::string strErr = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(boxes.boxes.empty());
        EXPECT_EQ(strErr.rfind("kolvex: error " + std::to_string(c.nId) + " in main.txt line ", 0), 0u) << strErr;
        EXPECT_NE(strErr.find("(command file): "), std::string::npos) << strErr;
        EXPECT_EQ(std::count(strErr.begin(), strErr.end(), '\n'), 1) << strErr;
        ASSERT_EQ(errors.reports.size(), 1u);
        EXPECT_EQ(errors.reports[0].nId, c.nId);
        EXPECT_EQ(errors.reports[0].bFatal, 0);
        EXPECT_NE(errors.reports[0].strText.find(c.pszFile), std::string::npos) << errors.reports[0].strText;
        EXPECT_EQ(g_bEngineStop.load(), 0);
    }
}

// ---- queries ----

TEST_F(FileCmdTest, QueriesOfExistenceSizeAndProgram)
{
    dir.Write("pics/bg.png", "png");
    dir.Write("se/hit.ogg", "ogg");
    dir.Write("any.dat", "12345");
    {
        const int fd = open((dir.strNative + "/big.bin").c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, 5000000000LL), 0);   // sparse
        close(fd);
    }
    auto query = [&](int nKindId, const char* pszPath, int nQuery, BUILDER_ARG out) {
        Emit(KXCMD_FILE_QUERY, {TextArg(static_cast<uint8_t>(nKindId), pszPath), IntArg(static_cast<uint8_t>(nQuery), 1),
                                std::move(out)});
    };
    query(0, "PICS", 4, OutArg(7, Elem(kInts, 0)));
    query(0, "any.dat", 4, OutArg(7, Elem(kInts, 1)));
    query(1, "Any.dat", 4, OutArg(7, Elem(kInts, 2)));
    query(2, "pics/bg", 4, OutArg(7, Elem(kInts, 3)));
    query(3, "se/hit", 4, OutArg(7, Elem(kInts, 4)));
    query(3, "se/miss", 4, OutArg(7, Var(kFloat)));
    query(1, "big.bin", 5, OutArg(7, Elem(kInts, 5)));
    query(0, "pics", 5, OutArg(7, Elem(kInts, 6)));
    query(0, "pics", 6, OutArg(7, Elem(kTexts, 0), EVALTYPE_TEXT));
    query(1, "any.dat", 6, OutArg(7, Elem(kInts, 7)));
    query(1, "any.dat", 4, IntArg(7, 99));   // a literal output: nothing stored
    ASSERT_NO_FATAL_FAILURE(Run());
    const int64_t expected[] = {1, 0, 1, 1, 1, 5000000000LL, 0, 0};
    for (int k = 0; k < 8; ++k) EXPECT_EQ(GetVarInt(kInts, k), expected[k]) << k;
    EXPECT_EQ(GetVarFloat(kFloat, 0), 0.0);
    EXPECT_EQ(VarText(kTexts, 0), "");

    ASSERT_NO_FATAL_FAILURE(Restart());
    query(1, "any.dat", 4, OutArg(7, Var(kText), EVALTYPE_TEXT));
    ASSERT_NO_FATAL_FAILURE(Run(false));
    ExpectOneFatalError(errors, KX_ERR_VAR_WRONG_TYPE);
}

// A command that waits for the program it started ends when the game stops meanwhile (the player
// quit); the program runs on by itself.
TEST_F(FileCmdTest, TheWaitForAStartedProgramEndsWhenTheGameStops)
{
    // xdg-open in front of the others: it starts and then never ends.
    const std::string strStarted = dir.strNative + "/started";
    dir.Write("bin/xdg-open", "#!/bin/sh\necho $$ > '" + strStarted + "'\nexec sleep 120\n");
    ASSERT_EQ(chmod((dir.strNative + "/bin/xdg-open").c_str(), 0755), 0);
    const char* pszPath = std::getenv("PATH");
    const std::string strOldPath = pszPath ? pszPath : "";
    setenv("PATH", (dir.strNative + "/bin:" + strOldPath).c_str(), 1);
    dir.Write("doc.txt", "text");
    // The player quits once the program runs (a safety limit of a minute against a hang).
    std::thread quitter([&] {
        for (int i = 0; i < 6000 && dir.Read("started").empty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        g_bEngineStop = 1;
    });
    Emit(KXCMD_FILE, {TextArg(FILE_ARG_PATH, "doc.txt"), IntArg(FILE_ARG_OPEN_WAIT, 1)});
    Run();
    quitter.join();
    setenv("PATH", strOldPath.c_str(), 1);
    const std::string strPid = dir.Read("started");
    ASSERT_FALSE(strPid.empty()) << "the program did not start";
    const pid_t pid = static_cast<pid_t>(std::atoi(strPid.c_str()));
    EXPECT_EQ(kill(pid, 0), 0) << "the program was ended with the wait";
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

}  // namespace
