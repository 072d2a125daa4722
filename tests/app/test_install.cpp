// The install rule: "cmake --install" of this build into a temporary prefix puts the executable and
// the tools in bin/, the desktop entry in share/applications and the icon in the icon theme, and
// the installed programs run from there.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/test_support.h"

namespace {

bool IsExecutableFile(const std::string& strPath)
{
    struct stat st{};
    return ::stat(strPath.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IXUSR);
}

std::string ReadAll(const std::string& strPath)
{
    std::ifstream f(strPath);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

}  // namespace

TEST(InstallRule, PutsTheProgramsTheDesktopEntryAndTheIconInPlace)
{
    TEMP_DIR dir;
    const std::string strPrefix = dir.strNative + "/prefix";
    const PROGRAM_RESULT r = RunProgramCaptured(KX_CMAKE_COMMAND, {"--install", KX_BUILD_DIR, "--prefix", strPrefix}, {});
    ASSERT_EQ(r.nStatus, 0) << r.strOut << r.strErr;
    for (const char* psz : {"kolvex", "kxpack", "kxdemo"})
        EXPECT_TRUE(IsExecutableFile(strPrefix + "/bin/" + psz)) << psz;
    const std::string strEntry = ReadAll(strPrefix + "/share/applications/kolvex.desktop");
    EXPECT_EQ(strEntry.rfind("[Desktop Entry]\n", 0), 0u) << strEntry;
    EXPECT_NE(strEntry.find("\nExec=kolvex "), std::string::npos) << strEntry;
    EXPECT_NE(strEntry.find("\nIcon=kolvex\n"), std::string::npos) << strEntry;
    // File managers offer it for a folder, and hand the folder over in place of %f.
    EXPECT_NE(strEntry.find("\nMimeType=inode/directory;\n"), std::string::npos) << strEntry;
    const size_t nExec = strEntry.find("\nExec=");
    ASSERT_NE(nExec, std::string::npos);
    const std::string strExec = strEntry.substr(nExec + 6, strEntry.find('\n', nExec + 1) - nExec - 6);
    EXPECT_EQ(strExec, "kolvex %f");
    EXPECT_NE(ReadAll(strPrefix + "/share/icons/hicolor/scalable/apps/kolvex.svg").find("<svg"), std::string::npos);

    // The installed programs run: the engine answers its version, the builder writes the demo.
    const PROGRAM_RESULT version = RunProgramCaptured(strPrefix + "/bin/kolvex", {"--version"}, {});
    EXPECT_EQ(version.nStatus, 0);
    EXPECT_EQ(version.strOut.rfind("kolvex ", 0), 0u) << version.strOut;
    EXPECT_EQ(RunProgramForTest(strPrefix + "/bin/kxdemo", {dir.strNative + "/game"}, {}), 0);
    struct stat st{};
    EXPECT_EQ(::stat((dir.strNative + "/game/data.kpf").c_str(), &st), 0);
    // The entry's command with a game folder for %f plays that game.
    const PROGRAM_RESULT play = RunProgramCaptured(
        strPrefix + "/bin/kolvex", {dir.strNative + "/game"},
        {"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy", "KOLVEX_AUDIO=null", "XDG_RUNTIME_DIR=" + dir.strNative,
         "KOLVEX_QUIT_AFTER_FRAMES=5"},
        dir.strNative);
    EXPECT_EQ(play.nStatus, 0) << play.strErr;
}

// "cmake --install --strip" installs the programs without their symbols and debug information:
// smaller than the built ones, and they still run.
TEST(InstallRule, StripsTheProgramsWhenAsked)
{
    TEMP_DIR dir;
    const std::string strPrefix = dir.strNative + "/prefix";
    const PROGRAM_RESULT r =
        RunProgramCaptured(KX_CMAKE_COMMAND, {"--install", KX_BUILD_DIR, "--prefix", strPrefix, "--strip"}, {});
    ASSERT_EQ(r.nStatus, 0) << r.strOut << r.strErr;
    struct stat built{}, installed{};
    ASSERT_EQ(::stat(KX_KOLVEX_PATH, &built), 0);
    ASSERT_EQ(::stat((strPrefix + "/bin/kolvex").c_str(), &installed), 0);
    EXPECT_LT(installed.st_size, built.st_size);
    const std::string strBytes = ReadAll(strPrefix + "/bin/kolvex");
    EXPECT_EQ(strBytes.find(".symtab"), std::string::npos) << "the symbol table was kept";
    EXPECT_EQ(strBytes.find(".debug_info"), std::string::npos) << "the debug information was kept";
    const PROGRAM_RESULT version = RunProgramCaptured(strPrefix + "/bin/kolvex", {"--version"}, {});
    EXPECT_EQ(version.nStatus, 0);
    EXPECT_EQ(version.strOut.rfind("kolvex ", 0), 0u) << version.strOut;
}
