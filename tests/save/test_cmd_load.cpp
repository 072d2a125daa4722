// The load command run from scripts: records from save files and memory slots restored into
// variables, layers and memory slots, and a table of damaged files that must each be refused with
// the right report, leaving the target as it was.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/codecs.h"
#include "core/kx_texts.h"
#include "core/settings.h"
#include "save/cmd_load.h"
#include "save/cmd_save.h"
#include "save/save_format.h"
#include "tests/image/cmd_layer_fixture.h"
#include "tools/lib/save_file_builder.h"

namespace {

using namespace layer_cmd_test;

constexpr uint16_t kInt = 1000, kFloat = 1001, kText = 1002, kInts23 = 1003, kInts32 = 1004, kInts6 = 1005,
                   kTexts = 1006, kFloats23 = 1007, kInts2 = 1008;

// ---- save files from the test-side builder ----

using BYTES = std::vector<uint8_t>;
using REC = SAVE_BUILDER_RECORD;

BYTES IntBody(const std::vector<uint32_t>& dims, const std::vector<int64_t>& values) { return MakeSaveIntBody(dims, values); }
// An int64 body whose value size field says llValueSize.
BYTES IntBodySized(const std::vector<uint32_t>& dims, const std::vector<int64_t>& values, int64_t llValueSize)
{
    BYTES vals;
    for (int64_t v : values)
        for (int i = 0; i < 8; ++i) vals.push_back(static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i)));
    return MakeSaveVarBodyRaw(KX_VAR_TYPE_INT, dims, llValueSize, vals);
}
BYTES FloatBody(const std::vector<uint32_t>& dims, const std::vector<double>& values) { return MakeSaveFloatBody(dims, values); }
BYTES TextBody(const std::vector<uint32_t>& dims, const std::vector<std::string>& texts) { return MakeSaveTextBody(dims, texts); }
BYTES LayerBody(int32_t w, int32_t h, const BYTES& pixels, uint32_t nBlock = KX_LAYER_RECORD_SIZE, int64_t llP = -1)
{
    return MakeSaveLayerBody(w, h, pixels, nBlock, llP);
}
BYTES Pixels(int32_t w, int32_t h)
{
    BYTES px(size_t(w) * 4 * h);
    for (size_t i = 0; i < px.size(); ++i) px[i] = static_cast<uint8_t>(i * 7 + 3);
    return px;
}

REC VarRec(const BYTES& body, uint16_t wVar = 0)
{
    REC r;
    r.nKind = SAVEREC_VARIABLE;
    r.wVar = wVar;
    r.raw = body;
    return r;
}
REC LayerRec(const BYTES& body)
{
    REC r;
    r.nKind = SAVEREC_LAYER;
    r.raw = body;
    return r;
}
REC ContainerRec(const std::vector<REC>& subs)
{
    REC r;
    r.nKind = SAVEREC_CONTAINER;
    r.subRecords = subs;
    return r;
}
// A save file (or slot image) of records by DNO, in the order given.
BYTES SaveImage(std::vector<std::pair<int, REC>> records, const SAVE_BUILDER_OPTIONS& opt = {})
{
    std::vector<REC> recs;
    for (auto& [nDno, rec] : records) {
        rec.nDno = nDno;
        recs.push_back(rec);
    }
    return BuildSaveImage(recs, opt);
}
// The slot blob record from slot images; an empty image is an empty slot.
REC SlotBlob(const std::vector<BYTES>& slots)
{
    std::vector<SLOT_BLOB_ENTRY> entries(KX_SAVE_SLOT_COUNT);
    for (size_t i = 0; i < slots.size() && i < entries.size(); ++i) entries[i].image = slots[i];
    return MakeSlotBlobRecord(entries);
}

// ---- arguments of the load command ----
BUILDER_ARG File(const std::string& s) { return T(LOAD_ARG_FILE, s); }
BUILDER_ARG Slot(int64_t n) { return I(LOAD_ARG_SLOT, n); }
BUILDER_ARG Dno(int64_t n) { return I(LOAD_ARG_DNO, n); }
BUILDER_ARG Whole(uint16_t nVar)
{
    std::vector<uint8_t> code;
    ExprAsmVarRef(code, nVar);
    return ExprArg(LOAD_ARG_VAR, code, EVALTYPE_INT);
}
BUILDER_ARG Elem(uint16_t nVar, std::vector<int64_t> subs = {}, uint8_t bType = EVALTYPE_INT)
{
    return ExprArg(LOAD_ARG_VAR, subs.empty() ? MakeExprVar(nVar) : MakeExprElement(nVar, subs), bType);
}
BUILDER_ARG LayerPath(const std::string& s) { return T(LOAD_ARG_LAYER, s); }

