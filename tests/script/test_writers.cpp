// The compiled-file writers, pinned byte for byte against layouts worked out by hand.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/byte_reader.h"
#include "core/error_texts.h"
#include "core/errors.h"
#include "script/variables.h"
#include "tests/support/engine_test.h"
#include "tests/support/test_support.h"
#include "tools/lib/command_table.h"
#include "tools/lib/pack_writer.h"
#include "tools/lib/kx_writers.h"
#include "tools/lib/script_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}
Bytes Fill(size_t n, uint8_t b = 0) { return Bytes(n, b); }
Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }
uint32_t U32At(const Bytes& v, size_t pos)
{
    return v[pos] | (v[pos + 1] << 8) | (v[pos + 2] << 16) | (static_cast<uint32_t>(v[pos + 3]) << 24);
}

// The variable-store test points the engine at its definitions; the fixture puts them back.
class KxWriters : public EngineTest {};

TEST_F(KxWriters, MessageTable)
{
    Bytes image = BuildKxe({{100010, "ab"}, {7, ""}});
    Bytes expect = Cat({
        Fill(8),                 // not read
        {0x02, 0x00, 0x00, 0x00},  // 2 entries
        Fill(4),                 // not read
        {0xAA, 0x86, 0x01, 0x00},  // id 100010 = 0x186AA
        {'a', 'b', 0x00},          // its text
        {0x07, 0x00, 0x00, 0x00},  // id 7
        {0x00},                    // empty text
    });
    EXPECT_EQ(expect, image);

    KXE_OPTIONS opt;
    opt.bFill = 0xA5;
    opt.rawCount = -3;
    image = BuildKxe({}, opt);
    EXPECT_EQ(Cat({Fill(8, 0xA5), {0xFD, 0xFF, 0xFF, 0xFF}, Fill(4, 0xA5)}), image);
}

// A game's message table: its own texts first (they win, the first match being taken), then the
// standard text, Japanese and an English line, of every reported id it lacks; never beyond the
// table's 256 entries, and with the switch off the game's own alone.
TEST_F(KxWriters, GameMessageTableHoldsTheGamesTextsThenTheStandardOnes)
{
    int nStandard = 0;
    const STANDARD_ERROR_TEXT* pStandard = GetStandardErrorTexts(&nStandard);
    ASSERT_GT(nStandard, 50);
    GAME_DATA game = DefaultGameData();
    game.errors = {{160010, "mine"}, {7, "seven"}};
    std::vector<KXE_ENTRY> texts = GameErrorTexts(game);
    ASSERT_EQ(texts.size(), static_cast<size_t>(nStandard) + 1);
    EXPECT_EQ(texts[0].nId, 160010);
    EXPECT_EQ(texts[0].strText, "mine");
    EXPECT_EQ(texts[1].nId, 7);
    size_t k = 2;
    for (int i = 0; i < nStandard; ++i) {
        if (pStandard[i].nId == 160010) continue;
        ASSERT_EQ(texts[k].nId, pStandard[i].nId);
        EXPECT_EQ(texts[k].strText, Cp932((std::string(pStandard[i].pszJapanese) + "\n" + pStandard[i].pszEnglish).c_str()));
        ++k;
    }
    EXPECT_EQ(StandardErrorTextCp932(120010), Cp932("取り出す最初の文字が文字列の外にあります。\n"
                                                    "The first character to extract lies beyond the text."));
    EXPECT_EQ(StandardErrorTextCp932(KX_ERR_NO_MEMORY), "");   // the engine's own text

    game.errors.assign(250, KXE_ENTRY{1, "x"});
    EXPECT_EQ(GameErrorTexts(game).size(), static_cast<size_t>(KX_ERROR_TABLE_MAX));
    game.bStandardErrorTexts = false;
    EXPECT_EQ(GameErrorTexts(game).size(), 250u);
    // What the engine reads back from the written table.
    game.errors = {{160010, "mine"}};
    game.bStandardErrorTexts = true;
    const Bytes image = BuildKxe(GameErrorTexts(game));
    EXPECT_EQ(U32At(image, 8), static_cast<uint32_t>(nStandard));
}

TEST_F(KxWriters, CommandTable)
{
    KXC_TABLE table;
    table.commands = {{"nop", {}, {}}, {"go", {{"to", ARGKIND_RAW, 0}, {"n", ARGKIND_INT, 2}}, {}}};
    table.errnoTexts = {"ok"};
    table.keyMap = {5, 6};
    Bytes expect = Cat({
        Fill(8),
        {0x02, 0x00, 0x00, 0x00},  // 2 commands
        Fill(4),
        {'n', 'o', 'p', 0x00},     // command 0, no arguments
        {0x00},
        {'g', 'o', 0x00},          // command 1, two arguments
        {0x02},
        {'t', 'o', 0x00, 0x02, 0x00},  // id 0: kept unevaluated, no check
        {'n', 0x00, 0x00, 0x02},       // id 1: integer, check kind 2
        {'o', 'k', 0x00},          // errno 0
        Fill(36),                  // errno 1..36: empty texts
        {0x05, 0x06},              // key map entries 0 and 1
        Fill(254),                 // the rest of the 256-byte key map
    });
    EXPECT_EQ(expect, BuildKxc(table));

    // Wrong counts for damaged tables.
    table.commands[1].rawArgCount = 9;
    KXC_OPTIONS opt;
    opt.rawCommandCount = 300;
    Bytes image = BuildKxc(table, opt);
    EXPECT_EQ(300u, U32At(image, 8));
    EXPECT_EQ(9, image[16 + 5 + 3]);
    EXPECT_EQ(expect.size(), image.size());
}

