// The demo game's pictures, all drawn here: gradients and simple shapes.
#include <algorithm>
#include <cmath>
#include <vector>

#include "demo/demo.h"
#include "tools/lib/bmp_writer.h"
#include "tools/lib/frame_sheet_writer.h"
#include "tools/lib/jpeg_writer.h"

namespace demo {
namespace {

uint32_t Rgb(int r, int g, int b)
{
    auto c = [](int v) { return static_cast<uint32_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
    return (c(r) << 16) | (c(g) << 8) | c(b);
}

std::vector<uint8_t> Bmp24(int w, int h, const std::vector<uint32_t>& px)
{
    BMP_WRITER_OPTIONS opt;
    opt.nBits = 24;
    return WriteBmp(w, h, opt, px.data(), nullptr);
}

// Whether (x, y), relative to the middle, lies inside a five-pointed star of outer radius r turned
// by the angle a.
bool InStar(double x, double y, double r, double a)
{
    const double kPi = 3.14159265358979;
    const double d = std::sqrt(x * x + y * y);
    if (d >= r) return false;
    double t = std::atan2(y, x) - a + kPi / 2;   // a point straight up at angle 0
    const double seg = 2 * kPi / 5;
    t = std::fmod(std::fmod(t, seg) + seg, seg);   // 0..seg, a tip at 0 and at seg
    const double u = std::fabs(t - seg / 2) / (seg / 2);   // 1 at a tip, 0 between two tips
    const double rInner = r * 0.42;
    return d < rInner + (r - rInner) * u * u;
}

}  // namespace

// The title: a night sky gradient over rolling hills, with a pale moon and a row of stars.
// Its top rows are the sky's top colour, RGB (24, 32, 96), from x 0 to 400 (tests look for it).
std::vector<uint8_t> DrawTitle()
{
    std::vector<uint32_t> px(size_t(kScreenW) * kScreenH);
    for (int y = 0; y < kScreenH; ++y) {
        const double t = double(y) / (kScreenH - 1);
        for (int x = 0; x < kScreenW; ++x) {
            int r = int(24 + 150 * t), g = int(32 + 60 * t), b = int(96 + 40 * t);
            const double hill = 330 + 30 * std::sin(x / 70.0) + 15 * std::sin(x / 23.0 + 1.0);
            if (y > hill) {
                const double d = (y - hill) / (kScreenH - hill + 1);
                r = int(20 + 30 * d);
                g = int(70 - 30 * d);
                b = int(40 - 10 * d);
            }
            const double mx = x - 480.0, my = y - 110.0;
            if (mx * mx + my * my < 40.0 * 40.0) {
                r = 240;
                g = 236;
                b = 200;
            }
            if (y > 20 && y < 200 && (x * 37 + y * 91) % 997 == 0) r = g = b = 255;
            px[size_t(y) * kScreenW + x] = Rgb(r, g, b);
        }
    }
    return Bmp24(kScreenW, kScreenH, px);
}

// The first scene: a hilltop at dusk. The sky runs from deep blue at the top to orange at the
// horizon, a first few stars above; a dark hill rises from the left with one tree on it. Its top
// rows are RGB (20, 24, 72) from x 0 to 300 (tests look for it).
std::vector<uint8_t> DrawHill()
{
    std::vector<uint32_t> px(size_t(kScreenW) * kScreenH);
    for (int y = 0; y < kScreenH; ++y) {
        const double t = std::pow(double(y) / (kScreenH - 1), 1.4);
        for (int x = 0; x < kScreenW; ++x) {
            int r = int(20 + 225 * t), g = int(24 + 120 * t), b = int(72 - 10 * t);
            const double ground = 300 + 0.0009 * (x - 160.0) * (x - 160.0) - 40 * std::exp(-((x - 160.0) * (x - 160.0)) / 20000.0);
            if (y > ground) {
                const double d = std::min(1.0, (y - ground) / 160.0);
                r = int(26 - 12 * d);
                g = int(34 - 14 * d);
                b = int(40 - 16 * d);
            }
            // The tree: a trunk and a round crown, in silhouette.
            const double cx = x - 200.0, cy = y - 196.0;
            if ((x >= 196 && x < 204 && y >= 200 && y <= 262) || cx * cx / 1.4 + cy * cy < 30.0 * 30.0) r = g = b = 16;
            if (y > 24 && y < 150 && (x * 53 + y * 71) % 911 == 0) r = g = b = 250;
            px[size_t(y) * kScreenW + x] = Rgb(r, g, b);
        }
    }
    return Bmp24(kScreenW, kScreenH, px);
}

// A soft warm disc on black: black adds nothing, so only the disc shows under the add mode.
std::vector<uint8_t> DrawSun(int n)
{
    std::vector<uint32_t> px(size_t(n) * n);
    const double c = (n - 1) / 2.0;
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            const double d = std::sqrt((x - c) * (x - c) + (y - c) * (y - c)) / c;
            const double k = d >= 1 ? 0 : (1 - d) * (1 - d);
            px[size_t(y) * n + x] = Rgb(int(255 * k), int(160 * k), int(60 * k));
        }
    return Bmp24(n, n, px);
}

// A band of hues on white: white leaves the picture below alone under the multiply mode.
std::vector<uint8_t> DrawBand(int w, int h)
{
    std::vector<uint32_t> px(size_t(w) * h);
    for (int y = 0; y < h; ++y) {
        const double e = std::sin(3.14159265 * y / (h - 1));   // 0 at the edges, 1 in the middle
        for (int x = 0; x < w; ++x) {
            const double a = 6.2831853 * x / w;
            const int r = int(255 - e * (127 - 127 * std::cos(a)));
            const int g = int(255 - e * (127 - 127 * std::cos(a + 2.094)));
            const int b = int(255 - e * (127 - 127 * std::cos(a + 4.189)));
            px[size_t(y) * w + x] = Rgb(r, g, b);
        }
    }
    return Bmp24(w, h, px);
}

// A cyan ring on black for the screen mode.
std::vector<uint8_t> DrawRing(int n)
{
    std::vector<uint32_t> px(size_t(n) * n);
    const double c = (n - 1) / 2.0;
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            const double d = std::sqrt((x - c) * (x - c) + (y - c) * (y - c)) / c;
            const double k = std::fmax(0.0, 1 - std::fabs(d - 0.8) * 8);
            px[size_t(y) * n + x] = Rgb(int(60 * k), int(220 * k), int(255 * k));
        }
    return Bmp24(n, n, px);
}

