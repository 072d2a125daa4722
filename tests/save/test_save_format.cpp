// The save-data byte layout: golden bytes, round trips of variables and layers through the engine's
// writer and reader, codecs by record kind, the memory-slot blob, and the refusal of damaged bytes
// written by the independent test-side builder.
#include <gtest/gtest.h>

#include <snappy-c.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "core/codecs.h"
#include "image/layer.h"
#include "save/save_format.h"
#include "script/variables.h"
#include "tests/image/layer_fixture.h"
#include "tools/lib/save_file_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes U32s(std::initializer_list<uint32_t> values)
{
    Bytes out;
    for (uint32_t v : values)
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return out;
}

Bytes Cut(Bytes a, size_t n)
{
    a.resize(n);
    return a;
}

Bytes Cat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A variable table of 1100 entries, the codec libraries bound and a layer tree (from the layer
// tests' fixture).
class SaveFormatTest : public LayerTreeTest {
protected:
    void SetUp() override
    {
        LayerTreeTest::SetUp();
        ASSERT_EQ(LoadCodecLibraries(), 0);
        ASSERT_EQ(CreateVarTable(1100), 0);
        g_SysVarHooks = {};
    }
    void TearDown() override
    {
        UnloadCodecLibraries();
        LayerTreeTest::TearDown();
    }

    static VAR_DESC* Shape(int nVar, const std::vector<uint32_t>& dims)
    {
        VAR_DESC* p = GetVarDesc(nVar);
        p->bClass = 1;
        p->nDims = static_cast<int8_t>(dims.size());
        memset(p->anDim, 0, sizeof p->anDim);
        for (size_t i = 0; i < dims.size(); ++i)
            p->anDim[i] = static_cast<int32_t>(dims[i]);
        return p;
    }
    static void DeclareInt(int nVar, const std::vector<uint32_t>& dims, const std::vector<int64_t>& values)
    {
        VAR_DESC* p = Shape(nVar, dims);
        ASSERT_EQ(InitVarInt(p, 0), 0);
        ASSERT_EQ(p->llCount, static_cast<int64_t>(values.size()));
        for (size_t i = 0; i < values.size(); ++i)
            p->pllValues[i] = values[i];
    }
    static void DeclareFloat(int nVar, const std::vector<uint32_t>& dims, const std::vector<double>& values)
    {
        VAR_DESC* p = Shape(nVar, dims);
        ASSERT_EQ(InitVarFloat(p, 0.0), 0);
        ASSERT_EQ(p->llCount, static_cast<int64_t>(values.size()));
        for (size_t i = 0; i < values.size(); ++i)
            p->pdValues[i] = values[i];
    }
    static void DeclareText(int nVar, const std::vector<uint32_t>& dims, const std::vector<std::string>& texts)
    {
        VAR_DESC* p = Shape(nVar, dims);
        ASSERT_EQ(InitVarString(p, "", 0), 0);
        ASSERT_EQ(p->llCount, static_cast<int64_t>(texts.size()));
        for (size_t i = 0; i < texts.size(); ++i)
            ASSERT_EQ(SetVarStringBytes(nVar, static_cast<int64_t>(i), texts[i].data(), texts[i].size()), 0);
    }

    // The engine's raw body of a variable record.
    static Bytes VarBody(int nVar, int bWhole, int64_t llElem)
    {
        uint32_t nSize = 0;
        EXPECT_EQ(GetVarBodySize(nVar, bWhole, llElem, &nSize), KX_SAVE_OK);
        Bytes out(nSize + 16, 0xEE);
        size_t nWritten = 0;
        EXPECT_EQ(SerializeVarBody(nVar, bWhole, llElem, out.data(), out.size(), &nWritten), KX_SAVE_OK);
        EXPECT_EQ(nWritten, nSize);
        out.resize(nWritten);
        return out;
    }
    // The engine's whole record (12-byte header and compressed body) of a raw body.
    static Bytes Record(int nKind, uint16_t wVar, const Bytes& raw)
    {
        Bytes out(KX_SAVE_RECORD_HEADER_SIZE + GetSaveCompressBound(nKind, static_cast<uint32_t>(raw.size())));
        size_t nOut = 0;
        EXPECT_EQ(BuildSaveRecord(nKind, wVar, raw.data(), static_cast<uint32_t>(raw.size()), out.data(), out.size(),
                                  &nOut),
                  KX_SAVE_OK);
        out.resize(nOut);
        return out;
    }
    // A file image assembled with the engine's writers: header, then u32 DNO and record per entry.
    static Bytes EngineFile(const std::vector<std::pair<int, Bytes>>& records)
    {
        SAVE_FILE_HEADER hdr;
        InitSaveFileHeader(&hdr);
        Bytes image(KX_SAVE_HEADER_SIZE);
        for (const auto& [nDno, rec] : records) {
            hdr.anOffset[nDno - 1] = static_cast<uint32_t>(image.size());
            image = Cat(image, U32s({static_cast<uint32_t>(nDno)}));
            image = Cat(image, rec);
            ++hdr.nCount;
        }
        WriteSaveFileHeader(&hdr, image.data());
        return image;
    }
    // Reads a DNO back from an image with the engine's reader: located, uncompressed by kind.
    static int ReadBack(const Bytes& image, int nDno, SAVE_RECORD_HEADER* pRec, Bytes* pRaw)
    {
        const uint8_t* pPacked = nullptr;
        int rc = LocateSaveRecord(image.data(), image.size(), nDno, pRec, &pPacked);
        if (rc != KX_SAVE_OK)
            return rc;
        pRaw->assign(pRec->nRaw, 0);
        return UncompressSaveBody(pRec->bKind, pPacked, pRec->nPacked, pRaw->data(), pRec->nRaw);
    }
};

// ---- Golden bytes ----

TEST_F(SaveFormatTest, NewFileWithOneRecordOfDno5)
{
    DeclareInt(1000, {}, {42});
    const Bytes body = VarBody(1000, 1, 0);
    const Bytes image = EngineFile({{5, Record(SAVEREC_VARIABLE, 1000, body)}});

    EXPECT_EQ(Bytes(image.begin(), image.begin() + 16), Cat(Bytes{'K', 'X', 'S', 'D'}, U32s({480, 1, 1024})));
    for (int d = 1; d <= 1024; ++d)
        EXPECT_EQ(SaveImageOffset(image, d), d == 5 ? 4112u : 0u) << "DNO " << d;
    EXPECT_EQ(SaveImageU32(image, 4112), 5u);
    // Header of the record: kind 0, 1, variable 1000, packed, raw 20.
    EXPECT_EQ(image[4116], 0);
    EXPECT_EQ(image[4117], 1);
    EXPECT_EQ(image[4118] | (image[4119] << 8), 1000);
    EXPECT_EQ(SaveImageU32(image, 4124), 20u);
    EXPECT_EQ(image.size(), 4112u + 16 + SaveImageU32(image, 4120));

    // The independent builder writes the same bytes for the same record.
    SAVE_BUILDER_RECORD rec;
    rec.nDno = 5;
    rec.wVar = 1000;
    rec.raw = MakeSaveIntBody({}, {42});
    EXPECT_EQ(BuildSaveImage({rec}), image);
}

TEST_F(SaveFormatTest, ScalarAndSingleElementGiveTheSameBody)
{
    const int64_t llValue = -0x123456789ALL;
    DeclareInt(1000, {}, {llValue});
    DeclareInt(1001, {4}, {0, 0, llValue, 0});
    const uint64_t u = static_cast<uint64_t>(llValue);
    const Bytes expected = U32s({1, 0, 8, static_cast<uint32_t>(u), static_cast<uint32_t>(u >> 32)});
    EXPECT_EQ(VarBody(1000, 1, 0), expected);
    EXPECT_EQ(VarBody(1000, 0, 0), expected);
    EXPECT_EQ(VarBody(1001, 0, 2), expected);
}

TEST_F(SaveFormatTest, TextElementOfLengthThree)
{
    DeclareText(1002, {3}, {"", "abc", "zz"});
    EXPECT_EQ(VarBody(1002, 0, 1), Cat(U32s({3, 0, 7, 3}), Bytes{'a', 'b', 'c'}));
}

TEST_F(SaveFormatTest, EmptyContainerIsABareHeader)
{
    uint8_t hdr[12];
    memset(hdr, 0xCC, sizeof hdr);
    ASSERT_EQ(BeginSaveContainer(hdr, sizeof hdr), KX_SAVE_OK);
    ASSERT_EQ(EndSaveContainer(hdr, 0), KX_SAVE_OK);
    EXPECT_EQ(Bytes(hdr, hdr + 12), Cat(Bytes{2, 1, 0, 0}, U32s({0, 0})));
    size_t nPos = 0;
    SAVE_RECORD_HEADER rec{};
    const uint8_t* pBody = nullptr;
    EXPECT_EQ(NextSaveContainerRecord(hdr + 12, 0, &nPos, &rec, &pBody), 0);
}

// ---- Round trips ----

struct VAR_CASE {
    const char* pszName;
    int nType;
    std::vector<uint32_t> dims;
};

TEST_F(SaveFormatTest, VariablesRoundTripWholeAndByElement)
{
    const std::vector<VAR_CASE> cases = {
        {"int scalar", 1, {}},        {"int 1-D", 1, {5}},        {"int 2x3", 1, {2, 3}},
        {"int 8 dims", 1, {2, 1, 2, 1, 2, 1, 2, 3}},
        {"double scalar", 2, {}},     {"double 1-D", 2, {5}},     {"double 2x3", 2, {2, 3}},
        {"double 8 dims", 2, {1, 2, 1, 2, 1, 2, 1, 2}},
        {"text scalar", 3, {}},       {"text 1-D", 3, {5}},       {"text 2x3", 3, {2, 3}},
        {"text 8 dims", 3, {2, 2, 1, 1, 1, 1, 2, 1}},
    };
    int nVar = 1000;
    for (const VAR_CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        uint64_t n = 1;
        for (uint32_t d : c.dims)
            n *= d;
        std::vector<int64_t> ints;
        std::vector<double> doubles;
        std::vector<std::string> texts;
        for (uint64_t i = 0; i < n; ++i) {
            ints.push_back(i % 2 ? std::numeric_limits<int64_t>::min() + static_cast<int64_t>(i) : static_cast<int64_t>(i * 1000003));
            doubles.push_back(i % 3 == 1 ? -0.0 : 1.0 / (static_cast<double>(i) + 3.0));
            // Lengths 0.., one long text (longer than the old 4096-byte limit) and cp932 bytes.
            texts.push_back(i == 1 ? std::string(5000, 'x') : std::string(i, static_cast<char>('a' + i)) + "\x82\xa0");
        }
        Bytes expected;
        if (c.nType == 1) {
            DeclareInt(nVar, c.dims, ints);
            expected = MakeSaveIntBody(c.dims, ints);
        } else if (c.nType == 2) {
            DeclareFloat(nVar, c.dims, doubles);
            expected = MakeSaveFloatBody(c.dims, doubles);
        } else {
            DeclareText(nVar, c.dims, texts);
            expected = MakeSaveTextBody(c.dims, texts);
        }
        ASSERT_FALSE(HasFatalFailure());

        // Whole: the engine's body is the builder's, and reads back through a file image.
        const Bytes body = VarBody(nVar, 1, 0);
        EXPECT_EQ(body, expected);
        const Bytes image = EngineFile({{3, Record(SAVEREC_VARIABLE, static_cast<uint16_t>(nVar), body)}});
        SAVE_RECORD_HEADER rec{};
        Bytes raw;
        ASSERT_EQ(ReadBack(image, 3, &rec, &raw), KX_SAVE_OK);
        EXPECT_EQ(rec.wVar, nVar);
        EXPECT_EQ(raw, body);
        SAVE_VAR_BODY parsed{};
        ASSERT_EQ(ParseVarBody(raw.data(), raw.size(), &parsed), KX_SAVE_OK);
        EXPECT_EQ(parsed.nType, static_cast<uint32_t>(c.nType));
        ASSERT_EQ(parsed.nDims, c.dims.size());
        for (size_t i = 0; i < c.dims.size(); ++i)
            EXPECT_EQ(parsed.anDim[i], c.dims[i]);
        ASSERT_EQ(parsed.llCount, n);
        size_t nPos = 0;
        for (uint64_t i = 0; i < n; ++i) {
            if (c.nType == 1) {
                EXPECT_EQ(GetSaveBodyInt(&parsed, i), ints[i]);
            } else if (c.nType == 2) {
                const double d = GetSaveBodyFloat(&parsed, i);
                EXPECT_EQ(memcmp(&d, &doubles[i], 8), 0) << "element " << i;
            } else {
                const char* p = nullptr;
                uint32_t nLen = 0;
                ASSERT_EQ(NextSaveBodyText(&parsed, &nPos, &p, &nLen), 1);
                EXPECT_EQ(std::string(p, nLen), texts[i]);
            }
        }
        if (c.nType == 3) {
            const char* p = nullptr;
            uint32_t nLen = 0;
            EXPECT_EQ(NextSaveBodyText(&parsed, &nPos, &p, &nLen), 0);
        }

        // Each element alone: a body without dimensions holding that value.
        for (uint64_t i = 0; i < n; ++i) {
            const Bytes elem = VarBody(nVar, 0, static_cast<int64_t>(i));
            const Bytes want = c.nType == 1   ? MakeSaveIntBody({}, {ints[i]})
                               : c.nType == 2 ? MakeSaveFloatBody({}, {doubles[i]})
                                              : MakeSaveTextBody({}, {texts[i]});
            EXPECT_EQ(elem, want) << "element " << i;
            ASSERT_EQ(ParseVarBody(elem.data(), elem.size(), &parsed), KX_SAVE_OK);
            EXPECT_EQ(parsed.nDims, 0u);
            EXPECT_EQ(parsed.llCount, 1u);
        }
        ++nVar;
    }
}

TEST_F(SaveFormatTest, SystemVariablesAreReadThroughTheEngine)
{
    g_SysVarHooks.pfnReadInt = [](int nVar, int64_t llElem) -> int64_t { return nVar * 100 + llElem; };
    VAR_DESC* p = GetVarDesc(20);
    p->bType = KX_VAR_TYPE_INT;
    p->nDims = 1;
    p->anDim[0] = 3;
    p->llCount = 3;
    EXPECT_EQ(VarBody(20, 1, 0), MakeSaveIntBody({3}, {2000, 2001, 2002}));
    EXPECT_EQ(VarBody(20, 0, 2), MakeSaveIntBody({}, {2002}));
}

TEST_F(SaveFormatTest, WriterRefusesWhatCannotBeSavedOrLoaded)
{
    DeclareInt(1000, {4}, {1, 2, 3, 4});
    uint32_t nSize = 0;
    EXPECT_EQ(GetVarBodySize(1000, 0, 4, &nSize), KX_SAVE_ERR_ARG);
    EXPECT_EQ(GetVarBodySize(1000, 0, -1, &nSize), KX_SAVE_ERR_ARG);
    EXPECT_EQ(GetVarBodySize(5000, 1, 0, &nSize), KX_SAVE_ERR_ARG);
    EXPECT_EQ(GetVarBodySize(1001, 1, 0, &nSize), KX_SAVE_ERR_TYPE);   // declared nowhere: no type
    // A capacity one byte short is refused before anything is written past it.
    ASSERT_EQ(GetVarBodySize(1000, 1, 0, &nSize), KX_SAVE_OK);
    EXPECT_EQ(nSize, 12u + 4 + 32);
    Bytes out(nSize - 1);
    size_t nWritten = 0;
    EXPECT_EQ(SerializeVarBody(1000, 1, 0, out.data(), out.size(), &nWritten), KX_SAVE_ERR_ARG);
    // A value size above 40,000,000 could never be loaded, so it is not written either.
    DeclareText(1002, {2}, {std::string(20000000, 'a'), std::string(20000000, 'b')});
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(GetVarBodySize(1002, 1, 0, &nSize), KX_SAVE_ERR_VALUE_SIZE);
    EXPECT_EQ(GetVarBodySize(1002, 0, 0, &nSize), KX_SAVE_OK);
    // A record buffer below header + bound is refused.
    const Bytes body = VarBody(1000, 1, 0);
    Bytes rec(KX_SAVE_RECORD_HEADER_SIZE + GetSaveCompressBound(SAVEREC_VARIABLE, static_cast<uint32_t>(body.size())) - 1);
    size_t nOut = 0;
    EXPECT_EQ(BuildSaveRecord(SAVEREC_VARIABLE, 1000, body.data(), static_cast<uint32_t>(body.size()), rec.data(),
                              rec.size(), &nOut),
              KX_SAVE_ERR_ARG);
    EXPECT_EQ(BuildSaveRecord(SAVEREC_CONTAINER, 0, body.data(), static_cast<uint32_t>(body.size()), rec.data(),
                              rec.size(), &nOut),
              KX_SAVE_ERR_KIND);
}

TEST_F(SaveFormatTest, LayersRoundTrip)
{
    struct CASE {
        int32_t w, h;
    };
    for (const CASE c : {CASE{1, 1}, CASE{8192, 1}, CASE{3, 5}}) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
        TREE_NODE* pNode = Plain("W0.save", c.w, c.h, 7, 9, 1);
        ASSERT_NE(pNode, nullptr);
        LAYER* pLayer = L(pNode);
        for (int64_t i = 0; i < int64_t(c.w) * 4 * c.h; ++i)
            pLayer->pOwnedPixels[i] = static_cast<uint8_t>(i * 7 + 3);
        pLayer->nOpacity = 100;

        uint32_t nSize = 0;
        ASSERT_EQ(GetLayerBodySize(pLayer, &nSize), KX_SAVE_OK);
        const uint32_t nP = static_cast<uint32_t>(c.w) * 4 * c.h;
        EXPECT_EQ(nSize, 8u + 1680 + nP);
        Bytes body(nSize);
        size_t nWritten = 0;
        ASSERT_EQ(SerializeLayerBody(pLayer, body.data(), body.size(), &nWritten), KX_SAVE_OK);
        ASSERT_EQ(nWritten, nSize);
        EXPECT_EQ(SaveImageU32(body, 0), 1680u);
        EXPECT_EQ(SaveImageU32(body, 4), nP);
        // The block is the layer's saved form: size at 136/140, no pointer bytes.
        Bytes block(1680);
        ASSERT_EQ(SerializeLayerRecord(pLayer, block.data(), block.size()), 0);
        EXPECT_EQ(Bytes(body.begin() + 8, body.begin() + 8 + 1680), block);
        EXPECT_EQ(SaveImageU32(body, 8 + 136), static_cast<uint32_t>(c.w));
        EXPECT_EQ(SaveImageU32(body, 8 + 140), static_cast<uint32_t>(c.h));
        for (size_t off : {192u, 208u, 224u})
            for (size_t k = 0; k < 8; ++k)
                EXPECT_EQ(body[8 + off + k], 0) << "pointer bytes at " << off;
        EXPECT_EQ(memcmp(body.data() + 8 + 1680, pLayer->pOwnedPixels, nP), 0);

        // Through a file: zlib by kind, then parsed back.
        const Bytes image = EngineFile({{4, Record(SAVEREC_LAYER, 1234, body)}});
        SAVE_RECORD_HEADER rec{};
        Bytes raw;
        ASSERT_EQ(ReadBack(image, 4, &rec, &raw), KX_SAVE_OK);
        EXPECT_EQ(rec.bKind, SAVEREC_LAYER);
        EXPECT_EQ(rec.wVar, 0);   // a layer record names no variable
        EXPECT_EQ(raw, body);
        SAVE_LAYER_BODY parsed{};
        ASSERT_EQ(ParseLayerBody(raw.data(), raw.size(), &parsed), KX_SAVE_OK);
        EXPECT_EQ(parsed.nWidth, c.w);
        EXPECT_EQ(parsed.nHeight, c.h);
        EXPECT_EQ(parsed.nPixelBytes, nP);
        EXPECT_EQ(memcmp(parsed.pPixels, pLayer->pOwnedPixels, nP), 0);
        // The builder's layer body is accepted as well.
        const Bytes built = MakeSaveLayerBody(c.w, c.h, Bytes(body.begin() + 8 + 1680, body.end()));
        ASSERT_EQ(ParseLayerBody(built.data(), built.size(), &parsed), KX_SAVE_OK);
        EXPECT_EQ(memcmp(parsed.pPixels, pLayer->pOwnedPixels, nP), 0);
        FreeNodeSubtree(pNode);
    }
}