TEST_F(KxWriters, VariableTableAndScriptList)
{
    EXPECT_EQ(Cat({Fill(4),
                   {0x2B, 0x02, 0x00, 0x00},    // version 555
                   {0xCF, 0x07, 0x00, 0x00},    // highest variable 1999
                   {0x07, 0x00, 0x00, 0x00}}),  // value of system variable 124
              BuildKxt(1999, 7));
    KXT_OPTIONS optT;
    optT.nVersion = 554;
    EXPECT_EQ(554u, U32At(BuildKxt(0, 0, optT), 4));

    Bytes expect = Cat({
        Fill(8),
        {0x02, 0x00, 0x00, 0x00},              // 2 scripts
        {0x00, 0x00, 0x00, 0x00},              // index 0
        {0x08, 0x00, 0x00, 0x00},              // name length 8
        Text("main.txt"),                      // no terminator
        Fill(16),                              // not read
        {0x11, 0x00, 0x00, 0x00},              // value
        {0x01, 0x00, 0x00, 0x00}, {0x01, 0x00, 0x00, 0x00}, Text("b"), Fill(16), {0xFF, 0xFF, 0xFF, 0xFF},
    });
    EXPECT_EQ(expect, BuildKxtList({{0, "main.txt", 0x11, {}}, {1, "b", -1, {}}}));

    KXT_LIST_ENTRY e{0, "b", 0, 5000};   // a name length beyond the file
    Bytes image = BuildKxtList({e});
    EXPECT_EQ(5000u, U32At(image, 16));
    EXPECT_EQ(12u + 29u, image.size());
}

TEST_F(KxWriters, VariableDefinitions)
{
    KXV_DEF a = MakeIntVarDef(1000, -2, {2, 3});
    a.bClass = 2;
    KXV_DEF b = MakeFloatVarDef(1001, 1.5);
    b.bScope = VARSCOPE_SCRIPT;
    b.nScript = 4;
    KXV_DEF c = MakeTextVarDef(1002, "a\\");
    KXV_DEF d;
    d.nVar = 1003;
    d.bType = VARTYPE_NONE;
    Bytes expect = Cat({
        Fill(8),
        {0x04, 0x00},                                    // 4 definitions
        {0x01, 0x02, 0x00, 0x00, 0xE8, 0x03, 0x01, 0x02},  // global, class 2, script 0, var 1000, int, 2 dims
        {0x02, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00},  // dims 2 x 3
        {0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},  // -2
        {0x02, 0x01, 0x04, 0x00, 0xE9, 0x03, 0x02, 0x00},  // script 4's own, var 1001, double, no dims
        {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF8, 0x3F},  // 1.5
        {0x01, 0x01, 0x00, 0x00, 0xEA, 0x03, 0x03, 0x00},  // var 1002, text
        {0x08, 0x00},                                      // 8 bytes of byte code:
        {0x4D, 0x05, 0x00, '"', 'a', '\\', '\\', '"'},     //   the literal "a\\"
        {0x01, 0x01, 0x00, 0x00, 0xEB, 0x03, 0x00, 0x00},  // var 1003 of no type: no value bytes
    });
    EXPECT_EQ(expect, BuildKxv({a, b, c, d}));

    // Raw counts: more dimensions and a longer expression than the record holds.
    a.rawDimCount = 9;
    c.rawExprLength = 0xFFFF;
    KXV_OPTIONS opt;
    opt.rawCount = 7;
    Bytes image = BuildKxv({a, c}, opt);
    EXPECT_EQ(7, image[8]);
    EXPECT_EQ(9, image[10 + 7]);
    EXPECT_EQ(0xFF, image[10 + 24 + 8]);
}

TEST_F(KxWriters, TextLiterals)
{
    struct CASE {
        std::string strText;
        Bytes expect;
    } cases[] = {
        {"", {0x4D, 0x02, 0x00, '"', '"'}},
        {"say \"hi\"", Cat({{0x4D, 0x0A, 0x00, '\''}, Text("say \"hi\""), {'\''}})},  // the quote moves on
        {"\x83\x5C", {0x4D, 0x04, 0x00, '"', 0x83, 0x5C, '"'}},   // a trail byte 5C is not doubled
        {"\\\x83", {0x4D, 0x04, 0x00, '"', '\\', '\\', '"'}},  // a lone lead byte at the end is left out
    };
    for (const CASE& c : cases) EXPECT_EQ(c.expect, EncodeTextLiteral(c.strText)) << c.strText;
}

