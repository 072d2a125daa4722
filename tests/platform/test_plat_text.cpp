// cp932 <-> UTF-8 conversion at the system boundary.
#include "platform/plat_text.h"

#include <gtest/gtest.h>
#include <cstring>

namespace {

struct ROUND_TRIP_CASE {
    const char* pszCp932;
    const char* pszUtf8;
};

// Characters whose trail byte is 0x5C ('\') and the single-byte forms that differ between
// code pages are the ones a naive conversion breaks.
const ROUND_TRIP_CASE s_aRoundTrip[] = {
    {"abc", "abc"},
    {"\x83\x5C\x81\x5B\x83\x58", "ソース"},
    {"\x95\x5C\x8E\x86", "表紙"},
    {"\xFA\x5C", "纊"},
    {"\x87\x40", "①"},
    {"\xB1\xB2", "ｱｲ"},
    {"a\\b~c", "a\\b~c"},
    {"\x83\x41" "B\x83\x43" "C", "アBイC"},
    {"", ""},
};

TEST(PlatText, RoundTripsThroughBothDirections)
{
    for (const ROUND_TRIP_CASE& c : s_aRoundTrip) {
        char buf[64];
        EXPECT_EQ(PlatCp932ToUtf8(c.pszCp932, buf, sizeof buf), (int)strlen(c.pszUtf8)) << c.pszUtf8;
        EXPECT_STREQ(buf, c.pszUtf8);
        EXPECT_EQ(PlatUtf8ToCp932(c.pszUtf8, buf, sizeof buf), (int)strlen(c.pszCp932)) << c.pszUtf8;
        EXPECT_STREQ(buf, c.pszCp932);
        EXPECT_EQ(PlatCp932ToUtf8String(c.pszCp932), c.pszUtf8);
        EXPECT_EQ(PlatUtf8ToCp932String(c.pszUtf8), c.pszCp932);
        EXPECT_EQ(PlatUtf8FitsCp932(c.pszUtf8), 1);
    }
}

TEST(PlatText, CutsAtAWholeCharacterWhenTheBufferIsFull)
{
    struct CUT_CASE {
        int bToUtf8;
        const char* pszSrc;
        size_t cap;
        const char* pszExpect;
    };
    const CUT_CASE aCases[] = {
        {0, "アイウ", 7, "\x83\x41\x83\x43\x83\x45"},
        {0, "アイウ", 6, "\x83\x41\x83\x43"},   // the third character would leave no room for NUL
        {0, "アイウ", 5, "\x83\x41\x83\x43"},
        {0, "アイウ", 2, ""},
        {0, "アイウ", 1, ""},
        {1, "\x83\x41\x83\x43", 7, "アイ"},
        {1, "\x83\x41\x83\x43", 6, "ア"},
        {1, "\x83\x41\x83\x43", 4, "ア"},
        {1, "\x83\x41\x83\x43", 3, ""},
        {1, "a\x83\x41", 3, "a"},
    };
    for (const CUT_CASE& c : aCases) {
        char buf[16];
        memset(buf, 'X', sizeof buf);
        int n = c.bToUtf8 ? PlatCp932ToUtf8(c.pszSrc, buf, c.cap) : PlatUtf8ToCp932(c.pszSrc, buf, c.cap);
        EXPECT_EQ(n, (int)strlen(c.pszExpect)) << c.pszSrc << " cap " << c.cap;
        EXPECT_STREQ(buf, c.pszExpect) << c.pszSrc << " cap " << c.cap;
        EXPECT_EQ(buf[c.cap], 'X');   // nothing written past the buffer
    }
    char untouched = 'X';
    EXPECT_EQ(PlatUtf8ToCp932("abc", &untouched, 0), 0);
    EXPECT_EQ(untouched, 'X');
}

TEST(PlatText, UnconvertibleInputFailsOrBecomesQuestionMarks)
{
    struct BAD_CASE {
        int bToUtf8;
        const char* pszSrc;
        const char* pszBefore;   // what the buffer form keeps
        const char* pszString;   // the string form
    };
    const BAD_CASE aCases[] = {
        {0, "A😀B", "A", "A?B"},             // no cp932 form: one '?' for the whole character
        {0, "A\xC3" "B", "A", "A?B"},          // broken UTF-8
        {0, "é", "", "?"},
        {1, "A\x85\x40" "B", "A", "A?B"},     // an unassigned double-byte code
        {1, "A\xA0" "B", "A", "A?B"},         // an unassigned single byte
        {1, "A\x83", "A", "A?"},              // a lead byte at the end of the text
    };
    for (const BAD_CASE& c : aCases) {
        char buf[32];
        int n = c.bToUtf8 ? PlatCp932ToUtf8(c.pszSrc, buf, sizeof buf) : PlatUtf8ToCp932(c.pszSrc, buf, sizeof buf);
        EXPECT_EQ(n, -1) << c.pszString;
        EXPECT_STREQ(buf, c.pszBefore);
        std::string s = c.bToUtf8 ? PlatCp932ToUtf8String(c.pszSrc) : PlatUtf8ToCp932String(c.pszSrc);
        EXPECT_EQ(s, c.pszString);
        if (!c.bToUtf8) {
            EXPECT_EQ(PlatUtf8FitsCp932(c.pszSrc), 0);
        }
    }
}

TEST(PlatText, LongTextsConvertWhole)
{
    std::string strUtf8, strCp932;
    for (int i = 0; i < 3000; i++) {
        strUtf8 += "表ソa";
        strCp932 += "\x95\x5C\x83\x5C" "a";
    }
    EXPECT_EQ(PlatUtf8ToCp932String(strUtf8.c_str()), strCp932);
    EXPECT_EQ(PlatCp932ToUtf8String(strCp932.c_str()), strUtf8);
}

}  // namespace
