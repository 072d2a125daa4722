// WAV files for tests and tools: PCM 8/16 bits, mono or stereo at any rate, the compressed bodies the
// engine converts at load (IMA ADPCM, MS ADPCM, A-law, mu-law), extra chunks, odd chunk sizes with their
// pad byte, format chunks of 14/16/18/50 bytes and deliberately damaged headers (lying sizes, wrong ids,
// missing chunks, cut files).
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// Format tags of the fmt chunk.
enum : uint16_t {
    WAVTAG_PCM = 1,
    WAVTAG_MSADPCM = 2,
    WAVTAG_ALAW = 6,
    WAVTAG_MULAW = 7,
    WAVTAG_IMAADPCM = 0x11,
};

// A chunk written as it is: id, then size (the real size unless nSizeOverride >= 0), the bytes and a pad
// byte when the size is odd (unless bNoPad).
struct WAV_CHUNK {
    char id[4] = {'L', 'I', 'S', 'T'};
    std::vector<uint8_t> data;
    int64_t llSizeOverride = -1;
    bool bNoPad = false;
};

struct WAV_WRITER_OPTIONS {
    uint16_t wFormatTag = WAVTAG_PCM;
    uint16_t nChannels = 1;
    uint32_t nSamplesPerSec = 22050;
    uint16_t wBitsPerSample = 16;      // PCM: 8 or 16; the compressed tags set their own (4 or 8)
    // Size of the fmt chunk. 0: 16 for PCM, 18 for A-law/mu-law, 20 for IMA ADPCM, 50 for MS ADPCM.
    // 14 drops the bits field; sizes past what the tag needs are filled with zero bytes (a cbSize of
    // 0 is then written, unless the tag carries extra bytes of its own).
    uint32_t nFmtSize = 0;
    // ADPCM block size in bytes (0: 256 x channels for IMA, 256 x channels for MS ADPCM).
    uint16_t nBlockAlign = 0;
    // Header overrides (when >= 0): the fmt's block align and average bytes, cbSize.
    int32_t nBlockAlignOverride = -1;
    int64_t llAvgBytesOverride = -1;
    int32_t nCbSizeOverride = -1;

    std::vector<WAV_CHUNK> beforeFmt;  // chunks after "WAVE" and before "fmt "
    std::vector<WAV_CHUNK> beforeData; // chunks between "fmt " and "data"
    std::vector<WAV_CHUNK> afterData;  // chunks after "data"
    bool bDataBeforeFmt = false;       // "data" (with beforeData) written before "fmt "
    bool bNoFmt = false;
    bool bNoData = false;

    // Damage applied while writing: header ids, lying sizes, and a cut length.
    bool bBadRiffId = false;           // "RIFX" in place of "RIFF"
    bool bBadWaveId = false;           // "WAVX" in place of "WAVE"
    int64_t llRiffSizeOverride = -1;
    int64_t llDataSizeOverride = -1;
    int64_t llFmtSizeOverride = -1;    // the size field only; the bytes written follow nFmtSize
    size_t nTruncateTo = SIZE_MAX;
};

// A WAV file around a body already in its stored form (PCM bytes or compressed blocks). Block align,
// average bytes and the tag's extra fmt bytes follow the options.
std::vector<uint8_t> WriteWav(const WAV_WRITER_OPTIONS& opt, const uint8_t* pBody, size_t nBody);

// A WAV file of interleaved 16-bit samples (nFrames frames of opt.nChannels samples), encoded by
// opt.wFormatTag: PCM at opt.wBitsPerSample (8 bits: (s >> 8) + 128), A-law, mu-law, IMA or MS ADPCM.
std::vector<uint8_t> WriteWavSamples(const WAV_WRITER_OPTIONS& opt, const int16_t* pSamples, size_t nFrames);

// The small encoders behind WriteWavSamples, usable alone to build bodies for tests.
uint8_t EncodeALawSample(int16_t s);
uint8_t EncodeMuLawSample(int16_t s);
// IMA ADPCM (the common Windows block layout: per channel a 4-byte header with the first sample and step
// index, then groups of 4 bytes per channel, low nibble first). Samples per block:
// (nBlockAlign - 4 x ch) x 2 / ch + 1. The last block is padded with the last sample.
std::vector<uint8_t> EncodeImaAdpcm(const int16_t* pSamples, size_t nFrames, int nChannels, uint16_t nBlockAlign);
int ImaAdpcmSamplesPerBlock(int nChannels, uint16_t nBlockAlign);
// MS ADPCM with the seven standard coefficient pairs (predictor chosen per block and channel by the
// smallest error). Samples per block: (nBlockAlign - 7 x ch) x 2 / ch + 2.
std::vector<uint8_t> EncodeMsAdpcm(const int16_t* pSamples, size_t nFrames, int nChannels, uint16_t nBlockAlign);
int MsAdpcmSamplesPerBlock(int nChannels, uint16_t nBlockAlign);
extern const int16_t g_aMsAdpcmCoef[7][2];

// Test signals, interleaved 16-bit: a sine of fHz at nAmplitude (both channels alike, the second one
// phase-shifted a quarter turn), and a ramp from nFrom to nTo.
std::vector<int16_t> MakeSineSamples(size_t nFrames, int nChannels, uint32_t nRate, double fHz, int nAmplitude);
std::vector<int16_t> MakeRampSamples(size_t nFrames, int nChannels, int nFrom, int nTo);