TEST_F(SaveFormatTest, LayerWithAnOddSizedBufferSavesOnlyItsOwnPixels)
{
    TREE_NODE* pNode = Plain("W0.odd", 2, 2, 0, 0, 1, 0x11223344u);
    ASSERT_NE(pNode, nullptr);
    LAYER* pLayer = L(pNode);
    pLayer->nWidth = 3;    // the size changed without a new buffer
    pLayer->nHeight = 3;
    uint32_t nSize = 0;
    ASSERT_EQ(GetLayerBodySize(pLayer, &nSize), KX_SAVE_OK);
    Bytes body(nSize);
    size_t nWritten = 0;
    ASSERT_EQ(SerializeLayerBody(pLayer, body.data(), body.size(), &nWritten), KX_SAVE_OK);
    const uint8_t* pPix = body.data() + 8 + 1680;
    EXPECT_EQ(SaveImageU32(body, 8 + 1680), 0x11223344u);          // (0, 0)
    EXPECT_EQ(SaveImageU32(body, 8 + 1680 + 4), 0x11223344u);      // (1, 0)
    EXPECT_EQ(SaveImageU32(body, 8 + 1680 + 8), 0u);               // (2, 0) beyond the buffer
    EXPECT_EQ(SaveImageU32(body, 8 + 1680 + 12 + 4), 0x11223344u); // (1, 1)
    for (int i = 24; i < 36; ++i)
        EXPECT_EQ(pPix[i], 0);                                     // row 2
    pLayer->nWidth = 2;
    pLayer->nHeight = 2;
}

