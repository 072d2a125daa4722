// KCG images: every part coding read back pixel for pixel with one to four image workers, through
// the loose and packed file sources, and damaged files that end in their error without a crash.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/codecs.h"
#include "core/engine_globals.h"
#include "core/file_location.h"
#include "core/pack_archive.h"
#include "core/sysfacts.h"
#include "image/image_load.h"
#include "image/kcg_format.h"
#include "core/worker_pool.h"
#include "platform/plat_file.h"
#include "tests/image/picture_fixture.h"
#include "tools/lib/kcg_writer.h"
#include "tools/lib/pack_writer.h"

namespace {

typedef std::vector<uint8_t> BYTES;

std::vector<uint32_t> RandomPixels(int w, int h, uint32_t seed)
{
    std::vector<uint32_t> v(size_t(w) * h);
    for (auto& p : v) {
        seed = seed * 1664525u + 1013904223u;
        p = seed;
        if (((seed >> 3) & 3) == 0)
            p &= 0x00FFFFFFu;   // plenty of fully transparent pixels
    }
    return v;
}

const char* const k_apszCodec[] = {"raw", "zlib", "snappy", "webp"};

class KcgTest : public PictureLayerTest {
protected:
    int8_t nOldWorkers = 0;

    void SetUp() override
    {
        PictureLayerTest::SetUp();
        if (HasFatalFailure()) return;
        InstallKcgJobs();
        nOldWorkers = g_nWorkers;
    }
    void TearDown() override
    {
        StopWorkerThreads();
        SetWorkerCountForTest(nOldWorkers);
        PictureLayerTest::TearDown();
    }
    // n image workers, running as threads.
    void Workers(int n)
    {
        StopWorkerThreads();
        SetWorkerCountForTest(n);
        StartWorkerThreads();
        ASSERT_EQ(GetRunningWorkerCount(), n);
    }
    // Image names never resolve to ".kcg" by themselves: a loose KCG file is reached as a located
    // file of its type, a packed one by its entry's type byte (see the pack test).
    int Load(const BYTES& file)
    {
        dir.Write("a.kcg", file);
        FILE_LOCATION loc{};
        if (LocateFile(&loc, "a.kcg", 1) != FILESRC_LOOSE || loc.bType != FILETYPE_KCG) {
            ADD_FAILURE() << "a.kcg not found as a loose KCG file";
            return -99;
        }
        return LoadLocatedImage(pLayer, &loc, "a.kcg", "a");
    }
    void ExpectPixels(const std::vector<uint32_t>& expected, int w, int h)
    {
        PictureLayerTest::ExpectPixels(expected, w, h);
        EXPECT_EQ(pLayer->bHasAlpha, 1);
    }
    void ExpectUnchanged()
    {
        ASSERT_EQ(pLayer->nWidth, 3);
        ASSERT_EQ(pLayer->nHeight, 2);
        uint32_t v;
        std::memcpy(&v, pLayer->pDisplayPixels, 4);
        EXPECT_EQ(v, 0xFF112233u);
    }
    // The loader's own boxes (no caption); the error dialog of a report is counted by the recorder.
    std::vector<std::string> BoxTexts() const
    {
        std::vector<std::string> v;
        for (const MSGBOX_RECORD& b : boxes.boxes)
            if (b.strCaption.empty())
                v.push_back(b.strText);
        return v;
    }
};

}  // namespace

