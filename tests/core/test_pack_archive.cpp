#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/appended_data.h"
#include "core/codecs.h"
#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/file_location.h"
#include "core/kx_hash.h"
#include "core/pack_archive.h"
#include "platform/plat_file.h"
#include "tests/support/engine_test.h"
#include "tests/support/game_folder.h"
#include "tests/support/test_support.h"
#include "tools/lib/pack_writer.h"

namespace {

PACK_WRITER_ENTRY Entry(const std::string& strName, const std::string& strData, int nCompression = 0)
{
    PACK_WRITER_ENTRY e;
    e.strName = strName;
    e.data.assign(strData.begin(), strData.end());
    e.nCompression = nCompression;
    return e;
}

// Bytes that zlib cannot shrink, so that compressed entries span several repair blocks too.
std::string Noise(size_t n, uint32_t seed)
{
    std::string s(n, '\0');
    for (char& c : s) {
        seed = seed * 214013u + 2531011u;
        c = static_cast<char>(seed >> 16);
    }
    return s;
}

// A game folder that is the current folder and the program folder, with the index state of a
// fresh run; errors are recorded.
class PackTest : public EngineTest {
protected:
    TEMP_DIR dir;
    ERROR_RECORDER errors;
    std::string strOldCwd;

    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(EnterGameFolder(dir, &strOldCwd));
        ASSERT_EQ(LoadCodecLibraries(), 0);
    }
    void TearDown() override
    {
        UnloadCodecLibraries();
        LeaveGameFolder(strOldCwd);
    }

    void Pack(const std::string& strRelative, const std::vector<PACK_WRITER_ENTRY>& entries,
              const PACK_WRITER_OPTIONS& opt = {})
    {
        dir.Write(strRelative, BuildPackImage(entries, opt));
    }

    // Finds and reads a name: 0 with the content, else the finder's or the reader's result.
    int Read(const char* pszName, std::string* pOut = nullptr)
    {
        FILE_LOCATION loc{};
        int r = FindPackEntry(&loc, pszName);
        if (r != FILESRC_PACK) return r == 0 ? 1 : r;
        r = ReadPackEntry(&loc, pszName);
        if (r == 0) {
            if (pOut) pOut->assign(reinterpret_cast<const char*>(loc.pData), static_cast<size_t>(loc.nSize));
            std::free(loc.pData);
        }
        return r;
    }
    std::string ReadText(const char* pszName)
    {
        std::string s;
        EXPECT_EQ(Read(pszName, &s), 0) << pszName;
        return s;
    }
    std::vector<int> ErrorIds() const
    {
        std::vector<int> ids;
        for (const auto& e : errors.reports) ids.push_back(e.nId);
        return ids;
    }
};

}  // namespace

TEST_F(PackTest, NameTableAndScriptKey)
{
    EXPECT_EQ(g_abScriptKey[0], 0xEF);
    EXPECT_EQ(g_abScriptKey[1], 0x44);
    EXPECT_EQ(g_abScriptKey[2], 0xF2);
    EXPECT_EQ(g_abScriptKey[3], 0x70);
    EXPECT_EQ(g_abPackNameLength[3], 200);
    EXPECT_EQ(g_abPackNameLength[200], 3);
    EXPECT_EQ(g_abPackNameLength[199], 101);
    EXPECT_EQ(g_abPackNameLength[4], 4);
}

TEST_F(PackTest, MagicAndVersion)
{
    struct CASE {
        const char* pszMagic;
        int nVersion;
        int nBuild;
        std::vector<int> ids;
        int nRead;
    } cases[] = {
        {"KPX", 234, 0, {}, 1},   // not a pack: ignored without a message
        {"KPF", 233, -1, {KX_ERR_PACK_VERSION}, 1},
        {"KPF", 234, 0, {}, 0},
        {"KPF", 555, 0, {}, 0},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(std::string(c.pszMagic) + " " + std::to_string(c.nVersion));
        PACK_WRITER_OPTIONS opt;
        opt.strMagic = std::string(c.pszMagic, 4);
        opt.nVersion = c.nVersion;
        Pack("data.kpf", {Entry("kxbin\\kxc.kbn", "script")}, opt);
        errors.reports.clear();
        EXPECT_EQ(BuildPackIndex(), c.nBuild);
        EXPECT_EQ(ErrorIds(), c.ids);
        if (!c.ids.empty()) {
            EXPECT_EQ(errors.reports[0].bFatal, 1);
        }
        EXPECT_EQ(Read("kxbin\\kxc.kbn"), c.nRead);
        EXPECT_EQ(g_nPacks, c.nRead == 0 ? 1 : 0);
    }
}