// ---- Codecs by kind ----

TEST_F(SaveFormatTest, BodiesUseTheCodecOfTheirKind)
{
    DeclareText(1000, {3}, {"alpha", "beta", "gamma gamma gamma gamma"});
    const Bytes varBody = VarBody(1000, 1, 0);
    const Bytes varRec = Record(SAVEREC_VARIABLE, 1000, varBody);
    // Plain Snappy (not framed) that the library itself accepts.
    const char* pPacked = reinterpret_cast<const char*>(varRec.data() + 12);
    EXPECT_EQ(snappy_validate_compressed_buffer(pPacked, varRec.size() - 12), SNAPPY_OK);
    Bytes out;
    EXPECT_TRUE(UncompressForTest(SB_CODEC_SNAPPY, varRec.data() + 12, varRec.size() - 12, varBody.size(), &out));
    EXPECT_EQ(out, varBody);

    const Bytes layerBody = MakeSaveLayerBody(4, 4, Bytes(64, 0x5A));
    const Bytes layerRec = Record(SAVEREC_LAYER, 0, layerBody);
    EXPECT_TRUE(UncompressForTest(SB_CODEC_ZLIB, layerRec.data() + 12, layerRec.size() - 12, layerBody.size(), &out));
    EXPECT_EQ(out, layerBody);

    // The reader picks the codec by kind alone: a variable body in zlib or a layer in Snappy fails.
    SAVE_BUILDER_RECORD zlibVar;
    zlibVar.nDno = 1;
    zlibVar.raw = varBody;
    zlibVar.nCodec = SB_CODEC_ZLIB;
    SAVE_BUILDER_RECORD snappyLayer;
    snappyLayer.nDno = 2;
    snappyLayer.nKind = 1;
    snappyLayer.raw = layerBody;
    snappyLayer.nCodec = SB_CODEC_SNAPPY;
    const Bytes image = BuildSaveImage({zlibVar, snappyLayer});
    SAVE_RECORD_HEADER rec{};
    Bytes raw;
    EXPECT_EQ(ReadBack(image, 1, &rec, &raw), KX_SAVE_ERR_CODEC);
    EXPECT_EQ(ReadBack(image, 2, &rec, &raw), KX_SAVE_ERR_CODEC);
}

