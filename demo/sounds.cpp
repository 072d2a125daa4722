// The demo game's sounds and its movie, all composed here: a tune in Ogg Vorbis, two sound effects
// in WAV and a short Theora movie.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "demo/demo.h"
#include "tools/lib/ogg_writer.h"
#include "tools/lib/ogv_writer.h"
#include "tools/lib/wav_writer.h"

namespace demo {

// The tune: an eight-bar loop at 96 beats a minute, a pentatonic melody in eighths over a bass note
// per half bar, soft bell-like notes (a sine with its octave, decaying). 22050 Hz stereo, the
// melody a little to the left and the bass a little to the right.
std::vector<uint8_t> MakeTune()
{
    const int kRate = 22050;
    const double kEighth = 60.0 / 96 / 2;
    const int kMelody[] = {0, 2, 4, 7, 9, 7, 4, 2, 4, 7, 9, 12, 9, 7, 4, 7,
                           2, 4, 7, 9, 7, 4, 2, 0, -3, 0, 2, 4, 2, 0, -3, 0,
                           0, 4, 7, 12, 11, 9, 7, 4, 5, 9, 12, 14, 12, 9, 5, 4,
                           2, 7, 11, 14, 12, 11, 7, 2, 0, 4, 7, 12, 7, 4, 0, -1};
    const int kBass[] = {-12, -12, -15, -15, -20, -20, -17, -17, -12, -12, -7, -10, -17, -17, -12, -12};
    const int nSteps = int(sizeof kMelody / sizeof kMelody[0]);
    const size_t nFrames = size_t(nSteps * kEighth * kRate);
    std::vector<float> samples(nFrames * 2, 0.0f);
    auto note = [&](double dStart, double dLength, int nSemitone, double dGain, double dPan) {
        const double dHz = 523.25 * std::pow(2.0, nSemitone / 12.0);   // from C5
        const size_t n0 = size_t(dStart * kRate), n = size_t(dLength * kRate);
        for (size_t i = 0; i < n && n0 + i < nFrames; ++i) {
            const double t = double(i) / kRate;
            const double env = std::min(1.0, t * 200.0) * std::exp(-3.0 * t / dLength);
            const double v = dGain * env * (std::sin(6.2831853 * dHz * t) + 0.3 * std::sin(12.5663706 * dHz * t));
            samples[(n0 + i) * 2] += float(v * (1.0 - dPan));
            samples[(n0 + i) * 2 + 1] += float(v * (1.0 + dPan));
        }
    };
    for (int i = 0; i < nSteps; ++i) note(i * kEighth, kEighth * 1.6, kMelody[i], 0.22, -0.25);
    for (int i = 0; i < nSteps / 4; ++i) note(i * kEighth * 4, kEighth * 4, kBass[i], 0.28, 0.25);
    for (float& f : samples) f = std::max(-1.0f, std::min(1.0f, f));
    OGG_WRITER_OPTIONS opt;
    opt.nChannels = 2;
    opt.nRate = kRate;
    opt.fQuality = 0.3f;
    return WriteOggVorbisSamples(opt, samples.data(), nFrames);
}

namespace {

// Bell-like notes (a sine and its octave, decaying) at the given semitones from C6, one after the
// other every dStep seconds, as a mono 22050 Hz 16-bit WAV file.
std::vector<uint8_t> Bells(const std::vector<int>& notes, double dStep, double dLength, double dGain)
{
    const int kRate = 22050;
    const size_t nFrames = size_t(((notes.size() - 1) * dStep + dLength) * kRate);
    std::vector<double> mix(nFrames, 0.0);
    for (size_t k = 0; k < notes.size(); ++k) {
        const double dHz = 1046.5 * std::pow(2.0, notes[k] / 12.0);
        const size_t n0 = size_t(k * dStep * kRate);
        for (size_t i = 0; n0 + i < nFrames; ++i) {
            const double t = double(i) / kRate;
            const double env = std::min(1.0, t * 400.0) * std::exp(-5.0 * t / dLength);
            mix[n0 + i] += dGain * env * (std::sin(6.2831853 * dHz * t) + 0.4 * std::sin(12.5663706 * dHz * t));
        }
    }
    std::vector<int16_t> samples(nFrames);
    for (size_t i = 0; i < nFrames; ++i) samples[i] = int16_t(std::lround(std::clamp(mix[i], -1.0, 1.0) * 32000));
    WAV_WRITER_OPTIONS opt;
    opt.nChannels = 1;
    opt.nSamplesPerSec = kRate;
    return WriteWavSamples(opt, samples.data(), nFrames);
}

}  // namespace

std::vector<uint8_t> MakeChime() { return Bells({7, 12}, 0.06, 0.35, 0.35); }

std::vector<uint8_t> MakeSparkle() { return Bells({0, 4, 7, 12, 16, 19, 24}, 0.07, 0.6, 0.25); }

std::vector<uint8_t> MakeMovie()
{
    OGV_WRITER_OPTIONS opt;
    opt.nWidth = kMovieW;
    opt.nHeight = kMovieH;
    opt.nFrames = kMovieFrames;
    opt.bAudio = false;
    opt.nQuality = 48;
    // A shooting star crosses a night sky from the upper left to the lower right, its tail fading
    // behind it, while a few stars twinkle; the sky above the star's path stays MovieSkyColour.
    opt.pixel = [](int f, int x, int y, uint8_t* p) {
        MovieSkyColour(y, p);
        if ((x * 37 + y * 91) % 613 == 0 && (x + f) % 6 < 4) p[0] = p[1] = p[2] = 230;
        const double hx = 30 + f * 260.0 / kMovieFrames, hy = 60 + f * 150.0 / kMovieFrames;   // the head
        const double dx = x - hx, dy = y - hy;
        // Along the path (backwards from the head) and across it.
        const double ux = 260.0 / 300.0, uy = 150.0 / 300.0;
        const double along = -(dx * ux + dy * uy), across = std::fabs(dx * uy - dy * ux);
        double k = 0;
        if (along >= -3 && along < 90) k = std::max(0.0, 1 - across / (2.5 + along / 40)) * (1 - std::max(0.0, along) / 90);
        if (dx * dx + dy * dy < 25) k = 1;
        for (int c = 0; c < 3; ++c) p[c] = uint8_t(p[c] + (255 - p[c]) * std::min(1.0, k));
    };
    return WriteOgvMovie(opt);
}

void MovieSkyColour(int y, uint8_t* pRgb)
{
    pRgb[0] = uint8_t(10 + y / 8);
    pRgb[1] = uint8_t(14 + y / 10);
    pRgb[2] = uint8_t(48 + y / 4);
}

}  // namespace demo
