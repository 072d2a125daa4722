#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/kx_hash.h"
#include "tests/support/test_support.h"
#include "tools/lib/pack_writer.h"

namespace {

uint32_t U32At(const std::vector<uint8_t>& v, size_t pos)
{
    return v[pos] | (v[pos + 1] << 8) | (v[pos + 2] << 16) | (static_cast<uint32_t>(v[pos + 3]) << 24);
}
uint64_t U64At(const std::vector<uint8_t>& v, size_t pos)
{
    return U32At(v, pos) | (static_cast<uint64_t>(U32At(v, pos + 4)) << 32);
}
uint16_t U16At(const std::vector<uint8_t>& v, size_t pos) { return static_cast<uint16_t>(v[pos] | (v[pos + 1] << 8)); }

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

std::vector<uint8_t> Pattern(size_t n, uint32_t seed)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; i++) {
        seed = seed * 214013u + 2531011u;
        v[i] = static_cast<uint8_t>(seed >> 16);
    }
    return v;
}

PACK_WRITER_ENTRY Entry(const std::string& strName, std::vector<uint8_t> data)
{
    PACK_WRITER_ENTRY e;
    e.strName = strName;
    e.data = std::move(data);
    return e;
}

// A packed entry decoded by hand from its bytes.
struct DECODED {
    uint32_t nHash;
    uint8_t bLengthByte;
    std::string strName;
    int nType, nCompression;
    int32_t nSize, nStored;
    int64_t llOffset;
    uint32_t nChecksum;
    size_t nNext;
};
DECODED DecodeEntry(const std::vector<uint8_t>& image, size_t pos, size_t nLength)
{
    DECODED d{};
    d.nHash = U32At(image, pos);
    d.bLengthByte = image[pos + 4];
    for (size_t i = 0; i < nLength; i++) d.strName += static_cast<char>(~image[pos + 5 + i] ^ 0xC5);
    size_t p = pos + 5 + nLength;
    d.nType = image[p];
    d.nCompression = image[p + 1];
    d.nSize = static_cast<int32_t>(U32At(image, p + 2));
    d.nStored = static_cast<int32_t>(U32At(image, p + 6));
    d.llOffset = static_cast<int64_t>(U64At(image, p + 10));
    d.nChecksum = U32At(image, p + 18);
    d.nNext = p + 22;
    return d;
}

}  // namespace