class LoadCmdTest : public LayerCmdTest {
protected:
    void SetUp() override
    {
        LayerCmdTest::SetUp();
        ASSERT_EQ(LoadCodecLibraries(), 0);
        std::strcpy(g_szSaveFolder, "save\\");
        FreeSlots();
    }
    void TearDown() override
    {
        FreeSlots();
        LayerCmdTest::TearDown();
    }
    static void FreeSlots()
    {
        for (int i = 0; i < KX_SAVE_SLOT_TABLE; ++i) {
            std::free(g_apMemSlot[i]);
            g_apMemSlot[i] = nullptr;
            g_anMemSlotCapacity[i] = g_anMemSlotSize[i] = g_anMemSlotReadPos[i] = 0;
        }
    }
    static void PutSlot(int n, const BYTES& image)
    {
        std::free(g_apMemSlot[n]);
        g_apMemSlot[n] = static_cast<uint8_t*>(std::malloc(image.size() ? image.size() : 1));
        if (!image.empty()) std::memcpy(g_apMemSlot[n], image.data(), image.size());
        g_anMemSlotCapacity[n] = g_anMemSlotSize[n] = static_cast<uint32_t>(image.size());
        g_anMemSlotReadPos[n] = 0;
    }
    static BYTES SlotBytes(int n) { return BYTES(g_apMemSlot[n], g_apMemSlot[n] + g_anMemSlotSize[n]); }

    void WriteSave(const std::string& name, const BYTES& image) { dir.Write("save/" + name, image); }
    void Load(std::vector<BUILDER_ARG> args) { ASSERT_GE(EmitCommand(&b, KXCMD_LOAD, args), 0); }
    // An assignment after the load: runs only when the load answered 0 (the turn goes on).
    void MarkAfter() { ASSERT_GE(EmitCommand(&b, KXCMD_ASSIGN, {ExprArg(0, MakeExprVar(kInt)), I(1, 4242)}), 0); }

    // The park, the variables, the folder written, the scripts started and one pass run.
    void RunLoad()
    {
        ASSERT_GE(EmitCommand(&b, KXCMD_WAIT, {I(0, 1000000)}), 0);
        ASSERT_EQ(FinishScriptBody(&b), 0) << b.strError;
        GAME_DATA game = DefaultGameData();
        game.defs.push_back(MakeIntVarDef(kInt, 7));
        game.defs.push_back(MakeFloatVarDef(kFloat, 1.5));
        game.defs.push_back(MakeTextVarDef(kText, "old"));
        game.defs.push_back(MakeIntVarDef(kInts23, 9, {2, 3}));
        game.defs.push_back(MakeIntVarDef(kInts32, 9, {3, 2}));
        game.defs.push_back(MakeIntVarDef(kInts6, 9, {6}));
        game.defs.push_back(MakeTextVarDef(kTexts, "old", {8}));
        game.defs.push_back(MakeFloatVarDef(kFloats23, 0.25, {2, 3}));
        game.defs.push_back(MakeIntVarDef(kInts2, 9, {2}));
        game.scripts = {ScriptFromBuilder("main.txt", b)};
        ASSERT_EQ(WriteGameFolder(dir.strNative, BuildGameFiles(game)), 0);
        ASSERT_EQ(StartScriptSystem(), 0);
        Pass();
    }
    // A scene layer of 2 x 2 at W0/pic with a changed position and opacity.
    void MakePictureLayer()
    {
        dir.Write("pic.bmp", Bmp(2, 2, {0x102030, 0x405060, 0x708090, 0xA0B0C0}));
        Layer({T(LAYER_ARG_PATH, ":W0/pic"), I(LAYER_ARG_ORDER, 5), T(LAYER_ARG_IMAGE, "pic.bmp"), I(LAYER_ARG_X, 33),
               I(LAYER_ARG_Y, 44), I(LAYER_ARG_OPACITY, 100)});
    }
    std::vector<int64_t> Ints(uint16_t nVar, int n) const
    {
        std::vector<int64_t> v;
        for (int i = 0; i < n; ++i) v.push_back(GetVarInt(nVar, i));
        return v;
    }
    std::string Text(uint16_t nVar, int64_t i) const
    {
        const char* p = GetVarString(nVar, i);
        return p ? p : "(null)";
    }
    bool HasBox(int nText) const
    {
        for (const MSGBOX_RECORD& r : boxes.boxes)
            if (r.strText.rfind(std::string(GetEngineText(nText)).substr(0, 12), 0) == 0) return true;
        return false;
    }
};