TEST_F(PackTest, UpdatePacksOverrideEarlierEntries)
{
    // An update pack overrides an ordinary one and a lower-numbered update; names compare without case.
    Pack("data.kpf", {Entry("bg\\a.png", "base a"), Entry("bg\\b.png", "base b"), Entry("bg\\c.png", "base c")});
    Pack("pac/update1.kpf", {Entry("bg\\b.png", "update1 b"), Entry("bg\\c.png", "update1 c")});
    Pack("update2.kpf", {Entry("BG\\A.png", "update2 a"), Entry("bg\\c.png", "update2 c")});
    ASSERT_EQ(BuildPackIndex(), 0);
    EXPECT_TRUE(errors.reports.empty());
    EXPECT_EQ(ReadText("bg\\a.png"), "update2 a");
    EXPECT_EQ(ReadText("bg\\b.png"), "update1 b");
    EXPECT_EQ(ReadText("bg\\c.png"), "update2 c");
    EXPECT_EQ(g_nPacks, 3);
    EXPECT_STREQ(g_apszPackPath[2], ".\\update2.kpf");
}

TEST_F(PackTest, SameNameInTwoOrdinaryPacksStopsStartup)
{
    Pack("a.kpf", {Entry("se\\click.wav", "one")});
    Pack("b.kpf", {Entry("SE\\Click.wav", "two")});
    EXPECT_EQ(BuildPackIndex(), -1);
    ASSERT_EQ(ErrorIds(), std::vector<int>{KX_ERR_PACK_DUPLICATE});
    EXPECT_EQ(errors.reports[0].bFatal, 0);
    EXPECT_NE(errors.reports[0].strText.find("SE\\Click.wav"), std::string::npos);
}

TEST_F(PackTest, NamesWithEqualHashesAreBothFound)
{
    // Two names of one hash: both are found by their names, and an update pack overrides either.
    const char* pszA = "cg\\c108797.png";
    const char* pszB = "cg\\c129481.png";
    ASSERT_EQ(HashName(pszA), HashName(pszB));
    Pack("a.kpf", {Entry(pszA, "first")});
    Pack("b.kpf", {Entry(pszB, "second")});
    ASSERT_EQ(BuildPackIndex(), 0);
    EXPECT_TRUE(errors.reports.empty());
    EXPECT_EQ(ReadText(pszA), "first");
    EXPECT_EQ(ReadText(pszB), "second");
    Pack("update1.kpf", {Entry(pszB, "second updated")});
    Pack("update2.kpf", {Entry(pszA, "first updated")});
    ASSERT_EQ(BuildPackIndex(), 0);
    EXPECT_EQ(ReadText(pszA), "first updated");
    EXPECT_EQ(ReadText(pszB), "second updated");
    EXPECT_TRUE(errors.reports.empty());
}

TEST_F(PackTest, StoredHashZeroTakesPartInDuplicateChecks)
{
    // Overridden entries get hash 0 (or 1 when theirs was 0): entries stored with such hashes must
    // still meet each other.
    PACK_WRITER_ENTRY z = Entry("z.txt", "z");
    z.bRawHash = true;
    z.nRawHash = 0;
    PACK_WRITER_ENTRY y = Entry("y.txt", "y");
    y.bRawHash = true;
    y.nRawHash = 1;
    Pack("data.kpf", {z, y, Entry("x.txt", "x")});
    Pack("update1.kpf", {z, y, Entry("x.txt", "x2")});
    ASSERT_EQ(BuildPackIndex(), 0);
    // z and y of data.kpf switched to 1 and 0, x of data.kpf to 0.
    ASSERT_EQ(g_nPackEntries, 6);
    std::vector<uint32_t> hashes(g_pdwPackHash, g_pdwPackHash + 6);
    EXPECT_EQ(std::count(hashes.begin(), hashes.end(), 0u), 3);
    EXPECT_EQ(std::count(hashes.begin(), hashes.end(), 1u), 2);
    EXPECT_EQ(ReadText("x.txt"), "x2");
    Pack("other.kpf", {z});
    EXPECT_EQ(BuildPackIndex(), -1);
    EXPECT_EQ(ErrorIds(), std::vector<int>{KX_ERR_PACK_DUPLICATE});
}