TEST(PackWriter, HeaderAndEntriesFollowTheFormat)
{
    std::vector<uint8_t> first = Bytes("hello, pack");
    std::vector<uint8_t> second = Pattern(100, 7);
    std::vector<PACK_WRITER_ENTRY> entries = {Entry("kxbin\\KXC.kbn", first), Entry("bg\\Title.PNG", second)};
    entries[1].bRepairTrailer = false;
    std::vector<uint8_t> image = BuildPackImage(entries);

    const size_t nTable = (27 + 13) + (27 + 12);
    ASSERT_GE(image.size(), 32 + nTable);
    EXPECT_EQ(std::memcmp(image.data(), "KPF\0", 4), 0);
    EXPECT_EQ(U32At(image, 4), 234u);
    EXPECT_EQ(U32At(image, 8), 2u);
    EXPECT_EQ(U32At(image, 12), nTable);
    EXPECT_EQ(std::vector<uint8_t>(image.begin() + 16, image.begin() + 32), std::vector<uint8_t>(16, 0));

    // Length 13 maps to itself (stored 255 - 13); length 12 is swapped with 77 (stored 255 - 77).
    DECODED a = DecodeEntry(image, 32, 13);
    EXPECT_EQ(a.nHash, 0xB25AFA6Cu);   // of "kxbin\kxc.kbn": the name is lower-cased for the hash only
    EXPECT_EQ(a.bLengthByte, 242);
    EXPECT_EQ(image[37], 0x51);        // 'k' stored as ~0x6B ^ 0xC5
    EXPECT_EQ(a.strName, "kxbin\\KXC.kbn");
    EXPECT_EQ(a.nType, 0);
    EXPECT_EQ(a.nCompression, 0);
    EXPECT_EQ(a.nSize, 11);
    EXPECT_EQ(a.nStored, 11);
    EXPECT_EQ(a.llOffset, static_cast<int64_t>(32 + nTable));
    EXPECT_EQ(a.nChecksum, MurmurHash2(first.data(), first.size(), 0));

    DECODED b = DecodeEntry(image, a.nNext, 12);
    EXPECT_EQ(b.nNext, 32 + nTable);
    EXPECT_EQ(b.nHash, MurmurHash2("bg\\title.png", 12, 0));
    EXPECT_EQ(b.bLengthByte, 178);
    EXPECT_EQ(b.strName, "bg\\Title.PNG");
    EXPECT_EQ(b.nType, 2);
    EXPECT_EQ(b.nSize, 100);
    EXPECT_EQ(b.nStored, 100);
    // The first entry's data, then its trailer: P, N = 1, one block check and 1024 parity bytes.
    EXPECT_EQ(b.llOffset, a.llOffset + 11 + 8 + 2 + 1024);
    EXPECT_EQ(b.nChecksum, MurmurHash2(second.data(), second.size(), 0));

    EXPECT_EQ(std::vector<uint8_t>(image.begin() + a.llOffset, image.begin() + a.llOffset + 11), first);
    EXPECT_EQ(std::vector<uint8_t>(image.begin() + b.llOffset, image.begin() + b.llOffset + 100), second);
    // Without a repair trailer: P = 0 and N = 0, nothing after them.
    ASSERT_EQ(image.size(), static_cast<size_t>(b.llOffset) + 100 + 8);
    EXPECT_EQ(U32At(image, b.llOffset + 100), 0u);
    EXPECT_EQ(U32At(image, b.llOffset + 104), 0u);
    EXPECT_EQ(FindPackEntryDataOffset(image, 0), a.llOffset);
    EXPECT_EQ(FindPackEntryDataOffset(image, 1), b.llOffset);
    EXPECT_EQ(FindPackEntryDataOffset(image, 2), -1);
}

TEST(PackWriter, TypeCodesComeFromTheExtensionWithoutCase)
{
    const struct {
        const char* pszName;
        int nType;
    } kCases[] = {
        {"a.bmp", 1}, {"a.PNG", 2}, {"a.jpg", 3}, {"a.Gif", 4},  {"se\\x.WAV", 5}, {"a.ogg", 6},
        {"a.psd", 7}, {"a.kcg", 8}, {"a.psb", 9}, {"a.WebP", 10}, {"a.jpeg", 0},    {"png", 0},
        {"a.png.txt", 0},
    };
    for (const auto& c : kCases) {
        std::vector<uint8_t> image = BuildPackImage({Entry(c.pszName, {1})});
        size_t nLength = std::strlen(c.pszName);
        EXPECT_EQ(DecodeEntry(image, 32, nLength).nType, c.nType) << c.pszName;
    }
    // An explicit type is kept whatever the name says: a KCG picture under a .png name.
    PACK_WRITER_ENTRY e = Entry("a.png", {1});
    e.nType = 8;
    EXPECT_EQ(DecodeEntry(BuildPackImage({e}), 32, 5).nType, 8);
}

