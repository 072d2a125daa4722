// Splitting parameter texts and starting programs without a shell.
#include "platform/plat_process.h"
#include "platform/plat_trace.h"
#include "tests/platform/plat_test_util.h"

namespace {

TEST(PlatProcess, SplitsLikeTheMicrosoftRuntime)
{
    struct SPLIT_CASE {
        const char* pszParams;
        std::vector<std::string> aArgs;
    };
    const SPLIT_CASE aCases[] = {
        {"", {}},
        {"  \t ", {}},
        {"a b\tc", {"a", "b", "c"}},
        {"\"a b\" c", {"a b", "c"}},
        {"\"\"", {""}},
        {"x\"y z\"w", {"xy zw"}},
        {"a\\\\b", {"a\\\\b"}},              // backslashes not before a quote are literal
        {"a\\\"b", {"a\"b"}},                // \"  -> "
        {"a\\\\\"b c\"", {"a\\b c"}},         // \\" -> \ and the quote groups
        {"a\\\\\\\"b", {"a\\\"b"}},          // \\\" -> \"
        {"\"a\"\"b\" c", {"a\"b", "c"}},     // "" inside a group is a quote
        {"\"open end", {"open end"}},
        {"C:\\Program Files\\x", {"C:\\Program", "Files\\x"}},
        {"\x83\x5C\" a\"", {"\x83\x5C a"}},   // ソ ends in 0x5C, which does not escape the quote
        {"\"\x95\x5C\" \x83\x41", {"\x95\x5C", "\x83\x41"}},
    };
    for (const SPLIT_CASE& c : aCases) EXPECT_EQ(PlatSplitCommandLine(c.pszParams), c.aArgs) << c.pszParams;
    EXPECT_TRUE(PlatSplitCommandLine(nullptr).empty());
}

int RecordSpawn(const std::vector<std::string>& args, void* pUser)
{
    *(std::vector<std::string>*)pUser = args;
    return 7;
}

TEST(PlatProcess, HookReceivesTheArgumentVector)
{
    std::vector<std::string> aSeen;
    PlatSetSpawnHook(RecordSpawn, &aSeen);
    EXPECT_EQ(PlatStartProcess("Quenfel.exe", "/kxcfg \"a b\""), 7);
    const std::vector<std::string> aExpect = {"Quenfel.exe", "/kxcfg", "a b"};
    EXPECT_EQ(aSeen, aExpect);
    PlatSetSpawnHook(nullptr, nullptr);
}

class PlatSpawnTest : public TempFolderTest {};

TEST_F(PlatSpawnTest, StartsProgramsByNameOrEnginePath)
{
    // An engine path in another letter case reaches /usr/bin/cp; the argument that names an
    // existing file as an engine path arrives as its native path.
    ASSERT_EQ(mkdir(Native("Dir").c_str(), 0755), 0);
    WriteNativeFile(Native("Dir/表 one.txt"), "copied");
    ASSERT_EQ(chdir(m_strDir.c_str()), 0);
    ASSERT_EQ(PlatStartProcess("\\USR\\BIN\\CP", "\"dir\\\x95\x5C ONE.TXT\" \x95\x5C.txt"), 0);
    for (int i = 0; i < 1000 && ReadNativeFile(Native("表.txt")) != "copied"; i++) usleep(10000);
    EXPECT_EQ(ReadNativeFile(Native("表.txt")), "copied");

    EXPECT_EQ(PlatStartProcessArgv({"true"}), 0);
    EXPECT_EQ(PlatStartProcessArgv({"kx-no-such-program"}), -1);
    EXPECT_EQ(PlatStartProcess("\\no\\such\\program", ""), -1);
    EXPECT_EQ(PlatStartProcessArgv({}), -1);
}

// ---- opening with the program ----

std::vector<std::string> g_aTraced;
void RecordTrace(const char* pszCaption, const char* pszText)
{
    g_aTraced.push_back(std::string(pszCaption) + ": " + pszText);
}

// Records a start; fails it when the recorded list holds "fail" first.
int RecordOpen(const std::vector<std::string>& args, void* pUser)
{
    auto* pSeen = static_cast<std::vector<std::string>*>(pUser);
    const bool bFail = !pSeen->empty() && (*pSeen)[0] == "fail";
    *pSeen = args;
    return bFail ? -1 : 0;
}

class PlatOpenTest : public TempFolderTest {
protected:
    std::vector<std::string> aSeen;
    void SetUp() override
    {
        TempFolderTest::SetUp();
        ASSERT_EQ(chdir(m_strDir.c_str()), 0);
        PlatSetSpawnHook(RecordOpen, &aSeen);
        g_aTraced.clear();
        PlatSetTraceSink(RecordTrace);
    }
    void TearDown() override
    {
        PlatSetSpawnHook(nullptr, nullptr);
        PlatSetTraceSink(nullptr);
        TempFolderTest::TearDown();
    }
    bool Traced(const std::string& strPart) const
    {
        for (const std::string& s : g_aTraced)
            if (s.find(strPart) != std::string::npos) return true;
        return false;
    }
};

TEST_F(PlatOpenTest, ADocumentGoesToTheOpenerAloneFoundWhateverItsLetterCase)
{
    ASSERT_EQ(mkdir(Native("Doc").c_str(), 0755), 0);
    WriteNativeFile(Native("Doc/Read Me.html"), "<p>");
    WriteNativeFile(Native("Manual.html"), "<p>");
    // The names as a script gives them: lower-cased, with and without a folder part.
    const struct {
        const char* pszTarget;
        const char* pszParams;
        std::string strNative;
    } kCases[] = {
        {"doc\\read me.html", "-a \"b c\"", Native("Doc/Read Me.html")},
        {"manual.html", nullptr, Native("Manual.html")},
        {"MANUAL.HTML", "", Native("Manual.html")},
        {".\\manual.html", nullptr, Native("Manual.html")},
        {"doc", nullptr, Native("Doc")},   // a folder opens too
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.pszTarget);
        aSeen.clear();
        g_aTraced.clear();
        PLAT_OPENED opened{5, 5};
        EXPECT_EQ(PlatOpenWithAssociated(c.pszTarget, c.pszParams, &opened), PLAT_OPEN_STARTED);
        EXPECT_EQ(aSeen, (std::vector<std::string>{"xdg-open", c.strNative}));
        EXPECT_EQ(opened.llProcess, 0);   // a hooked start has nothing to wait for
        // Parameters the opener cannot take are dropped, and the trace says so.
        EXPECT_EQ(Traced("are dropped"), c.pszParams && *c.pszParams) << ::testing::PrintToString(g_aTraced);
    }
    int nCode = -1;
    EXPECT_EQ(PlatProcessEnded(0, &nCode), 1);
    EXPECT_EQ(nCode, 0);
}

