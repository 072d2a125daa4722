// Ogg Theora movies (optionally with a Vorbis track) for tests, the demo and benchmarks, made with
// libtheoraenc, libvorbisenc and libogg. Pictures are given as R,G,B and stored as BT.601 studio
// range Y'CbCr; by default every frame is one flat colour chosen by its index (OgvFrameColour), so
// a decoded frame tells which frame it is.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

struct OGV_WRITER_OPTIONS {
    int nWidth = 64;              // picture size
    int nHeight = 48;
    int nPicX = 0;                // picture offset inside the coded frame (frame sides are made
    int nPicY = 0;                // multiples of 16 around offset + picture)
    int nFrames = 90;
    int nFpsNum = 30, nFpsDen = 1;
    int nPixelFormat = 420;       // 420, 422 or 444
    int nQuality = 63;            // 0..63
    int nKeyShift = 6;            // key frames at most every 2^shift frames
    int nDupAfterFrame = -1;      // frame followed by nDupCount zero-length repeats (-1: none)
    int nDupCount = 0;
    bool bAudio = true;           // a Vorbis track of the movie's length
    int nAudioChannels = 2;
    long nAudioRate = 44100;
    double dAudioHz = 440.0;
    int nVideoSerial = 0x4B560001;
    int nAudioSerial = 0x4B560002;
    // The colour of picture pixel (x, y) of source frame n, R,G,B; empty: OgvFrameColour.
    std::function<void(int nFrame, int x, int y, uint8_t* pRgb)> pixel;
};

// The flat colour of frame n: distinct for the first 64 frames, moderate values (no clipping).
void OgvFrameColour(int nFrame, uint8_t* pRgb);
// The file; empty on an encoder failure.
std::vector<uint8_t> WriteOgvMovie(const OGV_WRITER_OPTIONS& opt);
// The file's source frame count as a decoder sees it (frames plus zero-length repeats).
int OgvWrittenFrames(const OGV_WRITER_OPTIONS& opt);