// ---- the cases of the command ----

TEST_F(LoadCmdTest, RestoresWholeVariablesAndElementsFromAFile)
{
    const std::string strLong(5000, 'L');   // texts longer than the evaluator's buffer come back whole
    WriteSave("game.sd", SaveImage({{1, VarRec(IntBody({}, {-5}))},
                                    {2, VarRec(IntBody({2, 3}, {1, 2, 3, 4, 5, 6}))},
                                    {3, VarRec(FloatBody({2, 3}, {0.5, -1, 2, 3, 4, 1e300}))},
                                    {4, VarRec(TextBody({8}, {"a", "", "ccc", strLong, "e", "f", "g", "h"}))},
                                    {5, VarRec(TextBody({}, {"five"}))},
                                    {6, VarRec(IntBody({}, {77}))}}));
    Load({File("GAME"), Dno(1), Elem(kInt)});
    Load({File("game.sd"), Dno(2), Whole(kInts23)});
    Load({File("game"), Dno(3), Whole(kFloats23)});
    Load({File("game"), Dno(4), Whole(kTexts)});
    Load({File("game"), Dno(5), Elem(kTexts, {5}, EVALTYPE_TEXT)});
    Load({File("game"), Dno(6), Elem(kInts6, {4})});
    RunLoad();
    ASSERT_TRUE(errors.reports.empty()) << errors.reports[0].nId;
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(GetVarInt(kInt, 0), -5);
    EXPECT_EQ(Ints(kInts23, 6), (std::vector<int64_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(GetVarFloat(kFloats23, 1), -1.0);
    EXPECT_EQ(GetVarFloat(kFloats23, 5), 1e300);
    EXPECT_EQ(Text(kTexts, 0), "a");
    EXPECT_EQ(Text(kTexts, 1), "");
    EXPECT_EQ(Text(kTexts, 3), strLong);
    EXPECT_EQ(Text(kTexts, 5), "five");   // the element record went into element 5 only
    EXPECT_EQ(Text(kTexts, 4), "e");
    EXPECT_EQ(Ints(kInts6, 6), (std::vector<int64_t>{9, 9, 9, 9, 77, 9}));
}

TEST_F(LoadCmdTest, MissingDnoIsReported)
{
    WriteSave("game.sd", SaveImage({{1, VarRec(IntBody({}, {1}))}}));
    Load({File("game"), Dno(2), Elem(kInt)});
    RunLoad();
    ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(errors, KX_ERR_SAVE_NO_RECORD));
    EXPECT_EQ(GetVarInt(kInt, 0), 7);
}

TEST_F(LoadCmdTest, TypeMismatchIsRefused)
{
    WriteSave("game.sd", SaveImage({{1, VarRec(IntBody({}, {1}))}}));
    Load({File("game"), Dno(1), Elem(kFloat)});
    RunLoad();
    ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(errors, KX_ERR_SAVE_TYPE));
    EXPECT_EQ(GetVarFloat(kFloat, 0), 1.5);
}

TEST_F(LoadCmdTest, LayerRecordReplacesTheNodeWithDefaults)
{
    const BYTES px = Pixels(3, 2);
    WriteSave("pics.sd", SaveImage({{7, LayerRec(LayerBody(3, 2, px))}}));
    MakePictureLayer();
    Load({File("pics"), Dno(7), LayerPath(":W0/pic")});
    RunLoad();
    ASSERT_TRUE(errors.reports.empty()) << errors.reports[0].nId;
    TREE_NODE* pNode = Node("W0/pic");
    const LAYER* p = GetNodeLayer(pNode);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->nWidth, 3);
    EXPECT_EQ(p->nHeight, 2);
    EXPECT_EQ(p->nBufWidth, 3);
    EXPECT_EQ(p->nBufHeight, 2);
    EXPECT_EQ(p->llX, 0);
    EXPECT_EQ(p->llY, 0);
    EXPECT_EQ(p->nOpacity, KX_OPACITY_OPAQUE);
    EXPECT_EQ(pNode->llOrder, 1);
    ASSERT_NE(p->pOwnedPixels, nullptr);
    EXPECT_EQ(BYTES(p->pOwnedPixels, p->pOwnedPixels + px.size()), px);
}

