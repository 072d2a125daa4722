// The compiler link run against the fake compiler (tests/support/fake_compiler), copied into the
// game folder as system/KXCom/KXCom.exe and steered through its environment.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/compiler_link.h"
#include "core/engine_globals.h"
#include "core/engine_hooks.h"
#include "core/errors.h"
#include "core/file_location.h"
#include "core/kx_texts.h"
#include "platform/plat_file.h"
#include "tests/support/game_folder.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

int g_nInitOnceCalls = 0;

const char* const kFakeVars[] = {"KX_FAKE_FILES", "KX_FAKE_RESULT", "KX_FAKE_EARLY_EXIT", "KX_FAKE_FOLDER",
                                 "KX_FAKE_DAMAGE", "KX_FAKE_LOG"};

class CompilerLinkTest : public ::testing::Test {
protected:
    TEMP_DIR dir;
    ERROR_RECORDER errors;
    MSGBOX_RECORDER boxes;
    std::string strOldCwd;
    std::string strOldExeDir;
    void (*pfnSavedInitOnce)(void) = nullptr;

    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(EnterGameFolder(dir, &strOldCwd));
        strOldExeDir = g_szExeDir;
        std::snprintf(g_szExeDir, sizeof g_szExeDir, "%s", dir.strEngine.c_str());
        // Blocks of this test process only, so that parallel runs never meet.
        setenv("KOLVEX_SHM_SUFFIX", ("_test" + std::to_string(getpid())).c_str(), 1);
        for (const char* psz : kFakeVars) unsetenv(psz);
        pfnSavedInitOnce = g_EngineHooks.pfnInitEngineOnce;
        g_EngineHooks.pfnInitEngineOnce = [] { g_nInitOnceCalls++; };
        g_nInitOnceCalls = 0;
        g_szWorkDir[0] = '\0';
    }
    void TearDown() override
    {
        g_EngineHooks.pfnInitEngineOnce = pfnSavedInitOnce;
        for (const char* psz : kFakeVars) unsetenv(psz);
        unsetenv("KOLVEX_SHM_SUFFIX");
        ResetCompilerFiles();
        std::snprintf(g_szExeDir, sizeof g_szExeDir, "%s", strOldExeDir.c_str());
        g_szWorkDir[0] = '\0';
        LeaveGameFolder(strOldCwd);
    }
    void InstallCompiler(bool bExecutable = true)
    {
        fs::create_directories(dir.strNative + "/system/KXCom");
        std::string strTarget = dir.strNative + "/system/KXCom/KXCom.exe";
        fs::copy_file(KX_FAKE_COMPILER_PATH, strTarget, fs::copy_options::overwrite_existing);
        fs::permissions(strTarget, bExecutable ? fs::perms::owner_all : fs::perms::owner_read | fs::perms::owner_write);
    }
    std::string CommunicationText() const { return GetEngineText(TXT_LINK_NO_COMMUNICATION); }
};

TEST_F(CompilerLinkTest, ThreeFilesAreHandedOverAndTheWorkingFolderBecomesCurrent)
{
    InstallCompiler();
    fs::create_directories(dir.strNative + "/work");
    std::string strWork = dir.strEngine + "\\work";
    setenv("KX_FAKE_FILES", "kxbin\\kxc.kbn=CCC;kxbin\\kxe.kbn=;scene\\a.txt=hello", 1);
    setenv("KX_FAKE_FOLDER", strWork.c_str(), 1);
    setenv("KX_FAKE_LOG", (dir.strNative + "/log.txt").c_str(), 1);

    ASSERT_EQ(RunCompilerLink(), 0);
    EXPECT_EQ(g_nInitOnceCalls, 1);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_TRUE(errors.reports.empty());
    ASSERT_EQ(g_nCompilerFiles, 3);
    EXPECT_STREQ(g_apCompilerFiles[0]->pszName, "kxbin\\kxc.kbn");
    EXPECT_EQ(g_apCompilerFiles[1]->nSize, 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(g_apCompilerFiles[2]->pData), 5), "hello");
    EXPECT_EQ(std::string(g_szWorkDir), strWork);
    EXPECT_EQ(PlatGetCurrentDir(), strWork);
    EXPECT_EQ(std::string(g_szExeDir), dir.strEngine);
    // The compiler saw its argument, the link version and the program folder.
    EXPECT_EQ(dir.Read("log.txt"), "arg kx\nversion 555\nfolder " + dir.strEngine + "\n");

    // The handed-over file is found before anything on disk would be looked for in packs.
    FILE_LOCATION loc{};
    ASSERT_EQ(LocateFile(&loc, "SCENE\\A.TXT", 0), FILESRC_COMPILER);
    EXPECT_EQ(loc.nCompilerIndex, 2);
    ASSERT_EQ(ReadLocatedFile(&loc, "scene\\a.txt"), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(loc.pData), static_cast<size_t>(loc.nSize)), "hello");
    std::free(loc.pData);
}

