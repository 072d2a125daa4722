// Ogg Vorbis files for tests and tools, made with libvorbisenc and libogg. Output is deterministic:
// a fixed stream serial, a fixed signal and fixed encoder settings give the same bytes every time.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

enum OGG_SIGNAL : int {
    OGGSIG_SINE = 0,     // sine of dHz at fAmplitude (second channel phase-shifted a quarter turn)
    OGGSIG_RAMP = 1,     // -fAmplitude rising to +fAmplitude over the whole length
    OGGSIG_SILENCE = 2,
};

struct OGG_WRITER_OPTIONS {
    int nChannels = 1;            // 1 or 2
    long nRate = 22050;           // 8000..48000
    float fQuality = 0.3f;        // vorbisenc VBR quality -0.1..1
    int nSerial = 0x4B580001;     // Ogg stream serial
    OGG_SIGNAL signal = OGGSIG_SINE;
    double dHz = 440.0;
    float fAmplitude = 0.5f;      // 0..1 of full scale
    int64_t llFrames = 22050;     // length in sample frames
};

// One Ogg Vorbis stream of the options' signal. Empty on an encoder failure.
std::vector<uint8_t> WriteOggVorbis(const OGG_WRITER_OPTIONS& opt);
// One stream of given interleaved float samples (-1..1), nFrames frames of opt.nChannels samples;
// opt.signal and opt.llFrames are ignored.
std::vector<uint8_t> WriteOggVorbisSamples(const OGG_WRITER_OPTIONS& opt, const float* pSamples, size_t nFrames);
// Two streams one after the other (a chained file); the second gets the first serial + 1 when both
// options give the same serial.
std::vector<uint8_t> WriteChainedOgg(const OGG_WRITER_OPTIONS& first, const OGG_WRITER_OPTIONS& second);
