// MPEG-1 program streams (MPEG-1 video, optionally MPEG-1 Layer II sound) for tests and benchmarks,
// encoded with libavcodec and muxed with libavformat. By default every frame is one flat colour
// chosen by its index (OgvFrameColour), so a shown picture tells which frame it is.
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

struct MPEG_WRITER_OPTIONS {
    int nWidth = 64;
    int nHeight = 48;
    int nFrames = 15;
    int nFps = 30;          // 24, 25 or 30
    int nBitRate = 400000;
    bool bAudio = false;    // a 440 Hz tone at 44100 Hz stereo
    // The colour of pixel (x, y) of frame n, R,G,B; empty: OgvFrameColour.
    std::function<void(int nFrame, int x, int y, uint8_t* pRgb)> pixel;
};

// The file; empty when the encoder or muxer fails.
std::vector<uint8_t> WriteMpeg1Movie(const MPEG_WRITER_OPTIONS& opt);
