// Scaling kernels against reference code written per pixel from the formulas (no tables, plain
// per-channel arithmetic), pinned values, the 1- and 2-pixel sizes, and the layer operation's
// buffer modes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "core/settings.h"
#include "imageproc/pixel_ops.h"
#include "imageproc/scaling.h"
#include "core/worker_pool.h"
#include "tests/image/layer_fixture.h"

namespace {

// A source image with the layer allocation rule: w x h pixels, a spare row and 4 spare bytes, all 0
// after the pixels.
struct IMAGE {
    int32_t w = 0, h = 0;
    std::vector<uint8_t> px;
    const uint8_t* data() const { return px.data(); }
    uint8_t at(int64_t idx, int c) const { return px[static_cast<size_t>(idx * 4 + c)]; }
};

IMAGE MakeImage(int32_t w, int32_t h, uint32_t seed)
{
    IMAGE im;
    im.w = w;
    im.h = h;
    im.px.assign(size_t(w) * 4 * h + size_t(w) * 4 + 4, 0);
    std::mt19937 rng(seed);
    for (size_t i = 0; i < size_t(w) * h * 4; ++i)
        im.px[i] = static_cast<uint8_t>(rng());
    return im;
}

IMAGE MakeImageFrom(int32_t w, int32_t h, const std::vector<uint32_t>& pixels)
{
    IMAGE im;
    im.w = w;
    im.h = h;
    im.px.assign(size_t(w) * 4 * h + size_t(w) * 4 + 4, 0);
    memcpy(im.px.data(), pixels.data(), pixels.size() * 4);
    return im;
}

uint32_t PixelAt(const std::vector<uint8_t>& out, int64_t idx)
{
    uint32_t v;
    memcpy(&v, out.data() + idx * 4, 4);
    return v;
}

int64_t FloorShift(int64_t v, int s)
{
    // floor(v / 2^s), written without relying on the shift of negative values.
    int64_t d = int64_t(1) << s;
    return v >= 0 ? v / d : -((-v + d - 1) / d);
}

int Curve(int f)
{
    double v = std::trunc((f - 128) * 1.25 + 128);
    return v < 0 ? 0 : v > 255 ? 255 : static_cast<int>(v);
}

// ---- references ---------------------------------------------------------------------------------

std::vector<uint8_t> RefNearest(const IMAGE& s, int x1, int y1, int x2, int y2, int tw, int th)
{
    std::vector<uint8_t> out(size_t(tw) * th * 4, 0xEE);
    int64_t stepX = (int64_t(x2 - x1 + 1) * 65536) / tw, stepY = (int64_t(y2 - y1 + 1) * 65536) / th;
    for (int j = 0; j < th; ++j)
        for (int i = 0; i < tw; ++i) {
            int64_t sx = x1 + FloorShift(i * stepX, 16), sy = y1 + FloorShift(j * stepY, 16);
            for (int c = 0; c < 4; ++c)
                out[(size_t(j) * tw + i) * 4 + c] =
                    (sx >= 0 && sx < s.w && sy >= 0 && sy < s.h) ? s.at(sy * s.w + sx, c) : 0;
        }
    return out;
}

// Position of a bilinear axis (1/256 pixel, relative to the whole-pixel corner) and that corner.
int64_t BilPos(int A1, int A2, int T, int64_t i, int64_t* pWhole)
{
    int64_t a1 = A1 / 100;
    int64_t frac = ((A1 - 100 * a1) * 256) / 100;
    int64_t span = int64_t(A2) - A1;
    int64_t pre = T >= span ? 0 : frac, post = T >= span ? frac : 0;
    int64_t den = T - 100 == 0 ? 100 : T - 100;
    *pWhole = a1;
    return post + ((pre + 256 * i) * span) / den;
}

// threaded: 0 the plain rounding, 1 the threaded one; curved: curve on fx.
std::vector<uint8_t> RefBilinear(const IMAGE& s, int X1, int Y1, int X2, int Y2, int TW, int TH, bool threaded)
{
    int tw = TW / 100, th = TH / 100;
    std::vector<uint8_t> out(size_t(tw) * th * 4, 0xEE);
    for (int j = 0; j < th; ++j)
        for (int i = 0; i < tw; ++i) {
            int64_t x1, y1;
            int64_t px = BilPos(X1, X2, TW, i, &x1), py = BilPos(Y1, Y2, TH, j, &y1);
            int64_t ix = x1 + FloorShift(px, 8), iy = y1 + FloorShift(py, 8);
            int fx = Curve(static_cast<int>(px - FloorShift(px, 8) * 256));
            int fy = static_cast<int>(py - FloorShift(py, 8) * 256);
            bool valid = ix >= 0 && ix < s.w && iy >= 0 && iy < s.h;
            int64_t p00 = iy * s.w + ix;
            for (int c = 0; c < 4; ++c) {
                int v = 0;
                if (valid) {
                    int a = s.at(p00, c), b = s.at(p00 + 1, c), d = s.at(p00 + s.w, c), e = s.at(p00 + s.w + 1, c);
                    if (!threaded) {
                        int top = (a * (256 - fx) + b * fx) >> 8, bot = (d * (256 - fx) + e * fx) >> 8;
                        v = (top * (256 - fy) + bot * fy) >> 8;
                    } else {
                        int64_t topW = a * (256 - fx) + b * fx, botW = d * (256 - fx) + e * fx;
                        v = static_cast<int>(std::min<int64_t>(255, ((topW * (256 - fy)) >> 16) + ((botW * fy) >> 16)));
                    }
                }
                out[(size_t(j) * tw + i) * 4 + c] = static_cast<uint8_t>(v);
            }
        }
    return out;
}

std::vector<uint8_t> RefSupersample(const IMAGE& s, int X1, int Y1, int X2, int Y2, int TW, int TH)
{
    int tw = TW / 100, th = TH / 100;
    int64_t x1 = X1 / 100, y1 = Y1 / 100, spanX = X2 - X1, spanY = Y2 - Y1;
    int64_t denX = TW - 100 == 0 ? 100 : TW - 100, denY = TH - 100 == 0 ? 100 : TH - 100;
    int64_t w = s.w, h = s.h;
    std::vector<uint8_t> out(size_t(tw) * th * 4, 0xEE);
    auto sample = [&](int64_t sx, int64_t sy, int c) {
        int64_t ix = x1 + FloorShift(sx, 8), iy = y1 + FloorShift(sy, 8);
        int fx = static_cast<int>(sx - FloorShift(sx, 8) * 256), fy = static_cast<int>(sy - FloorShift(sy, 8) * 256);
        int64_t p = iy * w + ix;
        int top = (s.at(p, c) * (256 - fx) + s.at(p + 1, c) * fx) >> 8;
        int bot = (s.at(p + w, c) * (256 - fx) + s.at(p + w + 1, c) * fx) >> 8;
        return (top * (256 - fy) + bot * fy) >> 8;
    };
    for (int j = 0; j < th; ++j)
        for (int i = 0; i < tw; ++i) {
            int64_t sx0 = (256 * i * spanX) / denX, sx1 = ((256 * i + 128) * spanX) / denX;
            int64_t sy0 = (256 * j * spanY) / denY, sy1 = ((256 * j + 128) * spanY) / denY;
            int64_t cx = x1 + FloorShift(sx0, 8), cy = y1 + FloorShift(sy0, 8);
            bool valid = cx >= 0 && cx < w && cy >= 0 && cy < h;
            int64_t cx1 = x1 + FloorShift(sx1, 8), cy1 = y1 + FloorShift(sy1, 8);
            if (cx1 < 0 || cx1 > w - 1)
                sx1 = sx0;
            if (cy1 * w + x1 > (h - 1) * w || cy1 < 0 || cy1 > h - 1)
                sy1 = sy0;
            for (int c = 0; c < 4; ++c) {
                int v = 0;
                if (valid) {
                    int a0 = sample(sx0, sy0, c), a1 = sample(sx1, sy0, c);
                    int b0 = sample(sx0, sy1, c), b1 = sample(sx1, sy1, c);
                    int l = (a0 + b0 + 1) >> 1, r = (a1 + b1 + 1) >> 1;
                    v = (l + r + 1) >> 1;
                }
                out[(size_t(j) * tw + i) * 4 + c] = static_cast<uint8_t>(v);
            }
        }
    return out;
}

int CubicK(int k)
{
    double hh = k / 256.0;
    double wv = hh <= 1 ? 1 - 2 * hh * hh + hh * hh * hh : 4 - 8 * hh + 5 * hh * hh - hh * hh * hh;
    return static_cast<int>(std::trunc(256 * wv));
}

std::vector<uint8_t> RefBicubic(const IMAGE& s, int x1, int y1, int x2, int y2, int tw, int th)
{
    std::vector<uint8_t> out(size_t(tw) * th * 4, 0xEE);
    int64_t w = s.w, n = int64_t(s.w) * s.h;
    for (int j = 0; j < th; ++j)
        for (int i = 0; i < tw; ++i) {
            int64_t py = ((int64_t(j) * 65536 / th) * (y2 - y1 + 1)) >> 8;
            int64_t px = ((int64_t(i) * 65536 / tw) * (x2 - x1 + 1)) >> 8;
            int64_t ix = x1 + FloorShift(px, 8), iy = y1 + FloorShift(py, 8);
            int fx = Curve(static_cast<int>(px & 255)), fy = static_cast<int>(py & 255);
            bool valid = ix >= 0 && ix < s.w && iy >= 0 && iy < s.h;
            int dist[2][4] = {{256 + fx, fx, 256 - fx, 512 - fx}, {256 + fy, fy, 256 - fy, 512 - fy}};
            for (int c = 0; c < 4; ++c) {
                int v = 0;
                if (valid) {
                    int64_t sum = 0, ws = 0;
                    for (int dy = -1; dy <= 2; ++dy)
                        for (int dx = -1; dx <= 2; ++dx) {
                            int64_t idx = (iy + dy) * w + ix + dx;
                            if (idx < 0 || idx >= n)
                                continue;
                            int64_t wt = (CubicK(dist[1][dy + 1]) * CubicK(dist[0][dx + 1])) / 256;
                            sum += wt * s.at(idx, c);
                            ws += wt;
                        }
                    if (ws == 0)
                        ws = 1;
                    int64_t q = sum / ws;
                    v = static_cast<int>(q < 0 ? 0 : q > 255 ? 255 : q);
                }
                out[(size_t(j) * tw + i) * 4 + c] = static_cast<uint8_t>(v);
            }
        }
    return out;
}

double RefSinc(double x)
{
    if (x == 0)
        return 1;
    double t = x * 3.1415927410125732;
    return std::sin(t) / t;
}

double RefKernel(double x)
{
    x = std::fabs(x);
    return x >= 2 ? 0 : RefSinc(x) * RefSinc(x / 2);
}

// One Lanczos pass along an axis of nIn samples into nOut; get(k, c) reads source index k.
template <typename GET>
void RefLanczosAxis(int64_t nIn, int64_t nOut, int64_t o, GET get, uint8_t* pOut /* 4 bytes */)
{
    double S = (nIn == 1 || nOut == 1) ? double(nOut) / nIn : double(nOut - 1) / double(nIn - 1);
    double R = 2 / S, c = o / S;
    int64_t first = static_cast<int64_t>(std::floor(c - R)), last = static_cast<int64_t>(std::ceil(c + R));
    int64_t sum[4] = {0, 0, 0, 0}, total = 1;
    for (int64_t k = first; k <= last; ++k) {
        int64_t wt = static_cast<int64_t>(65536.0 * RefKernel((c - k) * S) / (1 / S));
        int64_t m = k < 0 ? -k : k >= nIn ? 2 * nIn - k - 1 : k;
        m = std::max<int64_t>(0, std::min<int64_t>(nIn - 1, m));
        for (int ch = 0; ch < 4; ++ch)
            sum[ch] += wt * get(m, ch);
        total += wt;
    }
    for (int ch = 0; ch < 4; ++ch) {
        int64_t v = sum[ch] / total;
        if (ch == 3)
            v = v > 252 ? 255 : v < 0 ? 0 : v;
        else
            v = v > 255 ? 255 : v < 0 ? 0 : v;
        pOut[ch] = static_cast<uint8_t>(v);
    }
}

std::vector<uint8_t> RefLanczos(const IMAGE& s, int tw, int th)
{
    std::vector<uint8_t> tmp(size_t(tw) * s.h * 4), out(size_t(tw) * th * 4);
    for (int y = 0; y < s.h; ++y)
        for (int i = 0; i < tw; ++i)
            RefLanczosAxis(s.w, tw, i, [&](int64_t m, int ch) { return s.at(int64_t(y) * s.w + m, ch); },
                           &tmp[(size_t(y) * tw + i) * 4]);
    for (int j = 0; j < th; ++j)
        for (int i = 0; i < tw; ++i)
            RefLanczosAxis(s.h, th, j, [&](int64_t m, int ch) { return tmp[(size_t(m) * tw + i) * 4 + ch]; },
                           &out[(size_t(j) * tw + i) * 4]);
    return out;
}

// ---- cases ----------------------------------------------------------------------------------------

// A rectangle and target in hundredths of a pixel over a w x h source.
struct CASE {
    int32_t w, h;
    int32_t X1, Y1, X2, Y2, TW, TH;
};

// Identity, magnification, reduction, sub-rectangles with fractional corners, 1- and 2-pixel
// sources and targets, rectangles reaching outside the source, and a reversed rectangle.
const CASE kCases[] = {
    {4, 3, 0, 0, 300, 200, 400, 300},      {4, 3, 0, 0, 300, 200, 1000, 700},   {9, 7, 0, 0, 800, 600, 300, 200},
    {9, 7, 150, 230, 777, 512, 500, 400},  {1, 1, 0, 0, 0, 0, 300, 200},        {1, 1, 0, 0, 0, 0, 100, 100},
    {2, 2, 0, 0, 100, 100, 100, 100},      {2, 2, 0, 0, 100, 100, 200, 200},    {2, 1, 0, 0, 100, 0, 300, 100},
    {5, 5, 0, 0, 400, 400, 100, 500},      {5, 5, 0, 0, 400, 400, 500, 100},    {5, 5, 0, 0, 400, 400, 200, 200},
    {6, 4, -250, -120, 800, 700, 700, 600}, {6, 4, 300, 200, 900, 500, 400, 300}, {7, 5, 600, 400, 100, 0, 400, 300},
    {16, 9, 0, 0, 1500, 800, 300, 200},    {3, 8, 0, 0, 200, 700, 200, 1100},   {8, 1, 0, 0, 700, 0, 1200, 100},
    {1, 6, 0, 0, 0, 500, 200, 300},        {33, 17, 100, 100, 3100, 1500, 100, 100},
    // Wider rows for the bilinear kernels' several-pixel steps and their tails, output rows that
    // share source rows (enlarging), rows that share none (reducing), rows without vertical
    // fraction (same size) and a first drawn column past 0.
    {40, 30, 0, 0, 3900, 2900, 6100, 4500}, {37, 23, 150, 120, 3500, 2100, 1700, 900},
    {21, 13, 0, 0, 2000, 1200, 2100, 1300}, {20, 20, -350, -270, 1900, 1900, 4300, 3900},
    // Odd widths with wide insides (the bicubic taps that all lie in the image), enlarged by 3/2
    // and reduced, and a sub-rectangle whose taps cross the right edge into the next row.
    {53, 31, 0, 0, 5200, 3000, 7900, 4700}, {77, 45, 0, 0, 7600, 4400, 3100, 1900},
    {61, 29, 2000, 700, 6000, 2800, 6700, 4100}, {1, 40, 0, 0, 0, 3900, 300, 6100},
    // One source row spread over 20000: Lanczos weights too large for its 32-bit sums.
    {2, 1, 0, 0, 100, 0, 100, 2000000},
};

class ScalingKernels : public ::testing::TestWithParam<CASE> {
protected:
    void SetUp() override { SetWorkerCountForTest(1); }
};

std::vector<uint8_t> Out(int tw, int th)
{
    return std::vector<uint8_t>(size_t(std::max(tw, 0)) * std::max(th, 0) * 4, 0xEE);
}

TEST_P(ScalingKernels, MatchReferences)
{
    const CASE& k = GetParam();
    IMAGE s = MakeImage(k.w, k.h, uint32_t(k.w * 131 + k.h * 7 + k.TW));
    int x1 = k.X1 / 100, y1 = k.Y1 / 100, x2 = k.X2 / 100, y2 = k.Y2 / 100, tw = k.TW / 100, th = k.TH / 100;

    auto out = Out(tw, th);
    ASSERT_EQ(ScaleNearest(out.data(), s.data(), x1, y1, x2, y2, k.w, k.h, tw, th), 0);
    EXPECT_EQ(out, RefNearest(s, x1, y1, x2, y2, tw, th)) << "nearest";

    out = Out(tw, th);
    ASSERT_EQ(ScaleBilinear(out.data(), s.data(), k.X1, k.Y1, k.X2, k.Y2, k.w, k.h, k.TW, k.TH), 0);
    EXPECT_EQ(out, RefBilinear(s, k.X1, k.Y1, k.X2, k.Y2, k.TW, k.TH, false)) << "bilinear";

    auto present = Out(tw, th);
    ASSERT_EQ(ScaleBilinearPresent(present.data(), s.data(), k.X1, k.Y1, k.X2, k.Y2, k.w, k.h, k.TW, k.TH), 0);
    EXPECT_EQ(present, out) << "present equals plain bilinear";

    auto threaded = Out(tw, th);
    ASSERT_EQ(ScaleBilinearThreaded(threaded.data(), s.data(), k.X1, k.Y1, k.X2, k.Y2, k.w, k.h, k.TW, k.TH), 0);
    EXPECT_EQ(threaded, RefBilinear(s, k.X1, k.Y1, k.X2, k.Y2, k.TW, k.TH, true)) << "threaded bilinear";
    for (size_t i = 0; i < out.size(); ++i)
        ASSERT_LE(std::abs(int(out[i]) - int(threaded[i])), 1) << "byte " << i;

    out = Out(tw, th);
    ASSERT_EQ(ScaleSupersampled(out.data(), s.data(), k.X1, k.Y1, k.X2, k.Y2, k.w, k.h, k.TW, k.TH), 0);
    EXPECT_EQ(out, RefSupersample(s, k.X1, k.Y1, k.X2, k.Y2, k.TW, k.TH)) << "supersample";

    out = Out(tw, th);
    ASSERT_EQ(ScaleBicubic(out.data(), s.data(), x1, y1, x2, y2, k.w, k.h, tw, th), 0);
    EXPECT_EQ(out, RefBicubic(s, x1, y1, x2, y2, tw, th)) << "bicubic";

    out = Out(tw, th);
    ASSERT_EQ(ScaleLanczos(out.data(), s.data(), x1, y1, x2, y2, k.w, k.h, tw, th), 0);
    EXPECT_EQ(out, RefLanczos(s, tw, th)) << "lanczos";
}

// The job forms give the same bytes whatever the number of workers.
TEST_P(ScalingKernels, JobFormsIndependentOfWorkerCount)
{
    const CASE& k = GetParam();
    IMAGE s = MakeImage(k.w, k.h, 99);
    int x1 = k.X1 / 100, y1 = k.Y1 / 100, x2 = k.X2 / 100, y2 = k.Y2 / 100, tw = k.TW / 100, th = k.TH / 100;
    std::vector<uint8_t> ref[5];
    for (int n = 1; n <= 4; ++n) {
        SetWorkerCountForTest(n);
        StartWorkerThreads();
        ASSERT_EQ(GetRunningWorkerCount(), n);
        std::vector<uint8_t> got[5] = {Out(tw, th), Out(tw, th), Out(tw, th), Out(tw, th), Out(tw, th)};
        ASSERT_EQ(ScaleNearest(got[0].data(), s.data(), x1, y1, x2, y2, k.w, k.h, tw, th), 0);
        ASSERT_EQ(ScaleBilinearThreaded(got[1].data(), s.data(), k.X1, k.Y1, k.X2, k.Y2, k.w, k.h, k.TW, k.TH), 0);
        ASSERT_EQ(ScaleSupersampled(got[2].data(), s.data(), k.X1, k.Y1, k.X2, k.Y2, k.w, k.h, k.TW, k.TH), 0);
        ASSERT_EQ(ScaleBicubic(got[3].data(), s.data(), x1, y1, x2, y2, k.w, k.h, tw, th), 0);
        ASSERT_EQ(ScaleLanczos(got[4].data(), s.data(), x1, y1, x2, y2, k.w, k.h, tw, th), 0);
        StopWorkerThreads();
        for (int m = 0; m < 5; ++m) {
            if (n == 1)
                ref[m] = got[m];
            else
                EXPECT_EQ(got[m], ref[m]) << "kernel " << m << " with " << n << " workers";
        }
    }
    // The worker forms of bicubic and Lanczos against the plain references.
    EXPECT_EQ(ref[3], RefBicubic(s, x1, y1, x2, y2, tw, th)) << "bicubic";
    EXPECT_EQ(ref[4], RefLanczos(s, tw, th)) << "lanczos";
    SetWorkerCountForTest(1);
}

INSTANTIATE_TEST_SUITE_P(Table, ScalingKernels, ::testing::ValuesIn(kCases));

TEST(ScalingPinned, CurveAndCubicKernel)
{
    EXPECT_EQ(BilinearCurve(0), 0);
    EXPECT_EQ(BilinearCurve(128), 128);
    EXPECT_EQ(BilinearCurve(255), 255);
    EXPECT_EQ(BilinearCurve(64), 48);   // (64 - 128) * 1.25 + 128
    EXPECT_EQ(BilinearCurve(200), 218);  // 90 + 128
    EXPECT_EQ(CubicKernel(0), 256);
    EXPECT_EQ(CubicKernel(256), 0);
    EXPECT_EQ(CubicKernel(512), 0);
    EXPECT_EQ(CubicKernel(128), 160);   // 256 (1 - 0.5 + 0.125)
    EXPECT_EQ(CubicKernel(384), -32);   // 256 (4 - 12 + 11.25 - 3.375) = -32
    for (int k = 0; k <= 512; ++k)
        ASSERT_EQ(CubicKernel(k), CubicK(k)) << k;
}

// 2 x 1 black, white to 3 x 1: the middle pixel has the fraction 128 (kept by the curve) and no
// vertical fraction, so every plain and threaded form gives 127 with alpha 255.
TEST(ScalingPinned, BlackWhiteMagnifiedMiddle)
{
    IMAGE s = MakeImageFrom(2, 1, {0xFF000000u, 0xFFFFFFFFu});
    for (int form = 0; form < 3; ++form) {
        std::vector<uint8_t> out(3 * 4);
        auto fn = form == 0 ? ScaleBilinear : form == 1 ? ScaleBilinearThreaded : ScaleBilinearPresent;
        ASSERT_EQ(fn(out.data(), s.data(), 0, 0, 100, 0, 2, 1, 300, 100), 0);
        EXPECT_EQ(PixelAt(out, 0), 0xFF000000u) << form;
        EXPECT_EQ(PixelAt(out, 1), 0xFF7F7F7Fu) << form;
        EXPECT_EQ(PixelAt(out, 2), 0xFFFFFFFFu) << form;
    }
}

// A target one pixel wide uses the divisor 100: its column samples the rectangle's left edge.
TEST(ScalingPinned, OnePixelTargetSamplesLeftEdge)
{
    IMAGE s = MakeImageFrom(4, 1, {0x11111111u, 0x22222222u, 0x33333333u, 0x44444444u});
    std::vector<uint8_t> out(4);
    ASSERT_EQ(ScaleBilinear(out.data(), s.data(), 200, 0, 300, 0, 4, 1, 100, 100), 0);
    EXPECT_EQ(PixelAt(out, 0), 0x33333333u);
    // The supersampler's first sample is the left edge; its second lies 1.28 spans further on.
    ASSERT_EQ(ScaleSupersampled(out.data(), s.data(), 100, 0, 300, 0, 4, 1, 100, 100), 0);
    EXPECT_EQ(PixelAt(out, 0), 0x2B2B2B2Bu);  // (0x22 + 0x33 + 1) >> 1
}

// Lanczos at the same size: one weight of 65536 against a total of 65537 lowers each channel by
// one per pass; alpha above 252 becomes 255 after each pass.
TEST(ScalingPinned, LanczosSameSizeLowersByOnePerPass)
{
    IMAGE s = MakeImageFrom(3, 2, {0xFFFFFFFFu, 0xFE010101u, 0xFDFFFFFFu, 0xFF808080u, 0x00000000u, 0xFC020202u});
    std::vector<uint8_t> out(3 * 2 * 4);
    ASSERT_EQ(ScaleLanczos(out.data(), s.data(), 0, 0, 2, 1, 3, 2, 3, 2), 0);
    EXPECT_EQ(PixelAt(out, 0), 0xFFFDFDFDu);
    EXPECT_EQ(PixelAt(out, 1), 0xFF000000u);
    EXPECT_EQ(PixelAt(out, 2), 0xFBFDFDFDu);
    EXPECT_EQ(PixelAt(out, 3), 0xFF7E7E7Eu);
    EXPECT_EQ(PixelAt(out, 4), 0x00000000u);
    EXPECT_EQ(PixelAt(out, 5), 0xFA000000u);
}

// Rows and columns mapped outside the source are transparent black in every kernel.
TEST(ScalingPinned, OutsideSourceIsTransparent)
{
    IMAGE s = MakeImage(4, 4, 5);
    std::vector<uint8_t> zero(3 * 3 * 4, 0);
    std::vector<uint8_t> out(3 * 3 * 4, 0xEE);
    ASSERT_EQ(ScaleNearest(out.data(), s.data(), 10, 10, 12, 12, 4, 4, 3, 3), 0);
    EXPECT_EQ(out, zero);
    out.assign(out.size(), 0xEE);
    ASSERT_EQ(ScaleBilinearThreaded(out.data(), s.data(), -900, 0, -700, 200, 4, 4, 300, 300), 0);
    EXPECT_EQ(out, zero);
    out.assign(out.size(), 0xEE);
    ASSERT_EQ(ScaleSupersampled(out.data(), s.data(), 0, 500, 200, 700, 4, 4, 300, 300), 0);
    EXPECT_EQ(out, zero);
    out.assign(out.size(), 0xEE);
    ASSERT_EQ(ScaleBicubic(out.data(), s.data(), 0, -9, 2, -7, 4, 4, 3, 3), 0);
    EXPECT_EQ(out, zero);
}

// A large reduction: the supersampler's second column sample of the last column would lie past the
// source row; it stays inside (the reference and ASan both check).
TEST(ScalingPinned, SupersampleStrongReductionStaysInside)
{
    IMAGE s = MakeImage(200, 100, 17);
    std::vector<uint8_t> out(2 * 1 * 4);
    ASSERT_EQ(ScaleSupersampled(out.data(), s.data(), 0, 0, 19900, 9900, 200, 100, 200, 100), 0);
    EXPECT_EQ(out, RefSupersample(s, 0, 0, 19900, 9900, 200, 100));
}

// ---- the layer operation -------------------------------------------------------------------------

class ScaleImageTest : public LayerTreeTest {
protected:
    void Fill(TREE_NODE* pNode, uint32_t seed)
    {
        LAYER* p = L(pNode);
        std::mt19937 rng(seed);
        for (int64_t i = 0; i < int64_t(p->nWidth) * p->nHeight * 4; ++i)
            p->pOwnedPixels[i] = static_cast<uint8_t>(rng());
    }
    IMAGE Snapshot(TREE_NODE* pNode)
    {
        LAYER* p = L(pNode);
        IMAGE im;
        im.w = p->nWidth;
        im.h = p->nHeight;
        im.px.assign(p->pOwnedPixels, p->pOwnedPixels + PixelBufferBytes(p->nWidth, p->nHeight));
        return im;
    }
    std::vector<uint8_t> Pixels(TREE_NODE* pNode)
    {
        LAYER* p = L(pNode);
        return std::vector<uint8_t>(p->pOwnedPixels, p->pOwnedPixels + size_t(p->nWidth) * p->nHeight * 4);
    }
};

TEST_F(ScaleImageTest, InPlaceNewBufferPerMethod)
{
    const int methods[] = {SCALE_NEAREST, SCALE_BILINEAR, SCALE_BICUBIC, SCALE_SUPERSAMPLE, SCALE_LANCZOS};
    for (int m : methods) {
        TREE_NODE* a = Plain("A", 5, 4, 0, 0, 1);
        Fill(a, 3);
        L(a)->bHasAlpha = 1;
        IMAGE s = Snapshot(a);
        ASSERT_EQ(ScaleImage(a, nullptr, 0, 0, 400, 300, 700, 300, 0, m), 0) << m;
        EXPECT_EQ(L(a)->nWidth, 7);
        EXPECT_EQ(L(a)->nHeight, 3);
        std::vector<uint8_t> want;
        switch (m) {
        case SCALE_NEAREST: want = RefNearest(s, 0, 0, 4, 3, 7, 3); break;
        case SCALE_BILINEAR: {
            // The threaded form when the processor has SSE and the settings allow it.
            bool threaded = g_PixelOps.bSSE && g_bAllowSSE;
            want = RefBilinear(s, 0, 0, 400, 300, 700, 300, threaded);
            break;
        }
        case SCALE_BICUBIC: want = RefBicubic(s, 0, 0, 4, 3, 7, 3); break;
        case SCALE_SUPERSAMPLE: want = RefSupersample(s, 0, 0, 400, 300, 700, 300); break;
        default: want = RefLanczos(s, 7, 3); break;
        }
        EXPECT_EQ(Pixels(a), want) << m;
        FreeNodeSubtree(a);
    }
    EXPECT_TRUE(errors.reports.empty());
}

TEST_F(ScaleImageTest, LanczosIgnoresTheRectangle)
{
    TREE_NODE* a = Plain("A", 6, 5, 0, 0, 1);
    TREE_NODE* b = Plain("B", 1, 1, 0, 0, 2);
    Fill(a, 8);
    IMAGE s = Snapshot(a);
    ASSERT_EQ(ScaleImage(a, b, 100, 100, 300, 200, 400, 300, 1, SCALE_LANCZOS), 0);
    EXPECT_EQ(Pixels(b), RefLanczos(s, 4, 3));
}

// An unknown method gives a transparent image of the target size, whatever the buffer mode.
TEST_F(ScaleImageTest, UnknownMethodIsTransparent)
{
    TREE_NODE* a = Plain("A", 4, 4, 0, 0, 1, 0xFF123456u);
    ASSERT_EQ(ScaleImage(a, nullptr, 0, 0, 300, 300, 300, 200, 0, 20), 0);
    EXPECT_EQ(Pixels(a), std::vector<uint8_t>(3 * 2 * 4, 0));
    TREE_NODE* b = Plain("B", 4, 4, 0, 0, 2, 0xFF123456u);
    TREE_NODE* c = Plain("C", 2, 2, 0, 0, 3, 0xFF123456u);
    ASSERT_EQ(ScaleImage(b, c, 0, 0, 300, 300, 200, 200, 1, 0), 0);
    EXPECT_EQ(Pixels(c), std::vector<uint8_t>(2 * 2 * 4, 0));
}

TEST_F(ScaleImageTest, SecondLayerBufferModes)
{
    TREE_NODE* a = Plain("A", 4, 4, 0, 0, 1);
    Fill(a, 4);
    L(a)->bHasAlpha = 1;
    IMAGE s = Snapshot(a);
    // Exactly the target size: the buffer stays.
    TREE_NODE* b = Plain("B", 3, 2, 0, 0, 2);
    uint8_t* pOld = L(b)->pOwnedPixels;
    ASSERT_EQ(ScaleImage(a, b, 0, 0, 300, 300, 300, 200, 1, SCALE_NEAREST), 0);
    EXPECT_EQ(L(b)->pOwnedPixels, pOld);
    EXPECT_EQ(L(b)->bHasAlpha, 1);
    EXPECT_EQ(Pixels(b), RefNearest(s, 0, 0, 3, 3, 3, 2));
    // Larger buffer and the flag on: the buffer stays, only the size changes.
    TREE_NODE* c = Plain("C", 6, 6, 0, 0, 3);
    L(c)->bScaleIntoBuffer = 1;
    pOld = L(c)->pOwnedPixels;
    ASSERT_EQ(ScaleImage(a, c, 0, 0, 300, 300, 300, 200, 1, SCALE_NEAREST), 0);
    EXPECT_EQ(L(c)->pOwnedPixels, pOld);
    EXPECT_EQ(L(c)->nWidth, 3);
    EXPECT_EQ(L(c)->nHeight, 2);
    EXPECT_EQ(L(c)->nBufWidth, 3);
    EXPECT_EQ(Pixels(c), RefNearest(s, 0, 0, 3, 3, 3, 2));
    // The flag off: a new buffer.
    TREE_NODE* d = Plain("D", 6, 6, 0, 0, 4);
    ASSERT_EQ(ScaleImage(a, d, 0, 0, 300, 300, 300, 200, 1, SCALE_NEAREST), 0);
    EXPECT_EQ(L(d)->nBufWidth, 3);
    EXPECT_EQ(Pixels(d), RefNearest(s, 0, 0, 3, 3, 3, 2));
    // The source untouched throughout.
    EXPECT_EQ(Snapshot(a).px, s.px);
}

// A second name that shows the same record: the kernel must not write the pixels it reads, so
// the result gets a new buffer even at the same size.
TEST_F(ScaleImageTest, SharedRecordGetsNewBuffer)
{
    TREE_NODE* a = Plain("A", 4, 3, 0, 0, 1);
    Fill(a, 6);
    IMAGE s = Snapshot(a);
    TREE_NODE* b = CreateNode(g_pLayerRoot, "B", 0, 2);
    ShareLayer(b, L(a));
    ASSERT_EQ(ScaleImage(a, b, 0, 0, 300, 200, 400, 300, 1, SCALE_SUPERSAMPLE), 0);
    EXPECT_EQ(Pixels(a), RefSupersample(s, 0, 0, 300, 200, 400, 300));
}

TEST_F(ScaleImageTest, MissingPixelsAndAllocationRefusal)
{
    // A second layer just made by name (1 x 1 record, no pixels) receives even a 1 x 1 result.
    TREE_NODE* src = Plain("S", 2, 2, 0, 0, 5, 0xFF336699u);
    TREE_NODE* fresh = CreateNode(g_pLayerRoot, "F", 0, 6);
    ASSERT_NE(CreateNodeLayer(fresh), nullptr);
    ASSERT_EQ(ScaleImage(src, fresh, 0, 0, 100, 100, 100, 100, 1, SCALE_NEAREST), 0);
    ASSERT_NE(L(fresh)->pOwnedPixels, nullptr);
    EXPECT_EQ(PixelAt(Pixels(fresh), 0), 0xFF336699u);
    // A first layer without pixels: nothing happens.
    TREE_NODE* a = CreateNode(g_pLayerRoot, "A", 0, 1);
    ASSERT_NE(CreateNodeLayer(a), nullptr);
    EXPECT_EQ(ScaleImage(a, nullptr, 0, 0, 100, 100, 200, 200, 0, SCALE_NEAREST), 0);
    EXPECT_EQ(L(a)->pOwnedPixels, nullptr);
    // A target wider than the widest buffer: the size box and error 100010, -1, nothing changed.
    TREE_NODE* b = Plain("B", 2, 2, 0, 0, 2, 0xFF0000FFu);
    EXPECT_EQ(ScaleImage(b, nullptr, 0, 0, 100, 100, 900000, 100, 0, SCALE_NEAREST), -1);
    ASSERT_EQ(errors.reports.size(), 1u);
    EXPECT_EQ(errors.reports[0].nId, KX_ERR_LAYER_NO_MEMORY);
    EXPECT_EQ(L(b)->nWidth, 2);
}

}  // namespace
