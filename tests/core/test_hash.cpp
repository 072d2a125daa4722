#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/kx_format_consts.h"
#include "core/kx_hash.h"

namespace {

struct HASH_CASE {
    std::string strKey;
    uint32_t nSeed;
    uint32_t nExpected;
};

TEST(MurmurHash2, ReferenceVectors)
{
    const HASH_CASE cases[] = {
        {"", 0, 0x00000000u},
        {"a", 0, 0x92685F5Eu},
        {"abc", 0, 0x13577C9Bu},
        {"abcd", 0, 0x26873021u},
        {"SYSTEM_START", 0, 0x674E0092u},
        {"SYSTEM", 0, 0x33A82D2Au},
        {"kxbin\\kxc.kbn", 0, 0xB25AFA6Cu},
        {"kxbin\\kxcfg.kbn", 0, 0xA8AFDD15u},
        // Tail bytes of 0x80 and above must be read unsigned.
        {std::string("\x82\xA0\x82\xA2\x82", 5), 0, 0x7E4B71ECu},
        {"abc", 0x9747B28Cu, 0x1C94221Bu},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MurmurHash2(c.strKey.data(), c.strKey.size(), c.nSeed), c.nExpected) << c.strKey;
        if (c.nSeed == 0 && c.strKey.find('\0') == std::string::npos) {
            EXPECT_EQ(HashName(c.strKey.c_str()), c.nExpected) << c.strKey;
        }
    }
}

TEST(MurmurHash2, SameResultAtEveryAlignment)
{
    const char text[] = "kxbin\\some_longer_file_name.kbn";
    const size_t n = sizeof text - 1;
    const uint32_t expected = MurmurHash2(text, n, 0);
    std::vector<unsigned char> buf(n + 8);
    for (size_t off = 0; off < 8; ++off) {
        memcpy(buf.data() + off, text, n);
        EXPECT_EQ(MurmurHash2(buf.data() + off, n, 0), expected) << "offset " << off;
    }
}

TEST(CRC32, VectorsAndContinuation)
{
    EXPECT_EQ(ComputeCRC32("", 0), 0u);
    EXPECT_EQ(ComputeCRC32("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(ComputeCRC32(KX_SCRIPT_KEY_TEXT, strlen(KX_SCRIPT_KEY_TEXT)), KX_SCRIPT_KEY_CRC);

    const char text[] = "The quick brown fox jumps over the lazy dog";
    const size_t n = sizeof text - 1;
    EXPECT_EQ(ComputeCRC32(text, n), 0x414FA339u);
    for (size_t cut : {size_t{0}, size_t{1}, size_t{17}, n}) {
        uint32_t crc = UpdateCRC32(0, text, cut);
        crc = UpdateCRC32(crc, text + cut, n - cut);
        EXPECT_EQ(crc, 0x414FA339u) << "cut " << cut;
    }
}

}  // namespace