TEST(PackWriter, RepairTrailerOfTwoAndAHalfBlocks)
{
    std::vector<uint8_t> data = Pattern(2560, 11);
    std::vector<uint8_t> image = BuildPackImage({Entry("data.bin", data), Entry("next.bin", {9})});
    int64_t llData = FindPackEntryDataOffset(image, 0);
    ASSERT_GT(llData, 0);
    size_t t = static_cast<size_t>(llData) + 2560;
    EXPECT_EQ(U32At(image, t), 1024u);
    EXPECT_EQ(U32At(image, t + 4), 3u);
    const size_t kBlockLen[3] = {1024, 1024, 512};
    for (size_t j = 0; j < 3; j++) {
        uint32_t crc = static_cast<uint32_t>(crc32(0, data.data() + j * 1024, static_cast<uInt>(kBlockLen[j])));
        EXPECT_EQ(U16At(image, t + 8 + 2 * j), crc & 0xFFFF) << "block " << j;
    }
    size_t p = t + 8 + 6;
    for (size_t i = 0; i < 1024; i++) {
        uint8_t x = data[i] ^ data[1024 + i] ^ (i < 512 ? data[2048 + i] : 0);
        ASSERT_EQ(image[p + i], x) << "parity byte " << i;
    }
    // The next entry's data starts right after the parity bytes.
    EXPECT_EQ(FindPackEntryDataOffset(image, 1), static_cast<int64_t>(p + 1024));
}

TEST(PackWriter, CompressedEntryInflatesToTheData)
{
    std::vector<uint8_t> data;
    for (int i = 0; i < 400; i++) {
        std::string line = "line " + std::to_string(i % 17) + " of a text that repeats\n";
        data.insert(data.end(), line.begin(), line.end());
    }
    PACK_WRITER_ENTRY e = Entry("scenario.txt", data);
    e.nCompression = 1;
    std::vector<uint8_t> image = BuildPackImage({e});
    DECODED d = DecodeEntry(image, 32, 12);
    EXPECT_EQ(d.nCompression, 1);
    EXPECT_EQ(d.nSize, static_cast<int32_t>(data.size()));
    ASSERT_GT(d.nStored, 0);
    ASSERT_LT(d.nStored, d.nSize);
    std::vector<uint8_t> stored(image.begin() + d.llOffset, image.begin() + d.llOffset + d.nStored);
    EXPECT_EQ(d.nChecksum, MurmurHash2(stored.data(), stored.size(), 0));
    std::vector<uint8_t> out(data.size());
    uLongf nOut = out.size();
    ASSERT_EQ(uncompress(out.data(), &nOut, stored.data(), static_cast<uLong>(stored.size())), Z_OK);
    EXPECT_EQ(nOut, data.size());
    EXPECT_EQ(out, data);
    // The trailer covers the stored (compressed) bytes.
    size_t t = static_cast<size_t>(d.llOffset + d.nStored);
    EXPECT_EQ(U32At(image, t + 4), static_cast<uint32_t>((d.nStored + 1023) / 1024));
    uInt nFirst = static_cast<uInt>(std::min<size_t>(1024, stored.size()));
    EXPECT_EQ(U16At(image, t + 8), crc32(0, stored.data(), nFirst) & 0xFFFF);
}

