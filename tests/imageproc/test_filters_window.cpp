// The vector forms of the blur and shadow filters against the plain routine: byte for byte over a
// table of image sizes (one pixel wide or high, odd widths, widths that do not fill a vector),
// rectangles inside larger images, radii from 0 to far beyond the image, both alpha flags, every
// instruction set the processor has and 1, 2 and 4 image workers; and a destination that is the
// source itself.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "core/worker_pool.h"
#include "imageproc/image_effects.h"
#include "imageproc/pixel_ops.h"

namespace {

typedef int (*WINDOW_FILTER)(uint8_t*, const uint8_t*, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                             int32_t, int32_t, int32_t);

struct NAMED_FILTER {
    const char* pszName;
    WINDOW_FILTER pfn;
};
const NAMED_FILTER kFilters[] = {{"blur", FilterBlur},       {"blur h", FilterBlurH},
                                 {"blur v", FilterBlurV},    {"box", FilterBlurBox},
                                 {"soft shadow", FilterSoftShadow}, {"shadow", FilterShadow}};

// Random bytes, with runs of opaque, clear and saturated pixels so that sums reach their extremes.
std::vector<uint8_t> TestImage(int32_t w, int32_t h, uint32_t seed)
{
    std::vector<uint8_t> v(size_t(w) * h * 4);
    for (size_t i = 0; i < v.size(); ++i) {
        seed = seed * 1664525u + 1013904223u;
        v[i] = uint8_t(seed >> 24);
    }
    for (size_t i = 0; i < v.size() / 3; ++i) v[i] = 255;
    for (size_t i = v.size() / 12 * 4; i + 3 < v.size() / 2; i += 4) v[i + 3] = 0;
    return v;
}

// Restores the instruction set and the worker count when a test ends.
class WindowForms : public ::testing::Test {
protected:
    int nSavedSimd = g_nPixelOpsSimd;
    void TearDown() override
    {
        g_nPixelOpsSimd = nSavedSimd;
        StopWorkerThreads();
        SetWorkerCountForTest(1);
    }
    static std::vector<int> Levels()
    {
        std::vector<int> v;
        for (int n = PIXEL_SIMD_SSE2; n <= DetectPixelOpsSimd(); ++n) v.push_back(n);
        return v;
    }
};

struct IMAGE_CASE {
    int32_t sw, sh;            // source
    int32_t x1, y1, x2, y2;    // rectangle
};

std::vector<uint8_t> RunFilter(WINDOW_FILTER pfn, int nSimd, const std::vector<uint8_t>& src, const IMAGE_CASE& c, int32_t P,
                         int32_t bAlpha)
{
    g_nPixelOpsSimd = nSimd;
    const int32_t w = c.x2 - c.x1 + 1, h = c.y2 - c.y1 + 1;
    std::vector<uint8_t> d(size_t(w) * h * 4, 0xCD);
    EXPECT_EQ(0, pfn(d.data(), src.data(), c.x1, c.y1, c.x2, c.y2, c.sw, c.sh, w, h, P, bAlpha));
    return d;
}

// Small lines, worked by the poster alone: every radius that changes the shape of the window.
TEST_F(WindowForms, SmallImagesMatchThePlainRoutine)
{
    const IMAGE_CASE images[] = {{1, 1, 0, 0, 0, 0},     {1, 40, 0, 0, 0, 39},   {37, 1, 0, 0, 36, 0},
                                 {2, 3, 0, 0, 1, 2},     {13, 9, 0, 0, 12, 8},   {23, 17, 3, 2, 19, 11},
                                 {23, 17, 5, 4, 5, 15},  {23, 17, 2, 9, 21, 10}, {70, 33, 1, 1, 68, 31}};
    const int32_t radii[] = {-3, 0, 1, 2, 3, 4, 5, 7, 8, 11, 12, 13, 16, 17, 36, 40, 47, 64, 99, 256, 100000, INT32_MAX};
    for (const IMAGE_CASE& c : images) {
        const std::vector<uint8_t> src = TestImage(c.sw, c.sh, uint32_t(c.sw * 31 + c.sh));
        for (const NAMED_FILTER& f : kFilters)
            for (int32_t P : radii)
                for (int32_t bAlpha = 0; bAlpha < 2; ++bAlpha) {
                    const std::vector<uint8_t> ref = RunFilter(f.pfn, PIXEL_SIMD_NONE, src, c, P, bAlpha);
                    for (int nSimd : Levels())
                        ASSERT_EQ(ref, RunFilter(f.pfn, nSimd, src, c, P, bAlpha))
                            << f.pszName << " simd " << nSimd << " P " << P << " alpha " << bAlpha << " image " << c.sw
                            << "x" << c.sh << " rect " << c.x1 << "," << c.y1 << "-" << c.x2 << "," << c.y2;
                }
    }
}

// Images large enough to be split over the workers: strips of rows (with a short last strip) and
// column ranges that start and end on odd pixels.
TEST_F(WindowForms, SplitOverWorkersMatchesThePlainRoutine)
{
    const IMAGE_CASE images[] = {{131, 97, 0, 0, 130, 96}, {150, 110, 5, 3, 139, 101}};
    const int32_t radii[] = {1, 6, 40, 300};
    for (const IMAGE_CASE& c : images) {
        const std::vector<uint8_t> src = TestImage(c.sw, c.sh, 7);
        for (const NAMED_FILTER& f : kFilters)
            for (int32_t P : radii)
                for (int32_t bAlpha = 0; bAlpha < 2; ++bAlpha) {
                    const std::vector<uint8_t> ref = RunFilter(f.pfn, PIXEL_SIMD_NONE, src, c, P, bAlpha);
                    for (int nWorkers : {1, 2, 4}) {
                        SetWorkerCountForTest(nWorkers);
                        StartWorkerThreads();
                        for (int nSimd : Levels())
                            ASSERT_EQ(ref, RunFilter(f.pfn, nSimd, src, c, P, bAlpha))
                                << f.pszName << " simd " << nSimd << " workers " << nWorkers << " P " << P << " alpha "
                                << bAlpha << " image " << c.sw << "x" << c.sh;
                        StopWorkerThreads();
                    }
                }
    }
}

// The longest lines the vector forms take, all bytes 255 and radii that put most of the line under
// the plateau: the largest sums still divide exactly. One more pixel goes to the plain routine.
TEST_F(WindowForms, LongestLinesKeepExactSums)
{
    const IMAGE_CASE images[] = {{16000, 2, 0, 0, 15999, 1}, {2, 16000, 0, 0, 1, 15999}, {16001, 1, 0, 0, 16000, 0}};
    for (const IMAGE_CASE& c : images) {
        const std::vector<uint8_t> src(size_t(c.sw) * c.sh * 4, 255);
        for (const NAMED_FILTER& f : kFilters)
            for (int32_t P : {7000, 100000}) {
                const std::vector<uint8_t> ref = RunFilter(f.pfn, PIXEL_SIMD_NONE, src, c, P, 1);
                for (int nSimd : Levels())
                    ASSERT_EQ(ref, RunFilter(f.pfn, nSimd, src, c, P, 1))
                        << f.pszName << " simd " << nSimd << " P " << P << " image " << c.sw << "x" << c.sh;
            }
    }
}

// The source rectangle as the destination (the whole image, so the result fits the same bytes):
// the same result as into a separate buffer, with the plain routine and every vector form.
TEST_F(WindowForms, DestinationOverSourceGivesTheSeparateResult)
{
    const int32_t sizes[][2] = {{19, 11}, {131, 97}};
    for (const auto& s : sizes) {
        const int32_t w = s[0], h = s[1];
        const IMAGE_CASE c = {w, h, 0, 0, w - 1, h - 1};
        const std::vector<uint8_t> src = TestImage(w, h, 3);
        std::vector<int> levels = Levels();
        levels.push_back(PIXEL_SIMD_NONE);
        for (const NAMED_FILTER& f : kFilters)
            for (int32_t P : {2, 9, 50}) {
                const std::vector<uint8_t> ref = RunFilter(f.pfn, PIXEL_SIMD_NONE, src, c, P, 1);
                for (int nSimd : levels) {
                    g_nPixelOpsSimd = nSimd;
                    std::vector<uint8_t> img = src;
                    ASSERT_EQ(0, f.pfn(img.data(), img.data(), 0, 0, w - 1, h - 1, w, h, w, h, P, 1));
                    ASSERT_EQ(ref, img) << f.pszName << " simd " << nSimd << " P " << P << " size " << w << "x" << h;
                }
            }
    }
}

// A rectangle-sized destination that starts inside the source rectangle, a few pixels on: the rows
// it overwrites are still to be read.
TEST_F(WindowForms, DestinationInsideTheSourceGivesTheSeparateResult)
{
    const int32_t sw = 140, sh = 100;
    const IMAGE_CASE c = {sw, sh, 2, 1, 121, 90};
    const int32_t w = c.x2 - c.x1 + 1, h = c.y2 - c.y1 + 1;
    const std::vector<uint8_t> src = TestImage(sw, sh, 17);
    std::vector<int> levels = Levels();
    levels.push_back(PIXEL_SIMD_NONE);
    for (const NAMED_FILTER& f : kFilters)
        for (int32_t P : {3, 30}) {
            const std::vector<uint8_t> ref = RunFilter(f.pfn, PIXEL_SIMD_NONE, src, c, P, 1);
            for (int nSimd : levels) {
                g_nPixelOpsSimd = nSimd;
                std::vector<uint8_t> img = src;
                uint8_t* pDst = img.data() + (size_t(c.y1) * sw + c.x1 + 7) * 4;
                ASSERT_EQ(0, f.pfn(pDst, img.data(), c.x1, c.y1, c.x2, c.y2, sw, sh, w, h, P, 1));
                ASSERT_EQ(ref, std::vector<uint8_t>(pDst, pDst + ref.size())) << f.pszName << " simd " << nSimd << " P " << P;
            }
        }
}

}  // namespace
