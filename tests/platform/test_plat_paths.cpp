// The game folder chosen from the arguments, and the user's folders.
#include "platform/plat_file.h"
#include "platform/plat_paths.h"
#include "tests/platform/plat_test_util.h"

namespace {

class PlatPathsTest : public TempFolderTest {
protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        mkdir(Native("game").c_str(), 0755);
        mkdir(Native("game/KXBIN").c_str(), 0755);
        mkdir(Native("packs").c_str(), 0755);
        WriteNativeFile(Native("packs/Data.KPF"), "");
        mkdir(Native("plain").c_str(), 0755);
        WriteNativeFile(Native("plain/readme.kpf.txt"), "");
        mkdir(Native("bin").c_str(), 0755);
        mkdir(Native("ゲーム").c_str(), 0755);
        setenv("KOLVEX_EXE_PATH", Native("bin/kolvex").c_str(), 1);
    }
    void TearDown() override
    {
        unsetenv("KOLVEX_EXE_PATH");
        TempFolderTest::TearDown();
    }
    // Runs the start-up choice from the folder strCwd with the given arguments.
    int Init(const std::string& strCwd, std::vector<std::string> aArgs, std::vector<std::string>* pRest)
    {
        EXPECT_EQ(chdir(strCwd.c_str()), 0);
        aArgs.insert(aArgs.begin(), "kolvex");
        std::vector<char*> argv;
        for (std::string& s : aArgs) argv.push_back(&s[0]);
        argv.push_back(nullptr);
        return PlatInitProgramPaths((int)aArgs.size(), argv.data(), pRest);
    }
    static std::string Cwd()
    {
        char* psz = getcwd(nullptr, 0);
        std::string s = psz ? psz : "";
        free(psz);
        return s;
    }
};

TEST_F(PlatPathsTest, ChoosesTheGameFolderInOrder)
{
    struct FOLDER_CASE {
        std::string strCwd;
        std::vector<std::string> aArgs;
        std::string strFolder;   // native
        std::vector<std::string> aRest;
    };
    const FOLDER_CASE aCases[] = {
        {Native("plain"), {"--game", Native("game"), "a", "b"}, Native("game"), {"a", "b"}},
        {Native("plain"), {"--game", "../packs"}, Native("packs"), {}},
        {Native("plain"), {Native("game"), "--game", "x"}, Native("game"), {"--game", "x"}},
        {Native("game"), {"/kxcfg", "notafolder"}, Native("game"), {"/kxcfg", "notafolder"}},  // holds KXBIN
        {Native("packs"), {}, Native("packs"), {}},                                          // holds a .KPF
        {Native("plain"), {"/info"}, Native("bin"), {"/info"}},                              // the executable's
    };
    for (const FOLDER_CASE& c : aCases) {
        std::vector<std::string> aRest;
        ASSERT_EQ(Init(c.strCwd, c.aArgs, &aRest), 0) << c.strFolder;
        EXPECT_EQ(PlatGetProgramFolder(), EngineForm(c.strFolder));
        EXPECT_EQ(PlatGetProgramPath(), EngineForm(c.strFolder) + "\\kolvex");
        EXPECT_EQ(PlatGetExecutablePath(), EngineForm(Native("bin/kolvex")));
        EXPECT_EQ(Cwd(), c.strFolder);
        EXPECT_EQ(aRest, c.aRest);
    }
}

TEST_F(PlatPathsTest, KeepsCp932FormsAndRefusesWhatItCannotUse)
{
    std::vector<std::string> aRest;
    ASSERT_EQ(Init(Native("plain"), {Native("ゲーム"), "表", "é"}, &aRest), 0);
    EXPECT_EQ(PlatGetProgramFolder(), EngineForm(m_strDir) + "\\\x83\x51\x81\x5B\x83\x80");
    const std::vector<std::string> aExpect = {"\x95\x5C", "?"};
    EXPECT_EQ(aRest, aExpect);

    // A folder that was asked for and cannot be had is refused, saying what was asked.
    const struct {
        std::vector<std::string> aArgs;
        const char* pszProblem;
    } kRefused[] = {
        {{"--game", Native("missing")}, "missing\" cannot be used: No such file or directory"},
        {{"--game"}, "--game needs the game folder"},
        {{"notafolder", "/kxcfg"}, "\"notafolder\" names no folder: No such file or directory"},
        {{Native("missing")}, "missing\" names no folder"},
        {{Native("packs/Data.KPF")}, "Data.KPF\" names no folder: it is not a folder"},
    };
    for (const auto& c : kRefused) {
        EXPECT_EQ(Init(Native("plain"), c.aArgs, &aRest), -1) << c.pszProblem;
        EXPECT_NE(std::string(PlatGetProgramPathsProblem()).find(c.pszProblem), std::string::npos)
            << PlatGetProgramPathsProblem();
    }
    EXPECT_EQ(Cwd(), Native("plain"));   // a refused folder is not entered
}