// The star's frames, each turned by 72 / kStarFrames degrees from the one before, so the last
// leads back to the first. Its middle is RGB (255, 220, 60), its tips orange; the alpha part is the
// star's shape with smoothed edges.
std::vector<uint8_t> DrawStarSheet()
{
    const double kPi = 3.14159265358979;
    const double c = (kStarSize - 1) / 2.0, r = kStarSize / 2.0 - 4;
    std::vector<SHEET_FRAME> frames;
    for (int f = 0; f < kStarFrames; ++f) {
        const double a = 2 * kPi / 5 * f / kStarFrames;
        std::vector<uint8_t> rgb(size_t(kStarSize) * kStarSize * 3), grey(size_t(kStarSize) * kStarSize);
        for (int y = 0; y < kStarSize; ++y)
            for (int x = 0; x < kStarSize; ++x) {
                const double dx = x - c, dy = y - c;
                const double k = std::fmin(1.0, std::sqrt(dx * dx + dy * dy) / r);   // 0 middle, 1 tips
                uint8_t* p = &rgb[(size_t(y) * kStarSize + x) * 3];
                p[0] = 255;
                p[1] = uint8_t(220 - 100 * k);
                p[2] = uint8_t(60 - 40 * k);
                // Four samples per pixel smooth the edge.
                int n = 0;
                for (double sy : {-0.25, 0.25})
                    for (double sx : {-0.25, 0.25}) n += InStar(dx + sx, dy + sy, r, a);
                grey[size_t(y) * kStarSize + x] = uint8_t(n * 255 / 4);
            }
        frames.push_back({EncodeJpegSamples(rgb, kStarSize, kStarSize, 3, 92),
                          EncodeJpegSamples(grey, kStarSize, kStarSize, 1, 95)});
    }
    return WriteFrameSheetBytes(frames, kStarFrames);
}

namespace {

// A rounded rectangle, its edges smoothed over a pixel: a rim of kRim pixels in the rim colour and
// opacity, the inside in the fill colour (darkening downwards by fShade of it) and opacity.
// 32-bit with alpha.
std::vector<uint8_t> RoundedBox(int w, int h, const int* pnRim, int nRimAlpha, const int* pnFill, int nFillAlpha, double fShade)
{
    const double kRadius = 14, kRim = 2;
    std::vector<uint32_t> px(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            // Signed distance of the pixel's middle from the rounded outline (negative inside).
            const double qx = std::fabs(x + 0.5 - w / 2.0) - (w / 2.0 - kRadius);
            const double qy = std::fabs(y + 0.5 - h / 2.0) - (h / 2.0 - kRadius);
            const double d = std::hypot(std::fmax(qx, 0.0), std::fmax(qy, 0.0)) + std::fmin(std::fmax(qx, qy), 0.0) - kRadius;
            const double cover = std::clamp(0.5 - d, 0.0, 1.0);
            const double inner = std::clamp(-d - kRim + 0.5, 0.0, 1.0);   // 0 on the rim, 1 inside it
            const double t = 1 - fShade * double(y) / (h - 1);
            auto mix = [&](double rim, double fill) { return int(std::lround(rim + (fill - rim) * inner)); };
            const int a = int(std::lround(cover * mix(nRimAlpha, nFillAlpha)));
            px[size_t(y) * w + x] = uint32_t(a) << 24 | Rgb(mix(pnRim[0], pnFill[0] * t), mix(pnRim[1], pnFill[1] * t),
                                                           mix(pnRim[2], pnFill[2] * t));
        }
    BMP_WRITER_OPTIONS opt;
    opt.nBits = 32;
    return WriteBmp(w, h, opt, px.data(), nullptr);
}

}  // namespace

// The message window's box and the buttons: dark blue, translucent so that the picture shows
// through, darkening a little downwards, with a pale blue rim that is more opaque.
std::vector<uint8_t> DrawPanel(int w, int h)
{
    static const int kRim[3] = {150, 170, 230}, kFill[3] = {18, 22, 60};
    return RoundedBox(w, h, kRim, 230, kFill, 200, 0.45);
}

// The highlight of the button under the mouse: a warm rim and a faint warm glow inside.
std::vector<uint8_t> DrawHighlight(int w, int h)
{
    static const int kRim[3] = {255, 214, 120}, kFill[3] = {255, 200, 110};
    return RoundedBox(w, h, kRim, 255, kFill, 56, 0.3);
}

}  // namespace demo
