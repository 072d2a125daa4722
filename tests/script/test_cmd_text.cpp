// The message text buffer and the text commands run from a compiled game folder: literal and
// expression pieces with their cp932 width codes, the 8190-byte limits of each kind, over-long
// expression texts, the text end with its marks and the clear at the thread's next turn, and a full
// set of width codes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "root/startup.h"
#include "core/engine_globals.h"
#include "core/engine_hooks.h"
#include "core/errors.h"
#include "core/frame_loop.h"
#include "core/object_tree.h"
#include "core/pack_archive.h"
#include "platform/plat_file.h"
#include "script/dispatch.h"
#include "script/evaluator.h"
#include "script/script_tables.h"
#include "core/script_thread.h"
#include "script/text_buffer.h"
#include "script/variables.h"
#include "tests/support/script_game_fixture.h"
#include "tests/support/test_support.h"
#include "tools/lib/command_table.h"
#include "tools/lib/expr_assembler.h"
#include "tools/lib/script_builder.h"

namespace {

const int kPark = 1000000;   // frames of the wait that ends every test script

// A game folder whose script 0 starts at "SYSTEM_START" with the commands a test emits, then a
// long wait; the SYSTEM thread placed there and the text buffer created and connected as start-up
// does.
class TextCmdTest : public SCRIPT_GAME_FIXTURE {
protected:
    void SetUp() override
    {
        OpenScriptGame();
        if (HasFatalFailure()) return;
        g_EngineHooks.pfnCreateTextBuffer();
        ASSERT_NE(g_pTextBuffer, nullptr);
    }
    void TearDown() override
    {
        CloseScriptGame();
        FreeTextBuffer();
    }

