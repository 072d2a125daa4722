// The save command run from built game folders: records built per DNO, written into new, appended
// and rewritten save files or into memory slots, the slot blob, and the failures that must keep
// both the file on disk and the pending records.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/codecs.h"
#include "core/kx_texts.h"
#include "core/settings.h"
#include "save/cmd_save.h"
#include "save/save_format.h"
#include "tests/image/cmd_layer_fixture.h"

namespace {

using layer_cmd_test::I;
using layer_cmd_test::T;

constexpr uint16_t kInt = 1000, kText = 1001, kGrid = 1002, kReal = 1003, kTexts = 1004, kInt2 = 1005, kInt4 = 1006;

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

BUILDER_ARG Dno(int64_t d) { return I(SAVE_ARG_DNO, d); }
BUILDER_ARG File(const std::string& s) { return T(SAVE_ARG_FILE, s); }
BUILDER_ARG Slot(int64_t n) { return I(SAVE_ARG_SLOT, n); }
BUILDER_ARG Elem(uint16_t nVar) { return ExprArg(SAVE_ARG_VAR, MakeExprVar(nVar)); }
BUILDER_ARG Whole(uint16_t nVar)
{
    std::vector<uint8_t> c;
    ExprAsmVarRef(c, nVar);
    return ExprArg(SAVE_ARG_VAR, c);
}
BUILDER_ARG LayerPath(const std::string& s) { return T(SAVE_ARG_LAYER, s); }

// One record of a save image, decoded.
struct REC {
    uint32_t nDno;
    SAVE_RECORD_HEADER hdr;
    std::vector<uint8_t> raw;     // kinds 0 and 1: the uncompressed body
    std::vector<uint8_t> packed;  // the stored bytes after the header
};

// The record of a DNO through the file's offset table, with its body uncompressed.
REC RecordOf(const std::vector<uint8_t>& img, int nDno)
{
    REC r{};
    const uint8_t* pPacked = nullptr;
    EXPECT_EQ(LocateSaveRecord(img.data(), img.size(), nDno, &r.hdr, &pPacked), KX_SAVE_OK) << nDno;
    if (!pPacked) return r;
    SAVE_FILE_HEADER h;
    ParseSaveFileHeader(img.data(), img.size(), &h);
    r.nDno = GetSaveU32(img.data() + h.anOffset[nDno - 1]);
    r.packed.assign(pPacked, pPacked + r.hdr.nPacked);
    // The slot blob of DNO 1024 is framed like a kind-0 record but holds zlib entries.
    if (r.hdr.bKind != SAVEREC_CONTAINER && nDno != KX_SAVE_SLOT_BLOB_DNO) {
        r.raw.resize(r.hdr.nRaw);
        EXPECT_EQ(UncompressSaveBody(r.hdr.bKind, pPacked, r.hdr.nPacked, r.raw.data(), r.hdr.nRaw), KX_SAVE_OK);
    }
    return r;
}

// Every record from 4112 is walked: each fits the image and the walk ends exactly at its end.
void ExpectWellFormed(const std::vector<uint8_t>& img)
{
    SAVE_FILE_HEADER h;
    ASSERT_EQ(ParseSaveFileHeader(img.data(), img.size(), &h), KX_SAVE_OK);
    size_t nPos = KX_SAVE_HEADER_SIZE, nRecords = 0;
    while (nPos < img.size()) {
        uint32_t nDno;
        SAVE_RECORD_HEADER rec;
        size_t nBytes = 0;
        ASSERT_EQ(ReadSaveRecordAt(img.data(), img.size(), nPos, &nDno, &rec, &nBytes), KX_SAVE_OK) << nPos;
        EXPECT_EQ(h.anOffset[nDno - 1], nPos) << nDno;
        nPos += nBytes;
        ++nRecords;
    }
    EXPECT_EQ(nPos, img.size());
    EXPECT_EQ(h.nCount, nRecords);
    EXPECT_EQ(h.nTableSize, 1024u);
}

std::vector<uint8_t> ElementBody(int64_t v)
{
    std::vector<uint8_t> b(20);
    PutSaveU32(&b[0], 1);
    PutSaveU32(&b[4], 0);
    PutSaveU32(&b[8], 8);
    std::memcpy(&b[12], &v, 8);
    return b;
}

int FailingSnappy(const uint8_t*, uint32_t, uint8_t*, uint32_t* pLen)
{
    *pLen = 0;
    return KX_SNP_BUFFER_TOO_SMALL;
}
int FailingCompress2(uint8_t*, uint32_t* pLen, const uint8_t*, uint32_t, int)
{
    *pLen = 0;
    return KX_Z_MEM_ERROR;
}
int NoSpaceWriter(const char*, const void*, size_t)
{
    errno = ENOSPC;
    return -1;
}

class SaveCmdTest : public layer_cmd_test::LayerCmdTest {
protected:
    void SetUp() override
    {
        LayerCmdTest::SetUp();
        ASSERT_EQ(LoadCodecLibraries(), 0);
        std::strcpy(g_szSaveFolder, "save\\");
    }
    void TearDown() override
    {
        FreeAllSaveBuffers();
        UnloadCodecLibraries();
        LayerCmdTest::TearDown();
    }
    // A fresh script and game between the steps of a test; pending records, slots and files stay.
    void Next()
    {
        const std::string strFolder = g_szSaveFolder;
        LayerCmdTest::TearDown();
        errors.reports.clear();
        boxes.boxes.clear();
        LayerCmdTest::SetUp();
        std::strcpy(g_szSaveFolder, strFolder.c_str());
    }