TEST_F(KxWriters, Labels)
{
    // MurmurHash2: "abc" 0x13577C9B, "SYSTEM_START" 0x674E0092, "a" 0x92685F5E.
    Bytes image = BuildKxl({{"a", 5, 1, 1, 2, {}, {}}, {"SYSTEM_START", 0, 0, 0, 0, {}, {}}, {"abc", 7, 2, 0, 0, {}, {}}});
    Bytes head = Cat({Fill(8), {0x03, 0x00, 0x00, 0x00}});
    Bytes records = Cat({
        {0x03}, Text("abc"), {0x9B, 0x7C, 0x57, 0x13},       // length, name, hash
        {0x07, 0x00, 0x00, 0x00}, {0x02, 0x00}, {0x00, 0x00},  // command 7, script 2, depths 0 0
        {0x0C}, Text("SYSTEM_START"), {0x92, 0x00, 0x4E, 0x67},
        {0x00, 0x00, 0x00, 0x00}, {0x00, 0x00}, {0x00, 0x00},
        {0x01}, Text("a"), {0x5E, 0x5F, 0x68, 0x92},
        {0x05, 0x00, 0x00, 0x00}, {0x01, 0x00}, {0x01, 0x02},  // if depth 1, loop depth 2
    });
    ASSERT_EQ(head.size() + 1024 + records.size(), image.size());
    EXPECT_EQ(head, Bytes(image.begin(), image.begin() + 12));
    EXPECT_EQ(records, Bytes(image.begin() + 1036, image.end()));
    // Bucket b: the first label whose top byte is b or more; the count when none is.
    for (int b = 0; b < 256; b++) {
        uint32_t expect = b <= 0x13 ? 0 : b <= 0x67 ? 1 : b <= 0x92 ? 2 : 3;
        EXPECT_EQ(expect, U32At(image, 12 + 4 * b)) << "bucket " << b;
    }

    // Equal hashes keep their given order; raw buckets and a raw length byte go in as given.
    KXL_OPTIONS opt;
    opt.rawBuckets.emplace();
    opt.rawBuckets->fill(-1);
    image = BuildKxl({{"x", 1, 0, 0, 0, 0x42000000u, {}}, {"y", 2, 0, 0, 0, 0x42000000u, 200}}, opt);
    EXPECT_EQ(0xFFFFFFFFu, U32At(image, 12));
    EXPECT_EQ('x', image[1037]);
    EXPECT_EQ(200, image[1036 + 14]);
    EXPECT_EQ('y', image[1036 + 15]);
}

TEST_F(KxWriters, EngineConfiguration)
{
    KXCFG cfg;
    cfg.nWidth = 800;
    cfg.nHeight = 600;
    cfg.imageOrder = {EXTCODE_WEBP, EXTCODE_PNG, 0, 9, 0, 0, 0, 7};
    cfg.soundOrder = {EXTCODE_WAV, 0, 0, 0};
    cfg.nThreaded = 1;
    cfg.nDebug = 1;
    cfg.nSoundMode = 2;
    cfg.nResizable = 1;
    cfg.nFramed = 0;
    cfg.nWord60 = 0x1234;
    cfg.nDevSourceOrder = 1;
    cfg.nReleaseSourceOrder = 0x101;
    cfg.strTitle = "T\x83\x5C";
    KXCFG_OPTIONS opt;
    opt.bFill = 0xEE;
    Bytes expect = Cat({
        Fill(16, 0xEE),                  // not read
        {0x20, 0x03, 0x00, 0x00},        // 16: width 800
        {0x58, 0x02, 0x00, 0x00},        // 20: height 600
        {0x01, 0x00, 0x00, 0x00},        // 24: show
        {6, 1, 0, 9, 0, 0, 0, 7},        // 28: image extension order
        {2, 0, 0, 0},                    // 36: sound extension order
        {0x01, 0x00, 0x00, 0x00},        // 40: threaded frames
        {0x01, 0x00, 0x00, 0x00},        // 44: debug
        {0x02, 0x00, 0x00, 0x00},        // 48: sound mode
        {0x01, 0x00, 0x00, 0x00},        // 52: resizable
        {0x00, 0x00, 0x00, 0x00},        // 56: framed
        {0x34, 0x12, 0x00, 0x00},        // 60: stored, unused
        {0x01, 0x00, 0x00, 0x00},        // 64: development source order
        {0x01, 0x01, 0x00, 0x00},        // 68: release source order
        Fill(4, 0xEE),                   // 72: not read
        {0x03, 0x00},                    // 76: title length
        {'T', 0x83, 0x5C},               // 78: title, no terminator
    });
    EXPECT_EQ(expect, BuildKxcfg(cfg, opt));

    opt.rawTitleLength = 129;
    Bytes image = BuildKxcfg(cfg, opt);
    EXPECT_EQ(129, image[76]);
    EXPECT_EQ(81u, image.size());
}

// A body of two commands whose regions are 8, 24, 11 and 8 bytes long.
KX_BODY SmallBody()
{
    KX_BODY body;
    KX_COMMAND_RECORD assign;
    assign.bOpcode = 53;
    assign.args = {{0, 0, EVALTYPE_INT, ARGOP_ADD, 6, 0}};
    KX_COMMAND_RECORD go;
    go.bOpcode = 42;
    go.wWord = 0xBEEF;
    go.args = {{0, 0x77, EVALTYPE_TEXT, ARGOP_SET, 5, 6}};
    body.commands = {assign, go};
    body.expr = {0x48, 0x03, 0x00, 0x00, 0xE8, 0x03,   // variable 1000
                 0x4D, 0x02, 0x00, '"', '"'};          // ""
    body.lines = {10, 12};
    return body;
}

