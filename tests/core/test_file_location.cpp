#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/appended_data.h"
#include "core/compiler_link.h"
#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/file_location.h"
#include "core/pack_archive.h"
#include "platform/plat_file.h"
#include "core/game_config.h"
#include "core/preload_cache.h"
#include "tests/support/engine_test.h"
#include "tests/support/game_folder.h"
#include "tests/support/test_support.h"
#include "tools/lib/pack_writer.h"

namespace {

PACK_WRITER_ENTRY Entry(const std::string& strName, const std::string& strData, int nType = -1)
{
    PACK_WRITER_ENTRY e;
    e.strName = strName;
    e.data.assign(strData.begin(), strData.end());
    e.nType = nType;
    return e;
}

std::string Content(FILE_LOCATION* pLoc)
{
    std::string s(reinterpret_cast<const char*>(pLoc->pData), static_cast<size_t>(pLoc->nSize));
    std::free(pLoc->pData);
    pLoc->pData = nullptr;
    return s;
}

// A game folder that is the current folder and the program folder; no packs, compiler files or
// cached files unless a test adds them.
class FileLocationTest : public EngineTest {
protected:
    TEMP_DIR dir;
    ERROR_RECORDER errors;
    std::string strOldCwd;

    void SetUp() override { ASSERT_NO_FATAL_FAILURE(EnterGameFolder(dir, &strOldCwd)); }
    void TearDown() override
    {
        // The compiler's files are the test's own memory: handed back before the reset frees tables.
        g_nCompilerFiles = 0;
        g_apCompilerFiles = nullptr;
        g_anPreloadCount[2] = 0;
        LeaveGameFolder(strOldCwd);
    }
    void Pack(const std::string& strRelative, const std::vector<PACK_WRITER_ENTRY>& entries)
    {
        ASSERT_EQ(WritePackFile(dir.strNative + "/" + strRelative, entries), 0);
    }
};

}  // namespace

TEST(FileNames, TypesAndSuffixes)
{
    struct CASE {
        const char* pszName;
        int nType;
    } cases[] = {
        {"a.bmp", 1},  {"a.PNG", 2},       {"a.Jpg", 3},  {"a.gif", 4},      {"se.WAV", 5}, {"bgm.ogg", 6},
        {"a.psd", 7},  {"a.kcg", 8},       {"a.psb", 9},  {"a.webp", 10},    {"a.jpeg", 0}, {"png", 0},
        {".png", 2},   {"a.png.txt", 0},   {"", 0},       {"x\\y.bmp", 1},
    };
    for (const CASE& c : cases) EXPECT_EQ(FileTypeFromName(c.pszName), c.nType) << c.pszName;
    EXPECT_EQ(EndsWithNoCase("abc", "ABC"), 1);
    EXPECT_EQ(EndsWithNoCase("bc", "abc"), 0);
    EXPECT_EQ(EndsWithNoCase("abc", ""), 1);
}

TEST_F(FileLocationTest, SourcesAreAskedLooseThenCompilerThenPacks)
{
    dir.Write("a.txt", std::string("loose a"));
    dir.Write("Dir/MixedCase.TXT", std::string("mixed"));
    Pack("data.kpf", {Entry("a.txt", "packed a"), Entry("b.png", "packed b", 8), Entry("c.txt", "packed c")});
    ASSERT_EQ(BuildPackIndex(), 0);
    COMPILER_FILE compiled{"C.TXT", 8, reinterpret_cast<const uint8_t*>("compiled")};
    COMPILER_FILE* apCompiled[] = {&compiled};
    g_apCompilerFiles = apCompiled;
    g_nCompilerFiles = 1;
    char szCached[] = "d.txt";
    uint8_t abCached[] = {'c', 'a', 'c', 'h', 'e'};
    g_aPreloadCache[2][0] = PRELOAD_ENTRY{szCached, abCached, 5, FILETYPE_WAV};
    g_anPreloadCount[2] = 1;

    FILE_LOCATION loc{};
    // A loose file wins over the pack entry of the same name.
    ASSERT_EQ(LocateFile(&loc, "a.txt", 1), FILESRC_LOOSE);
    ASSERT_EQ(ReadLooseFile(&loc, "a.txt"), 0);
    EXPECT_EQ(Content(&loc), "loose a");
    // Loose names are found without regard to case.
    ASSERT_EQ(LocateFile(&loc, "dir\\mixedcase.txt", 1), FILESRC_LOOSE);
    ASSERT_EQ(ReadLooseFile(&loc, "dir\\mixedcase.txt"), 0);
    EXPECT_EQ(Content(&loc), "mixed");
    // A pack entry's type comes from its stored type byte, not from its name.
    ASSERT_EQ(LocateFile(&loc, "b.png", 0), FILESRC_PACK);
    EXPECT_EQ(loc.bType, FILETYPE_KCG);
    ASSERT_EQ(ReadPackEntry(&loc, "b.png"), 0);
    EXPECT_EQ(Content(&loc), "packed b");
    // The compiler's files come before the packs.
    ASSERT_EQ(LocateFile(&loc, "c.txt", 1), FILESRC_COMPILER);
    EXPECT_EQ(loc.nCompilerIndex, 0);
    ASSERT_EQ(ReadCompilerFile(&loc, "c.txt"), 0);
    EXPECT_EQ(Content(&loc), "compiled");
    // The preload cache is asked only by its own finder.
    EXPECT_EQ(LocateFile(&loc, "d.txt", 1), 0);
    EXPECT_EQ(loc.nSource, FILESRC_NONE);
    ASSERT_EQ(FindCachedFile(&loc, "D.TXT"), FILESRC_CACHE);
    EXPECT_EQ(loc.nCacheGroup, 2);
    EXPECT_EQ(loc.nCacheIndex, 0);
    EXPECT_EQ(loc.bType, FILETYPE_WAV);
    ASSERT_EQ(ReadCachedFile(&loc, "d.txt"), 0);
    EXPECT_EQ(Content(&loc), "cache");
    EXPECT_EQ(LocateFile(&loc, "missing.txt", 1), 0);
    EXPECT_TRUE(errors.reports.empty());
}