    void Save(std::vector<BUILDER_ARG> args) { ASSERT_GE(EmitCommand(&b, KXCMD_SAVE, args), 0); }
    void SaveClear() { ASSERT_GE(EmitCommand(&b, KXCMD_SAVE_CLEAR, {}), 0); }
    // A plain layer W0/<name> of w x h opaque black pixels.
    void MakeLayer(const std::string& strName, int w, int h)
    {
        Layer({T(0, strName), T(46, ""), I(6, 1), I(9, w), I(10, h)});
    }

    // The park, the game with the test's variables, the script started and one pass.
    void Run()
    {
        ASSERT_GE(EmitCommand(&b, KXCMD_WAIT, {I(0, 1000000)}), 0);
        ASSERT_EQ(FinishScriptBody(&b), 0) << b.strError;
        GAME_DATA game = DefaultGameData();
        game.defs.push_back(MakeIntVarDef(kInt, 7));
        game.defs.push_back(MakeTextVarDef(kText, "abc"));
        KXV_DEF grid = MakeIntVarDef(kGrid, 5, {2, 3});
        grid.bClass = 2;
        game.defs.push_back(grid);
        KXV_DEF real = MakeFloatVarDef(kReal, 1.5);
        real.bClass = 3;
        game.defs.push_back(real);
        game.defs.push_back(MakeTextVarDef(kTexts, "t", {4}));
        KXV_DEF i2 = MakeIntVarDef(kInt2, 8);
        i2.bClass = 2;
        game.defs.push_back(i2);
        KXV_DEF i4 = MakeIntVarDef(kInt4, 9, {3});
        i4.bClass = 4;
        game.defs.push_back(i4);
        game.scripts = {ScriptFromBuilder("main.txt", b)};
        ASSERT_EQ(WriteGameFolder(dir.strNative, BuildGameFiles(game)), 0);
        ASSERT_EQ(StartScriptSystem(), 0);
        Pass();
    }
    std::vector<uint8_t> ReadSave(const std::string& strName) const { return Bytes(dir.Read("save/" + strName)); }
    int PendingCount() const
    {
        int n = 0;
        for (uint32_t s : g_anPendingSize) n += s != 0;
        return n;
    }
};

// Two records into a new file, then the same file rewritten with a new DNO 4 (record 3 kept as it
// was) and extended with a DNO 5 appended behind the old bytes.
TEST_F(SaveCmdTest, NewFileThenRewriteThenAppend)
{
    MakeLayer("pic", 3, 2);
    Save({Dno(3), Elem(kInt)});
    Save({Dno(4), LayerPath("pic")});
    EXPECT_EQ(PendingCount(), 0);   // nothing yet: the pass has not run
    Save({File("Game")});
    Run();
    ASSERT_TRUE(errors.reports.empty()) << errors.reports[0].nId;
    EXPECT_EQ(PendingCount(), 0);
    const std::vector<uint8_t> first = ReadSave("game.sd");
    ASSERT_NO_FATAL_FAILURE(ExpectWellFormed(first));
    SAVE_FILE_HEADER h;
    ASSERT_EQ(ParseSaveFileHeader(first.data(), first.size(), &h), KX_SAVE_OK);
    EXPECT_EQ(h.nCount, 2u);
    EXPECT_EQ(h.anOffset[2], 4112u);
    const REC r3 = RecordOf(first, 3);
    EXPECT_EQ(h.anOffset[3], 4112u + 4 + 12 + r3.hdr.nPacked);
    EXPECT_EQ(r3.nDno, 3u);
    EXPECT_EQ(r3.hdr.bKind, SAVEREC_VARIABLE);
    EXPECT_EQ(r3.hdr.wVar, kInt);
    EXPECT_EQ(r3.raw, ElementBody(7));
    const REC r4 = RecordOf(first, 4);
    ASSERT_EQ(r4.hdr.bKind, SAVEREC_LAYER);
    SAVE_LAYER_BODY lb;
    ASSERT_EQ(ParseLayerBody(r4.raw.data(), r4.raw.size(), &lb), KX_SAVE_OK);
    EXPECT_EQ(lb.nWidth, 3);
    EXPECT_EQ(lb.nHeight, 2);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(GetSaveU32(lb.pPixels + 4 * i), Px(L("W0/pic"), i % 3, i / 3)) << i;
    for (int i = 0; i < 1024; ++i) {
        if (i != 2 && i != 3) {
            ASSERT_EQ(h.anOffset[i], 0u) << i;
        }
    }

    // Rewrite: DNO 4 now holds the text element.
    Next();
    Save({Dno(4), Elem(kText)});
    Save({File("game")});
    Run();
    ASSERT_TRUE(errors.reports.empty());
    const std::vector<uint8_t> second = ReadSave("game.sd");
    ASSERT_NO_FATAL_FAILURE(ExpectWellFormed(second));
    ASSERT_EQ(ParseSaveFileHeader(second.data(), second.size(), &h), KX_SAVE_OK);
    EXPECT_EQ(h.nCount, 2u);
    EXPECT_EQ(RecordOf(second, 3).packed, r3.packed);
    const REC n4 = RecordOf(second, 4);
    EXPECT_EQ(n4.hdr.bKind, SAVEREC_VARIABLE);
    const std::vector<uint8_t> abc = {3, 0, 0, 0, 0, 0, 0, 0, 7, 0, 0, 0, 3, 0, 0, 0, 'a', 'b', 'c'};
    EXPECT_EQ(n4.raw, abc);

    // Append: DNO 5 goes behind the old end.
    Next();
    Save({Dno(5), Whole(kGrid), File("game.sd")});
    Run();
    ASSERT_TRUE(errors.reports.empty());
    const std::vector<uint8_t> third = ReadSave("game.sd");
    ASSERT_NO_FATAL_FAILURE(ExpectWellFormed(third));
    ASSERT_EQ(ParseSaveFileHeader(third.data(), third.size(), &h), KX_SAVE_OK);
    EXPECT_EQ(h.nCount, 3u);
    EXPECT_EQ(h.anOffset[4], second.size());
    EXPECT_TRUE(std::equal(second.begin() + 4112, second.end(), third.begin() + 4112));
    SAVE_VAR_BODY vb;
    const REC r5 = RecordOf(third, 5);
    ASSERT_EQ(ParseVarBody(r5.raw.data(), r5.raw.size(), &vb), KX_SAVE_OK);
    EXPECT_EQ(vb.nDims, 2u);
    EXPECT_EQ(vb.anDim[0], 2u);
    EXPECT_EQ(vb.anDim[1], 3u);
    EXPECT_EQ(vb.llCount, 6u);
    EXPECT_EQ(GetSaveBodyInt(&vb, 5), 5);
}

// Refusals of the command itself, each fatal with nothing written.
TEST_F(SaveCmdTest, RefusedArguments)
{
    struct CASE {
        const char* pszCase;
        std::vector<std::vector<BUILDER_ARG>> saves;
        int nId;
    };
    const std::vector<CASE> cases = {
        {"DNO still pending", {{Dno(3), Elem(kInt)}, {Dno(3), Elem(kText)}}, KX_ERR_SAVE_PENDING},
        {"slash in the name", {{Dno(3), Elem(kInt), File("a/b")}}, KX_ERR_SAVE_NAME_SLASH},
        {"backslash in the name", {{File("a\\b")}}, KX_ERR_SAVE_NAME_SLASH},
        {"33 bytes", {{File(std::string(33, 'x'))}}, KX_ERR_SAVE_NAME_LONG},
        {"missing layer", {{Dno(3), LayerPath("nothing")}}, 101250},
    };
    for (const CASE& c : cases) {
        Next();
        FreePendingRecords(-1);
        for (const auto& args : c.saves) Save(args);
        Run();
        ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(errors, c.nId, c.pszCase));
        EXPECT_FALSE(dir.Exists("save")) << c.pszCase;
    }
    // A name of exactly 32 bytes is taken, ".sd" added.
    Next();
    FreePendingRecords(-1);
    Save({Dno(1), Elem(kInt), File(std::string(32, 'y'))});
    Run();
    EXPECT_TRUE(errors.reports.empty());
    EXPECT_TRUE(dir.Exists("save/" + std::string(32, 'y') + ".sd"));
}