TEST_F(LoadCmdTest, RecordsFromAMemorySlot)
{
    PutSlot(3, SaveImage({{1, VarRec(IntBody({2}, {11, 12}))}, {1023, LayerRec(LayerBody(1, 1, {1, 2, 3, 4}))}}));
    MakePictureLayer();
    Load({Slot(3), Dno(1), Whole(kInts2)});
    Load({Slot(3), Dno(1023), LayerPath(":W0/pic")});
    RunLoad();
    ASSERT_TRUE(errors.reports.empty()) << errors.reports[0].nId;
    EXPECT_EQ(Ints(kInts2, 2), (std::vector<int64_t>{11, 12}));
    EXPECT_EQ(L("W0/pic")->nWidth, 1);
}

TEST_F(LoadCmdTest, ContainerRestoresEveryVariableAndEndsTheTurn)
{
    WriteSave("game.sd", SaveImage({{9, ContainerRec({VarRec(IntBody({}, {31}), kInt),
                                                   VarRec(IntBody({2}, {41, 42}), kInts2)})}}));
    Load({File("game"), Dno(9)});
    ASSERT_GE(EmitCommand(&b, KXCMD_ASSIGN, {ExprArg(0, MakeExprElement(kInts6, {0})), I(1, 4242)}), 0);
    RunLoad();
    ASSERT_TRUE(errors.reports.empty()) << errors.reports[0].nId;
    EXPECT_EQ(GetVarInt(kInt, 0), 31);
    EXPECT_EQ(Ints(kInts2, 2), (std::vector<int64_t>{41, 42}));
    EXPECT_EQ(GetVarInt(kInts6, 0), 9);   // the turn ended after the container
}

TEST_F(LoadCmdTest, Dno1024RestoresAllSlotsAtOnce)
{
    const BYTES img0 = SaveImage({{1, VarRec(IntBody({}, {1}))}});
    const BYTES img499 = SaveImage({{2, VarRec(TextBody({}, {"slot"}))}});
    std::vector<BYTES> slots(KX_SAVE_SLOT_COUNT);
    slots[0] = img0;
    slots[499] = img499;
    WriteSave("slots.sd", SaveImage({{KX_SAVE_SLOT_BLOB_DNO, SlotBlob(slots)}}));
    PutSlot(7, BYTES(100, 0x55));   // was written before; empty in the blob
    Load({File("slots"), Dno(1024)});
    Load({Slot(499), Dno(2), Elem(kText, {}, EVALTYPE_TEXT)});
    RunLoad();
    ASSERT_TRUE(errors.reports.empty()) << errors.reports[0].nId;
    EXPECT_EQ(SlotBytes(0), img0);
    EXPECT_EQ(SlotBytes(499), img499);
    EXPECT_EQ(g_anMemSlotSize[7], 0u);
    EXPECT_NE(g_apMemSlot[7], nullptr);   // the buffer stays for the next write
    EXPECT_EQ(Text(kText, 0), "slot");
}

// ---- round trips through files and slots written by the save command ----