TEST_F(SaveFormatTest, UncompressRequiresExactlyTheRawSize)
{
    const Bytes body = MakeSaveIntBody({2}, {1, 2});
    const Bytes rec = Record(SAVEREC_VARIABLE, 1000, body);
    const uint32_t nPacked = static_cast<uint32_t>(rec.size() - 12);
    Bytes dst(body.size() + 8, 0);
    EXPECT_EQ(UncompressSaveBody(SAVEREC_VARIABLE, rec.data() + 12, nPacked, dst.data(), uint32_t(body.size())), KX_SAVE_OK);
    EXPECT_EQ(UncompressSaveBody(SAVEREC_VARIABLE, rec.data() + 12, nPacked, dst.data(), uint32_t(body.size() + 8)), KX_SAVE_ERR_CODEC);
    EXPECT_EQ(UncompressSaveBody(SAVEREC_VARIABLE, rec.data() + 12, nPacked, dst.data(), uint32_t(body.size() - 1)), KX_SAVE_ERR_CODEC);
    EXPECT_EQ(UncompressSaveBody(SAVEREC_VARIABLE, rec.data() + 12, nPacked - 1, dst.data(), uint32_t(body.size())), KX_SAVE_ERR_CODEC);
    const Bytes garbage(40, 0xFF);
    EXPECT_EQ(UncompressSaveBody(SAVEREC_VARIABLE, garbage.data(), 40, dst.data(), 16), KX_SAVE_ERR_CODEC);
    EXPECT_EQ(UncompressSaveBody(SAVEREC_LAYER, garbage.data(), 40, dst.data(), 16), KX_SAVE_ERR_CODEC);

    const Bytes layer = MakeSaveLayerBody(2, 2, Bytes(16, 1));
    const Bytes lrec = Record(SAVEREC_LAYER, 0, layer);
    Bytes ldst(layer.size() + 4);
    const uint32_t nL = static_cast<uint32_t>(lrec.size() - 12);
    EXPECT_EQ(UncompressSaveBody(SAVEREC_LAYER, lrec.data() + 12, nL, ldst.data(), uint32_t(layer.size())), KX_SAVE_OK);
    EXPECT_EQ(UncompressSaveBody(SAVEREC_LAYER, lrec.data() + 12, nL, ldst.data(), uint32_t(layer.size() + 4)), KX_SAVE_ERR_CODEC);
    EXPECT_EQ(UncompressSaveBody(SAVEREC_LAYER, lrec.data() + 12, nL, ldst.data(), uint32_t(layer.size() - 4)), KX_SAVE_ERR_CODEC);
}