TEST_F(PackTest, FolderScanAndPackedLayout)
{
    Pack("Data.KPF", {Entry("a.txt", "top")});
    Pack("PAC/more.kpf", {Entry("KXBIN\\KxCfg.kbn", "cfg")});
    Pack("PAC/pac/deep.kpf", {Entry("deep.txt", "deep")});
    Pack("other/x.kpf", {Entry("other.txt", "other")});
    Pack("PAC/update3.kpf", {Entry("a.txt", "updated")});
    dir.Write("notes.txt", std::string("not a pack"));
    ASSERT_EQ(BuildPackIndex(), 0);
    ASSERT_EQ(g_nPacks, 3);
    EXPECT_STREQ(g_apszPackPath[0], ".\\data.kpf");
    EXPECT_STREQ(g_apszPackPath[1], ".\\pac\\more.kpf");
    EXPECT_STREQ(g_apszPackPath[2], ".\\pac\\update3.kpf");
    EXPECT_EQ(g_bPackedData, 1);
    EXPECT_EQ(ReadText("a.txt"), "updated");
    EXPECT_EQ(ReadText("kxbin\\kxcfg.kbn"), "cfg");
    EXPECT_EQ(Read("deep.txt"), 1);
    EXPECT_EQ(Read("other.txt"), 1);
}

TEST_F(PackTest, HundredPacksRegisterAndTheNextIsRefused)
{
    for (int i = 0; i < 100; ++i) Pack("p" + std::to_string(1000 + i) + ".kpf", {Entry("f" + std::to_string(i), "x")});
    ASSERT_EQ(BuildPackIndex(), 0);
    EXPECT_EQ(g_nPacks, 100);
    Pack("p2000.kpf", {Entry("last", "x")});
    EXPECT_EQ(BuildPackIndex(), -1);
    ASSERT_EQ(ErrorIds(), std::vector<int>{KX_ERR_TOO_MANY_PACKS});
    EXPECT_EQ(errors.reports[0].bFatal, 1);
}

TEST_F(PackTest, DamagedBlocksAreRepairedOnlyOnePerEntry)
{
    const std::string strData = Noise(2500, 7);   // blocks of 1024, 1024 and 452 bytes
    struct CASE {
        int nCompression;
        std::vector<int> blocks;   // blocks of the stored bytes to damage
        int nResult;
    } cases[] = {
        {0, {}, 0}, {0, {1}, 0}, {0, {2}, 0}, {0, {0, 2}, -2}, {1, {0}, 0}, {1, {0, 1}, -2},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(testing::Message() << "compression " << c.nCompression << ", " << c.blocks.size() << " blocks");
        std::vector<uint8_t> image = BuildPackImage({Entry("voice\\v001.ogg", strData, c.nCompression)});
        const int64_t llData = FindPackEntryDataOffset(image, 0);
        ASSERT_GT(llData, 0);
        for (int b : c.blocks)
            for (int k : {0, 17, 400, 451}) image[static_cast<size_t>(llData + b * 1024 + k)] ^= 0xA5;
        dir.Write("voice.kpf", image);
        errors.reports.clear();
        ASSERT_EQ(BuildPackIndex(), 0);
        std::string strRead;
        EXPECT_EQ(Read("voice\\v001.ogg", &strRead), c.nResult);
        if (c.nResult == 0) {
            EXPECT_EQ(strRead, strData);
            EXPECT_TRUE(errors.reports.empty());
        } else {
            ASSERT_EQ(ErrorIds(), std::vector<int>{KX_ERR_PACK_DAMAGED});
            EXPECT_EQ(errors.reports[0].bFatal, 1);
        }
    }
}