// Names are lower-cased and checked for separators character by character: the trail byte 0x5C
// of a double-byte character is neither a separator nor a letter to fold.
TEST_F(SaveCmdTest, DoubleByteNames)
{
    const std::string strSo = Cp932("ソ");   // 83 5C
    ASSERT_EQ(strSo, std::string("\x83\x5C"));
    Save({Dno(1), Elem(kInt), File(strSo + "AB")});
    Run();
    ASSERT_TRUE(errors.reports.empty()) << errors.reports[0].nId;
    EXPECT_TRUE(dir.Exists("save/ソab.sd"));

    char sz[] = "a/\x83/b/";   // the '/' after 0x83 is its trail byte
    ReplaceCharDBCS(sz, '/', '\\');
    EXPECT_STREQ(sz, "a\\\x83/b\\");
}

// Containers: the highest class and the highest type among the selecting ids; every user variable
// of that class and type, whole, in ascending number.
TEST_F(SaveCmdTest, ContainerSelection)
{
    struct CASE {
        std::vector<int> ids;
        std::vector<uint16_t> vars;
    };
    const std::vector<CASE> cases = {
        {{6}, {kInt}},                    // class 1, int64
        {{6, 7}, {kGrid, kInt2}},         // class 2 wins over class 1
        {{9, 7}, {kInt4}},                // class 4
        {{14}, {kText, kTexts}},          // class 1, text
        {{7, 10}, {}},                    // class 2 (id 7) and double (id 10): no such variable
        {{8, 10}, {kReal}},               // class 3 (id 8) and double (id 10)
    };
    for (size_t k = 0; k < cases.size(); ++k) {
        Next();
        std::vector<BUILDER_ARG> args = {Dno(9), File("c" + std::to_string(k))};
        for (int id : cases[k].ids) args.push_back(I(id, 1));
        Save(args);
        Run();
        ASSERT_TRUE(errors.reports.empty()) << k;
        const std::vector<uint8_t> img = ReadSave("c" + std::to_string(k) + ".sd");
        ASSERT_NO_FATAL_FAILURE(ExpectWellFormed(img));
        const REC r = RecordOf(img, 9);
        ASSERT_EQ(r.hdr.bKind, SAVEREC_CONTAINER);
        std::vector<uint16_t> vars;
        size_t nPos = 0;
        uint64_t nRaw = 0;
        SAVE_RECORD_HEADER sub;
        const uint8_t* pBody = nullptr;
        int rr;
        while ((rr = NextSaveContainerRecord(r.packed.data(), r.packed.size(), &nPos, &sub, &pBody)) == 1) {
            vars.push_back(sub.wVar);
            nRaw += sub.nRaw + 12;
        }
        EXPECT_EQ(rr, 0);
        EXPECT_EQ(r.hdr.nRaw, nRaw);
        EXPECT_EQ(vars, cases[k].vars) << k;
        if (vars.empty()) {
            EXPECT_EQ(r.hdr.nPacked, 0u);
        }
    }
}

