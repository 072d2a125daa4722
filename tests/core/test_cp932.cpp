#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/cp932.h"
#include "core/kx_texts.h"
#include "platform/plat_text.h"

namespace {

// A heap copy of exactly the text and its terminator, so that any read past the end is caught by
// AddressSanitizer.
std::unique_ptr<char[]> ExactCopy(const std::string& s)
{
    std::unique_ptr<char[]> p(new char[s.size() + 1]);
    memcpy(p.get(), s.c_str(), s.size() + 1);
    return p;
}

TEST(Cp932, LeadByteTable)
{
    int count = 0;
    for (int c = 0; c < 256; ++c)
        count += IsLeadByte(static_cast<unsigned char>(c));
    EXPECT_EQ(count, 31 + 29);
    for (int c : {0x81, 0x9F, 0xE0, 0xFC})
        EXPECT_EQ(IsLeadByte(static_cast<unsigned char>(c)), 1) << c;
    for (int c : {0x00, 0x5C, 0x80, 0xA0, 0xDF, 0xFD, 0xFF})
        EXPECT_EQ(IsLeadByte(static_cast<unsigned char>(c)), 0) << c;
}

TEST(Cp932, WalkStopsAtTerminator)
{
    auto text = ExactCopy("a\x82\xA0" "b\x82");   // a, one double-byte char, b, a lead byte before NUL
    const char* p = text.get();
    const int expected[] = {1, 2, 1, 1, 0, 0};
    for (int len : expected) {
        EXPECT_EQ(CharLenCp932(p), len);
        p = NextCharCp932(p);
    }
    EXPECT_EQ(p, text.get() + 5);
}

struct COPY_CASE {
    const char* pszName;
    std::string strSrc;
    size_t cap;
    std::string strExpected;
};

TEST(Cp932, CopyTextBoundedCutsAtWholeCharacters)
{
    const COPY_CASE cases[] = {
        {"fits", "abc", 4, "abc"},
        {"ascii cut", "abc", 3, "ab"},
        {"only terminator", "abc", 1, ""},
        {"double-byte straddles the cap", "a\x82\xA0", 3, "a"},
        {"double-byte fits exactly", "a\x82\xA0", 4, "a\x82\xA0"},
        {"double-byte at the start straddles", "\x95\x5C" "x", 2, ""},
        {"lead byte before NUL fits", "ab\x82", 4, "ab\x82"},
        {"lead byte before NUL cut", "ab\x82", 3, "ab"},
        {"0x5C trail kept with its lead", "\x95\x5C\x95\x5C", 4, "\x95\x5C"},
    };
    for (const auto& c : cases) {
        auto src = ExactCopy(c.strSrc);
        std::unique_ptr<char[]> dst(new char[c.cap]);   // exactly cap bytes
        size_t n = CopyTextBounded(dst.get(), c.cap, src.get());
        EXPECT_EQ(std::string(dst.get()), c.strExpected) << c.pszName;
        EXPECT_EQ(n, c.strExpected.size()) << c.pszName;
    }
    char untouched = 'x';
    EXPECT_EQ(CopyTextBounded(&untouched, 0, "abc"), 0u);
    EXPECT_EQ(untouched, 'x');
}

TEST(Cp932, BoundedCopyOfCountedText)
{
    char dst[8];
    // n limits the source; a NUL inside it ends the text earlier.
    EXPECT_EQ(CopyTextBoundedN(dst, sizeof dst, "abcdef", 3), 3u);
    EXPECT_STREQ(dst, "abc");
    EXPECT_EQ(CopyTextBoundedN(dst, sizeof dst, "ab\0cd", 5), 2u);
    EXPECT_STREQ(dst, "ab");
    // A counted text of 3 bytes cut to a cap of 3 keeps two whole characters.
    EXPECT_EQ(CopyTextBoundedN(dst, 3, "a\x82\xA0zz", 3), 1u);
    EXPECT_STREQ(dst, "a");
    // A source without a terminator is read no further than n.
    std::unique_ptr<char[]> raw(new char[4]);
    memcpy(raw.get(), "wxyz", 4);
    EXPECT_EQ(CopyTextBoundedN(dst, sizeof dst, raw.get(), 4), 4u);
    EXPECT_STREQ(dst, "wxyz");
}

TEST(Cp932, AppendAndCut)
{
    char buf[6] = "ab";
    EXPECT_EQ(AppendTextBounded(buf, 5, "c\x82\xA0"), 3u);   // the double-byte char would need 6
    EXPECT_STREQ(buf, "abc");
    char buf2[6] = "ab";
    EXPECT_EQ(AppendTextBounded(buf2, 6, "c\x82\xA0"), 5u);
    EXPECT_STREQ(buf2, "abc\x82\xA0");

    const char text[] = "a\x82\xA0" "b";
    EXPECT_EQ(CutAtCharBoundary(text, 4, 2), 1u);
    EXPECT_EQ(CutAtCharBoundary(text, 4, 3), 3u);
    EXPECT_EQ(CutAtCharBoundary(text, 4, 100), 4u);
    EXPECT_EQ(CutAtCharBoundary(text, 4, 0), 0u);
}

TEST(Cp932, CaseFoldingAndSlashesLeaveTrailBytes)
{
    // 0x83 0x41 and 0x83 0x61 have trail bytes that look like 'A' and 'a'; 0x95 0x5C has a trail
    // byte that looks like '\'.
    auto lower = ExactCopy("\x83\x41" "BC/\x95\x5C" "D\x82");
    LowerCaseASCII(lower.get());
    EXPECT_STREQ(lower.get(), "\x83\x41" "bc/\x95\x5C" "d\x82");

    auto upper = ExactCopy("\x83\x61" "ab");
    UpperCaseASCII(upper.get());
    EXPECT_STREQ(upper.get(), "\x83\x61" "AB");

    auto path = ExactCopy("\x95\x5C/dir/\x83\x41" "a/");
    SlashesToBackslashes(path.get());
    EXPECT_STREQ(path.get(), "\x95\x5C\\dir\\\x83\x41" "a\\");
}

TEST(Cp932, CompareNoCase)
{
    EXPECT_EQ(CompareNoCaseASCII("KxBin\\A.kbn", "kxbin\\a.KBN"), 0);
    EXPECT_NE(CompareNoCaseASCII("\x83\x41", "\x83\x61"), 0);   // trail bytes compare exactly
    EXPECT_LT(CompareNoCaseASCII("a", "B"), 0);
    EXPECT_GT(CompareNoCaseASCII("A", "_"), 0);   // letters fold to lower case, like _stricmp
    EXPECT_LT(CompareNoCaseASCII("ab", "abc"), 0);
    EXPECT_GT(CompareNoCaseASCII("\x82\xA0", "a"), 0);   // bytes compare unsigned
    EXPECT_EQ(CompareNoCaseASCIIN("abcX", "ABCy", 3), 0);
    EXPECT_NE(CompareNoCaseASCIIN("abcX", "ABCy", 4), 0);
}

TEST(Cp932, FindFileNamePart)
{
    const struct { const char* pszPath; const char* pszName; } cases[] = {
        {"dir\\sub/file.png", "file.png"},
        {"dir\\\x95\x5Cname", "\x95\x5Cname"},   // the trail byte 0x5C is no separator
        {"\x95\x5C", "\x95\x5C"},
        {"plain", "plain"},
        {"dir\\", ""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(FindFileNamePart(c.pszPath), c.pszName) << c.pszPath;
}

TEST(EngineTexts, ConvertedOnceToCp932)
{
    // "メモリ不足です。" in cp932.
    EXPECT_STREQ(GetEngineText(TXT_ERR_100010),
                 "\x83\x81\x83\x82\x83\x8A\x95\x73\x91\xAB\x82\xC5\x82\xB7\x81\x42");
    EXPECT_STREQ(GetEngineText(-1), "");
    EXPECT_STREQ(GetEngineText(KX_TEXT_COUNT), "");

    // Every text of the table has a cp932 form that converts back to the same UTF-8.
    const char* const apszUtf8[KX_TEXT_COUNT] = {
#define KX_TEXT(id, utf8) utf8,
#include "core/kx_texts.inc"
#undef KX_TEXT
    };
    for (int i = 0; i < KX_TEXT_COUNT; ++i)
        EXPECT_EQ(PlatCp932ToUtf8String(GetEngineText(i)), apszUtf8[i]) << "text " << i;
}

TEST(EngineTexts, SamePointersFromEveryThread)
{
    // The first use races from several threads; each must see the one converted table.
    std::vector<const char*> seen(4);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back([&seen, i] { seen[i] = GetEngineText(TXT_ERR_HEADER); });
    for (auto& t : threads)
        t.join();
    for (const char* p : seen)
        EXPECT_EQ(p, GetEngineText(TXT_ERR_HEADER));
}

}  // namespace