TEST_F(PlatOpenTest, AWebAddressGoesToTheOpenerAsWritten)
{
    const struct {
        const char* pszTarget;
        const char* pszShown;
    } kCases[] = {
        {"https://Example.invalid/A b?x=1", "https://Example.invalid/A b?x=1"},
        {"mailto:someone@example.invalid", "mailto:someone@example.invalid"},
        {"WWW.example.invalid/Page", "http://WWW.example.invalid/Page"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.pszTarget);
        aSeen.clear();
        EXPECT_EQ(PlatOpenWithAssociated(c.pszTarget, "-x", nullptr), PLAT_OPEN_STARTED);
        EXPECT_EQ(aSeen, (std::vector<std::string>{"xdg-open", c.pszShown}));
    }
    EXPECT_EQ(PlatIsWebAddress("c:\\games\\x.txt"), 0);   // a drive, not a scheme
    EXPECT_EQ(PlatIsWebAddress("manual.html"), 0);
    EXPECT_EQ(PlatIsWebAddress("www."), 0);
}

TEST_F(PlatOpenTest, AnExecutableStartsItselfWithTheParametersAndAMissingFileStartsNothing)
{
    WriteNativeFile(Native("Tool.sh"), "#!/bin/sh\nexit 0\n");
    ASSERT_EQ(chmod(Native("Tool.sh").c_str(), 0755), 0);
    // Execute permission alone does not make a document a program.
    WriteNativeFile(Native("Notes.txt"), "notes");
    ASSERT_EQ(chmod(Native("Notes.txt").c_str(), 0755), 0);
    PLAT_OPENED opened{0, 5};
    EXPECT_EQ(PlatOpenWithAssociated("tool.sh", "-a \"b c\"", &opened), PLAT_OPEN_STARTED);
    EXPECT_EQ(aSeen, (std::vector<std::string>{Native("Tool.sh"), "-a", "b c"}));
    EXPECT_EQ(opened.bOpener, 0);
    EXPECT_EQ(PlatOpenWithAssociated("notes.txt", nullptr, &opened), PLAT_OPEN_STARTED);
    EXPECT_EQ(aSeen, (std::vector<std::string>{"xdg-open", Native("Notes.txt")}));
    EXPECT_EQ(opened.bOpener, 1);

    aSeen.clear();
    EXPECT_EQ(PlatOpenWithAssociated("no\\such.html", nullptr, nullptr), PLAT_OPEN_MISSING);
    EXPECT_EQ(PlatOpenWithAssociated("", nullptr, nullptr), PLAT_OPEN_FAILED);
    EXPECT_TRUE(aSeen.empty());
    // An opener that cannot be started.
    aSeen = {"fail"};
    EXPECT_EQ(PlatOpenWithAssociated("notes.txt", nullptr, nullptr), PLAT_OPEN_FAILED);
}