TEST_F(LoadCmdTest, SavedFilesAndSlotsLoadBack)
{
    const auto let = [&](EXPR_BYTES target, EXPR_BYTES value, uint8_t bType = EVALTYPE_INT) {
        ASSERT_GE(EmitCommand(&b, KXCMD_ASSIGN, {ExprArg(0, target), ExprArg(1, value, bType)}), 0);
    };
    const auto save = [&](std::vector<BUILDER_ARG> args) { ASSERT_GE(EmitCommand(&b, KXCMD_SAVE, args), 0); };
    MakePictureLayer();
    let(MakeExprElement(kInts23, {0, 1}), MakeExprInt(5));
    let(MakeExprVar(kText), MakeExprText("saved text"), EVALTYPE_TEXT);
    save({Dno(1), Whole(kInts23)});
    save({Dno(2), LayerPath(":W0/pic")});
    save({Dno(3), I(6, 1)});   // every int64 variable of class 1
    save({Dno(4), Elem(kText, {}, EVALTYPE_TEXT)});
    save({File("RoundTrip")});
    save({Dno(4), Elem(kText, {}, EVALTYPE_TEXT)});
    save({Slot(4)});
    save({Slot(KX_SAVE_SLOT_ALL)});
    save({File("slots")});
    // Everything changes, then comes back.
    let(MakeExprElement(kInts23, {0, 1}), MakeExprInt(77));
    let(MakeExprVar(kInt), MakeExprInt(1));
    let(MakeExprVar(kText), MakeExprText("changed"), EVALTYPE_TEXT);
    let(MakeExprElement(kTexts, {2}), MakeExprText("changed"), EVALTYPE_TEXT);
    Layer({T(LAYER_ARG_PATH, ":W0/pic"), I(LAYER_ARG_X, 90)});
    Load({File("roundtrip"), Dno(1), Whole(kInts23)});
    Load({File("roundtrip"), Dno(2), LayerPath(":W0/pic")});
    Load({File("slots"), Dno(KX_SAVE_SLOT_BLOB_DNO)});
    Load({Slot(4), Dno(4), Elem(kTexts, {2}, EVALTYPE_TEXT)});
    Load({File("roundtrip"), Dno(3)});
    RunLoad();
    ASSERT_TRUE(errors.reports.empty()) << errors.reports[0].nId;
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.boxes[0].strText;
    EXPECT_EQ(Ints(kInts23, 6), (std::vector<int64_t>{9, 5, 9, 9, 9, 9}));
    EXPECT_EQ(GetVarInt(kInt, 0), 7);   // from the container
    EXPECT_EQ(Text(kTexts, 2), "saved text");
    EXPECT_EQ(Text(kText, 0), "changed");
    const LAYER* p = L("W0/pic");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->nWidth, 2);
    EXPECT_EQ(p->llX, 0);
    EXPECT_EQ(Px(p, 1, 1) & 0xFFFFFF, 0xA0B0C0u);
}

// ---- damaged files and wrong targets: each refused, the target unchanged ----

struct HOSTILE_CASE {
    const char* pszName;
    std::function<BYTES()> make;      // the save file "bad.sd"; empty: no file
    std::vector<BUILDER_ARG> args;    // after File("bad") unless bSlot
    int nError;                       // expected fatal report, or 0
    int nBox;                         // expected box text, or -1
    bool bSlot = false;               // the image goes into slot 5 instead of the file
};

BYTES OneVar(const BYTES& body) { return SaveImage({{1, VarRec(body)}}); }
BYTES OneLayer(const BYTES& body) { return SaveImage({{1, LayerRec(body)}}); }
// One int64 record of DNO 1 with a change made to the record or to the file.
BYTES Damaged(const std::function<void(REC&)>& change, SAVE_BUILDER_OPTIONS opt = {})
{
    REC r = VarRec(IntBody({}, {5}));
    change(r);
    return SaveImage({{1, r}}, opt);
}
SAVE_BUILDER_OPTIONS Opt(const std::function<void(SAVE_BUILDER_OPTIONS&)>& change)
{
    SAVE_BUILDER_OPTIONS o;
    change(o);
    return o;
}