// Slot 99999 packs every slot into a pending DNO 1024 and writes nothing; a later file takes it as
// its DNO 1024 record. A slot holds DNOs 1..1023 (DNO 1024 never goes into a slot), and a second,
// smaller flush gives the slot its new size.
TEST_F(SaveCmdTest, SlotsAndTheirBlob)
{
    Save({Dno(1), Elem(kInt)});
    Save({Dno(1023), Whole(kGrid)});
    Save({Slot(7)});
    Save({Dno(2), Elem(kInt), Slot(8)});
    Save({Slot(99999)});
    Run();
    ASSERT_TRUE(errors.reports.empty()) << errors.reports[0].nId;
    EXPECT_FALSE(dir.Exists("save"));
    const std::vector<uint8_t> slot7(g_apMemSlot[7], g_apMemSlot[7] + g_anMemSlotSize[7]);
    ASSERT_NO_FATAL_FAILURE(ExpectWellFormed(slot7));
    EXPECT_EQ(RecordOf(slot7, 1).raw, ElementBody(7));
    EXPECT_EQ(RecordOf(slot7, 1023).hdr.nRaw, 4u + 4 + 8 + 4 + 48);
    EXPECT_GE(g_anMemSlotCapacity[7], 51200u);
    ASSERT_GT(g_anPendingSize[1023], 0u);
    EXPECT_EQ(PendingCount(), 1);

    Next();
    Save({File("slots")});
    Run();
    ASSERT_TRUE(errors.reports.empty());
    const std::vector<uint8_t> img = ReadSave("slots.sd");
    ASSERT_NO_FATAL_FAILURE(ExpectWellFormed(img));
    const REC blob = RecordOf(img, 1024);
    EXPECT_EQ(blob.hdr.nRaw, g_anMemSlotSize[7] + g_anMemSlotSize[8] + 500u * 8);
    size_t nPos = 0;
    int nEntry = 0;
    uint32_t nS, nZ;
    const uint8_t* pZ;
    while (NextSlotBlobEntry(blob.packed.data(), blob.packed.size(), &nPos, &nS, &nZ, &pZ) == 1) {
        EXPECT_EQ(nS, g_anMemSlotSize[nEntry]) << nEntry;
        if (nS) {
            std::vector<uint8_t> out(nS);
            ASSERT_EQ(UncompressSlotImage(pZ, nZ, out.data(), nS), KX_SAVE_OK);
            EXPECT_EQ(0, std::memcmp(out.data(), g_apMemSlot[nEntry], nS)) << nEntry;
        } else {
            EXPECT_EQ(nZ, 0u);
        }
        ++nEntry;
    }
    EXPECT_EQ(nEntry, 500);

    // A DNO 1024 pending at a slot flush is dropped; the slot shrinks to its new image.
    Next();
    const uint32_t nOld = g_anMemSlotSize[7];
    Save({Slot(99999)});
    Save({Dno(5), Elem(kInt), Slot(7)});
    Run();
    ASSERT_TRUE(errors.reports.empty());
    EXPECT_EQ(PendingCount(), 0);
    const std::vector<uint8_t> small(g_apMemSlot[7], g_apMemSlot[7] + g_anMemSlotSize[7]);
    ASSERT_NO_FATAL_FAILURE(ExpectWellFormed(small));
    EXPECT_LT(small.size(), nOld);
    SAVE_FILE_HEADER h;
    ASSERT_EQ(ParseSaveFileHeader(small.data(), small.size(), &h), KX_SAVE_OK);
    EXPECT_EQ(h.nCount, 1u);
    EXPECT_EQ(h.anOffset[1023], 0u);
}