Bytes SmallBodyPlain()
{
    return Cat({
        Fill(8),
        {0x02, 0x00, 0x00, 0x00},   // 2 commands
        {0x08, 0x00, 0x00, 0x00},   // region 1: 8 bytes
        {0x18, 0x00, 0x00, 0x00},   // region 2: 24 bytes
        {0x0B, 0x00, 0x00, 0x00},   // region 3: 11 bytes
        {0x08, 0x00, 0x00, 0x00},   // region 4: 8 bytes
        Fill(4),
        {0x35, 0x01, 0x00, 0x00},   // 32: opcode 53, 1 argument, word 0
        {0x2A, 0x01, 0xEF, 0xBE},   // 36: opcode 42, 1 argument, word 0xBEEF
        {0x00, 0x00, 0x01, 0x01, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},  // 40: id 0, int, "+=", 6 at 0
        {0x00, 0x77, 0x03, 0x00, 0x05, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00},  // 52: id 0, text, 5 at 6
        {0x48, 0x03, 0x00, 0x00, 0xE8, 0x03, 0x4D, 0x02, 0x00, '"', '"'},          // 64: expressions
        {0x0A, 0x00, 0x00, 0x00, 0x0C, 0x00, 0x00, 0x00},                          // 75: lines 10, 12
    });
}

TEST_F(KxWriters, ScriptBody)
{
    KX_BODY_OPTIONS opt;
    opt.bScramble = false;
    Bytes plain = SmallBodyPlain();
    EXPECT_EQ(plain, BuildKxBody(SmallBody(), opt));

    // Scrambled: each region XORed from its own start with EF 44 F2 70.
    Bytes image = BuildKxBody(SmallBody());
    ASSERT_EQ(plain.size(), image.size());
    EXPECT_EQ(Bytes(plain.begin(), plain.begin() + 32), Bytes(image.begin(), image.begin() + 32));
    EXPECT_EQ((Bytes{0xDA, 0x45, 0xF2, 0x70}), Bytes(image.begin() + 32, image.begin() + 36));
    EXPECT_EQ(0x48 ^ 0xEF, image[64]);   // region 3 starts again at key byte 0
    EXPECT_EQ(0x0A ^ 0xEF, image[75]);   // and region 4, after an 11-byte region 3
    // An independent descramble restores the plain image.
    const uint8_t key[4] = {0xEF, 0x44, 0xF2, 0x70};
    size_t pos = 32;
    for (int r = 0; r < 4; r++) {
        uint32_t len = U32At(image, 12 + 4 * r);
        for (uint32_t i = 0; i < len; i++) image[pos + i] ^= key[i % 4];
        pos += len;
    }
    EXPECT_EQ(plain, image);

    // Raw counts and lengths go in as given; the regions stay as they are.
    opt.rawCommandCount = 3;
    opt.rawRegionLength[1] = 1000;
    KX_BODY body = SmallBody();
    body.commands[0].rawArgCount = 4;
    image = BuildKxBody(body, opt);
    EXPECT_EQ(3u, U32At(image, 8));
    EXPECT_EQ(1000u, U32At(image, 16));
    EXPECT_EQ(4, image[33]);
    EXPECT_EQ(plain.size(), image.size());
}

TEST_F(KxWriters, CallCountWord)
{
    // The engine reads ints (w >> 3) & 31, floats ((w & 7) << 2) | (w >> 14), texts (w >> 9) & 31.
    EXPECT_EQ(0x6019, MakeCallCountWord(3, 5, 16));
    for (int n = 0; n <= 16; n++) {
        uint16_t w = MakeCallCountWord(n, n, 16 - n);
        EXPECT_EQ(n, (w >> 3) & 31);
        EXPECT_EQ(n, ((w & 7) << 2) | (w >> 14));
        EXPECT_EQ(16 - n, (w >> 9) & 31);
    }
    EXPECT_EQ("kxbin\\kxt00042.kbn", KxBodyFileName(42));
}

TEST_F(KxWriters, StandardSystemVariables)
{
    std::vector<KXV_DEF> defs = StandardSysVarDefs();
    auto find = [&](int n) -> const KXV_DEF* {
        for (const KXV_DEF& d : defs)
            if (d.nVar == n) return &d;
        return nullptr;
    };
    struct CASE {
        int nVar;
        uint8_t bType;
        std::vector<int32_t> dims;
    } cases[] = {
        {0, VARTYPE_INT, {16}},   {1, VARTYPE_INT, {5}},      {2, VARTYPE_INT, {}},
        {10, VARTYPE_FLOAT, {}},  {12, VARTYPE_TEXT, {9}},    {14, VARTYPE_TEXT, {4096}},
        {50, VARTYPE_INT, {1}},   {51, VARTYPE_FLOAT, {1}},   {52, VARTYPE_TEXT, {1}},
        {53, VARTYPE_INT, {17}},  {54, VARTYPE_FLOAT, {17}},  {55, VARTYPE_TEXT, {17}},
        {59, VARTYPE_INT, {17}},  {62, VARTYPE_TEXT, {17}},   {66, VARTYPE_INT, {17}},
        {68, VARTYPE_FLOAT, {17}}, {69, VARTYPE_TEXT, {17}},  {70, VARTYPE_INT, {1}},
        {107, VARTYPE_TEXT, {}},  {127, VARTYPE_TEXT, {256}}, {131, VARTYPE_TEXT, {}},
        {144, VARTYPE_INT, {1024}}, {275, VARTYPE_INT, {}},   {279, VARTYPE_INT, {16}},
        {280, VARTYPE_INT, {512}}, {409, VARTYPE_INT, {}},    {414, VARTYPE_INT, {512}},
        {546, VARTYPE_INT, {16}}, {547, VARTYPE_INT, {512}},
    };
    for (const CASE& c : cases) {
        const KXV_DEF* p = find(c.nVar);
        ASSERT_NE(nullptr, p) << c.nVar;
        EXPECT_EQ(c.bType, p->bType) << c.nVar;
        EXPECT_EQ(c.dims, p->dims) << c.nVar;
        EXPECT_EQ(VARSCOPE_KEPT, p->bScope);
    }
    for (int n : {16, 47, 71, 102, 548}) EXPECT_EQ(nullptr, find(n)) << n;
}

}  // namespace