std::vector<HOSTILE_CASE> HostileCases()
{
    const BYTES good = OneVar(IntBody({}, {5}));
    const auto el = [] { return std::vector<BUILDER_ARG>{Dno(1), Elem(kInt)}; };
    const auto pic = [] { return std::vector<BUILDER_ARG>{Dno(1), LayerPath(":W0/pic")}; };
    std::vector<HOSTILE_CASE> v;
    const auto none = [](REC&) {};
    v.push_back({"bad magic", [=] { return Damaged(none, Opt([](auto& o) { o.strMagic = "KXSX"; })); }, el(),
                 KX_ERR_SAVE_MAGIC, -1});
    v.push_back({"three bytes", [] { return BYTES{'K', 'X', 'S'}; }, el(), KX_ERR_SAVE_MAGIC, -1});
    v.push_back({"bad version", [=] { return Damaged(none, Opt([](auto& o) { o.nVersion = 479; })); }, el(),
                 KX_ERR_SAVE_VERSION, -1});
    v.push_back({"cut inside the table", [=] { return Damaged(none, Opt([](auto& o) { o.llTruncate = 100; })); }, el(), 0,
                 TXT_LOAD_UNCOMPRESS_ERROR});
    v.push_back({"offset beyond the end",
                 [=] { return Damaged(none, Opt([](auto& o) { o.rawOffsets = {{1, 0x7FFFFFF0}}; })); }, el(), 0,
                 TXT_LOAD_UNCOMPRESS_ERROR});
    v.push_back({"offset inside the header", [=] { return Damaged(none, Opt([](auto& o) { o.rawOffsets = {{1, 8}}; })); },
                 el(), 0, TXT_LOAD_UNCOMPRESS_ERROR});
    v.push_back({"packed bytes cut", [=] { return Damaged([](REC& r) { r.llTruncatePacked = 3; }); }, el(), 0,
                 TXT_LOAD_SNP_UNCOMPRESS_ERROR});
    v.push_back({"raw size above what the body gives", [=] { return Damaged([](REC& r) { r.llRawRawSize = 2000000000; }); },
                 el(), 0,
                 TXT_LOAD_SNP_UNCOMPRESS_ERROR});
    v.push_back({"raw size below what the body gives", [=] { return Damaged([](REC& r) { r.llRawRawSize = 8; }); }, el(), 0,
                 TXT_LOAD_SNP_UNCOMPRESS_ERROR});
    v.push_back({"packed bytes not Snappy",
                 [=] { return Damaged([](REC& r) { r.bPackedGiven = true; r.packedBytes = BYTES(20, 0xFF); }); }, el(), 0,
                 TXT_LOAD_SNP_UNCOMPRESS_ERROR});
    v.push_back({"unknown record kind", [=] { return Damaged([](REC& r) { r.nKind = 7; r.nCodec = SB_CODEC_SNAPPY; }); },
                 el(), KX_ERR_SAVE_INTERNAL, -1});
    v.push_back({"type outside 1..3", [] { return OneVar(MakeSaveVarBodyRaw(4, {}, -1, BYTES(8, 1))); }, el(), KX_ERR_SAVE_INTERNAL, -1});
    v.push_back({"nine dimensions", [] { return OneVar(IntBody({1, 1, 1, 1, 1, 1, 1, 1, 1}, {1})); },
                 {Dno(1), Whole(kInts6)}, KX_ERR_SAVE_INTERNAL, -1});
    v.push_back({"value size above 40,000,000", [] { return OneVar(IntBodySized({}, {1}, 40000008)); }, el(),
                 KX_ERR_SAVE_VALUE_SIZE, -1});
    v.push_back({"value size not count x 8", [] { return OneVar(IntBodySized({6}, {1, 2, 3, 4, 5, 6, 7}, 56)); },
                 {Dno(1), Whole(kInts6)}, KX_ERR_SAVE_VALUE_SIZE, -1});
    v.push_back({"element target with value size 16", [] { return OneVar(IntBodySized({}, {1, 2}, 16)); }, el(),
                 KX_ERR_SAVE_VALUE_SIZE, -1});
    v.push_back({"value size beyond the body", [] { return OneVar(IntBodySized({}, {1}, 800)); }, el(), KX_ERR_SAVE_VALUE_SIZE, -1});
    v.push_back({"body shorter than its type", [] { return OneVar(BYTES{1, 0, 0}); }, el(), KX_ERR_SAVE_VALUE_SIZE, -1});
    v.push_back({"text length beyond the body",
                 [] { return OneVar(MakeSaveVarBodyRaw(KX_VAR_TYPE_STRING, {}, -1, {0xA0, 0x86, 0x01, 0, 'a', 'b', 'c'})); },
                 {Dno(1), Elem(kText, {}, EVALTYPE_TEXT)}, 0, TXT_LOAD_BAD_SAVE_FILE});
    v.push_back({"2 x 3 into 3 x 2", [] { return OneVar(IntBody({2, 3}, {1, 2, 3, 4, 5, 6})); },
                 {Dno(1), Whole(kInts32)}, KX_ERR_SAVE_DIM_SIZE, -1});
    v.push_back({"2 x 3 into one dimension", [] { return OneVar(IntBody({2, 3}, {1, 2, 3, 4, 5, 6})); },
                 {Dno(1), Whole(kInts6)}, KX_ERR_SAVE_DIMS, -1});
    v.push_back({"array into an element", [] { return OneVar(IntBody({2}, {1, 2})); }, el(), KX_ERR_SAVE_DIMS, -1});
    v.push_back({"layer record into a variable", [] { return OneLayer(LayerBody(1, 1, {1, 2, 3, 4})); }, el(),
                 KX_ERR_SAVE_LAYER_INTO_VAR, -1});
    v.push_back({"variable record into a layer", [=] { return good; }, pic(), KX_ERR_SAVE_VAR_INTO_LAYER, -1});
    v.push_back({"layer block of 1679", [] { return OneLayer(LayerBody(1, 1, {1, 2, 3, 4}, 1679)); }, pic(),
                 KX_ERR_SAVE_LAYER_BLOCK, -1});
    v.push_back({"layer width 0", [] { return OneLayer(LayerBody(0, 1, {})); }, pic(), KX_ERR_SAVE_LAYER_BLOCK, -1});
    v.push_back({"layer width -1", [] { return OneLayer(LayerBody(-1, 1, {}, 1680, 0)); }, pic(),
                 KX_ERR_SAVE_LAYER_BLOCK, -1});
    v.push_back({"layer height 0", [] { return OneLayer(LayerBody(1, 0, {})); }, pic(), KX_ERR_SAVE_LAYER_BLOCK, -1});
    v.push_back({"layer width 8193", [] { return OneLayer(LayerBody(8193, 1, {}, 1680, 8193 * 4)); }, pic(),
                 KX_ERR_LAYER_NO_MEMORY, TXT_CG_SIZE_TOO_LARGE});
    v.push_back({"w x 4 x h wrapping to 0 in 32 bits", [] { return OneLayer(LayerBody(8192, 131072, {}, 1680, 0)); },
                 pic(), KX_ERR_SAVE_LAYER_BLOCK, -1});
    v.push_back({"P not w x 4 x h", [] { return OneLayer(LayerBody(2, 2, Pixels(2, 1), KX_LAYER_RECORD_SIZE, 8)); }, pic(),
                 KX_ERR_SAVE_LAYER_BLOCK, -1});
    v.push_back({"layer raw size beyond any zlib ratio",
                 [] {
                     REC r = LayerRec(LayerBody(1, 1, {1, 2, 3, 4}));
                     r.llRawRawSize = 0xFFFFFFF0;
                     return SaveImage({{1, r}});
                 },
                 pic(), 0,
                 TXT_LOAD_UNCOMPRESS_ERROR});
    v.push_back({"container sub-record overrunning",
                 [] {
                     REC sub = VarRec(IntBody({}, {1}), kInt);
                     sub.llRawPacked = 5000;
                     return SaveImage({{1, ContainerRec({sub})}});
                 },
                 {Dno(1)}, KX_ERR_SAVE_INTERNAL, -1});
    v.push_back({"container naming an absent variable",
                 [] { return SaveImage({{1, ContainerRec({VarRec(IntBody({}, {1}), 60000)})}}); }, {Dno(1)},
                 KX_ERR_SAVE_INTERNAL, -1});
    v.push_back({"container naming a system variable",
                 [] { return SaveImage({{1, ContainerRec({VarRec(IntBody({}, {1}), 10)})}}); }, {Dno(1)},
                 KX_ERR_SAVE_INTERNAL, -1});
    v.push_back({"container holding a layer record",
                 [] { return SaveImage({{1, ContainerRec({LayerRec(LayerBody(1, 1, {1, 2, 3, 4}))})}}); }, {Dno(1)},
                 KX_ERR_SAVE_INTERNAL, -1});
    v.push_back({"missing file", nullptr, el(), KX_ERR_SAVE_NO_FILE, -1});
    v.push_back({"DNO 0", [=] { return good; }, {Dno(0), Elem(kInt)}, KX_ERR_ARG_RANGE, -1});
    v.push_back({"DNO 1025", [=] { return good; }, {Dno(1025), Elem(kInt)}, KX_ERR_ARG_RANGE, -1});
    v.push_back({"slot offset beyond the slot",
                 [=] { return Damaged(none, Opt([&](auto& o) { o.rawOffsets = {{1, uint32_t(good.size()) - 6}}; })); },
                 {Slot(5), Dno(1), Elem(kInt)}, 0, TXT_LOAD_UNCOMPRESS_ERROR, true});
    v.push_back({"slot packed size beyond the slot", [=] { return Damaged([](REC& r) { r.llRawPacked = 1000; }); },
                 {Slot(5), Dno(1), Elem(kInt)}, 0, TXT_LOAD_SNP_UNCOMPRESS_ERROR, true});
    v.push_back({"slot image of another version", [=] { return Damaged(none, Opt([](auto& o) { o.nVersion = 1; })); },
                 {Slot(5), Dno(1), Elem(kInt)},
                 KX_ERR_SAVE_VERSION, -1, true});
    v.push_back({"slot never written", nullptr, {Slot(6), Dno(1), Elem(kInt)}, KX_ERR_SAVE_NO_FILE, -1, true});
    v.push_back({"slot 500", nullptr, {Slot(500), Dno(1), Elem(kInt)}, KX_ERR_ARG_RANGE, -1, true});
    v.push_back({"neither file nor slot", nullptr, {Dno(1), Elem(kInt)}, KX_ERR_SAVE_NO_FILE, -1, true});
    return v;
}