TEST_F(CompilerLinkTest, FailureRows)
{
    struct CASE {
        const char* pszName;
        bool bInstall, bExecutable;
        const char* pszVar;
        const char* pszValue;
        int nResult;
        int nError;            // expected report, 0 none
        int nBoxText;          // expected box text id, -1 none
    } cases[] = {
        {"missing compiler: the files on disk serve", false, false, nullptr, nullptr, 0, 0, -1},
        {"compiler cannot start", true, false, nullptr, nullptr, 1, 0, TXT_LINK_NO_START},
        {"ends without results", true, true, "KX_FAKE_EARLY_EXIT", "1", 1, 0, -1},
        {"compilation failed", true, true, "KX_FAKE_RESULT", "0", 1, 0, -1},
        {"success without files", true, true, "KX_FAKE_RESULT", "1", 0, 0, -1},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        std::error_code ec;
        fs::remove_all(dir.strNative + "/system", ec);
        if (c.bInstall) InstallCompiler(c.bExecutable);
        for (const char* psz : kFakeVars) unsetenv(psz);
        if (c.pszVar) setenv(c.pszVar, c.pszValue, 1);
        errors.reports.clear();
        boxes.boxes.clear();
        ResetErrorStateForRun();
        PlatSetCurrentDir(dir.strEngine.c_str());

        EXPECT_EQ(RunCompilerLink(), c.nResult);
        if (c.nError) {
            ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(errors, c.nError, c.pszName));
            EXPECT_STREQ(g_pszErrorCaption, "License Information");
        } else {
            EXPECT_TRUE(errors.reports.empty());
        }
        if (c.nBoxText >= 0) {
            ASSERT_EQ(boxes.boxes.size(), 1u);
            EXPECT_EQ(boxes.boxes[0].strText, GetEngineText(c.nBoxText));
        } else if (!c.nError) {   // a report shows its own dialog
            EXPECT_TRUE(boxes.boxes.empty());
        }
        EXPECT_EQ(g_nCompilerFiles, 0);
    }
    // Compiled without files: the program folder stays the working folder.
    EXPECT_EQ(std::string(g_szWorkDir), dir.strEngine);
}

// Records, counts, the transfer size and the folder path come from another process: every damaged
// one is refused with the communication message, nothing handed over, no crash.
TEST_F(CompilerLinkTest, DamagedRecordsAreRefused)
{
    InstallCompiler();
    for (const char* pszDamage : {"name_len", "no_nul", "size", "count", "folder", "transfer"}) {
        SCOPED_TRACE(pszDamage);
        setenv("KX_FAKE_FILES", "a.txt=one;b.txt=two", 1);
        setenv("KX_FAKE_DAMAGE", pszDamage, 1);
        boxes.boxes.clear();
        EXPECT_EQ(RunCompilerLink(), -1);
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].strText, CommunicationText());
        EXPECT_EQ(g_nCompilerFiles, 0);
        EXPECT_EQ(g_apCompilerFiles, nullptr);
    }
}

TEST(CompilerFileRecords, EveryRecordIsBoundedByTheBlock)
{
    // Two good records, then the same block cut at every length: no cut parses as two files.
    std::vector<uint8_t> block;
    auto add = [&](const std::string& strName, const std::string& strData) {
        int32_t n = static_cast<int32_t>(strName.size() + 1);
        block.insert(block.end(), reinterpret_cast<uint8_t*>(&n), reinterpret_cast<uint8_t*>(&n) + 4);
        block.insert(block.end(), strName.begin(), strName.end());
        block.push_back(0);
        n = static_cast<int32_t>(strData.size());
        block.insert(block.end(), reinterpret_cast<uint8_t*>(&n), reinterpret_cast<uint8_t*>(&n) + 4);
        block.insert(block.end(), strData.begin(), strData.end());
    };
    add("x", "12");
    add("yy", "345");
    COMPILER_FILE** apFiles = nullptr;
    ASSERT_EQ(ParseCompilerFiles(block.data(), block.size(), 2, &apFiles), 0);
    EXPECT_STREQ(apFiles[1]->pszName, "yy");
    EXPECT_EQ(apFiles[1]->nSize, 3);
    std::free(apFiles);
    for (size_t n = 0; n < block.size(); ++n) {
        std::vector<uint8_t> cut(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_EQ(ParseCompilerFiles(cut.data(), cut.size(), 2, &apFiles), -1) << n;
        EXPECT_EQ(apFiles, nullptr);
    }
    EXPECT_EQ(ParseCompilerFiles(block.data(), block.size(), -1, &apFiles), -1);
    EXPECT_EQ(ParseCompilerFiles(block.data(), block.size(), 0x7FFFFFFF, &apFiles), -1);
}

}  // namespace