TEST_F(PlatPathsTest, FoldersCp932CannotExpressReachTheEngineAsAliases)
{
    PlatClearFolderAliasesForTest();
    for (const char* pszName : {"é", "ü/Spiel", "🎮 game"}) {
        SCOPED_TRACE(pszName);
        const std::string strReal = Native(pszName);
        ASSERT_EQ(system(("mkdir -p '" + strReal + "/kxbin'").c_str()), 0);
        WriteNativeFile(strReal + "/kxbin/kxcfg.kbn", "cfg");
        std::vector<std::string> aRest;
        ASSERT_EQ(Init(Native("plain"), {"--game", strReal}, &aRest), 0);
        const std::string strAlias = PlatGetProgramFolder();
        // One ASCII component, the same for the same folder.
        ASSERT_EQ(strAlias.rfind("\\kx-folder-", 0), 0u) << strAlias;
        EXPECT_EQ(strAlias.find('\\', 1), std::string::npos);
        for (char c : strAlias) EXPECT_LT(static_cast<unsigned char>(c), 0x80);
        EXPECT_EQ(Cwd(), strReal);
        ASSERT_EQ(Init(Native("plain"), {"--game", strReal}, &aRest), 0);
        EXPECT_EQ(PlatGetProgramFolder(), strAlias);

        // The file functions take the alias back to the real folder, in any letter case below it.
        std::vector<uint8_t> data;
        ASSERT_EQ(PlatReadFile((strAlias + "\\KXBIN\\kxcfg.kbn").c_str(), &data), 0);
        EXPECT_EQ(std::string(data.begin(), data.end()), "cfg");
        ASSERT_EQ(PlatMakeDirs((strAlias + "\\save\\x").c_str()), 0);
        ASSERT_EQ(PlatWriteFileAtomic((strAlias + "\\save\\x\\a.sd").c_str(), "12", 2), 0);
        EXPECT_EQ(ReadNativeFile(strReal + "/save/x/a.sd"), "12");
        // The way back: the current folder and paths inside the folder come as the alias.
        EXPECT_EQ(PlatGetCurrentDir(), strAlias);
        std::string strNative;
        ASSERT_EQ(PlatResolvePath((strAlias + "\\save").c_str(), &strNative), 0);
        EXPECT_EQ(strNative, strReal + "/save");
        // Texts for the user name the real folder.
        EXPECT_EQ(PlatShowFolderAliases("[" + strAlias.substr(0) + "\\kxbin\\kxcfg.kbn]"),
                  "[" + strReal + "\\kxbin\\kxcfg.kbn]");
        EXPECT_EQ(PlatDisplayPath((strAlias + "\\kxbin").c_str()), strReal + "/kxbin");
    }
}

TEST_F(PlatPathsTest, UserFoldersFollowTheEnvironment)
{
    std::string strHome = getenv("HOME") ? getenv("HOME") : "";
    const char* pszData = getenv("XDG_DATA_HOME");
    std::string strData = pszData ? pszData : "";
    const char* pszConfig = getenv("XDG_CONFIG_HOME");
    std::string strConfig = pszConfig ? pszConfig : "";

    mkdir(Native("cfg").c_str(), 0755);
    WriteNativeFile(Native("cfg/user-dirs.dirs"), "XDG_DOCUMENTS_DIR=\"$HOME/文書\"\n");
    setenv("HOME", m_strDir.c_str(), 1);
    setenv("XDG_CONFIG_HOME", Native("cfg").c_str(), 1);
    unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(PlatGetAppDataDir(), EngineForm(Native(".local/share")));
    EXPECT_EQ(PlatGetDocumentsDir(), EngineForm(m_strDir) + "\\\x95\xB6\x8F\x91");

    setenv("XDG_DATA_HOME", Native("data/").c_str(), 1);
    EXPECT_EQ(PlatGetAppDataDir(), EngineForm(Native("data")));
    setenv("XDG_DATA_HOME", "relative/data", 1);   // relative values are ignored
    EXPECT_EQ(PlatGetAppDataDir(), EngineForm(Native(".local/share")));

    std::string strPath = getenv("PATH") ? getenv("PATH") : "";
    setenv("PATH", Native("bin").c_str(), 1);   // without xdg-user-dir
    EXPECT_EQ(PlatGetDocumentsDir(), EngineForm(Native("Documents")));
    setenv("PATH", strPath.c_str(), 1);

    PlatSetUserFoldersForTest("\\app", "\\docs");
    EXPECT_STREQ(PlatGetAppDataDir(), "\\app");
    EXPECT_STREQ(PlatGetDocumentsDir(), "\\docs");
    PlatSetUserFoldersForTest(nullptr, nullptr);
    EXPECT_EQ(PlatGetAppDataDir(), EngineForm(Native(".local/share")));

    setenv("HOME", strHome.c_str(), 1);
    if (pszData) setenv("XDG_DATA_HOME", strData.c_str(), 1); else unsetenv("XDG_DATA_HOME");
    if (pszConfig) setenv("XDG_CONFIG_HOME", strConfig.c_str(), 1); else unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