TEST_F(PackTest, DamagedPacksEndInTheirError)
{
    const std::string strBig = Noise(3000, 3);
    using EDIT = std::function<void(PACK_WRITER_ENTRY&, PACK_WRITER_OPTIONS&)>;
    using PATCH = std::function<void(std::vector<uint8_t>&)>;
    const EDIT none = [](auto&, auto&) {};
    const auto put32 = [](size_t at, uint32_t v) {
        return [at, v](std::vector<uint8_t>& image) {
            for (int i = 0; i < 4; ++i) image[at + i] = static_cast<uint8_t>(v >> (8 * i));
        };
    };
    struct CASE {
        const char* pszWhat;
        int nCompression;
        EDIT edit;
        int nBuildId;   // error of BuildPackIndex, or 0 when it succeeds
        int nRead;      // result of the read
        int nReadId;
        PATCH patch = nullptr;   // applied to the written image
    } cases[] = {
        {"negative count", 0, none, KX_ERR_PACK_VERSION, 0, 0, put32(8, 0xFFFFFFFF)},
        {"huge count", 0, [](auto&, auto& o) { o.nRawEntryCount = 0x7FFFFFF0; }, KX_ERR_TOO_MANY_ENTRIES, 0, 0},
        {"count too large", 0, [](auto&, auto& o) { o.nRawEntryCount = 200001; }, KX_ERR_TOO_MANY_ENTRIES, 0, 0},
        {"count beyond table", 0, [](auto&, auto& o) { o.nRawEntryCount = 50; }, KX_ERR_PACK_VERSION, 0, 0},
        {"table beyond file", 0, [](auto&, auto& o) { o.nRawTableSize = 1 << 20; }, KX_ERR_PACK_VERSION, 0, 0},
        {"table size huge", 0, [](auto&, auto& o) { o.nRawTableSize = 0x7FFFFFFF; }, KX_ERR_PACK_VERSION, 0, 0},
        {"table size negative", 0, none, KX_ERR_PACK_VERSION, 0, 0, put32(12, 0xFFFFFFF0)},
        {"table too small", 0, [](auto&, auto& o) { o.nRawTableSize = 20; }, KX_ERR_PACK_VERSION, 0, 0},
        {"truncated table", 0, [](auto&, auto& o) { o.bTruncateTable = true; }, KX_ERR_PACK_VERSION, 0, 0},
        {"name past table", 0, [](auto& e, auto&) { e.nRawStoredLengthByte = 0; }, KX_ERR_PACK_VERSION, 0, 0},
        {"offset beyond file", 0, [](auto& e, auto&) { e.llRawOffset = 1 << 30; }, 0, -2, KX_ERR_PACK_DAMAGED},
        {"offset huge", 0, [](auto& e, auto&) { e.llRawOffset = INT64_MAX; }, 0, -2, KX_ERR_PACK_DAMAGED},
        {"stored size beyond file", 0, [](auto& e, auto&) { e.llRawStoredSize = 100000; }, 0, -2, KX_ERR_PACK_DAMAGED},
        {"stored size negative", 1, [](auto& e, auto&) { e.llRawStoredSize = 0xFFFFFFF0; }, 0, -2, KX_ERR_PACK_DAMAGED},
        {"size differs from stored", 0, [](auto& e, auto&) { e.llRawSize = 2000; }, 0, -2, KX_ERR_PACK_DAMAGED},
        {"size negative", 0, [](auto& e, auto&) { e.llRawSize = 0x80000000; }, 0, -2, KX_ERR_PACK_DAMAGED},
        {"size beyond any zlib ratio", 1, [](auto& e, auto&) { e.llRawSize = 0x7FFFFFFF; }, 0, -2, KX_ERR_PACK_DAMAGED},
        {"bad compression byte", 0, [](auto& e, auto&) { e.nRawCompression = 2; }, 0, -3, KX_ERR_PACK_OPEN},
        {"zlib decodes short", 1, [](auto& e, auto&) { e.llRawSize = 3100; }, 0, -2, KX_ERR_PACK_DAMAGED},
        {"zlib output too small", 1, [](auto& e, auto&) { e.llRawSize = 100; }, 0, -2, KX_ERR_EXPAND_BUFFER},
        {"checksum wrong", 0, [](auto& e, auto&) { e.llRawChecksum = 1; }, 0, -2, KX_ERR_PACK_DAMAGED},
        {"parity length wrong", 0,
         [](auto& e, auto&) {
             e.llRawChecksum = 1;
             e.nRawParityLength = 512;
         },
         0, -2, KX_ERR_PACK_DAMAGED},
        {"block count wrong", 0,
         [](auto& e, auto&) {
             e.llRawChecksum = 1;
             e.nRawBlockCount = 100000;
         },
         0, -2, KX_ERR_PACK_DAMAGED},
        {"no trailer", 1,
         [](auto& e, auto&) {
             e.llRawChecksum = 1;
             e.bRepairTrailer = false;
         },
         0, 0, 0},   // a compressed entry that decodes is taken without its checksum
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        PACK_WRITER_ENTRY e = Entry("data\\big.bin", strBig, c.nCompression);
        PACK_WRITER_OPTIONS opt;
        c.edit(e, opt);
        std::vector<uint8_t> image = BuildPackImage({e, Entry("data\\small.txt", "small")}, opt);
        ASSERT_FALSE(image.empty());
        if (c.patch) c.patch(image);
        dir.Write("data.kpf", image);
        errors.reports.clear();
        if (c.nBuildId != 0) {
            EXPECT_EQ(BuildPackIndex(), -1);
            ASSERT_EQ(ErrorIds(), std::vector<int>{c.nBuildId});
            EXPECT_EQ(errors.reports[0].bFatal, 1);
            continue;
        }
        ASSERT_EQ(BuildPackIndex(), 0);
        std::string strRead;
        EXPECT_EQ(Read("data\\big.bin", &strRead), c.nRead);
        if (c.nRead == 0) {
            EXPECT_EQ(strRead, strBig);
            EXPECT_TRUE(errors.reports.empty());
        } else {
            ASSERT_EQ(ErrorIds(), std::vector<int>{c.nReadId});
            EXPECT_EQ(errors.reports[0].bFatal, 1);
        }
        // The other entry of the pack is still read.
        errors.reports.clear();
        EXPECT_EQ(ReadText("data\\small.txt"), "small");
    }
}