TEST(PackWriter, EachRawOptionChangesOnlyItsField)
{
    // One entry "a\b.wav" (7 bytes): hash 32, length byte 36, name 37..43, type 44, compression 45,
    // size 46, stored size 50, offset 54, checksum 62; data at 66 (3000 bytes); trailer P at 3066, N at 3070.
    const PACK_WRITER_ENTRY base = Entry("a\\b.wav", Pattern(3000, 3));
    const std::vector<uint8_t> sound = BuildPackImage({base});
    ASSERT_EQ(sound.size(), 66u + 3000 + 8 + 6 + 1024);
    ASSERT_EQ(FindPackEntryDataOffset(sound, 0), 66);

    const struct {
        const char* pszWhat;
        std::function<void(PACK_WRITER_ENTRY&, PACK_WRITER_OPTIONS&)> change;
        size_t nPos;
        std::vector<uint8_t> expected;
    } kCases[] = {
        {"magic", [](auto&, auto& o) { o.strMagic = "KPX"; }, 0, {'K', 'P', 'X', 0}},
        {"version", [](auto&, auto& o) { o.nVersion = 233; }, 4, {233, 0, 0, 0}},
        {"entry count", [](auto&, auto& o) { o.nRawEntryCount = 0x10203; }, 8, {3, 2, 1, 0}},
        {"table size", [](auto&, auto& o) { o.nRawTableSize = 1000; }, 12, {0xE8, 3, 0, 0}},
        {"hash", [](auto& e, auto&) { e.bRawHash = true; e.nRawHash = 0x12345678; }, 32, {0x78, 0x56, 0x34, 0x12}},
        {"length byte", [](auto& e, auto&) { e.nRawStoredLengthByte = 0; }, 36, {0}},
        {"compression", [](auto& e, auto&) { e.nRawCompression = 7; }, 45, {7}},
        {"size", [](auto& e, auto&) { e.llRawSize = 0xFFFFFFFF; }, 46, {0xFF, 0xFF, 0xFF, 0xFF}},
        {"stored size", [](auto& e, auto&) { e.llRawStoredSize = 0x80000000; }, 50, {0, 0, 0, 0x80}},
        {"offset", [](auto& e, auto&) { e.llRawOffset = 0x100000042; }, 54, {0x42, 0, 0, 0, 1, 0, 0, 0}},
        {"checksum", [](auto& e, auto&) { e.llRawChecksum = 0; }, 62, {0, 0, 0, 0}},
        {"parity length", [](auto& e, auto&) { e.nRawParityLength = 0; }, 3066, {0, 0, 0, 0}},
        {"block count", [](auto& e, auto&) { e.nRawBlockCount = 0x7FFF; }, 3070, {0xFF, 0x7F, 0, 0}},
    };
    for (const auto& c : kCases) {
        PACK_WRITER_ENTRY e = base;
        PACK_WRITER_OPTIONS opt;
        c.change(e, opt);
        std::vector<uint8_t> image = BuildPackImage({e}, opt);
        ASSERT_EQ(image.size(), sound.size()) << c.pszWhat;
        std::vector<uint8_t> want = sound;
        std::copy(c.expected.begin(), c.expected.end(), want.begin() + c.nPos);
        ASSERT_NE(want, sound) << c.pszWhat << ": the case must change something";
        EXPECT_EQ(image, want) << c.pszWhat;
    }

    PACK_WRITER_OPTIONS cut;
    cut.bTruncateTable = true;
    std::vector<uint8_t> image = BuildPackImage({base}, cut);
    EXPECT_EQ(image, std::vector<uint8_t>(sound.begin(), sound.begin() + 32 + 34 / 2));
}

TEST(PackWriter, NamesOutsideOneTo255BytesAreRefused)
{
    TEMP_DIR dir;
    std::string strPath = dir.strNative + "/x.kpf";
    for (size_t nLength : {size_t{0}, size_t{256}}) {
        std::vector<PACK_WRITER_ENTRY> entries = {Entry("ok.bin", {1}), Entry(std::string(nLength, 'n'), {2})};
        EXPECT_TRUE(BuildPackImage(entries).empty()) << nLength;
        EXPECT_EQ(WritePackFile(strPath, entries), -1) << nLength;
        EXPECT_FALSE(dir.Exists("x.kpf"));
        // A raw length byte writes the name as given, for packs whose table lies about it.
        entries[1].nRawStoredLengthByte = 0;
        std::vector<uint8_t> image = BuildPackImage(entries);
        EXPECT_EQ(U32At(image, 12), (27 + 6) + 27 + nLength) << nLength;
    }
    std::string strLongest(255, 'n');
    std::vector<uint8_t> image = BuildPackImage({Entry(strLongest, {1})});
    EXPECT_EQ(DecodeEntry(image, 32, 255).strName, strLongest);
    EXPECT_EQ(image[36], 0);
    ASSERT_EQ(WritePackFile(strPath, {Entry(strLongest, {1})}), 0);
    EXPECT_EQ(Bytes(dir.Read("x.kpf")), image);
}