    void Append(const std::string& strLiteral)
    {
        ASSERT_GE(EmitCommand(&b, KXCMD_TEXT_APPEND, {ExprArg(0, EXPR_BYTES(strLiteral.begin(), strLiteral.end()))}), 0);
    }
    void AppendExpr(const EXPR_BYTES& expr, uint8_t bType)
    {
        ASSERT_GE(EmitCommand(&b, KXCMD_TEXT_APPEND_EXPR, {ExprArg(0, expr, bType)}), 0);
    }
    // The text end's record: its first four bytes and its length field are the two marks.
    void TextEnd(int32_t nMark1, int32_t nMark2)
    {
        KX_COMMAND_RECORD rec;
        rec.bOpcode = KXCMD_TEXT_END;
        KX_ARG_RECORD r;
        const uint32_t dw = static_cast<uint32_t>(nMark1);
        r.bId = static_cast<uint8_t>(dw);
        r.bSpare = static_cast<uint8_t>(dw >> 8);
        r.bType = static_cast<uint8_t>(dw >> 16);
        r.bOp = static_cast<uint8_t>(dw >> 24);
        r.nLength = static_cast<uint32_t>(nMark2);
        rec.args.push_back(r);
        EmitRawCommand(&b, rec);
    }
    void Start() { StartParked(kPark); }
    bool Parked() const { return System()->nWaitFrames > kPark - 5; }
    static std::string Text() { return std::string(g_pTextBuffer->pszText, static_cast<size_t>(g_pTextBuffer->nTextLen)); }
    static std::string Codes() { return std::string(g_pTextBuffer->pszCodes, static_cast<size_t>(g_pTextBuffer->nCodeCount)); }
    void ExpectConsistent() const
    {
        EXPECT_EQ(std::strlen(g_pTextBuffer->pszText), static_cast<size_t>(g_pTextBuffer->nTextLen));
        EXPECT_EQ(std::strlen(g_pTextBuffer->pszCodes), static_cast<size_t>(g_pTextBuffer->nCodeCount));
    }
};

TEST_F(TextCmdTest, NewBufferHoldsTheStyleDefaultsAndNoText)
{
    const TEXT_BUFFER& t = *g_pTextBuffer;
    EXPECT_EQ(t.nSize, 20);
    EXPECT_EQ(t.nHeight, 20);
    EXPECT_EQ(t.nColorA, 0xFFFFFF);
    EXPECT_EQ(t.nColorB, -1);
    EXPECT_EQ(t.bGradient, 1);
    EXPECT_EQ(t.bAntialias, 1);
    EXPECT_EQ(t.bOrientation + t.bBold + t.bTransparent + t.bClearPending, 0);
    EXPECT_EQ(t.nTextLen, 0);
    EXPECT_EQ(t.nCodeCount, 0);
    EXPECT_EQ(t.pszText[0], '\0');
    EXPECT_EQ(t.pszCodes[0], '\0');
}

// Literals keep every byte and count a lead byte with its trail as one double-width character;
// expressions write integers in decimal, doubles with six decimals, and texts with control bytes,
// half-width katakana and a lone lead byte turned into blanks.
TEST_F(TextCmdTest, PiecesAppendWithTheirWidthCodes)
{
    Append("abc");
    AppendExpr(MakeExprInt(-12), EVALTYPE_INT);
    AppendExpr(MakeExprDouble(1.5), EVALTYPE_FLOAT);
    Append("\x82\xA0\t\xB1");                                    // あ, a tab, half-width katakana
    AppendExpr(MakeExprText("\x82\xA2" "a\tb\xB1"), EVALTYPE_TEXT);   // い a tab b katakana
    AppendExpr(MakeExprInt(7), EVALTYPE_TEXT_FLOAT);             // appends nothing
    Append("z\x82");                                             // a lead byte ends the literal
    Start();
    Pass();
    ASSERT_TRUE(Parked());
    EXPECT_TRUE(errors.reports.empty());
    EXPECT_EQ(Text(), "abc-121.500000\x82\xA0\t\xB1\x82\xA2" "a b z\x82");
    EXPECT_EQ(Codes(), "111111" "11111111" "211" "21111" "11");
    ExpectConsistent();
}

// A literal may fill the text to exactly 8190 bytes, one byte more is 102000; an expression is
// refused once the text would reach 8190 bytes. Refused pieces leave the buffer as it was.
TEST_F(TextCmdTest, EachPieceKindStopsAtItsLimit)
{
    struct CASE {
        size_t nFill;      // literal bytes first
        bool bExpr;        // then an expression "1", else a literal "1"
        bool bAccepted;
    };
    const CASE cases[] = {
        {8189, false, true}, {8190, false, false}, {8188, true, true}, {8189, true, false},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(std::to_string(c.nFill) + (c.bExpr ? " expr" : " literal"));
        TearDown();
        SetUp();
        errors.reports.clear();
        Append(std::string(c.nFill, 'x'));
        if (c.bExpr)
            AppendExpr(MakeExprInt(1), EVALTYPE_INT);
        else
            Append("1");
        Start();
        Pass();
        EXPECT_EQ(Parked(), c.bAccepted);
        EXPECT_EQ(static_cast<size_t>(g_pTextBuffer->nTextLen), c.nFill + (c.bAccepted ? 1 : 0));
        EXPECT_EQ(static_cast<size_t>(g_pTextBuffer->nCodeCount), c.nFill + (c.bAccepted ? 1 : 0));
        ExpectConsistent();
        if (c.bAccepted) {
            EXPECT_TRUE(errors.reports.empty());
        } else {
            ASSERT_EQ(errors.reports.size(), 1u);
            EXPECT_EQ(errors.reports[0].nId, 102000);
            EXPECT_EQ(errors.reports[0].bFatal, 1);
        }
        g_bEngineStop = 0;
    }
}

// An expression text longer than 1024 bytes is 102030 and nothing is appended.
TEST_F(TextCmdTest, LongExpressionTextIsRefused)
{
    Append("ab");
    AppendExpr(MakeExprText(std::string(2000, 'q')), EVALTYPE_TEXT);
    Start();
    Pass();
    ASSERT_EQ(errors.reports.size(), 1u);
    EXPECT_EQ(errors.reports[0].nId, 102030);
    EXPECT_EQ(errors.reports[0].bFatal, 1);
    EXPECT_EQ(Text(), "ab");
    EXPECT_EQ(Codes(), "11");
}

// The text end stores its marks in the thread, closes the codes with "E" and ends the turn; the
// thread's next turn starts with an empty buffer, and what it appends then stays.
TEST_F(TextCmdTest, TextEndClearsAtTheThreadsNextTurn)
{
    Append("hi");
    TextEnd(-7, 123456);
    Append("x");
    ASSERT_GE(EmitCommand(&b, KXCMD_TEXT_END, {}), 0);   // no record: both marks 0
    Start();

    Pass();
    EXPECT_EQ(System()->anTextEnd[0], -7);
    EXPECT_EQ(System()->anTextEnd[1], 123456);
    EXPECT_EQ(System()->bTextClearRequest, 1);
    EXPECT_EQ(Text(), "hi");
    EXPECT_EQ(Codes(), "11E");
    EXPECT_EQ(System()->nPC, 2);

    Pass();
    EXPECT_EQ(Text(), "x");
    EXPECT_EQ(Codes(), "1E");
    EXPECT_EQ(System()->anTextEnd[0], 0);
    EXPECT_EQ(System()->anTextEnd[1], 0);
    ExpectConsistent();

    Pass();
    EXPECT_TRUE(Parked());
    EXPECT_EQ(Text(), "");
    EXPECT_EQ(Codes(), "");
    EXPECT_EQ(g_pTextBuffer->bClearPending, 0);
    EXPECT_TRUE(errors.reports.empty());
}

// Text ends add codes without text, so the codes can fill up before the text does: the last free
// code is kept for the terminator, further ends add no mark and further pieces are 102000.
TEST_F(TextCmdTest, FullWidthCodesAreNeverOverrun)
{
    TextEnd(1, 1);
    Append("y");
    Start();
    std::memset(g_pTextBuffer->pszCodes, '1', KX_TEXT_BUFFER_BYTES - 1);
    g_pTextBuffer->nCodeCount = KX_TEXT_BUFFER_BYTES - 1;
    Pass();
    EXPECT_EQ(g_pTextBuffer->nCodeCount, KX_TEXT_BUFFER_BYTES - 1);
    EXPECT_EQ(g_pTextBuffer->pszCodes[KX_TEXT_BUFFER_BYTES - 1], '\0');
    g_pTextBuffer->bClearPending = 0;   // as if the message had been rewritten through its variable
    Pass();
    ASSERT_EQ(errors.reports.size(), 1u);
    EXPECT_EQ(errors.reports[0].nId, 102000);
    EXPECT_EQ(g_pTextBuffer->nTextLen, 0);
}

TEST(TextBufferHooks, InstallConnectsCreateAndClear)
{
    const ENGINE_HOOKS saved = g_EngineHooks;
    g_EngineHooks = ENGINE_HOOKS{};
    InstallEngineParts();
    ASSERT_NE(g_EngineHooks.pfnCreateTextBuffer, nullptr);
    ASSERT_NE(g_EngineHooks.pfnClearTextBuffer, nullptr);
    g_EngineHooks.pfnCreateTextBuffer();
    ASSERT_NE(g_pTextBuffer, nullptr);
    std::memcpy(g_pTextBuffer->pszText, "abc", 4);
    g_pTextBuffer->nTextLen = 3;
    g_EngineHooks.pfnClearTextBuffer();   // nothing pending: kept
    EXPECT_EQ(g_pTextBuffer->nTextLen, 3);
    g_pTextBuffer->bClearPending = 1;
    g_EngineHooks.pfnClearTextBuffer();
    EXPECT_EQ(g_pTextBuffer->nTextLen, 0);
    EXPECT_EQ(g_pTextBuffer->pszText[0], '\0');
    FreeTextBuffer();
    EXPECT_EQ(g_pTextBuffer, nullptr);
    g_EngineHooks = saved;
}

}  // namespace