TEST_F(FileLocationTest, LooseFilesThatCannotBeReadAreReported)
{
    // Missing: 104010 with the name. 2 GiB or more (a sparse file): sizes are int32, so 104030. A
    // file that gives fewer bytes than its size (a kernel file: 4096 bytes by its size, a few read)
    // is 104010 as well.
    dir.Write("huge.bin", std::string("x"));
    std::filesystem::resize_file(dir.strNative + "/huge.bin", 0x80000000ull);
    const char* pszKernelFile = "/sys/devices/system/cpu/online";
    std::error_code ec;
    const bool bShort = std::filesystem::file_size(pszKernelFile, ec) == 4096 && !ec;
    if (bShort) std::filesystem::create_symlink(pszKernelFile, dir.strNative + "/short.txt");
    struct CASE {
        const char* pszName;
        int nId;
    } cases[] = {{"nothing.txt", KX_ERR_FILE_READ}, {"huge.bin", KX_ERR_FILE_NO_MEMORY}, {"short.txt", KX_ERR_FILE_READ}};
    for (const CASE& c : cases) {
        if (!bShort && std::string(c.pszName) == "short.txt") continue;
        errors.reports.clear();
        FILE_LOCATION loc{};
        EXPECT_EQ(ReadLooseFile(&loc, c.pszName), -3);
        ASSERT_EQ(errors.reports.size(), 1u);
        EXPECT_EQ(errors.reports[0].nId, c.nId);
        EXPECT_EQ(errors.reports[0].bFatal, 1);
        EXPECT_NE(errors.reports[0].strText.find(c.pszName), std::string::npos);
    }
    EXPECT_EQ(FileExists("."), 0);   // a folder is not a file
}

TEST_F(FileLocationTest, SubfileCountsFromTheAppendedBase)
{
    std::vector<uint8_t> bytes(10, 0xEE);
    for (uint8_t b : {0x01, 0x02, 0x03, 0x84, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}) bytes.push_back(b);
    dir.Write("game.exe", bytes);
    std::snprintf(g_szExeFile, sizeof g_szExeFile, "%s\\game.exe", dir.strEngine.c_str());
    g_bAppendedData = 1;
    g_dwBareExeSize = 6;
    g_qwPackOffset = 4;
    SUBFILE sub;
    ASSERT_EQ(OpenSubfile(&sub, "no\\such.kpf"), 0);
    EXPECT_EQ(TellSubfile(&sub), 0);
    EXPECT_EQ(SubfileSize(&sub), 12);
    int32_t n = 0;
    int64_t ll = 0;
    ASSERT_EQ(ReadSubfileInt32(&sub, &n), 0);
    EXPECT_EQ(static_cast<uint32_t>(n), 0x84030201u);
    ASSERT_EQ(ReadSubfileInt64(&sub, &ll), 0);
    EXPECT_EQ(static_cast<uint64_t>(ll), 0x8877665544332211ull);
    EXPECT_EQ(TellSubfile(&sub), 12);
    uint8_t b = 0;
    EXPECT_EQ(ReadSubfileByte(&sub, &b), -1);
    ASSERT_EQ(SeekSubfile(&sub, 3), 0);
    ASSERT_EQ(ReadSubfileByte(&sub, &b), 0);
    EXPECT_EQ(b, 0x84);
    CloseSubfile(&sub);
    g_bAppendedData = 0;
    EXPECT_EQ(OpenSubfile(&sub, "no\\such.kpf"), -1);
}

