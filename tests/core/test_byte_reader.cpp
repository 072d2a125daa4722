#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/byte_reader.h"

namespace {

// A 10-byte image: 01 02 .. 0A.
std::vector<uint8_t> Ramp() { return {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}; }

enum { R_U8, R_U16, R_I32, R_U32, R_I64, R_F64, R_BYTES, R_SPAN, R_SKIP };

// Reads of every width from a position: each succeeds exactly when it ends at or before the end.
TEST(ByteReader, ReadsAtTheEdge)
{
    struct CASE {
        int nKind;
        size_t nWidth;
    } cases[] = {{R_U8, 1}, {R_U16, 2}, {R_I32, 4}, {R_U32, 4}, {R_I64, 8},
                 {R_F64, 8}, {R_BYTES, 3}, {R_SPAN, 3}, {R_SKIP, 3}};
    std::vector<uint8_t> image = Ramp();
    for (const CASE& c : cases) {
        for (size_t nStart = 0; nStart <= image.size(); nStart++) {
            SCOPED_TRACE(testing::Message() << "kind " << c.nKind << " at " << nStart);
            BIN_CURSOR cur;
            InitBinCursor(&cur, image.data(), image.size());
            ASSERT_EQ(0, SeekCursor(&cur, nStart));
            bool bFits = nStart + c.nWidth <= image.size();
            uint64_t value = 0xDEADBEEF;
            uint8_t abOut[3] = {0xEE, 0xEE, 0xEE};
            const uint8_t* pSpan = nullptr;
            int r = -2;
            switch (c.nKind) {
            case R_U8: { uint8_t v; r = ReadU8(&cur, &v); value = v; break; }
            case R_U16: { uint16_t v; r = ReadU16(&cur, &v); value = v; break; }
            case R_I32: { int32_t v; r = ReadI32(&cur, &v); value = static_cast<uint32_t>(v); break; }
            case R_U32: { uint32_t v; r = ReadU32(&cur, &v); value = v; break; }
            case R_I64: { int64_t v; r = ReadI64(&cur, &v); value = static_cast<uint64_t>(v); break; }
            case R_F64: { double v; r = ReadF64(&cur, &v); std::memcpy(&value, &v, 8); break; }
            case R_BYTES: r = ReadBytes(&cur, abOut, 3); value = abOut[0] | (abOut[1] << 8) | (abOut[2] << 16); break;
            case R_SPAN: r = ReadSpan(&cur, 3, &pSpan); value = pSpan ? (pSpan[0] | (pSpan[1] << 8) | (pSpan[2] << 16)) : 0; break;
            case R_SKIP: r = SkipBytes(&cur, 3); value = 0; break;
            }
            if (bFits) {
                EXPECT_EQ(0, r);
                EXPECT_EQ(nStart + c.nWidth, cur.nPos);
                EXPECT_EQ(0, cur.bFailed);
                uint64_t expect = 0;   // little-endian: the byte at the lowest offset is the lowest
                if (c.nKind != R_SKIP)
                    for (size_t i = 0; i < c.nWidth; i++) expect |= static_cast<uint64_t>(image[nStart + i]) << (8 * i);
                EXPECT_EQ(expect, value);
            } else {
                EXPECT_EQ(-1, r);
                EXPECT_EQ(nStart, cur.nPos);   // the position stays
                EXPECT_EQ(1, cur.bFailed);
                EXPECT_EQ(0u, value);          // the output is zeroed
                EXPECT_EQ(0u, CursorRemaining(&cur));
            }
        }
    }
}

TEST(ByteReader, SignedValuesAndDoubles)
{
    const uint8_t image[] = {0xFE, 0xFF, 0xFF, 0xFF,                          // -2
                             0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x80,  // INT64_MIN + 0x00FF..FF
                             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF8, 0x3F}; // 1.5
    BIN_CURSOR cur;
    InitBinCursor(&cur, image, sizeof image);
    int32_t n;
    int64_t ll;
    double d;
    EXPECT_EQ(0, ReadI32(&cur, &n));
    EXPECT_EQ(-2, n);
    EXPECT_EQ(0, ReadI64(&cur, &ll));
    EXPECT_EQ(static_cast<int64_t>(0x80FFFFFFFFFFFFFFull), ll);
    EXPECT_EQ(0, ReadF64(&cur, &d));
    EXPECT_EQ(1.5, d);
    EXPECT_EQ(0u, CursorRemaining(&cur));
}

// The failure flag is sticky: a read that would fit fails after an earlier failure.
TEST(ByteReader, FailureIsSticky)
{
    std::vector<uint8_t> image = Ramp();
    BIN_CURSOR cur;
    InitBinCursor(&cur, image.data(), image.size());
    int64_t ll;
    ASSERT_EQ(0, SkipBytes(&cur, 4));
    EXPECT_EQ(-1, ReadI64(&cur, &ll));   // 4 + 8 > 10
    uint8_t b = 0x55;
    EXPECT_EQ(-1, ReadU8(&cur, &b));
    EXPECT_EQ(0, b);
    EXPECT_EQ(-1, SeekCursor(&cur, 0));
    EXPECT_EQ(4u, cur.nPos);

    InitBinCursor(&cur, image.data(), image.size());
    EXPECT_EQ(-1, SeekCursor(&cur, 11));  // beyond the end
    EXPECT_EQ(1, cur.bFailed);
    InitBinCursor(&cur, image.data(), image.size());
    EXPECT_EQ(0, SeekCursor(&cur, 10));   // the end itself
    EXPECT_EQ(-1, SkipBytes(&cur, SIZE_MAX));
}

TEST(ByteReader, TextsEndInsideTheImage)
{
    const char image[] = {'a', 'b', 0, 0, 'x', 'y'};   // "ab", "", then "xy" without a terminator
    BIN_CURSOR cur;
    InitBinCursor(&cur, image, sizeof image);
    const char* psz = nullptr;
    size_t nLen = 99;
    ASSERT_EQ(0, ReadCStr(&cur, &psz, &nLen));
    EXPECT_STREQ("ab", psz);
    EXPECT_EQ(2u, nLen);
    EXPECT_EQ(image, psz);   // points into the image
    ASSERT_EQ(0, ReadCStr(&cur, &psz, &nLen));
    EXPECT_STREQ("", psz);
    EXPECT_EQ(4u, cur.nPos);
    EXPECT_EQ(-1, ReadCStr(&cur, &psz, &nLen));
    EXPECT_EQ(nullptr, psz);
    EXPECT_EQ(0u, nLen);
    EXPECT_EQ(4u, cur.nPos);

    InitBinCursor(&cur, image, sizeof image);
    ASSERT_EQ(0, SeekCursor(&cur, sizeof image));
    EXPECT_EQ(-1, ReadCStr(&cur, &psz, nullptr));   // at the end: no text at all
}

TEST(ByteReader, EmptyImage)
{
    BIN_CURSOR cur;
    InitBinCursor(&cur, nullptr, 0);
    const uint8_t* p = reinterpret_cast<const uint8_t*>(1);
    EXPECT_EQ(0, ReadSpan(&cur, 0, &p));
    EXPECT_EQ(0, SkipBytes(&cur, 0));
    uint8_t b;
    EXPECT_EQ(-1, ReadU8(&cur, &b));
    EXPECT_EQ(1, cur.bFailed);
}

}  // namespace
