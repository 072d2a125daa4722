// Stand-in for the audio compression manager: converts compressed WAV data to 16-bit PCM at the same
// rate and channels. Decoders of our own for MS ADPCM (tag 2), IMA ADPCM (0x11), A-law (6) and
// mu-law (7); every other tag is refused by the suggest step. Results use the Windows values, so the
// caller maps them as it would map the real manager's.
#pragma once
#include <cstddef>
#include <cstdint>

enum : int {
    PLAT_ACM_OK = 0,                 // MMSYSERR_NOERROR
    PLAT_ACM_INVALHANDLE = 5,        // MMSYSERR_INVALHANDLE
    PLAT_ACM_NOMEM = 7,              // MMSYSERR_NOMEM
    PLAT_ACM_INVALFLAG = 10,         // MMSYSERR_INVALFLAG
    PLAT_ACM_INVALPARAM = 11,        // MMSYSERR_INVALPARAM
    PLAT_ACM_NOTPOSSIBLE = 512,      // ACMERR_NOTPOSSIBLE
};

// The fields of a WAVEFORMATEX (the 18-byte header of a fmt chunk).
struct PLAT_WAVE_FORMAT {
    uint16_t wFormatTag;
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
    uint16_t cbSize;
};

// Reads the 18-byte header from a format block of nBytes bytes (missing bytes read as 0).
void PlatAcmReadFormat(const uint8_t* pFmt, size_t nBytes, PLAT_WAVE_FORMAT* pOut);

// acmFormatSuggest with a PCM destination: pFmt/nFmtBytes is the whole source format block as stored
// in the fmt chunk (its extra bytes carry the ADPCM samples per block and coefficients). On success
// pDst is tag 1, the same channels and rate, 16 bits, block align channels x 2, cbSize 0. A tag other
// than the four, or a block that does not describe a valid stream: PLAT_ACM_NOTPOSSIBLE.
int PlatAcmSuggestPCM(const uint8_t* pFmt, size_t nFmtBytes, PLAT_WAVE_FORMAT* pDst);

// acmStreamSize: the bytes of PCM that converting nSrcBytes of data can produce (an upper bound).
int PlatAcmConvertSize(const uint8_t* pFmt, size_t nFmtBytes, size_t nSrcBytes, size_t* pnDstBytes);

// Converts nSrc bytes of the source format into 16-bit little-endian PCM in pDst (nDstCap bytes) in
// one call; *pnProduced receives the bytes written. Whole blocks are decoded; a short last block is
// decoded as far as its bytes reach, one shorter than its header gives nothing. A block whose header is
// invalid (an MS ADPCM predictor index past the coefficient table, an IMA step index above 88) makes
// the conversion fail with PLAT_ACM_NOTPOSSIBLE. Too small a destination: PLAT_ACM_INVALPARAM.
int PlatAcmConvert(const uint8_t* pFmt, size_t nFmtBytes, const uint8_t* pSrc, size_t nSrc,
                   uint8_t* pDst, size_t nDstCap, size_t* pnProduced);