TEST_F(PlatOpenTest, ARealStartIsWaitedForWithItsStatus)
{
    PlatSetSpawnHook(nullptr, nullptr);
    WriteNativeFile(Native("fails.sh"), "#!/bin/sh\nexit 4\n");
    ASSERT_EQ(chmod(Native("fails.sh").c_str(), 0755), 0);
    PLAT_OPENED opened{0, 5};
    ASSERT_EQ(PlatOpenWithAssociated("FAILS.SH", nullptr, &opened), PLAT_OPEN_STARTED);
    ASSERT_GT(opened.llProcess, 0);
    EXPECT_EQ(opened.bOpener, 0);
    int nCode = -1;
    while (!PlatProcessEnded(opened.llProcess, &nCode)) usleep(10000);
    EXPECT_EQ(nCode, 4);
}

TEST(PlatProcess, FindsTheEditorFromTheEnvironment)
{
    std::string strVisual = getenv("VISUAL") ? getenv("VISUAL") : "";
    std::string strEditor = getenv("EDITOR") ? getenv("EDITOR") : "";
    int bVisual = getenv("VISUAL") != nullptr, bEditor = getenv("EDITOR") != nullptr;

    char buf[64];
    setenv("VISUAL", "", 1);
    setenv("EDITOR", "nano -w", 1);
    EXPECT_EQ(PlatFindExecutable("a.txt", buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "nano");
    setenv("VISUAL", "/usr/bin/vi", 1);
    EXPECT_EQ(PlatFindExecutable("a.txt", buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "\\usr\\bin\\vi");
    EXPECT_EQ(PlatFindExecutable("a.txt", buf, 5), -1);   // a cut name would name another program
    EXPECT_STREQ(buf, "");
    unsetenv("VISUAL");
    unsetenv("EDITOR");
    EXPECT_EQ(PlatFindExecutable("a.txt", buf, sizeof buf), -1);
    EXPECT_STREQ(buf, "");

    if (bVisual) setenv("VISUAL", strVisual.c_str(), 1);
    if (bEditor) setenv("EDITOR", strEditor.c_str(), 1);
}

}  // namespace