// A rewrite that meets a damaged record refuses before anything is written: the file stays byte
// for byte as it was and the pending records stay for another try.
TEST_F(SaveCmdTest, DamagedFileIsNeverTouched)
{
    Save({Dno(3), Elem(kInt)});
    Save({Dno(4), Elem(kText), File("g")});
    Run();
    ASSERT_TRUE(errors.reports.empty());
    const std::vector<uint8_t> good = ReadSave("g.sd");
    SAVE_FILE_HEADER h;
    ASSERT_EQ(ParseSaveFileHeader(good.data(), good.size(), &h), KX_SAVE_OK);
    const uint32_t nSecond = h.anOffset[3];

    struct CASE {
        const char* pszCase;
        void (*pfnDamage)(std::vector<uint8_t>&, uint32_t);
        int nId;        // a script error, or 0 for the invalid-DNO box
        int nBoxDno;
    };
    const std::vector<CASE> cases = {
        {"DNO 0", [](std::vector<uint8_t>& f, uint32_t p) { PutSaveU32(&f[p], 0); }, 0, 0},
        {"DNO 1025", [](std::vector<uint8_t>& f, uint32_t p) { PutSaveU32(&f[p], 1025); }, 0, 1025},
        {"packed size past the end", [](std::vector<uint8_t>& f, uint32_t p) { PutSaveU32(&f[p + 8], 0x7FFFFFF0); },
         KX_ERR_SAVE_MAGIC, 0},
        {"cut inside a record", [](std::vector<uint8_t>& f, uint32_t) { f.resize(f.size() - 1); }, KX_ERR_SAVE_MAGIC, 0},
        {"wrong magic", [](std::vector<uint8_t>& f, uint32_t) { f[0] = 'X'; }, KX_ERR_SAVE_MAGIC, 0},
        {"wrong version", [](std::vector<uint8_t>& f, uint32_t) { PutSaveU32(&f[4], 479); }, KX_ERR_SAVE_VERSION, 0},
        {"header cut short", [](std::vector<uint8_t>& f, uint32_t) { f.resize(100); }, KX_ERR_SAVE_MAGIC, 0},
    };
    for (const CASE& c : cases) {
        std::vector<uint8_t> bad = good;
        c.pfnDamage(bad, nSecond);
        dir.Write("save/g.sd", bad);
        Next();
        FreePendingRecords(-1);
        Save({Dno(3), Elem(kText)});   // stored already: a rewrite
        Save({Dno(7), Elem(kInt)});
        Save({File("g")});
        Run();
        if (c.nId) {
            ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(errors, c.nId, c.pszCase));
        } else {
            EXPECT_TRUE(errors.reports.empty()) << c.pszCase;
            ASSERT_EQ(boxes.boxes.size(), 1u) << c.pszCase;
            char sz[128];
            FormatText(sz, sizeof sz, GetEngineText(TXT_SAVE_BAD_DNO), c.nBoxDno);
            EXPECT_EQ(boxes.boxes[0].strText, sz) << c.pszCase;
        }
        EXPECT_EQ(ReadSave("g.sd"), bad) << c.pszCase;
        EXPECT_GT(g_anPendingSize[2], 0u) << c.pszCase;
        EXPECT_GT(g_anPendingSize[6], 0u) << c.pszCase;
        EXPECT_EQ(PendingCount(), 2) << c.pszCase;
    }
}