// ---- the script builder ---------------------------------------------------------------------------

namespace {

Bytes IntExpr(int8_t v) { return {0x42, 0x01, 0x00, static_cast<uint8_t>(v)}; }   // 'B' literal

const KX_ARG_RECORD& ArgOf(const SCRIPT_BUILDER& b, int nCommand, size_t nArg)
{
    return b.body.commands.at(nCommand).args.at(nArg);
}
Bytes ExprOf(const SCRIPT_BUILDER& b, const KX_ARG_RECORD& a)
{
    return Bytes(b.body.expr.begin() + a.nOffset, b.body.expr.begin() + a.nOffset + a.nLength);
}

TEST(ScriptBuilder, FlowConstructsPatchForwardTargets)
{
    SCRIPT_BUILDER b;
    InitScriptBuilder(&b, 3);
    SetSourceLine(&b, 100);
    ASSERT_EQ(0, AddLabel(&b, "SYSTEM_START"));
    EXPECT_EQ(0, BeginLoop(&b, IntExpr(3)));         // 0 LOOP 3, end -> 11
    EXPECT_EQ(1, BeginIf(&b, IntExpr(0)));           // 1 IF, next -> 4, end -> 10
    EXPECT_EQ(2, EmitBreak(&b));                     // 2 BREAK
    EXPECT_EQ(4, AddElseIf(&b, IntExpr(1)));         // 3 BRANCH-END, 4 ELSE-IF, next -> 7
    ASSERT_EQ(0, AddLabel(&b, "inner"));
    EXPECT_EQ(5, EmitCommand(&b, KXCMD_NOP, {}));    // 5
    EXPECT_EQ(7, AddElse(&b));                       // 6 BRANCH-END, 7 ELSE
    BUILDER_VALUES v;
    v.ints = {IntExpr(1), std::nullopt, IntExpr(3)};
    EXPECT_EQ(8, EmitCall(&b, "sub", v));            // 8 CALL sub(1, , 3)
    EXPECT_EQ(10, EndIf(&b));                        // 9 BRANCH-END, 10 END-IF
    EXPECT_EQ(11, EndLoop(&b));                      // 11 LOOP-END
    EXPECT_EQ(12, EmitGoto(&b, "SYSTEM_START"));     // 12 GOTO
    ASSERT_EQ(0, AddLabel(&b, "sub"));
    BUILDER_VALUES r;
    r.texts = {EncodeTextLiteral("x")};
    EXPECT_EQ(13, EmitReturn(&b, r));                // 13 RETURN "x"
    ASSERT_EQ(0, FinishScriptBody(&b)) << b.strError;

    const uint8_t kOpcodes[] = {55, 44, 56, 45, 11, 0, 45, 11, 43, 45, 48, 58, 42, 79};
    ASSERT_EQ(sizeof kOpcodes, b.body.commands.size());
    for (size_t i = 0; i < sizeof kOpcodes; i++) EXPECT_EQ(kOpcodes[i], b.body.commands[i].bOpcode) << i;

    // Command indices in the length fields.
    EXPECT_EQ(11u, ArgOf(b, 0, 1).nLength);   // LOOP -> LOOP-END
    EXPECT_EQ(4u, ArgOf(b, 1, 1).nLength);    // IF -> next branch head
    EXPECT_EQ(10u, ArgOf(b, 1, 2).nLength);   // IF -> END-IF
    EXPECT_EQ(7u, ArgOf(b, 4, 1).nLength);    // ELSE-IF -> next branch head
    EXPECT_TRUE(b.body.commands[7].args.empty());   // plain ELSE
    EXPECT_TRUE(b.body.commands[2].args.empty());   // BREAK of one level
    EXPECT_EQ(IntExpr(3), ExprOf(b, ArgOf(b, 0, 0)));
    EXPECT_EQ(IntExpr(1), ExprOf(b, ArgOf(b, 4, 0)));

    // The call: label text, items 1 and 3 (item 2 left out), counts 3 / 0 / 0.
    const KX_COMMAND_RECORD& call = b.body.commands[8];
    ASSERT_EQ(3u, call.args.size());
    EXPECT_EQ(0, call.args[0].bId);
    EXPECT_EQ(EVALTYPE_TEXT, call.args[0].bType);
    EXPECT_EQ(EncodeTextLiteral("sub"), ExprOf(b, call.args[0]));
    EXPECT_EQ(1, call.args[1].bId);
    EXPECT_EQ(3, call.args[2].bId);
    EXPECT_EQ(MakeCallCountWord(3, 0, 0), call.wWord);
    // The return: text item 1 is id 32.
    EXPECT_EQ(32, b.body.commands[13].args.at(0).bId);
    EXPECT_EQ(MakeCallCountWord(0, 0, 1), b.body.commands[13].wWord);

    // Labels with the depths that enclose them.
    ASSERT_EQ(3u, b.labels.size());
    struct { const char* pszName; int nCommand, nIf, nLoop; } labels[] = {
        {"SYSTEM_START", 0, 0, 0}, {"inner", 5, 1, 1}, {"sub", 13, 0, 0}};
    for (size_t i = 0; i < 3; i++) {
        EXPECT_EQ(labels[i].pszName, b.labels[i].strName);
        EXPECT_EQ(labels[i].nCommand, b.labels[i].nCommand);
        EXPECT_EQ(labels[i].nIf, b.labels[i].bIfDepth);
        EXPECT_EQ(labels[i].nLoop, b.labels[i].bLoopDepth);
        EXPECT_EQ(3, b.labels[i].nScript);
    }
    // One source line per command, counting up from the line set.
    ASSERT_EQ(14u, b.body.lines.size());
    EXPECT_EQ(100u, b.body.lines[0]);
    EXPECT_EQ(113u, b.body.lines[13]);
}

TEST(ScriptBuilder, IfWithoutElseHasNoNextBranch)
{
    SCRIPT_BUILDER b;
    InitScriptBuilder(&b, 0);
    BeginIf(&b, IntExpr(1));   // 0 IF
    BeginIf(&b, IntExpr(1));   // 1 IF (nested)
    ASSERT_EQ(0, AddLabel(&b, "deep"));
    EndIf(&b);                 // 2 BRANCH-END, 3 END-IF
    EndIf(&b);                 // 4 BRANCH-END, 5 END-IF
    ASSERT_EQ(0, FinishScriptBody(&b)) << b.strError;
    EXPECT_EQ(0u, ArgOf(b, 0, 1).nLength);
    EXPECT_EQ(5u, ArgOf(b, 0, 2).nLength);
    EXPECT_EQ(0u, ArgOf(b, 1, 1).nLength);
    EXPECT_EQ(3u, ArgOf(b, 1, 2).nLength);
    EXPECT_EQ(2, b.labels[0].bIfDepth);
}

TEST(ScriptBuilder, TargetsAndRawRecords)
{
    SCRIPT_BUILDER b;
    InitScriptBuilder(&b, 0);
    int back = NewTarget(&b);
    ASSERT_EQ(0, PlaceTarget(&b, back));
    EmitCommand(&b, KXCMD_NOP, {});
    int fwd = NewTarget(&b);
    EmitCommand(&b, KXCMD_LOOP, {ExprArg(0, IntExpr(2)), TargetArg(1, back), TargetArg(2, fwd)});
    EXPECT_EQ(0u, ArgOf(b, 1, 1).nLength);            // a backward target is written at once
    EXPECT_EQ(1u, b.patches.size());                  // the forward one waits
    ASSERT_EQ(0, SetTarget(&b, fwd, 0x10000005));     // any value, e.g. a bound-label form
    EXPECT_EQ(0x10000005u, ArgOf(b, 1, 2).nLength);

    // A raw record goes in as given: an offset and length beyond the expression region.
    KX_COMMAND_RECORD raw;
    raw.bOpcode = 200;
    raw.args = {{7, 0, 9, 9, 0xFFFFFFF0u, 0x7FFFFFFFu}};
    raw.rawArgCount = 40;
    EXPECT_EQ(2, EmitRawCommand(&b, raw));
    EXPECT_EQ(0xFFFFFFF0u, ArgOf(b, 2, 0).nLength);
    EXPECT_EQ(40, *b.body.commands[2].rawArgCount);
    EXPECT_EQ(0, FinishScriptBody(&b)) << b.strError;

    // Misuse is refused with a message.
    struct CASE {
        const char* pszWhat;
        int (*pfn)(SCRIPT_BUILDER*);
    } cases[] = {
        {"end-if", [](SCRIPT_BUILDER* p) { return EndIf(p); }},
        {"else", [](SCRIPT_BUILDER* p) { return AddElse(p); }},
        {"loop-end", [](SCRIPT_BUILDER* p) { return EndLoop(p); }},
        {"end-if in a loop", [](SCRIPT_BUILDER* p) { BeginLoop(p, IntExpr(1)); return EndIf(p); }},
        {"else after else", [](SCRIPT_BUILDER* p) { BeginIf(p, IntExpr(1)); AddElse(p); return AddElse(p); }},
        {"open loop", [](SCRIPT_BUILDER* p) { BeginLoop(p, IntExpr(1)); return FinishScriptBody(p); }},
        {"17 values", [](SCRIPT_BUILDER* p) { BUILDER_VALUES v; v.ints.resize(17); return EmitReturn(p, v); }},
    };
    for (const CASE& c : cases) {
        SCRIPT_BUILDER m;
        InitScriptBuilder(&m, 0);
        EXPECT_EQ(-1, c.pfn(&m)) << c.pszWhat;
        EXPECT_FALSE(m.strError.empty()) << c.pszWhat;
    }
}

}  // namespace