TEST_F(LoadCmdTest, DamagedFilesAreRefusedWithTheirError)
{
    for (const HOSTILE_CASE& c : HostileCases()) {
        SCOPED_TRACE(c.pszName);
        Reset();
        std::remove((dir.strNative + "/save/bad.sd").c_str());
        if (c.make) {
            if (c.bSlot)
                PutSlot(5, c.make());
            else
                WriteSave("bad.sd", c.make());
        }
        MakePictureLayer();
        std::vector<BUILDER_ARG> args = c.args;
        if (!c.bSlot) args.insert(args.begin(), File("bad"));
        Load(args);
        MarkAfter();
        RunLoad();
        if (c.nError) {
            ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(errors, c.nError, c.pszName));
        } else {
            EXPECT_TRUE(errors.reports.empty()) << errors.reports[0].nId;
        }
        if (c.nBox >= 0) {
            EXPECT_TRUE(HasBox(c.nBox)) << (boxes.boxes.empty() ? "no box" : boxes.boxes[0].strText);
        }
        // Nothing restored, the command ended the turn, the layer untouched.
        EXPECT_EQ(GetVarInt(kInt, 0), 7);
        EXPECT_EQ(Ints(kInts6, 6), std::vector<int64_t>(6, 9));
        EXPECT_EQ(Text(kText, 0), "old");
        ASSERT_NE(L("W0/pic"), nullptr);
        EXPECT_EQ(L("W0/pic")->nWidth, 2);
        EXPECT_EQ(L("W0/pic")->llX, 33);
    }
}