TEST_F(PackTest, ZlibDataDamagedBeyondRepair)
{
    std::vector<uint8_t> image = BuildPackImage({Entry("a.bin", Noise(3000, 9), 1)});
    const int64_t llData = FindPackEntryDataOffset(image, 0);
    ASSERT_GT(llData, 0);
    for (int b : {0, 1, 2}) image[static_cast<size_t>(llData + b * 1024 + 5)] ^= 0xFF;
    dir.Write("a.kpf", image);
    ASSERT_EQ(BuildPackIndex(), 0);
    EXPECT_EQ(Read("a.bin"), -2);
    EXPECT_EQ(ErrorIds(), std::vector<int>{KX_ERR_PACK_DAMAGED});
}

TEST_F(PackTest, AppendedPackOpensTheExecutableWhateverThePath)
{
    // A bare executable of 100 bytes, a 16-byte header, then the pack at offset 16 from it.
    std::vector<uint8_t> exe(116, 0x90);
    std::vector<uint8_t> image =
        BuildPackImage({Entry("kxbin\\kxcfg.kbn", "cfg"), Entry("bg\\title.png", Noise(1500, 5), 1)});
    exe.insert(exe.end(), image.begin(), image.end());
    dir.Write("game.exe", exe);
    std::snprintf(g_szExeFile, sizeof g_szExeFile, "%s\\game.exe", dir.strEngine.c_str());
    g_bAppendedData = 1;
    g_bPackedData = 1;
    g_dwBareExeSize = 100;
    g_qwPackOffset = 16;
    ASSERT_EQ(BuildPackIndex(), 0);
    EXPECT_EQ(g_nPacks, 1);
    EXPECT_EQ(ReadText("kxbin\\kxcfg.kbn"), "cfg");
    EXPECT_EQ(ReadText("bg\\title.png"), Noise(1500, 5));
    EXPECT_TRUE(errors.reports.empty());
    g_szExeFile[0] = '\0';
}