// A write that fails is an error, never a success: 102140 with the error number's text, no file,
// and the pending records kept, so the same records can be written once the disk has room.
TEST_F(SaveCmdTest, FailedWriteKeepsPendingRecords)
{
    g_pfnWriteSaveFile = NoSpaceWriter;
    Save({Dno(3), Elem(kInt)});
    Save({File("full")});
    Run();
    ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(errors, KX_ERR_SAVE_CREATE));
    EXPECT_FALSE(dir.Exists("save/full.sd"));
    EXPECT_EQ(PendingCount(), 1);

    Next();
    g_pfnWriteSaveFile = PlatWriteFileAtomic;
    Save({File("full")});
    Run();
    ASSERT_TRUE(errors.reports.empty());
    const std::vector<uint8_t> img = ReadSave("full.sd");
    ASSERT_NO_FATAL_FAILURE(ExpectWellFormed(img));
    EXPECT_EQ(RecordOf(img, 3).raw, ElementBody(7));
    EXPECT_EQ(PendingCount(), 0);

    // The save folder's place taken by a file: the real writer fails too.
    Next();
    dir.Write("blocked", std::string("x"));
    std::strcpy(g_szSaveFolder, "blocked\\sub\\");
    Save({Dno(1), Elem(kInt), File("x")});
    Run();
    ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(errors, KX_ERR_SAVE_CREATE));
    EXPECT_EQ(PendingCount(), 1);
}

