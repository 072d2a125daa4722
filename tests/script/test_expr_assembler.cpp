// The expression assembler: exact bytes of a few expressions, literal widths, and texts that come
// back unchanged through the evaluator whatever quotes, backslashes and cp932 characters they hold.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "script/evaluator.h"
#include "tests/support/test_support.h"
#include "tools/lib/expr_assembler.h"

namespace {
typedef std::vector<uint8_t> CODE;
}

TEST(ExprAssembler, PinnedBytes)
{
    CODE sum;   // a + 1 (a = 1000)
    ExprAsmVar(sum, 1000);
    ExprAsmInt(sum, 1);
    ExprAsmOp(sum, '+');
    EXPECT_EQ(sum, (CODE{0x48, 0x03, 0x00, 0x00, 0xE8, 0x03, 0x42, 0x01, 0x00, 0x01, 0x2B, 0x00, 0x00}));

    CODE elem;  // b[1, 2] (b = 1001)
    ExprAsmElement(elem, 1001, {1, 2});
    EXPECT_EQ(elem, (CODE{0x56, 0x03, 0x00, 0x00, 0xE9, 0x03, 0x42, 0x01, 0x00, 0x01, 0x2C, 0x00, 0x00,
                          0x42, 0x01, 0x00, 0x02, 0x29, 0x00, 0x00}));

    EXPECT_EQ(MakeExprText("ab"), (CODE{0x4D, 0x04, 0x00, 0x22, 0x61, 0x62, 0x22}));

    CODE ref;   // #c, `c and the whole variable c (c = 1002)
    ExprAsmVar(ref, 1002, EXPR_PREFIX_HASH);
    ExprAsmVar(ref, 1002, EXPR_PREFIX_BACKQUOTE);
    ExprAsmVarRef(ref, 1002);
    EXPECT_EQ(ref, (CODE{0x48, 0x03, 0x00, 0x23, 0xEA, 0x03, 0x48, 0x03, 0x00, 0x60, 0xEA, 0x03,
                         0x76, 0x03, 0x00, 0x00, 0xEA, 0x03}));

    EXPECT_EQ(MakeExprDouble(1.5), (CODE{0x46, 0x08, 0x00, 0, 0, 0, 0, 0, 0, 0xF8, 0x3F}));
}

TEST(ExprAssembler, IntegerWidths)
{
    const struct { int64_t v; CODE code; } cases[] = {
        {-128, {'B', 1, 0, 0x80}},
        {127, {'B', 1, 0, 0x7F}},
        {-129, {'W', 2, 0, 0x7F, 0xFF}},
        {32767, {'W', 2, 0, 0xFF, 0x7F}},
        {32768, {'I', 4, 0, 0x00, 0x80, 0x00, 0x00}},
        {-2147483648LL, {'I', 4, 0, 0x00, 0x00, 0x00, 0x80}},
        {2147483648LL, {'L', 8, 0, 0x00, 0x00, 0x00, 0x80, 0, 0, 0, 0}},
        {INT64_MIN, {'L', 8, 0, 0, 0, 0, 0, 0, 0, 0, 0x80}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MakeExprInt(c.v), c.code) << c.v;
        EXPECT_EQ(EvalExprInt(c.code.data(), static_cast<uint32_t>(c.code.size())), c.v) << c.v;
    }
}

TEST(ExprAssembler, TextsComeBackUnchanged)
{
    std::string all;   // every byte that can stand alone but '~'
    for (int c = 1; c < 256; ++c)
        if (c != '~' && !(c >= 0x81 && c <= 0x9F) && !(c >= 0xE0 && c <= 0xFC)) all += static_cast<char>(c);
    const std::string texts[] = {
        "",
        "plain",
        "say \"hi\"",
        "it's \"both\"",
        "back\\slash\\\\n",
        "\\",
        Cp932("ソ表能\\予"),        // trail bytes 0x5C are not doubled
        Cp932("引用\"と'混在"),
        "tab\tand\nline",
        all,
        all + Cp932("表"),
    };
    for (const auto& t : texts) {
        CODE code;
        ASSERT_EQ(ExprAsmText(code, t), 0) << t;
        char buf[KX_EXPR_TEXT_BUFFER];
        ERROR_RECORDER errors;
        const int n = EvalExprString(buf, sizeof buf, code.data(), static_cast<uint32_t>(code.size()));
        EXPECT_EQ(std::string(buf, static_cast<size_t>(n)), t);
        EXPECT_TRUE(errors.reports.empty());
    }
    // The quote is '"' unless the text holds one; backslashes are doubled.
    EXPECT_EQ(MakeExprText("a\"b\\"), (CODE{'M', 7, 0, '\'', 'a', '"', 'b', '\\', '\\', '\''}));
    // '~' is the only byte left for the quote of `all`; with it too no quote remains.
    EXPECT_EQ(MakeExprText(all)[3], '~');
    CODE none;
    EXPECT_EQ(ExprAsmText(none, all + "~"), -1);
    EXPECT_TRUE(none.empty());
    // A lead byte without its trail byte at the end is left out.
    EXPECT_EQ(MakeExprText("ab\x83"), MakeExprText("ab"));
}