// ---- Containers ----

TEST_F(SaveFormatTest, ContainerFramesItsSubRecords)
{
    DeclareInt(1000, {2}, {5, 6});
    DeclareText(1003, {}, {"hi"});
    const Bytes a = VarBody(1000, 1, 0);
    const Bytes b = VarBody(1003, 1, 0);
    const Bytes ra = Record(SAVEREC_VARIABLE, 1000, a);
    const Bytes rb = Record(SAVEREC_VARIABLE, 1003, b);
    Bytes cont(12);
    ASSERT_EQ(BeginSaveContainer(cont.data(), cont.size()), KX_SAVE_OK);
    cont = Cat(Cat(cont, ra), rb);
    ASSERT_EQ(EndSaveContainer(cont.data(), ra.size() + rb.size()), KX_SAVE_OK);
    EXPECT_EQ(cont[0], SAVEREC_CONTAINER);
    EXPECT_EQ(SaveImageU32(cont, 4), ra.size() + rb.size());
    EXPECT_EQ(SaveImageU32(cont, 8), a.size() + 12 + b.size() + 12);

    // The builder's container is the same bytes.
    SAVE_BUILDER_RECORD sa, sb, c;
    sa.wVar = 1000;
    sa.raw = MakeSaveIntBody({2}, {5, 6});
    sb.wVar = 1003;
    sb.raw = MakeSaveTextBody({}, {"hi"});
    c.nKind = 2;
    c.subRecords = {sa, sb};
    EXPECT_EQ(BuildSaveRecordBytes(c), cont);

    // Walked back: both sub-records with their variable numbers and bodies.
    size_t nPos = 0;
    SAVE_RECORD_HEADER rec{};
    const uint8_t* pBody = nullptr;
    const std::vector<std::pair<int, Bytes>> want = {{1000, a}, {1003, b}};
    for (const auto& [nVar, body] : want) {
        ASSERT_EQ(NextSaveContainerRecord(cont.data() + 12, cont.size() - 12, &nPos, &rec, &pBody), 1);
        EXPECT_EQ(rec.wVar, nVar);
        Bytes raw(rec.nRaw);
        ASSERT_EQ(UncompressSaveBody(SAVEREC_CONTAINER, pBody, rec.nPacked, raw.data(), rec.nRaw), KX_SAVE_OK);
        EXPECT_EQ(raw, body);
    }
    EXPECT_EQ(NextSaveContainerRecord(cont.data() + 12, cont.size() - 12, &nPos, &rec, &pBody), 0);
    // Sub-records that do not tile the stated size are refused.
    EXPECT_EQ(EndSaveContainer(cont.data(), ra.size() + rb.size() - 1), KX_SAVE_ERR_SHORT);
}

TEST_F(SaveFormatTest, DamagedContainersAreRefused)
{
    SAVE_BUILDER_RECORD sub;
    sub.wVar = 1000;
    sub.raw = MakeSaveIntBody({}, {1});
    struct CASE {
        const char* pszName;
        SAVE_BUILDER_RECORD sub;
        int nCut;
        int nExpected;
    };
    SAVE_BUILDER_RECORD overrun = sub;
    overrun.llRawPacked = 1000;
    SAVE_BUILDER_RECORD layerInside = sub;
    layerInside.nKind = 1;
    SAVE_BUILDER_RECORD badKind = sub;
    badKind.nKind = 7;
    const CASE cases[] = {
        {"packed size beyond the container", overrun, 0, KX_SAVE_ERR_SHORT},
        {"a layer inside", layerInside, 0, KX_SAVE_ERR_KIND},
        {"unknown kind", badKind, 0, KX_SAVE_ERR_KIND},
        {"header cut", sub, 20, KX_SAVE_ERR_SHORT},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        SAVE_BUILDER_RECORD cont;
        cont.nKind = 2;
        cont.subRecords = {sub, c.sub};
        Bytes bytes = BuildSaveRecordBytes(cont);
        size_t nSize = bytes.size() - 12 - static_cast<size_t>(c.nCut);
        const Bytes packed(bytes.begin() + 12, bytes.begin() + 12 + nSize);   // exactly the bytes the reader has
        size_t nPos = 0;
        SAVE_RECORD_HEADER rec{};
        const uint8_t* pBody = nullptr;
        ASSERT_EQ(NextSaveContainerRecord(packed.data(), packed.size(), &nPos, &rec, &pBody), 1);
        EXPECT_EQ(NextSaveContainerRecord(packed.data(), packed.size(), &nPos, &rec, &pBody), c.nExpected);
    }
}

// ---- Hostile bodies ----