TEST_F(KcgTest, EveryPartCodingRoundTripsWithOneToFourWorkers)
{
    struct SHAPE {
        int w, h, nSplit;
    } shapes[] = {{7, 5, -1}, {16, 16, -1}, {1, 1, -1}, {5, 3, 3}, {9, 4, 0}};
    for (int nWorkers = 1; nWorkers <= 4; ++nWorkers) {
        Workers(nWorkers);
        for (int nCodec = KCGCOMP_RAW; nCodec <= KCGCOMP_WEBP; ++nCodec) {
            for (const SHAPE& s : shapes) {
                SCOPED_TRACE(::testing::Message() << nWorkers << " workers, " << k_apszCodec[nCodec] << ", " << s.w
                                                  << "x" << s.h << " split " << s.nSplit);
                const std::vector<uint32_t> px = RandomPixels(s.w, s.h, uint32_t(s.w * 31 + s.h + nCodec));
                KCG_WRITER_OPTIONS opt;
                opt.nCodec = nCodec;
                opt.nSplitRow = s.nSplit;
                const BYTES file = BuildKcgImage(s.w, s.h, px.data(), opt);
                ASSERT_FALSE(file.empty());
                ASSERT_EQ(Load(file), 0);
                ExpectPixels(px, s.w, s.h);
            }
        }
    }
    EXPECT_TRUE(errors.reports.empty());
    EXPECT_TRUE(BoxTexts().empty());
}

TEST_F(KcgTest, PackEntryOfTypeKcgLoadsWhateverItsName)
{
    Workers(2);
    const std::vector<uint32_t> px = RandomPixels(12, 6, 7);
    KCG_WRITER_OPTIONS opt;
    opt.nCodec = KCGCOMP_ZLIB;
    PACK_WRITER_ENTRY e;
    e.strName = "cg\\p.png";
    e.data = BuildKcgImage(12, 6, px.data(), opt);
    e.nType = FILETYPE_KCG;
    ASSERT_EQ(WritePackFile(dir.strNative + "/data.kpf", {e}), 0);
    ASSERT_EQ(BuildPackIndex(), 0);
    ASSERT_EQ(LoadLayerImage(pLayer, "cg\\p.png"), 0);
    ExpectPixels(px, 12, 6);
    EXPECT_TRUE(errors.reports.empty());
}

TEST_F(KcgTest, AForeignMagicWarnsAndLoads)
{
    const std::vector<uint32_t> px = RandomPixels(4, 4, 3);
    KCG_WRITER_OPTIONS opt;
    opt.nCodec = KCGCOMP_SNAPPY;
    std::memcpy(opt.abMagic, "KCX", 4);
    ASSERT_EQ(Load(BuildKcgImage(4, 4, px.data(), opt)), 0);
    ExpectPixels(px, 4, 4);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"File Check Error."});
}

TEST_F(KcgTest, AnUnknownCompressionGivesAClearedImage)
{
    const std::vector<uint32_t> px = RandomPixels(4, 2, 5);
    KCG_WRITER_OPTIONS opt;
    opt.llCompression = 7;
    for (int nWorkers : {1, 2}) {
        Workers(nWorkers);
        ASSERT_EQ(Load(BuildKcgImage(4, 2, px.data(), opt)), 0);
        ExpectPixels(std::vector<uint32_t>(8, 0), 4, 2);
    }
    EXPECT_TRUE(BoxTexts().empty());
}