// ---- the command table and whole games -----------------------------------------------------------

namespace {

// The canonical kxc.kbn walks to its exact end with the bounded cursor, as a loader reads it.
TEST(CommandTable, CanonicalTableReadsBack)
{
    Bytes image = BuildKxc(CanonicalCommandTable());
    BIN_CURSOR cur;
    InitBinCursor(&cur, image.data(), image.size());
    int32_t nCommands = 0;
    ASSERT_EQ(0, SkipBytes(&cur, 8));
    ASSERT_EQ(0, ReadI32(&cur, &nCommands));
    ASSERT_EQ(0, SkipBytes(&cur, 4));
    ASSERT_EQ(KX_COMMAND_COUNT, nCommands);
    std::vector<std::string> names;
    std::vector<std::vector<std::pair<uint8_t, uint8_t>>> kinds(nCommands);
    for (int c = 0; c < nCommands; c++) {
        const char* psz;
        uint8_t nArgs;
        ASSERT_EQ(0, ReadCStr(&cur, &psz, nullptr));
        names.push_back(psz);
        ASSERT_EQ(0, ReadU8(&cur, &nArgs));
        for (int a = 0; a < nArgs; a++) {
            uint8_t bValue, bCheck;
            ReadCStr(&cur, &psz, nullptr);
            ReadU8(&cur, &bValue);
            ReadU8(&cur, &bCheck);
            kinds[c].push_back({bValue, bCheck});
        }
        ASSERT_EQ(0, cur.bFailed);
    }
    for (int i = 0; i < KXC_ERRNO_TEXTS; i++) {
        const char* psz;
        ASSERT_EQ(0, ReadCStr(&cur, &psz, nullptr));
        EXPECT_EQ("errno " + std::to_string(i), psz);
    }
    const uint8_t* pMap;
    ASSERT_EQ(0, ReadSpan(&cur, KXC_KEY_MAP_SIZE, &pMap));
    EXPECT_EQ(65, pMap[65]);
    EXPECT_EQ(0u, CursorRemaining(&cur));

    EXPECT_EQ("goto", names[KXCMD_GOTO]);
    EXPECT_EQ("unused120", names[120]);
    // Records that hold command indices are never evaluated.
    EXPECT_EQ(ARGKIND_RAW, kinds[KXCMD_IF].at(1).first);
    EXPECT_EQ(ARGKIND_RAW, kinds[KXCMD_IF].at(2).first);
    EXPECT_EQ(ARGKIND_RAW, kinds[KXCMD_ELSE].at(1).first);
    EXPECT_EQ(ARGKIND_RAW, kinds[KXCMD_LOOP].at(1).first);
    // Call: 49 ids (label, 16 ints, 16 doubles kept raw, 16 texts); return: 48.
    ASSERT_EQ(49u, kinds[KXCMD_GOSUB].size());
    EXPECT_EQ(ARGKIND_TEXT, kinds[KXCMD_GOSUB][0].first);
    EXPECT_EQ(ARGKIND_INT, kinds[KXCMD_GOSUB][16].first);
    EXPECT_EQ(ARGKIND_RAW, kinds[KXCMD_GOSUB][17].first);
    EXPECT_EQ(ARGKIND_TEXT, kinds[KXCMD_GOSUB][48].first);
    ASSERT_EQ(48u, kinds[KXCMD_RETURN].size());
    EXPECT_EQ(ARGKIND_RAW, kinds[KXCMD_RETURN][16].first);
    EXPECT_EQ(ARGKIND_TEXT, kinds[KXCMD_RETURN][32].first);
}

TEST(GameFiles, LooseAndPacked)
{
    GAME_DATA game = DefaultGameData();
    game.defs.push_back(MakeIntVarDef(1500, 1));
    game.errors = {{100010, "x"}};
    for (int s = 0; s < 2; s++) {
        SCRIPT_BUILDER b;
        InitScriptBuilder(&b, 77);   // the script index comes from the position in the game
        AddLabel(&b, s == 0 ? "SYSTEM_START" : "other");
        EmitCommand(&b, KXCMD_NOP, {});
        ASSERT_EQ(0, FinishScriptBody(&b));
        game.scripts.push_back(ScriptFromBuilder(s == 0 ? "main.txt" : "other.txt", b));
    }
    std::vector<GAME_FILE> files = BuildGameFiles(game);
    std::vector<std::string> names;
    for (const GAME_FILE& f : files) names.push_back(f.strName);
    EXPECT_EQ((std::vector<std::string>{"kxbin\\kxcfg.kbn", "kxbin\\kxe.kbn", "kxbin\\kxc.kbn", "kxbin\\kxt.kbn",
                                        "kxbin\\kxt_list.kbn", "kxbin\\kxv.kbn", "kxbin\\kxl.kbn",
                                        "kxbin\\kxt00000.kbn", "kxbin\\kxt00001.kbn"}),
              names);
    EXPECT_EQ(1500u, U32At(files[3].data, 8));   // the highest variable defined
    // The labels carry their script's position: "other" (0x..) and SYSTEM_START.
    const Bytes& kxl = files[6].data;
    ASSERT_EQ(2u, U32At(kxl, 8));
    size_t pos = 1036;
    for (int i = 0; i < 2; i++) {
        uint8_t m = kxl[pos];
        std::string name(kxl.begin() + pos + 1, kxl.begin() + pos + 1 + m);
        uint16_t nScript = kxl[pos + 1 + m + 8] | (kxl[pos + 1 + m + 9] << 8);
        EXPECT_EQ(name == "SYSTEM_START" ? 0 : 1, nScript) << name;
        pos += 13 + m;
    }

    TEMP_DIR dir;
    ASSERT_EQ(0, WriteGameFolder(dir.strNative, files));
    EXPECT_EQ(std::string(files[8].data.begin(), files[8].data.end()), dir.Read("kxbin/kxt00001.kbn"));
    EXPECT_EQ(std::string(files[0].data.begin(), files[0].data.end()), dir.Read("kxbin/kxcfg.kbn"));

    ASSERT_EQ(0, WriteGamePack(dir.strNative + "/pack/data.kpf", files));
    std::string packed = dir.Read("pack/data.kpf");
    Bytes image(packed.begin(), packed.end());
    std::vector<PACK_TABLE_ENTRY> table;
    ASSERT_EQ(0, ReadPackTable(image.data(), image.size(), &table));
    ASSERT_EQ(files.size(), table.size());
    for (size_t i = 0; i < files.size(); i++) {
        EXPECT_EQ(files[i].strName, table[i].strName);
        int64_t llAt = FindPackEntryDataOffset(image, i);
        ASSERT_GE(llAt, 0);
        EXPECT_EQ(files[i].data, Bytes(image.begin() + llAt, image.begin() + llAt + files[i].data.size()));
    }
}

}  // namespace

