#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "core/kx_math.h"

namespace {

constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

TEST(Math64, DivisionNeverTraps)
{
    const struct { int64_t a, b, div, mod; } cases[] = {
        {7, 2, 3, 1},
        {-7, 2, -3, -1},        // truncation toward zero, remainder with the dividend's sign
        {7, -2, -3, 1},
        {kMin, -1, kMin, 0},    // the one quotient that does not fit
        {kMin, 1, kMin, 0},
        {kMax, -1, -kMax, 0},
        {kMin, kMin, 1, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DivInt64(c.a, c.b, 99), c.div) << c.a << " / " << c.b;
        EXPECT_EQ(ModInt64(c.a, c.b, 99), c.mod) << c.a << " % " << c.b;
    }
    EXPECT_EQ(DivInt64(5, 0, 0), 0);
    EXPECT_EQ(DivInt64(5, 0, 5), 5);
    EXPECT_EQ(ModInt64(kMin, 0, -3), -3);
}

TEST(Math64, WrappingArithmetic)
{
    EXPECT_EQ(AddInt64(kMax, 1), kMin);
    EXPECT_EQ(SubInt64(kMin, 1), kMax);
    EXPECT_EQ(MulInt64(kMax, 2), -2);
    EXPECT_EQ(MulInt64(kMin, -1), kMin);
    EXPECT_EQ(NegInt64(kMin), kMin);
    EXPECT_EQ(NegInt64(5), -5);
    // Shift counts are taken modulo 64, like the x86 instructions.
    EXPECT_EQ(ShlInt64(1, 63), kMin);
    EXPECT_EQ(ShlInt64(1, 64), 1);
    EXPECT_EQ(ShlInt64(3, -1), kMin);   // count 63: only the low bit survives
    EXPECT_EQ(ShlInt64(-1, 1), -2);
    EXPECT_EQ(SarInt64(-8, 1), -4);
    EXPECT_EQ(SarInt64(-1, 63), -1);
    EXPECT_EQ(SarInt64(kMin, 65), kMin / 2);
}

TEST(Math64, DoubleToInt64)
{
    const double inf = std::numeric_limits<double>::infinity();
    const struct { double d; int64_t expected; } cases[] = {
        {2.9, 2},
        {-2.9, -2},
        {0.0, 0},
        {-0.0, 0},
        {9223372036854774784.0, 9223372036854774784LL},   // largest double below 2^63
        {9223372036854775808.0, kMin},                    // 2^63 does not fit
        {-9223372036854775808.0, kMin},                   // -2^63 fits exactly
        {1e300, kMin},
        {-1e300, kMin},
        {inf, kMin},
        {-inf, kMin},
        {std::nan(""), kMin},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DoubleToInt64(c.d), c.expected) << c.d;
}

TEST(MathText, FormatNumbers)
{
    char buf[32];
    EXPECT_EQ(FormatInt64(buf, sizeof buf, kMin), 20);
    EXPECT_STREQ(buf, "-9223372036854775808");
    EXPECT_EQ(FormatInt64(buf, sizeof buf, 0), 1);
    EXPECT_STREQ(buf, "0");
    EXPECT_EQ(FormatInt64(buf, 3, 12345), 2);   // bounded, terminated
    EXPECT_STREQ(buf, "12");

    const struct { double d; const char* pszText; } cases[] = {
        {1.5, "1.500000"},
        {-0.0000005, "-0.000000"},   // 5e-7 is just below the half: rounds down, keeps the sign
        {2.0 / 3.0, "0.666667"},
        {1e20, "100000000000000000000.000000"},
        {std::numeric_limits<double>::infinity(), "inf"},
        {-std::numeric_limits<double>::infinity(), "-inf"},
        {std::nan(""), "nan"},
    };
    for (const auto& c : cases) {
        char out[400];
        int n = FormatDouble(out, sizeof out, c.d);
        EXPECT_STREQ(out, c.pszText);
        EXPECT_EQ(n, static_cast<int>(strlen(c.pszText)));
        char ref[400];
        snprintf(ref, sizeof ref, "%f", c.d);
        EXPECT_STREQ(out, ref);
    }
    char big[400];
    int n = FormatDouble(big, sizeof big, -1.7976931348623157e308);
    EXPECT_EQ(n, 1 + 309 + 7);
}

TEST(MathText, ParseInt64)
{
    const struct { const char* psz; int64_t v; size_t stop; } cases[] = {
        {"123", 123, 3},
        {"  \t-42x", -42, 6},
        {"+7", 7, 2},
        {"--1", 0, 0},           // nothing parsed: the stop position is the start
        {"1-2", 1, 1},
        {"", 0, 0},
        {"-", 0, 0},
        {"9223372036854775807", kMax, 19},
        {"-9223372036854775808", kMin, 20},
        {"9223372036854775808", kMin, 19},   // overflow wraps
        {"18446744073709551617", 1, 20},
    };
    for (const auto& c : cases) {
        const char* pEnd = nullptr;
        EXPECT_EQ(ParseInt64(c.psz, &pEnd), c.v) << c.psz;
        EXPECT_EQ(static_cast<size_t>(pEnd - c.psz), c.stop) << c.psz;
    }
    EXPECT_EQ(ParseInt64("5", nullptr), 5);
}

TEST(MathText, ParseDouble)
{
    const struct { const char* psz; double v; size_t stop; } cases[] = {
        {"1.5", 1.5, 3},
        {" -2.25e2z", -225.0, 8},
        {"+.5", 0.5, 3},
        {"1.2.3", 1.2, 3},
        {".", 0.0, 0},
        {"abc", 0.0, 0},
        {"--1", 0.0, 0},
        {"7e", 7.0, 1},
        {"1e400", std::numeric_limits<double>::infinity(), 5},
        {"-1e400", -std::numeric_limits<double>::infinity(), 6},
        {"1e-400", 0.0, 6},
    };
    for (const auto& c : cases) {
        const char* pEnd = nullptr;
        EXPECT_EQ(ParseDouble(c.psz, &pEnd), c.v) << c.psz;
        EXPECT_EQ(static_cast<size_t>(pEnd - c.psz), c.stop) << c.psz;
    }
}

TEST(MathRand, MsvcSequence)
{
    // The first outputs of the original runtime's rand after srand(1) and srand(0).
    MsvcSrand(1);
    const int afterOne[] = {41, 18467, 6334, 26500, 19169};
    for (int v : afterOne)
        EXPECT_EQ(MsvcRand(), v);
    MsvcSrand(0);
    const int afterZero[] = {38, 7719, 21238, 2437, 8855};
    for (int v : afterZero)
        EXPECT_EQ(MsvcRand(), v);
}

}  // namespace