TEST_F(FileLocationTest, ResourceNamesResolveWithTheConfiguredExtensions)
{
    dir.Write("BG/Title.bmp", std::string("bmp"));
    dir.Write("se.wav", std::string("wav"));
    dir.Write("x.jpeg.png", std::string("png"));
    dir.Write("data/file.csv", std::string("csv"));
    Pack("data.kpf", {Entry("bg\\title.png", "png")});
    ASSERT_EQ(BuildPackIndex(), 0);
    struct CASE {
        const char* pszName;
        int nKind;
        int nResult;
        const char* pszOut;
        int nSource;
        int nType;
    } cases[] = {
        // png before bmp: the pack's png is found although a bmp lies on disk.
        {"BG/Title", RESOLVE_IMAGE, 0, "bg\\title.png", FILESRC_PACK, FILETYPE_PNG},
        {"bg\\title.bmp", RESOLVE_IMAGE, 0, "bg\\title.bmp", FILESRC_LOOSE, FILETYPE_BMP},
        {"se.WAV", RESOLVE_SOUND, 0, "se.wav", FILESRC_LOOSE, FILETYPE_WAV},
        {"SE", RESOLVE_SOUND, 0, "se.wav", FILESRC_LOOSE, FILETYPE_WAV},
        {"x.jpeg", RESOLVE_IMAGE, 0, "x.jpeg.png", FILESRC_LOOSE, FILETYPE_PNG},
        {"sub/../Data/File.CSV", RESOLVE_ANY, 0, "data\\file.csv", FILESRC_LOOSE, FILETYPE_NONE},
        {"nothing", RESOLVE_IMAGE, 1, nullptr, FILESRC_NONE, FILETYPE_NONE},
        {"se.wav", 2, -1, nullptr, FILESRC_NONE, FILETYPE_NONE},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        char szName[64];
        std::snprintf(szName, sizeof szName, "%s", c.pszName);
        char szOut[260] = "";
        FILE_LOCATION loc{};
        EXPECT_EQ(ResolveResourceFile(&loc, szOut, sizeof szOut, szName, c.nKind), c.nResult);
        EXPECT_STREQ(szName, c.pszName);   // the caller's text is left alone
        if (c.pszOut) {
            EXPECT_STREQ(szOut, c.pszOut);
        }
        EXPECT_EQ(loc.nSource, c.nSource);
        EXPECT_EQ(loc.bType, c.nType);
    }
    // Order bmp first; then no usable code at all.
    FILE_LOCATION loc{};
    char szOut[260];
    const uint8_t abBmpFirst[8] = {2, 1, 0, 0, 0, 0, 0, 0};
    std::memcpy(g_abImageExtOrder, abBmpFirst, 8);
    EXPECT_EQ(ResolveResourceFile(&loc, szOut, sizeof szOut, "BG/Title", RESOLVE_IMAGE), 0);
    EXPECT_STREQ(szOut, "bg\\title.bmp");
    const uint8_t abNone[8] = {0, 7, 9, 0, 0, 0, 0, 1};   // position 8 is never consulted
    std::memcpy(g_abImageExtOrder, abNone, 8);
    EXPECT_EQ(ResolveResourceFile(&loc, szOut, sizeof szOut, "BG/Title", RESOLVE_IMAGE), 1);
    EXPECT_TRUE(errors.reports.empty());
}

TEST_F(FileLocationTest, PackThatNoLongerOpensFailsTheSearch)
{
    Pack("data.kpf", {Entry("img.png", "png")});
    ASSERT_EQ(BuildPackIndex(), 0);
    ASSERT_EQ(PlatFileDelete("data.kpf"), 0);
    FILE_LOCATION loc{};
    char szOut[260];
    EXPECT_EQ(LocateFile(&loc, "img.png", 1), -2);
    EXPECT_EQ(ResolveResourceFile(&loc, szOut, sizeof szOut, "img", RESOLVE_IMAGE), -1);
    // A name the index does not hold never opens a pack.
    EXPECT_EQ(LocateFile(&loc, "other.png", 1), 0);
}