// A failed compression shows its box, ends the command and drops that DNO's record, which can be
// built again; a failed slot packing leaves no half blob for a file.
TEST_F(SaveCmdTest, CompressionFailureDropsTheRecord)
{
    const std::string strCompressError = GetEngineText(TXT_SAVE_COMPRESS_ERROR);
    const KX_SNP_CODEC_FN pfnSnp = g_pfnSnpCompress;
    const KX_COMPRESS2_FN pfnZ = g_pfnCompress2;

    struct CASE {
        const char* pszCase;
        bool bLayer;
        std::vector<BUILDER_ARG> args;
    };
    const std::vector<CASE> cases = {
        {"variable", false, {Dno(3), Elem(kInt)}},
        {"container", false, {Dno(3), I(6, 1), I(14, 1)}},
        {"layer", true, {Dno(3), LayerPath("pic")}},
    };
    for (const CASE& c : cases) {
        Next();
        if (c.bLayer) MakeLayer("pic", 2, 2);
        g_pfnSnpCompress = FailingSnappy;
        g_pfnCompress2 = FailingCompress2;
        Save(c.args);
        Run();
        g_pfnSnpCompress = pfnSnp;
        g_pfnCompress2 = pfnZ;
        ASSERT_EQ(boxes.boxes.size(), 1u) << c.pszCase;
        EXPECT_EQ(boxes.boxes[0].strText, strCompressError);
        EXPECT_EQ(boxes.boxes[0].strCaption, "");
        EXPECT_EQ(PendingCount(), 0) << c.pszCase;
        // The DNO is free again.
        Next();
        if (c.bLayer) MakeLayer("pic", 2, 2);
        Save(c.args);
        Run();
        EXPECT_TRUE(errors.reports.empty()) << c.pszCase;
        EXPECT_EQ(PendingCount(), 1) << c.pszCase;
        FreePendingRecords(-1);
    }

    // Slot packing: a non-empty slot whose compression fails.
    Next();
    Save({Dno(1), Elem(kInt), Slot(0)});
    Run();
    ASSERT_GT(g_anMemSlotSize[0], 0u);
    Next();
    g_pfnCompress2 = FailingCompress2;
    Save({Slot(99999)});
    Run();
    g_pfnCompress2 = pfnZ;
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].strText, strCompressError);
    EXPECT_EQ(g_anPendingSize[1023], 0u);
}