TEST_F(LoadCmdTest, FileNamesAreCheckedBeforeAnyRead)
{
    const struct {
        const char* pszName;
        int nError;
    } cases[] = {{"dir/game", KX_ERR_SAVE_NAME_SLASH},
                 {"dir\\game", KX_ERR_SAVE_NAME_SLASH},
                 {"abcdefghijklmnopqrstuvwxyz0123456", KX_ERR_SAVE_NAME_LONG}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        Reset();
        Load({File(c.pszName), Dno(1), Elem(kInt)});
        RunLoad();
        ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(errors, c.nError, c.pszName));
    }
}

// A damaged slot blob leaves every slot as it was, also those before the damage.
TEST_F(LoadCmdTest, DamagedSlotBlobChangesNoSlot)
{
    const BYTES img = SaveImage({{1, VarRec(IntBody({}, {1}))}});
    // Slots 0 and 1 hold an image; the change is made to the entry of slot 1.
    const auto blob = [&](const std::function<void(std::vector<SLOT_BLOB_ENTRY>&)>& change) {
        std::vector<SLOT_BLOB_ENTRY> entries(KX_SAVE_SLOT_COUNT);
        entries[0].image = entries[1].image = img;
        change(entries);
        return MakeSlotBlobRecord(entries);
    };
    const struct {
        const char* pszName;
        REC blob;
    } cases[] = {
        {"S larger than the data gives", blob([&](auto& e) { e[1].llRawS = int64_t(img.size()) + 1; })},
        {"S beyond any zlib ratio", blob([](auto& e) { e[1].llRawS = 0xFFFFFF00; })},
        {"Z beyond the blob", blob([](auto& e) { e[1].llRawZ = 0x7FFFFFFF; })},
        {"S 0 with Z not 0", blob([](auto& e) { e[1].llRawS = 0; })},
        {"garbage in place of zlib data", blob([](auto& e) { e[1].bGarbage = true; })},
        {"entries end early", blob([](auto& e) { e.resize(3); })},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        Reset();
        FreeSlots();
        PutSlot(0, BYTES(64, 0x11));
        WriteSave("slots.sd", SaveImage({{KX_SAVE_SLOT_BLOB_DNO, c.blob}}));
        Load({File("slots"), Dno(1024)});
        RunLoad();
        EXPECT_TRUE(errors.reports.empty());
        EXPECT_TRUE(HasBox(TXT_LOAD_SLOTS_ERROR));
        EXPECT_EQ(SlotBytes(0), BYTES(64, 0x11));
        EXPECT_EQ(g_anMemSlotSize[1], 0u);
    }
}

}  // namespace
