// The WAV and Ogg Vorbis fixture writers that the sound tests build their files with: exact WAV
// layout (and its deliberate damage), and Ogg files that vorbisfile reads back as asked.
#include "tools/lib/ogg_writer.h"
#include "tools/lib/wav_writer.h"

#include <gtest/gtest.h>
#include <vorbis/vorbisfile.h>

#include <cmath>
#include <cstring>
#include <string>

namespace {

uint32_t Le32(const std::vector<uint8_t>& v, size_t at)
{
    return v[at] | (v[at + 1] << 8) | (v[at + 2] << 16) | (uint32_t(v[at + 3]) << 24);
}
uint16_t Le16(const std::vector<uint8_t>& v, size_t at)
{
    return static_cast<uint16_t>(v[at] | (v[at + 1] << 8));
}
std::string Id(const std::vector<uint8_t>& v, size_t at)
{
    return std::string(reinterpret_cast<const char*>(&v[at]), 4);
}

TEST(WavWriter, PcmLayoutIsByteExact)
{
    const int16_t s[4] = {0x1234, -2, 256, -32768};  // two stereo frames
    WAV_WRITER_OPTIONS opt;
    opt.nChannels = 2;
    opt.nSamplesPerSec = 11025;
    std::vector<uint8_t> v = WriteWavSamples(opt, s, 2);
    ASSERT_EQ(v.size(), 44u + 8);
    EXPECT_EQ(Id(v, 0), "RIFF");
    EXPECT_EQ(Le32(v, 4), 44u);
    EXPECT_EQ(Id(v, 8), "WAVE");
    EXPECT_EQ(Id(v, 12), "fmt ");
    EXPECT_EQ(Le32(v, 16), 16u);
    EXPECT_EQ(Le16(v, 20), 1);
    EXPECT_EQ(Le16(v, 22), 2);
    EXPECT_EQ(Le32(v, 24), 11025u);
    EXPECT_EQ(Le32(v, 28), 11025u * 4);
    EXPECT_EQ(Le16(v, 32), 4);
    EXPECT_EQ(Le16(v, 34), 16);
    EXPECT_EQ(Id(v, 36), "data");
    EXPECT_EQ(Le32(v, 40), 8u);
    EXPECT_EQ(Le16(v, 44), 0x1234);
    EXPECT_EQ(Le16(v, 50), 0x8000);

    // 8 bits, mono: (s >> 8) + 128; an odd data chunk gets its pad byte, counted by RIFF.
    opt.nChannels = 1;
    opt.wBitsPerSample = 8;
    const int16_t m[3] = {0, -32768, 32767};
    v = WriteWavSamples(opt, m, 3);
    ASSERT_EQ(v.size(), 44u + 4);
    EXPECT_EQ(Le32(v, 4), 40u);
    EXPECT_EQ(Le32(v, 40), 3u);
    EXPECT_EQ(v[44], 128);
    EXPECT_EQ(v[45], 0);
    EXPECT_EQ(v[46], 255);
    EXPECT_EQ(v[47], 0);
}

TEST(WavWriter, ChunkOrderSizesAndDamage)
{
    const int16_t s[2] = {1, 2};
    WAV_WRITER_OPTIONS opt;
    WAV_CHUNK list;
    list.data = {1, 2, 3};
    opt.beforeFmt.push_back(list);
    opt.afterData.push_back(list);
    opt.nFmtSize = 50;
    std::vector<uint8_t> v = WriteWavSamples(opt, s, 2);
    EXPECT_EQ(Id(v, 12), "LIST");
    EXPECT_EQ(Le32(v, 16), 3u);
    EXPECT_EQ(Id(v, 24), "fmt ");           // after 3 bytes and the pad byte
    EXPECT_EQ(Le32(v, 28), 50u);
    EXPECT_EQ(Le16(v, 32 + 16), 0);         // cbSize 0, the rest zero-filled
    EXPECT_EQ(Id(v, 82), "data");
    EXPECT_EQ(Id(v, 94), "LIST");
    EXPECT_EQ(v.size(), 106u);
    EXPECT_EQ(Le32(v, 4), 98u);

    // fmt of 14 bytes, data before fmt, lying sizes, wrong ids and a cut.
    WAV_WRITER_OPTIONS bad;
    bad.nFmtSize = 14;
    bad.bDataBeforeFmt = true;
    bad.llRiffSizeOverride = 0x7FFFFFF0;
    bad.llDataSizeOverride = 1000;
    bad.bBadRiffId = true;
    bad.bBadWaveId = true;
    bad.nTruncateTo = 30;
    v = WriteWavSamples(bad, s, 2);
    ASSERT_EQ(v.size(), 30u);
    EXPECT_EQ(Id(v, 0), "RIFX");
    EXPECT_EQ(Le32(v, 4), 0x7FFFFFF0u);
    EXPECT_EQ(Id(v, 8), "WAVX");
    EXPECT_EQ(Id(v, 12), "data");
    EXPECT_EQ(Le32(v, 16), 1000u);
    EXPECT_EQ(Id(v, 24), "fmt ");
    EXPECT_EQ(Le16(v, 28), 14);

    // The compressed tags carry their own fmt extras.
    WAV_WRITER_OPTIONS ms;
    ms.wFormatTag = WAVTAG_MSADPCM;
    v = WriteWavSamples(ms, s, 2);
    EXPECT_EQ(Le32(v, 16), 50u);
    EXPECT_EQ(Le16(v, 32), 256);            // block align
    EXPECT_EQ(Le16(v, 34), 4);
    EXPECT_EQ(Le16(v, 36), 32);             // cbSize
    EXPECT_EQ(Le16(v, 38), 500);            // samples per block
    EXPECT_EQ(Le16(v, 40), 7);
    EXPECT_EQ(Id(v, 70), "data");
    EXPECT_EQ(Le32(v, 74), 256u);           // one block of data
}

struct MEM_READER {
    const std::vector<uint8_t>* pData;
    size_t nPos;
};

size_t MemRead(void* p, size_t nSize, size_t nCount, void* pSrc)
{
    MEM_READER* r = static_cast<MEM_READER*>(pSrc);
    size_t n = nSize * nCount;
    if (n > r->pData->size() - r->nPos)
        n = r->pData->size() - r->nPos;
    std::memcpy(p, r->pData->data() + r->nPos, n);
    r->nPos += n;
    return nSize ? n / nSize : 0;
}
int MemSeek(void* pSrc, ogg_int64_t off, int whence)
{
    MEM_READER* r = static_cast<MEM_READER*>(pSrc);
    const int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? int64_t(r->nPos) : int64_t(r->pData->size());
    if (base + off < 0 || base + off > int64_t(r->pData->size()))
        return -1;
    r->nPos = static_cast<size_t>(base + off);
    return 0;
}
long MemTell(void* pSrc)
{
    return static_cast<long>(static_cast<MEM_READER*>(pSrc)->nPos);
}

TEST(OggWriter, DeterministicAndReadBackByVorbisfile)
{
    OGG_WRITER_OPTIONS opt;
    opt.nChannels = 2;
    opt.nRate = 44100;
    opt.llFrames = 30000;
    opt.fAmplitude = 0.5f;
    const std::vector<uint8_t> a = WriteOggVorbis(opt);
    ASSERT_FALSE(a.empty());
    EXPECT_EQ(a, WriteOggVorbis(opt));

    MEM_READER r{&a, 0};
    const ov_callbacks cb = {MemRead, MemSeek, nullptr, MemTell};
    OggVorbis_File vf;
    ASSERT_EQ(ov_open_callbacks(&r, &vf, nullptr, 0, cb), 0);
    EXPECT_EQ(ov_streams(&vf), 1);
    EXPECT_EQ(ov_seekable(&vf), 1);
    EXPECT_EQ(ov_serialnumber(&vf, 0), opt.nSerial);
    vorbis_info* vi = ov_info(&vf, -1);
    ASSERT_NE(vi, nullptr);
    EXPECT_EQ(vi->channels, 2);
    EXPECT_EQ(vi->rate, 44100);
    EXPECT_EQ(ov_pcm_total(&vf, -1), 30000);
    // The sine comes back near its amplitude.
    int nPeak = 0;
    char buf[4096];
    int nBit = 0;
    long n;
    while ((n = ov_read(&vf, buf, sizeof buf, 0, 2, 1, &nBit)) > 0)
        for (long i = 0; i + 1 < n; i += 2)
            nPeak = std::max(nPeak, std::abs(int(int16_t(uint8_t(buf[i]) | (uint8_t(buf[i + 1]) << 8)))));
    EXPECT_NEAR(nPeak, 16384, 2000);
    ov_clear(&vf);
}

TEST(OggWriter, ChainedFileHoldsTwoStreams)
{
    OGG_WRITER_OPTIONS first, second;
    first.llFrames = 8000;
    second.signal = OGGSIG_SILENCE;
    second.nRate = 8000;
    second.llFrames = 4000;
    const std::vector<uint8_t> v = WriteChainedOgg(first, second);
    MEM_READER r{&v, 0};
    const ov_callbacks cb = {MemRead, MemSeek, nullptr, MemTell};
    OggVorbis_File vf;
    ASSERT_EQ(ov_open_callbacks(&r, &vf, nullptr, 0, cb), 0);
    EXPECT_EQ(ov_streams(&vf), 2);
    EXPECT_NE(ov_serialnumber(&vf, 0), ov_serialnumber(&vf, 1));
    EXPECT_EQ(ov_pcm_total(&vf, 0), 8000);
    EXPECT_EQ(ov_pcm_total(&vf, 1), 4000);
    EXPECT_EQ(ov_info(&vf, 1)->rate, 8000);
    ov_clear(&vf);
}

}  // namespace