TEST_F(SaveFormatTest, DamagedVariableBodiesAreRefused)
{
    const Bytes eight(8, 0);
    struct CASE {
        const char* pszName;
        Bytes body;
        int nExpected;
    };
    const CASE cases[] = {
        {"empty", {}, KX_SAVE_ERR_SHORT},
        {"type 0", MakeSaveVarBodyRaw(0, {}, -1, eight), KX_SAVE_ERR_TYPE},
        {"type 4", MakeSaveVarBodyRaw(4, {}, -1, eight), KX_SAVE_ERR_TYPE},
        {"9 dims", MakeSaveVarBodyRaw(1, {1, 1, 1, 1, 1, 1, 1, 1, 1}, -1, eight), KX_SAVE_ERR_DIMS},
        {"dims cut", Bytes(U32s({1, 3, 1})), KX_SAVE_ERR_SHORT},
        {"value size above the limit", MakeSaveVarBodyRaw(1, {}, 40000001, eight), KX_SAVE_ERR_VALUE_SIZE},
        {"value size beyond the body", MakeSaveVarBodyRaw(1, {}, 16, eight), KX_SAVE_ERR_SHORT},
        {"value size not count x 8", MakeSaveVarBodyRaw(1, {2}, -1, eight), KX_SAVE_ERR_VALUE_SIZE},
        {"element with 16 value bytes", MakeSaveVarBodyRaw(2, {}, -1, Bytes(16, 0)), KX_SAVE_ERR_VALUE_SIZE},
        {"huge dims, little data", MakeSaveVarBodyRaw(1, {65536, 65536, 65536}, -1, eight), KX_SAVE_ERR_VALUE_SIZE},
        {"count x 8 wrapping to 0", MakeSaveVarBodyRaw(1, {65536, 65536, 536870912}, 0, {}), KX_SAVE_ERR_VALUE_SIZE},
        {"text length beyond the body", MakeSaveVarBodyRaw(3, {}, -1, Cat(U32s({100}), Bytes{'a', 'b'})), KX_SAVE_ERR_TEXT_LENGTH},
        {"text length field cut", MakeSaveVarBodyRaw(3, {2}, -1, Cat(U32s({1}), Bytes{'a', 0, 0})), KX_SAVE_ERR_VALUE_SIZE},
        {"fewer texts than elements", MakeSaveTextBody({3}, {"a", "b"}), KX_SAVE_ERR_VALUE_SIZE},
        {"more texts than elements", MakeSaveTextBody({1}, {"a", "b"}), KX_SAVE_ERR_VALUE_SIZE},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        SAVE_VAR_BODY parsed{};
        // An exact-size copy, so that any read past the body is caught by the sanitizer.
        Bytes exact(c.body);
        EXPECT_EQ(ParseVarBody(exact.empty() ? nullptr : exact.data(), exact.size(), &parsed), c.nExpected);
    }
    // Fields read before the refusal are there for the caller's report order.
    const Bytes wrongCount = MakeSaveVarBodyRaw(2, {3, 2}, -1, eight);
    SAVE_VAR_BODY parsed{};
    EXPECT_EQ(ParseVarBody(wrongCount.data(), wrongCount.size(), &parsed), KX_SAVE_ERR_VALUE_SIZE);
    EXPECT_EQ(parsed.nType, 2u);
    EXPECT_EQ(parsed.nDims, 2u);
    EXPECT_EQ(parsed.anDim[0], 3u);
    // A zero-sized dimension holds nothing.
    const Bytes empty = MakeSaveIntBody({0}, {});
    EXPECT_EQ(ParseVarBody(empty.data(), empty.size(), &parsed), KX_SAVE_OK);
    EXPECT_EQ(parsed.llCount, 0u);
}

TEST_F(SaveFormatTest, DamagedLayerBodiesAreRefused)
{
    struct CASE {
        const char* pszName;
        Bytes body;
        int nExpected;
    };
    const CASE cases[] = {
        {"block size 1679", MakeSaveLayerBody(1, 1, Bytes(4, 0), 1679), KX_SAVE_ERR_LAYER_BLOCK},
        {"block cut", Cut(MakeSaveLayerBody(1, 1, Bytes(4, 0)), 100), KX_SAVE_ERR_SHORT},
        {"four bytes", Cut(MakeSaveLayerBody(1, 1, Bytes(4, 0)), 4), KX_SAVE_ERR_SHORT},
        {"width 8193", MakeSaveLayerBody(8193, 1, {}, 1680, 0), KX_SAVE_ERR_LAYER_WIDE},
        {"width 0", MakeSaveLayerBody(0, 1, {}), KX_SAVE_ERR_LAYER_SIZE},
        {"width -1", MakeSaveLayerBody(-1, 1, {}, 1680, 0), KX_SAVE_ERR_LAYER_SIZE},
        {"height 0", MakeSaveLayerBody(4, 0, {}), KX_SAVE_ERR_LAYER_SIZE},
        {"height -5", MakeSaveLayerBody(4, -5, {}, 1680, 0), KX_SAVE_ERR_LAYER_SIZE},
        {"w x 4 x h wraps 32 bits", MakeSaveLayerBody(8192, 131072, {}, 1680, 0), KX_SAVE_ERR_LAYER_SIZE},
        {"P not w x 4 x h", MakeSaveLayerBody(2, 2, Bytes(20, 0), 1680, 20), KX_SAVE_ERR_LAYER_SIZE},
        {"pixels cut", MakeSaveLayerBody(2, 2, Bytes(15, 0), 1680, 16), KX_SAVE_ERR_SHORT},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        SAVE_LAYER_BODY parsed{};
        EXPECT_EQ(ParseLayerBody(c.body.data(), c.body.size(), &parsed), c.nExpected);
    }
    // A too-wide layer still gives its size for the player's message.
    const Bytes wide = MakeSaveLayerBody(9000, 3, {}, 1680, 0);
    SAVE_LAYER_BODY parsed{};
    ASSERT_EQ(ParseLayerBody(wide.data(), wide.size(), &parsed), KX_SAVE_ERR_LAYER_WIDE);
    EXPECT_EQ(parsed.nWidth, 9000);
    EXPECT_EQ(parsed.nHeight, 3);
}

// ---- Hostile files ----