TEST_F(KcgTest, DamagedFilesEndInTheirErrorOnEveryPath)
{
    const char* const pszCheck = "File Check Error.";
    const char* const pszPart1 = "Uncompress Status Error 1.";
    const char* const pszPart2 = "Uncompress Status Error 2.";
    // An 8 x 4 picture; part 1 and part 2 are 64 decoded bytes each.
    struct CASE {
        const char* pszWhat;
        KCG_WRITER_OPTIONS opt;
        const char* pszBox;   // the one box shown, or NULL
        int nError;           // the error reported (fatal), or 0
    };
    auto O = [](int nCodec, auto fn) {
        KCG_WRITER_OPTIONS o;
        o.nCodec = nCodec;
        fn(o);
        return o;
    };
    const CASE cases[] = {
        {"head cut short", O(0, [](auto& o) { o.llTruncate = 40; }), pszCheck, 0},
        {"empty file", O(0, [](auto& o) { o.llTruncate = 0; }), pszCheck, 0},
        {"width 8193", O(0, [](auto& o) { o.llWidth = 8193; }), nullptr, KX_ERR_IMAGE_SIZE},
        {"negative height", O(1, [](auto& o) { o.llHeight = 0xFFFFFFFFu; }), nullptr, KX_ERR_IMAGE_SIZE},
        {"height 0", O(2, [](auto& o) { o.llHeight = 0; }), nullptr, KX_ERR_IMAGE_SIZE},
        {"raw part 2 cut", O(0, [](auto& o) { o.llTruncate = 56 + 64 + 63; }), pszCheck, 0},
        {"zlib part 2 cut", O(1, [](auto& o) { o.llStored2 = 100000; }), pszCheck, 0},
        {"stored size wraps", O(1, [](auto& o) { o.llStored1 = 0xFFFFFFF0u; }), pszCheck, 0},
        {"decoded beyond image", O(1, [](auto& o) { o.llDecoded2 = 68; }), pszCheck, 0},
        {"decoded sum wraps", O(2, [](auto& o) { o.llDecoded1 = 0xFFFFFFC0u; }), pszCheck, 0},
        {"raw stored differs", O(0, [](auto& o) { o.llStored1 = 60; }), pszCheck, 0},
        {"raw larger than picture", O(0, [](auto& o) { o.llWidth = 2; }), pszCheck, 0},
        {"zlib part 1 damaged", O(1, [](auto& o) { o.nDamagePart = 1; }), pszPart1, 0},
        {"zlib part 2 damaged", O(1, [](auto& o) { o.nDamagePart = 2; }), pszPart2, 0},
        {"snappy part 1 damaged", O(2, [](auto& o) { o.nDamagePart = 1; }), pszPart1, 0},
        {"snappy part 2 damaged", O(2, [](auto& o) { o.nDamagePart = 2; }), pszPart2, 0},
        {"webp part 1 damaged", O(3, [](auto& o) { o.nDamagePart = 1; }), pszPart1, 0},
        {"webp part 2 damaged", O(3, [](auto& o) { o.nDamagePart = 2; }), pszPart2, 0},
        {"zlib part 1 longer than said", O(1, [](auto& o) { o.llDecoded1 = 60, o.llDecoded2 = 68; }), pszPart1, 0},
        {"zlib part 2 longer than said", O(1, [](auto& o) { o.llDecoded2 = 60; }), pszPart2, 0},
        {"zlib part 2 shorter than said", O(1, [](auto& o) { o.llHeight = 5, o.llDecoded2 = 96; }), pszPart2, 0},
        {"snappy part 2 shorter than said", O(2, [](auto& o) { o.llHeight = 5, o.llDecoded2 = 96; }), pszPart2, 0},
        {"webp part of another width", O(3, [](auto& o) { o.llWidth = 4, o.llHeight = 8; }), pszPart1, 0},
        {"webp part larger than said", O(3, [](auto& o) { o.llDecoded2 = 32; }), pszPart2, 0},
        {"both parts damaged", O(1, [](auto& o) { o.nDamagePart = 3; }), pszPart1, 0},
    };
    const std::vector<uint32_t> px = RandomPixels(8, 4, 11);
    for (int nWorkers : {1, 2, 4}) {
        Workers(nWorkers);
        for (const CASE& c : cases) {
            SCOPED_TRACE(::testing::Message() << nWorkers << " workers: " << c.pszWhat);
            errors.reports.clear();
            boxes.boxes.clear();
            const BYTES file = BuildKcgImage(8, 4, px.data(), c.opt);
            ASSERT_EQ(Load(file), -1);
            ExpectUnchanged();
            if (c.pszBox)
                EXPECT_EQ(BoxTexts(), std::vector<std::string>{c.pszBox});
            else
                EXPECT_EQ(BoxTexts(), std::vector<std::string>{});
            if (c.nError) {
                ASSERT_EQ(errors.reports.size(), 1u);
                EXPECT_EQ(errors.reports[0].nId, c.nError);
                EXPECT_EQ(errors.reports[0].bFatal, 1);
            } else {
                EXPECT_TRUE(errors.reports.empty());
            }
            g_bEngineStop = 0;
        }
    }
}