TEST_F(PackTest, TheFirstErrorInEntryOrderIsTheOneReported)
{
    // Tables are read whole before equal hashes meet, yet the error reported is the one a pass
    // through the entries in order meets first; the entries before it stay in the index.
    PACK_WRITER_ENTRY cut = Entry("cut.txt", "c");
    cut.nRawStoredLengthByte = 0;   // a name running past the table
    struct CASE {
        const char* pszWhat;
        std::vector<PACK_WRITER_ENTRY> a, b;
        int nId;
        int32_t nEntries;
        const char* pszNamed;   // the name or pack the report names
    } cases[] = {
        {"duplicate before a damaged table", {Entry("x.txt", "1"), Entry("y.txt", "1")},
         {Entry("Y.TXT", "2"), Entry("z.txt", "2"), cut}, KX_ERR_PACK_DUPLICATE, 3, "Y.TXT"},
        {"damaged table before a duplicate", {Entry("x.txt", "1"), cut, Entry("y.txt", "1")},
         {Entry("x.txt", "2")}, KX_ERR_PACK_VERSION, 1, "a.kpf"},
        {"the earlier of two duplicates", {Entry("p.txt", "1"), Entry("q.txt", "1")},
         {Entry("w.txt", "2"), Entry("q.txt", "2"), Entry("p.txt", "2")}, KX_ERR_PACK_DUPLICATE, 4, "q.txt"},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        Pack("a.kpf", c.a);
        Pack("b.kpf", c.b);
        errors.reports.clear();
        EXPECT_EQ(BuildPackIndex(), -1);
        ASSERT_EQ(ErrorIds(), std::vector<int>{c.nId});
        EXPECT_EQ(g_nPackEntries, c.nEntries);
        EXPECT_NE(errors.reports[0].strText.find(c.pszNamed), std::string::npos) << errors.reports[0].strText;
    }
}

TEST_F(PackTest, LargeTablesKeepEveryEntryInHashOrder)
{
    // Tables far larger than the buffer they are read through, with names of every length up to
    // 255, so that entries straddle its refills; equal hashes (stored so) keep their entry order.
    std::vector<PACK_WRITER_ENTRY> first, second;
    std::vector<std::string> names;
    for (int i = 0; i < 6000; ++i) {
        std::string strName = "d\\" + std::to_string(i) + "_";
        strName.resize(std::max(strName.size(), static_cast<size_t>(3 + (i * 37) % 253)), 'n');
        PACK_WRITER_ENTRY e = Entry(strName, std::to_string(i));
        if (i % 100 == 7) {
            e.bRawHash = true;
            e.nRawHash = 0xABCDEF01u;
        }
        (i < 4000 ? first : second).push_back(e);
        names.push_back(strName);
    }
    Pack("a.kpf", first);
    Pack("b.kpf", second);
    ASSERT_EQ(BuildPackIndex(), 0);
    EXPECT_TRUE(errors.reports.empty());
    ASSERT_EQ(g_nPackEntries, 6000);
    for (int32_t i = 1; i < g_nPackEntries; ++i) {
        ASSERT_LE(g_pdwPackHash[i - 1], g_pdwPackHash[i]) << i;
        if (g_pdwPackHash[i - 1] == g_pdwPackHash[i]) {
            const bool bInOrder = g_pnPackNumber[i - 1] < g_pnPackNumber[i] ||
                                  (g_pnPackNumber[i - 1] == g_pnPackNumber[i] && g_pnPackNamePos[i - 1] < g_pnPackNamePos[i]);
            ASSERT_TRUE(bInOrder) << i;
        }
    }
    // The entries of true hashes are found by their names.
    for (size_t i = 0; i < names.size(); i += 3) {
        if (i % 100 != 7) {
            EXPECT_EQ(ReadText(names[i].c_str()), std::to_string(i));
        }
    }
}