// The pending buffer grows by the bound of the codec actually used for every record: a layer of
// noise (which zlib cannot shrink) and a container of many sub-records stay inside their buffers.
TEST_F(SaveCmdTest, RecordsStayInsideTheirBuffers)
{
    std::mt19937 rng(7);
    const int32_t w = 97, h = 61;
    LAYER lay{};
    uint8_t* pPixels = AllocPixelBuffer(nullptr, w, h, nullptr);
    ASSERT_NE(pPixels, nullptr);
    for (int32_t i = 0; i < w * h * 4; ++i) pPixels[i] = static_cast<uint8_t>(rng());
    ASSERT_EQ(SetLayerPixels(&lay, pPixels, w, h), 0);
    const int64_t llSize = GetSaveRecordSize(1, 0, 0, 0, &lay);
    ASSERT_EQ(llSize, int64_t(w) * 4 * h + 1700);
    const int64_t llOut = AppendSaveRecord(5, 1, 0, 0, 0, &lay, llSize);
    ASSERT_GT(llOut, 0);
    EXPECT_EQ(g_anPendingSize[5], uint32_t(llOut));
    EXPECT_LE(g_anPendingSize[5], g_anPendingCapacity[5]);
    std::vector<uint8_t> raw(llSize - 12);
    ASSERT_EQ(UncompressSaveBody(SAVEREC_LAYER, g_apPendingRecord[5] + 12, g_anPendingSize[5] - 12, raw.data(),
                                 uint32_t(raw.size())),
              KX_SAVE_OK);
    EXPECT_EQ(0, std::memcmp(raw.data() + 8 + 1680, pPixels, raw.size() - 8 - 1680));
    std::free(lay.pOwnedPixels);
    lay.pOwnedPixels = lay.pDisplayPixels = nullptr;

    // Many small variables in one container, each sub-record with its own bound.
    Save({Dno(2), I(6, 1), I(7, 1), File("many")});
    Run();
    ASSERT_TRUE(errors.reports.empty());
    ASSERT_NO_FATAL_FAILURE(ExpectWellFormed(ReadSave("many.sd")));
}

// Every missing level of the save folder is made, relative or absolute.
TEST_F(SaveCmdTest, SaveFolderIsCreated)
{
    for (const std::string& strFolder : {std::string("deep\\er\\save\\"), dir.strEngine + "\\abs\\one\\two\\"}) {
        Next();
        std::strcpy(g_szSaveFolder, strFolder.c_str());
        Save({Dno(1), Elem(kInt), File("f")});
        Run();
        ASSERT_TRUE(errors.reports.empty()) << strFolder;
        EXPECT_TRUE(dir.Exists(strFolder[0] == 'd' ? "deep/er/save/f.sd" : "abs/one/two/f.sd")) << strFolder;
    }
    EXPECT_EQ(CreateSaveFolder(""), 0);
}

// Save-clear drops every pending record; the next SAVE of the same DNO is accepted.
TEST_F(SaveCmdTest, SaveClearDropsPendingRecords)
{
    Save({Dno(3), Elem(kInt)});
    Save({Dno(1024), Elem(kInt)});
    SaveClear();
    Save({Dno(3), Elem(kText)});
    Run();
    ASSERT_TRUE(errors.reports.empty());
    EXPECT_EQ(PendingCount(), 1);
    EXPECT_EQ(g_anPendingSize[1023], 0u);
}

}  // namespace