// ---- definitions walked by the engine's variable store -------------------------------------------

namespace {

// Reads a text literal as the engine's evaluator does (quote, doubled backslashes, lead bytes
// carrying their trail byte): enough for the initial texts of definitions.
int DecodeLiteral(const uint8_t* pb, size_t nLen, char* pszOut)
{
    if (nLen < 5 || pb[0] != 'M') return -1;
    size_t nPayload = pb[1] | (pb[2] << 8);
    if (nPayload + 3 > nLen || nPayload < 2) return -1;
    const uint8_t* p = pb + 3;
    uint8_t q = p[0];
    size_t n = 0;
    for (size_t i = 1; i < nPayload && p[i] != q; i++) {
        if (p[i] >= 0x81 && (p[i] <= 0x9F || p[i] >= 0xE0) && i + 1 < nPayload) {
            pszOut[n++] = static_cast<char>(p[i++]);
            pszOut[n++] = static_cast<char>(p[i]);
        } else if (p[i] == '\\' && i + 1 < nPayload) {
            pszOut[n++] = static_cast<char>(p[++i]);
        } else {
            pszOut[n++] = static_cast<char>(p[i]);
        }
    }
    pszOut[n] = 0;
    return static_cast<int>(n);
}

TEST_F(KxWriters, DefinitionsApplyInTheVariableStore)
{
    std::vector<KXV_DEF> defs = StandardSysVarDefs();
    defs.push_back(MakeIntVarDef(1000, -2, {2, 3}));
    KXV_DEF local = MakeFloatVarDef(1001, 1.5);
    local.bScope = VARSCOPE_SCRIPT;
    local.nScript = 4;
    defs.push_back(local);
    defs.push_back(MakeTextVarDef(1002, "a\\b\x83\x5C", {2}));
    Bytes image = BuildKxv(defs);

    ASSERT_EQ(0, CreateVarTable(1100));
    g_pfnEvalVarDefText = DecodeLiteral;
    g_pVarDefs = image.data();
    g_nVarDefsBytes = image.size();
    EXPECT_EQ(0, ApplyVarDefRecords(-1, nullptr));
    VAR_DESC* p = GetVarDesc(1000);
    EXPECT_EQ(KX_VAR_TYPE_INT, p->bType);
    ASSERT_EQ(6, p->llCount);
    EXPECT_EQ(-2, p->pllValues[5]);
    EXPECT_EQ(KX_VAR_TYPE_NONE, GetVarDesc(1001)->bType);   // script 4's own: not yet
    p = GetVarDesc(1002);
    ASSERT_EQ(2, p->llCount);
    EXPECT_STREQ("a\\b\x83\x5C", p->ppszTexts[1]);
    p = GetVarDesc(14);
    EXPECT_EQ(KX_VAR_TYPE_STRING, p->bType);
    EXPECT_EQ(4096, p->llCount);
    EXPECT_EQ(KX_VAR_TYPE_INT, GetVarDesc(547)->bType);
    EXPECT_EQ(512, GetVarDesc(547)->llCount);
    EXPECT_EQ(KX_VAR_TYPE_FLOAT, GetVarDesc(10)->bType);
    EXPECT_EQ(0, ApplyVarDefRecords(4, nullptr));
    EXPECT_EQ(1.5, GetVarDesc(1001)->pdValues[0]);
}

}  // namespace