TEST_F(PackTest, ReplacedEntriesMeetLaterEntriesOfHashZero)
{
    // data.kpf's a.txt is replaced by update1's (hash 0 from then on), then met again by update2's
    // a.txt stored with hash 0, which switches it to 1; update2's entry is the one found by hash 0.
    PACK_WRITER_ENTRY zero = Entry("a.txt", "update2");
    zero.bRawHash = true;
    zero.nRawHash = 0;
    Pack("data.kpf", {Entry("a.txt", "data"), Entry("b.txt", "b")});
    Pack("update1.kpf", {Entry("a.txt", "update1")});
    Pack("update2.kpf", {zero});
    ASSERT_EQ(BuildPackIndex(), 0);
    EXPECT_TRUE(errors.reports.empty());
    ASSERT_EQ(g_nPackEntries, 4);
    const std::vector<uint32_t> hashes(g_pdwPackHash, g_pdwPackHash + 4);
    const uint32_t h = HashName("a.txt");
    EXPECT_EQ(hashes, (std::vector<uint32_t>{0u, 1u, std::min(h, HashName("b.txt")), std::max(h, HashName("b.txt"))}));
    EXPECT_EQ(g_pnPackNumber[0], 2);   // update2's entry
    EXPECT_EQ(g_pnPackNumber[1], 0);   // data.kpf's, switched off twice
    EXPECT_EQ(ReadText("a.txt"), "update1");
}

TEST_F(PackTest, NamesInRunsOfOneLengthAreAllFound)
{
    // Names come in runs of one length, long and short ones, over a table several times the size
    // of the buffer it is read through; the configuration's name comes inside a run of names of
    // its length, or not at all.
    const size_t anRun[] = {1, 2, 3, 700, 1, 40, 2, 1500, 5, 1, 1, 300};
    for (const bool bConfig : {true, false}) {
        SCOPED_TRACE(bConfig ? "with the configuration" : "without it");
        std::vector<PACK_WRITER_ENTRY> entries;
        std::vector<std::string> names;
        for (size_t r = 0; r < std::size(anRun); ++r) {
            const size_t nLen = 12 + (r * 53) % 244;
            for (size_t k = 0; k < anRun[r]; ++k) {
                std::string strName = "r" + std::to_string(r) + "\\" + std::to_string(k) + "_";
                strName.resize(nLen, 'x');
                names.push_back(strName);
            }
        }
        for (int k = 0; k < 30; ++k) names.push_back("kxbin\\kxcfg.k" + std::to_string(10 + k));   // 15 bytes
        if (bConfig) names.insert(names.end() - 10, "kxbin\\kxcfg.kbn");
        for (size_t i = 0; i < names.size(); ++i) entries.push_back(Entry(names[i], std::to_string(i)));
        Pack("data.kpf", entries);
        g_bPackedData = 0;
        ASSERT_EQ(BuildPackIndex(), 0);
        EXPECT_TRUE(errors.reports.empty());
        ASSERT_EQ(g_nPackEntries, static_cast<int32_t>(names.size()));
        EXPECT_EQ(g_bPackedData, bConfig ? 1 : 0);
        for (size_t i = 0; i < names.size(); ++i) ASSERT_EQ(ReadText(names[i].c_str()), std::to_string(i)) << names[i];
        g_bPackedData = 0;
    }
}

TEST_F(PackTest, EqualHashesAreMetWhereverTheyStandInHashOrder)
{
    // Entries stored with hashes that put them in table order; one name stored twice (with its
    // hash) stands at each place of the hash order in turn, the first and last places and either
    // side of every 32nd: each time the second is refused as a duplicate, the entries before it kept.
    const int nEntries = 100;
    for (const int nAt : {0, 1, 30, 31, 32, 33, 63, 64, 65, 95, 96, 97, 98}) {
        SCOPED_TRACE(nAt);
        std::vector<PACK_WRITER_ENTRY> entries;
        for (int i = 0; i < nEntries; ++i) {
            const int nName = i == nAt + 1 ? nAt : i;
            PACK_WRITER_ENTRY e = Entry("e\\" + std::to_string(nName) + ".txt", std::to_string(i));
            e.bRawHash = true;
            e.nRawHash = 1000u + 16u * static_cast<uint32_t>(nName);
            entries.push_back(e);
        }
        Pack("data.kpf", entries);
        errors.reports.clear();
        EXPECT_EQ(BuildPackIndex(), -1);
        ASSERT_EQ(ErrorIds(), std::vector<int>{KX_ERR_PACK_DUPLICATE});
        EXPECT_NE(errors.reports[0].strText.find("e\\" + std::to_string(nAt) + ".txt"), std::string::npos);
        EXPECT_EQ(g_nPackEntries, nAt + 2);
    }
}