TEST_F(SaveFormatTest, DamagedFilesAreRefusedWhenARecordIsLocated)
{
    SAVE_BUILDER_RECORD rec;
    rec.nDno = 7;
    rec.wVar = 1000;
    rec.raw = MakeSaveIntBody({}, {9});
    const size_t nSound = BuildSaveImage({rec}).size();
    struct CASE {
        const char* pszName;
        SAVE_BUILDER_RECORD rec;
        SAVE_BUILDER_OPTIONS opt;
        int nDno;
        int nExpected;
    };
    std::vector<CASE> cases;
    cases.push_back({"sound", rec, {}, 7, KX_SAVE_OK});
    SAVE_BUILDER_OPTIONS o;
    o.strMagic = "KXSE";
    cases.push_back({"magic", rec, o, 7, KX_SAVE_ERR_MAGIC});
    o = {};
    o.nVersion = 479;
    cases.push_back({"version", rec, o, 7, KX_SAVE_ERR_VERSION});
    o = {};
    o.llTruncate = 3;
    cases.push_back({"three bytes", rec, o, 7, KX_SAVE_ERR_MAGIC});
    o.llTruncate = 2000;
    cases.push_back({"table cut", rec, o, 7, KX_SAVE_ERR_SHORT});
    cases.push_back({"DNO not stored", rec, {}, 8, KX_SAVE_ERR_NO_RECORD});
    cases.push_back({"DNO 0", rec, {}, 0, KX_SAVE_ERR_BAD_DNO});
    cases.push_back({"DNO 1025", rec, {}, 1025, KX_SAVE_ERR_BAD_DNO});
    o = {};
    o.rawOffsets = {{7, static_cast<uint32_t>(nSound + 100)}};
    cases.push_back({"offset beyond the end", rec, o, 7, KX_SAVE_ERR_SHORT});
    o.rawOffsets = {{7, static_cast<uint32_t>(nSound - 10)}};
    cases.push_back({"offset too near the end", rec, o, 7, KX_SAVE_ERR_SHORT});
    o.rawOffsets = {{7, 16}};
    cases.push_back({"offset inside the table", rec, o, 7, KX_SAVE_ERR_SHORT});
    o.rawOffsets = {{7, 0xFFFFFFF0u}};
    cases.push_back({"offset near 4 GB", rec, o, 7, KX_SAVE_ERR_SHORT});
    SAVE_BUILDER_RECORD r = rec;
    r.llRawPacked = 0xFFFFFFFFu;
    cases.push_back({"packed size near 4 GB", r, {}, 7, KX_SAVE_ERR_SHORT});
    r = rec;
    r.llTruncatePacked = 3;
    cases.push_back({"packed bytes cut", r, {}, 7, KX_SAVE_ERR_SHORT});
    r = rec;
    r.nKind = 3;
    cases.push_back({"kind 3", r, {}, 7, KX_SAVE_ERR_KIND});
    r = rec;
    r.bNotInTable = true;
    cases.push_back({"record not in the table", r, {}, 7, KX_SAVE_ERR_NO_RECORD});
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        const Bytes image = BuildSaveImage({c.rec}, c.opt);
        SAVE_RECORD_HEADER hdr{};
        const uint8_t* pPacked = nullptr;
        EXPECT_EQ(LocateSaveRecord(image.data(), image.size(), c.nDno, &hdr, &pPacked), c.nExpected);
    }
    // The header parser gives the same first refusals.
    SAVE_FILE_HEADER fh;
    SAVE_BUILDER_OPTIONS v481;
    v481.nVersion = 481;
    const Bytes bad = BuildSaveImage({rec}, v481);
    EXPECT_EQ(ParseSaveFileHeader(bad.data(), bad.size(), &fh), KX_SAVE_ERR_VERSION);
    const Bytes good = BuildSaveImage({rec});
    EXPECT_EQ(ParseSaveFileHeader(good.data(), 4111, &fh), KX_SAVE_ERR_SHORT);
    ASSERT_EQ(ParseSaveFileHeader(good.data(), good.size(), &fh), KX_SAVE_OK);
    EXPECT_EQ(fh.nCount, 1u);
    EXPECT_EQ(fh.nTableSize, 1024u);
    EXPECT_EQ(fh.anOffset[6], 4112u);
}

TEST_F(SaveFormatTest, RecordWalkOfARewriteRefusesBadDnosAndOverruns)
{
    SAVE_BUILDER_RECORD a, b;
    a.nDno = 3;
    a.raw = MakeSaveIntBody({}, {1});
    b.nDno = 4;
    b.nKind = 1;
    b.raw = MakeSaveLayerBody(1, 1, Bytes{1, 2, 3, 4});
    const Bytes image = BuildSaveImage({a, b});
    uint32_t nDno = 0;
    SAVE_RECORD_HEADER rec{};
    size_t nBytes = 0;
    ASSERT_EQ(ReadSaveRecordAt(image.data(), image.size(), 4112, &nDno, &rec, &nBytes), KX_SAVE_OK);
    EXPECT_EQ(nDno, 3u);
    const size_t nSecond = 4112 + nBytes;
    EXPECT_EQ(SaveImageOffset(image, 4), nSecond);
    ASSERT_EQ(ReadSaveRecordAt(image.data(), image.size(), nSecond, &nDno, &rec, &nBytes), KX_SAVE_OK);
    EXPECT_EQ(nDno, 4u);
    EXPECT_EQ(rec.bKind, SAVEREC_LAYER);
    EXPECT_EQ(nSecond + nBytes, image.size());
    EXPECT_EQ(ReadSaveRecordAt(image.data(), image.size(), image.size(), &nDno, &rec, &nBytes), KX_SAVE_ERR_SHORT);

    for (int64_t llDno : {0LL, 1025LL, 0xFFFFFFFFLL}) {
        SAVE_BUILDER_RECORD bad = a;
        bad.llRawDno = llDno;
        const Bytes img = BuildSaveImage({bad});
        EXPECT_EQ(ReadSaveRecordAt(img.data(), img.size(), 4112, &nDno, &rec, &nBytes), KX_SAVE_ERR_BAD_DNO) << llDno;
    }
    SAVE_BUILDER_RECORD longer = a;
    longer.llRawPacked = 1 << 20;
    const Bytes img = BuildSaveImage({longer});
    EXPECT_EQ(ReadSaveRecordAt(img.data(), img.size(), 4112, &nDno, &rec, &nBytes), KX_SAVE_ERR_SHORT);
}

// ---- Memory-slot blob ----

TEST_F(SaveFormatTest, SlotBlobPacksAndWalksAllSlots)
{
    std::vector<Bytes> slots(500);
    slots[0] = BuildSaveImage({});
    SAVE_BUILDER_RECORD rec;
    rec.nDno = 2;
    rec.raw = MakeSaveTextBody({}, {"slot three"});
    slots[3] = BuildSaveImage({rec});
    slots[499] = Bytes(70000, 0x42);
    const uint8_t* apSlot[500] = {};
    uint32_t anSize[500] = {};
    std::vector<SLOT_BLOB_ENTRY> entries(500);
    for (int i = 0; i < 500; ++i) {
        apSlot[i] = slots[i].empty() ? nullptr : slots[i].data();
        anSize[i] = static_cast<uint32_t>(slots[i].size());
        entries[i].image = slots[i];
    }
    Bytes blob(GetSlotBlobBound(anSize));
    size_t nBlob = 0;
    ASSERT_EQ(BuildSlotBlob(apSlot, anSize, blob.data(), blob.size(), &nBlob), KX_SAVE_OK);
    blob.resize(nBlob);
    ASSERT_EQ(CheckSlotBlob(blob.data(), blob.size()), KX_SAVE_OK);
    // Header: kind 0, 1, variable 0, packed = the entries, raw = sum of (S + 8).
    EXPECT_EQ(Bytes(blob.begin(), blob.begin() + 4), (Bytes{0, 1, 0, 0}));
    EXPECT_EQ(SaveImageU32(blob, 4), nBlob - 12);
    EXPECT_EQ(SaveImageU32(blob, 8), 500u * 8 + slots[0].size() + slots[3].size() + 70000);
    // The builder makes the same record; stored as DNO 1024 the whole file is the same.
    SAVE_BUILDER_RECORD built = MakeSlotBlobRecord(entries);
    EXPECT_EQ(BuildSaveRecordBytes(built), blob);

    size_t nPos = 0;
    for (int i = 0; i < 500; ++i) {
        uint32_t nS = 0, nZ = 0;
        const uint8_t* pZ = nullptr;
        ASSERT_EQ(NextSlotBlobEntry(blob.data() + 12, nBlob - 12, &nPos, &nS, &nZ, &pZ), 1) << i;
        ASSERT_EQ(nS, slots[i].size()) << i;
        if (nS == 0) {
            EXPECT_EQ(nZ, 0u);
            continue;
        }
        Bytes image(nS);
        ASSERT_EQ(UncompressSlotImage(pZ, nZ, image.data(), nS), KX_SAVE_OK);
        EXPECT_EQ(image, slots[i]) << i;
    }
    uint32_t nS = 0, nZ = 0;
    const uint8_t* pZ = nullptr;
    EXPECT_EQ(NextSlotBlobEntry(blob.data() + 12, nBlob - 12, &nPos, &nS, &nZ, &pZ), 0);
    // A capacity below the bound is refused.
    EXPECT_EQ(BuildSlotBlob(apSlot, anSize, blob.data(), GetSlotBlobBound(anSize) - 1, &nBlob), KX_SAVE_ERR_ARG);
}

