// Splitting parameter texts and starting programs without a shell.
#include "platform/plat_process.h"
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
