// kxpack's refusals and checks: a folder or pack without the compiled game configuration is not
// packed or embedded unless forced, --version answers, and --check / --list read every entry of a
// pack and name each cut or damaged one.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tools/lib/pack_writer.h"

namespace fs = std::filesystem;

namespace {

bool Contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

class KxpackTest : public ::testing::Test {
protected:
    TEMP_DIR dir;

    PROGRAM_RESULT Kxpack(const std::vector<std::string>& args) { return RunProgramCaptured(KX_KXPACK_PATH, args, {}); }

    // A pack of three entries: the configuration, 5000 stored bytes, and a text compressed by zlib.
    std::vector<uint8_t> SoundPack(std::vector<PACK_WRITER_ENTRY>* pEntries = nullptr)
    {
        std::vector<PACK_WRITER_ENTRY> entries(3);
        entries[0].strName = "kxbin\\kxcfg.kbn";
        entries[0].data = std::vector<uint8_t>(64, 7);
        entries[1].strName = "cg\\stored.bin";
        for (int i = 0; i < 5000; ++i) entries[1].data.push_back(static_cast<uint8_t>(i * 37));
        entries[2].strName = "packed.txt";
        entries[2].data.assign(3000, 'k');
        entries[2].nCompression = 1;
        if (pEntries) *pEntries = entries;
        return BuildPackImage(entries);
    }
};

TEST_F(KxpackTest, VersionIsAnAnswer)
{
    const PROGRAM_RESULT r = Kxpack({"--version"});
    EXPECT_EQ(r.nStatus, 0);
    EXPECT_EQ(r.strOut.rfind("kxpack ", 0), 0u) << r.strOut;
    EXPECT_EQ(r.strOut.find('\n'), r.strOut.size() - 1) << "one line: " << r.strOut;
    EXPECT_EQ(r.strErr, "");
}

// A folder that is no game (no kxbin/kxcfg.kbn) is refused unless --force; so is embedding a pack
// that lacks it, because the one-file game would not start.
TEST_F(KxpackTest, AFolderOrPackWithoutTheConfigurationIsRefusedUnlessForced)
{
    dir.Write("nogame/a.txt", std::string("hello"));
    const std::string strOut = dir.strNative + "/nogame.kpf";
    PROGRAM_RESULT r = Kxpack({strOut, dir.strNative + "/nogame"});
    EXPECT_EQ(r.nStatus, 1);
    EXPECT_TRUE(Contains(r.strErr, "kxcfg.kbn")) << r.strErr;
    EXPECT_TRUE(Contains(r.strErr, "--force")) << r.strErr;
    EXPECT_FALSE(fs::exists(strOut));
    r = Kxpack({strOut, "--force", dir.strNative + "/nogame"});
    EXPECT_EQ(r.nStatus, 0) << r.strErr;
    ASSERT_TRUE(fs::exists(strOut));
    EXPECT_EQ(Kxpack({"--check", strOut}).nStatus, 0);

    const std::string strExe = dir.strNative + "/nogame-exe";
    r = Kxpack({"--embed", strExe, KX_KOLVEX_PATH, strOut});
    EXPECT_EQ(r.nStatus, 1);
    EXPECT_TRUE(Contains(r.strErr, "kxcfg.kbn")) << r.strErr;
    EXPECT_FALSE(fs::exists(strExe));
    r = Kxpack({"--embed", "--force", strExe, KX_KOLVEX_PATH, strOut});
    EXPECT_EQ(r.nStatus, 0) << r.strErr;
    EXPECT_TRUE(fs::exists(strExe));

    // A game folder (its configuration in any letter case) packs and embeds without a word.
    dir.Write("game/KXBIN/KxCfg.kbn", std::string("cfg"));
    const std::string strGame = dir.strNative + "/game.kpf";
    r = Kxpack({strGame, "-z", dir.strNative + "/game"});
    EXPECT_EQ(r.nStatus, 0) << r.strErr;
    r = Kxpack({"--embed", dir.strNative + "/game-exe", KX_KOLVEX_PATH, strGame});
    EXPECT_EQ(r.nStatus, 0) << r.strErr;
}

// Every entry is read whole: a pack cut short or with one bit flipped anywhere in an entry's data
// fails --check and --list with a line naming the entry; a sound pack passes.
TEST_F(KxpackTest, CheckFindsCutAndFlippedPacks)
{
    std::vector<PACK_WRITER_ENTRY> entries;
    const std::vector<uint8_t> sound = SoundPack(&entries);
    ASSERT_FALSE(sound.empty());
    const std::string strSound = dir.Write("sound.kpf", sound);
    for (const char* pszMode : {"--check", "--list"}) {
        const PROGRAM_RESULT r = Kxpack({pszMode, strSound});
        EXPECT_EQ(r.nStatus, 0) << pszMode << ": " << r.strErr;
        EXPECT_EQ(r.strErr, "") << pszMode;
    }
    EXPECT_TRUE(Contains(Kxpack({"--list", strSound}).strOut, "cg\\stored.bin")) << "the listing names the entries";

    struct CASE {
        const char* pszWhat;
        std::vector<uint8_t> image;
        std::string strEntry;   // the entry the report names
    };
    std::vector<CASE> cases;
    std::vector<PACK_TABLE_ENTRY> table;
    ASSERT_EQ(ReadPackTable(sound.data(), sound.size(), &table), 0);
    ASSERT_EQ(table.size(), entries.size());
    // One bit flipped in the middle of each entry's stored bytes (the compressed one included).
    for (size_t i = 0; i < table.size(); ++i) {
        std::vector<uint8_t> flipped = sound;
        const int64_t llAt = FindPackEntryDataOffset(flipped, i);
        ASSERT_GE(llAt, 0);
        flipped[static_cast<size_t>(llAt) + static_cast<size_t>(table[i].nStoredSize) / 2] ^= 0x10;
        cases.push_back({"a bit flipped", flipped, table[i].strName});
    }
    // Cut inside the last entry's data, and inside its repair trailer.
    size_t nLast = 0;
    for (size_t i = 1; i < table.size(); ++i)
        if (table[i].llOffset > table[nLast].llOffset) nLast = i;
    const size_t nLastData = static_cast<size_t>(table[nLast].llOffset);
    cases.push_back({"cut in the data", std::vector<uint8_t>(sound.begin(), sound.begin() + nLastData + 10), table[nLast].strName});
    cases.push_back({"cut in the trailer", std::vector<uint8_t>(sound.begin(), sound.end() - 100), table[nLast].strName});

    int n = 0;
    for (const CASE& c : cases) {
        SCOPED_TRACE(std::string(c.pszWhat) + " in " + c.strEntry);
        const std::string strPath = dir.Write("damaged" + std::to_string(n++) + ".kpf", c.image);
        for (const char* pszMode : {"--check", "--list"}) {
            const PROGRAM_RESULT r = Kxpack({pszMode, strPath});
            EXPECT_EQ(r.nStatus, 1) << pszMode << ": " << r.strErr;
            EXPECT_TRUE(Contains(r.strErr, "entry " + c.strEntry + ":")) << pszMode << ": " << r.strErr;
        }
    }

    // A cut inside the entry table: the table itself is reported.
    const std::string strCutTable = dir.Write("cut-table.kpf", std::vector<uint8_t>(sound.begin(), sound.begin() + 40));
    const PROGRAM_RESULT r = Kxpack({"--check", strCutTable});
    EXPECT_EQ(r.nStatus, 1);
    EXPECT_TRUE(Contains(r.strErr, "entry table")) << r.strErr;
}

}  // namespace
