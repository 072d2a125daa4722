// One-file games built by kxpack --embed from the real kolvex: the demo carried inside the
// executable plays headless from a folder that holds nothing else, and a screen-saver build serves
// its switches.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tools/lib/bmp_writer.h"

namespace fs = std::filesystem;

namespace {

class BundledGameTest : public ::testing::Test {
protected:
    TEMP_DIR dir;
    std::string strPack;

    void SetUp() override
    {
        ASSERT_EQ(RunProgramForTest(KX_KXDEMO_PATH, {dir.strNative + "/demo"}, {}), 0);
        strPack = dir.strNative + "/demo/data.kpf";
    }
    // Builds run/NAME from kolvex and the demo's pack (and a preview picture when given).
    std::string Build(const std::string& strName, const std::vector<uint8_t>& preview = {})
    {
        fs::create_directories(dir.strNative + "/run");
        std::string strOut = dir.strNative + "/run/" + strName;
        std::vector<std::string> args = {"--embed", strOut, KX_KOLVEX_PATH, strPack};
        if (!preview.empty()) args.push_back(dir.Write("preview.bmp", preview));
        EXPECT_EQ(RunProgramForTest(KX_KXPACK_PATH, args, {}), 0);
        return strOut;
    }
    // Runs the executable headless with its arguments for a second at most (the demo's title menu
    // waits for the player); its exit status.
    int Run(const std::string& strExe, const std::vector<std::string>& args, const std::string& strShot)
    {
        return RunProgramForTest(strExe, args,
                                 {"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy", "XDG_RUNTIME_DIR=" + dir.strNative,
                                  "KOLVEX_SCREENSHOT=" + strShot, "KOLVEX_QUIT_AFTER_FRAMES=60"});
    }
    std::vector<uint8_t> PreviewPicture()
    {
        std::vector<uint32_t> pixels(5 * 3, 0x336699);
        return WriteBmp(5, 3, BMP_WRITER_OPTIONS{}, pixels.data(), nullptr);
    }
};

TEST_F(BundledGameTest, TheDemoPlaysFromOneExecutable)
{
    const std::string strExe = Build("demo-game");
    const std::string strShot = dir.strNative + "/shot.png";
    ASSERT_EQ(Run(strExe, {"--game", dir.strNative + "/run"}, strShot), 0);
    EXPECT_TRUE(fs::exists(strShot)) << "the game did not run to its first frame";
    // Nothing was unpacked or needed beside the executable.
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.strNative + "/run")) names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"demo-game"});
    EXPECT_LT(fs::file_size(KX_KOLVEX_PATH), fs::file_size(strExe));
}

TEST_F(BundledGameTest, ScreenSaverSwitchesEndOrRunTheGame)
{
    const std::string strExe = Build("saver", PreviewPicture());
    const std::string strAbout = "\xe3\x82\xb9\xe3\x82\xaf\xe3\x83\xaa\xe3\x83\xbc\xe3\x83\xb3";   // "スクリーン"
    enum { ABOUT, ENDS, GAME };
    struct CASE {
        std::vector<std::string> args;
        int nOutcome;
    };
    std::vector<CASE> cases = {{{}, ABOUT}};
    // Every switch in both forms and both cases: '/' or '-', then the letter.
    for (const char* pszPrefix : {"/", "-"}) {
        for (const bool bUpper : {false, true}) {
            auto sw = [&](char c) { return std::string(pszPrefix) + static_cast<char>(bUpper ? c - 32 : c); };
            cases.push_back({{sw('c')}, ABOUT});
            cases.push_back({{sw('a'), "5"}, ENDS});
            cases.push_back({{sw('p'), "1234"}, ENDS});   // headless: the preview is not drawn
            cases.push_back({{sw('s')}, GAME});           // the screen saver's own run plays the game
        }
    }
    // The game folder named first, by --game or as a folder, or not at all (the executable's own).
    const std::vector<std::vector<std::string>> folderForms = {
        {"--game", dir.strNative + "/run"}, {dir.strNative + "/run"}, {}};
    int n = 0;
    for (const std::vector<std::string>& folder : folderForms) {
        for (const CASE& c : cases) {
            std::string strCase = folder.empty() ? "(no folder) " : folder[0] + " ";
            for (const std::string& s : c.args) strCase += s + " ";
            SCOPED_TRACE(strCase);
            const std::string strShot = dir.strNative + "/shot" + std::to_string(n++) + ".png";
            std::vector<std::string> args = folder;
            args.insert(args.end(), c.args.begin(), c.args.end());
            const PROGRAM_RESULT r = RunProgramCaptured(
                strExe, args,
                {"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy", "XDG_RUNTIME_DIR=" + dir.strNative,
                 "KOLVEX_SCREENSHOT=" + strShot, "KOLVEX_QUIT_AFTER_FRAMES=60"},
                dir.strNative);
            EXPECT_EQ(r.nStatus, 0) << r.strErr;
            EXPECT_EQ(r.strErr.find("unknown option"), std::string::npos) << r.strErr;
            EXPECT_EQ(r.strErr.find(strAbout) != std::string::npos, c.nOutcome == ABOUT) << r.strErr;
            EXPECT_EQ(fs::exists(strShot), c.nOutcome == GAME) << r.strErr;
        }
    }
}

TEST_F(BundledGameTest, PackagingRefusesWhatItCannotCarry)
{
    const std::string strExe = Build("once");
    // A bundle already carries a game; a pack must be a pack; the engine must carry the marker.
    EXPECT_EQ(RunProgramForTest(KX_KXPACK_PATH, {"--embed", dir.strNative + "/twice", strExe, strPack}, {}), 1);
    std::string strNotPack = dir.Write("not.kpf", std::string("not a pack at all"));
    EXPECT_EQ(RunProgramForTest(KX_KXPACK_PATH, {"--embed", dir.strNative + "/bad", KX_KOLVEX_PATH, strNotPack}, {}), 1);
    EXPECT_EQ(RunProgramForTest(KX_KXPACK_PATH, {"--embed", dir.strNative + "/bad", strPack, strPack}, {}), 1);
}

// Asked for its help, kxpack prints the usage on standard output and ends with status 0; wrong
// arguments get the usage on standard error and status 2.
TEST(KxpackHelpTest, HelpIsAnAnswerAndWrongArgumentsAreNot)
{
    struct CASE {
        std::vector<std::string> args;
        int nStatus;
        bool bOnStdout;
    };
    for (const CASE& c : {CASE{{"--help"}, 0, true}, CASE{{"-h"}, 0, true}, CASE{{}, 2, false},
                          CASE{{"out.kpf", "--bogus", "folder"}, 2, false}}) {
        const PROGRAM_RESULT r = RunProgramCaptured(KX_KXPACK_PATH, c.args, {});
        const std::string strArgs = c.args.empty() ? "(none)" : c.args[0];
        EXPECT_EQ(r.nStatus, c.nStatus) << strArgs;
        const std::string& strUsage = c.bOnStdout ? r.strOut : r.strErr;
        const std::string& strOther = c.bOnStdout ? r.strErr : r.strOut;
        EXPECT_EQ(strUsage.rfind("usage: kxpack", 0), 0u) << strArgs << ": " << strUsage;
        EXPECT_EQ(strOther, "") << strArgs;
    }
}

}  // namespace