TEST_F(SaveFormatTest, LyingSlotBlobsAreRefused)
{
    auto Sound = [] {
        std::vector<SLOT_BLOB_ENTRY> e(500);
        e[1].image = Bytes(5000, 7);
        e[2].image = Bytes(300, 9);
        return e;
    };
    struct CASE {
        const char* pszName;
        std::vector<SLOT_BLOB_ENTRY> entries;
        int nExpected;
    };
    std::vector<CASE> cases;
    cases.push_back({"sound", Sound(), KX_SAVE_OK});
    auto e = Sound();
    e.pop_back();
    cases.push_back({"499 entries", e, KX_SAVE_ERR_SHORT});
    e = Sound();
    e.push_back({});
    cases.push_back({"501 entries", e, KX_SAVE_ERR_VALUE_SIZE});
    e = Sound();
    e[0].llRawZ = 5;
    cases.push_back({"empty slot with bytes", e, KX_SAVE_ERR_VALUE_SIZE});
    e = Sound();
    e[2].llRawZ = 100000;
    cases.push_back({"Z beyond the blob", e, KX_SAVE_ERR_SHORT});
    e = Sound();
    e[1].llRawS = 4000;
    cases.push_back({"S lies (raw sum then differs)", e, KX_SAVE_OK});
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        const Bytes blob = BuildSaveRecordBytes(MakeSlotBlobRecord(c.entries));
        EXPECT_EQ(CheckSlotBlob(blob.data(), blob.size()), c.nExpected);
    }
    // A raw size in the header that is not the sum of (S + 8).
    SAVE_BUILDER_RECORD rec = MakeSlotBlobRecord(Sound());
    rec.llRawRawSize += 1;
    Bytes blob = BuildSaveRecordBytes(rec);
    EXPECT_EQ(CheckSlotBlob(blob.data(), blob.size()), KX_SAVE_ERR_VALUE_SIZE);
    rec = MakeSlotBlobRecord(Sound());
    rec.llRawPacked = 1 << 24;
    blob = BuildSaveRecordBytes(rec);
    EXPECT_EQ(CheckSlotBlob(blob.data(), blob.size()), KX_SAVE_ERR_SHORT);
    // An S that lies is caught when the entry is uncompressed; garbage in place of zlib data too.
    e = Sound();
    e[1].llRawS = 4000;
    e[2].bGarbage = true;
    blob = BuildSaveRecordBytes(MakeSlotBlobRecord(e));
    size_t nPos = 0;
    for (int i = 0; i < 3; ++i) {
        uint32_t nS = 0, nZ = 0;
        const uint8_t* pZ = nullptr;
        ASSERT_EQ(NextSlotBlobEntry(blob.data() + 12, blob.size() - 12, &nPos, &nS, &nZ, &pZ), 1);
        if (i == 0)
            continue;
        Bytes image(nS);
        EXPECT_EQ(UncompressSlotImage(pZ, nZ, image.data(), nS), KX_SAVE_ERR_CODEC) << i;
    }
}

// ---- The builder writes what it is asked ----

TEST_F(SaveFormatTest, BuilderWritesTheFalseFieldsItIsGiven)
{
    SAVE_BUILDER_RECORD rec;
    rec.nDno = 9;
    rec.nOneByte = 0x77;
    rec.wVar = 0xBEEF;
    rec.raw = MakeSaveIntBody({}, {1});
    rec.llRawDno = 4242;
    rec.llRawRawSize = 99;
    SAVE_BUILDER_OPTIONS opt;
    opt.strMagic = "AB";
    opt.nVersion = 12;
    opt.llRawCount = 77;
    opt.nTableSize = 3;
    opt.rawOffsets = {{1, 0x10203040u}};
    opt.trailing = {9, 9, 9};
    const Bytes image = BuildSaveImage({rec}, opt);
    EXPECT_EQ(Bytes(image.begin(), image.begin() + 4), (Bytes{'A', 'B', 0, 0}));
    EXPECT_EQ(SaveImageU32(image, 4), 12u);
    EXPECT_EQ(SaveImageU32(image, 8), 77u);
    EXPECT_EQ(SaveImageU32(image, 12), 3u);
    EXPECT_EQ(SaveImageOffset(image, 1), 0x10203040u);
    EXPECT_EQ(SaveImageOffset(image, 9), 4112u);
    EXPECT_EQ(SaveImageU32(image, 4112), 4242u);
    EXPECT_EQ(image[4117], 0x77);
    EXPECT_EQ(image[4118] | (image[4119] << 8), 0xBEEF);
    EXPECT_EQ(SaveImageU32(image, 4124), 99u);
    EXPECT_EQ(Bytes(image.end() - 3, image.end()), (Bytes{9, 9, 9}));
    opt.llTruncate = 4120;
    EXPECT_EQ(BuildSaveImage({rec}, opt).size(), 4120u);

    // Given packed bytes go in as they are.
    SAVE_BUILDER_RECORD given;
    given.bPackedGiven = true;
    given.packedBytes = {1, 2, 3};
    EXPECT_EQ(BuildSaveRecordBytes(given), Cat(Cat(Bytes{0, 1, 0, 0}, U32s({3, 0})), Bytes{1, 2, 3}));
}

}  // namespace
