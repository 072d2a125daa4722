// Resampling of 32-bit pixel images (bytes B, G, R, A; the four channels are treated alike).
//
// ScaleImage resamples a rectangle of a layer's image to a target size by one of five methods and
// puts the result into the layer itself or into a second layer. The kernels below it are shared
// with presentation, which scales the composed screen into the window.
//
// Units: the bilinear and supersampling kernels take the source rectangle (X1, Y1)-(X2, Y2) and
// the target size (TW, TH) in hundredths of a pixel; nearest and bicubic take whole pixels. Inside
// the kernels source positions are kept in 1/256 pixel (integer part >> 8, fraction & 255), except
// nearest, which keeps whole pixels. Every result is an exact integer function of the input
// (Lanczos computes its weights in double precision).
//
// Source buffers follow the layer allocation rule: rows of source-width pixels, then one spare row
// and 4 spare bytes, which the bilinear kernels read with the weight of the fraction. Destinations
// are tw x th pixels with rows of tw pixels and are written completely: output pixels whose source
// row or column lies outside the source are transparent black (0).
//
// The position, weight and curve tables are process-wide and serve one scaling at a time, except
// that ScaleBilinearPresent has tables of its own for the presentation thread. The job forms
// (nearest, the threaded bilinear, supersampling, bicubic and Lanczos) spread their rows over the
// image workers and return when every worker is done; their results do not depend on the number
// of workers.
#pragma once
#include <cstddef>
#include <cstdint>

struct TREE_NODE;
struct WORKER_JOB;

// Method codes of ScaleImage.
enum {
    SCALE_NEAREST = 10,
    SCALE_BILINEAR = 21,
    SCALE_BICUBIC = 31,
    SCALE_SUPERSAMPLE = 41,
    SCALE_LANCZOS = 51,
};

// Resamples the first node's image, rectangle (X1, Y1)-(X2, Y2), to TW x TH (all in hundredths of
// a pixel) by nMethod. With nLayers >= 1 the result goes into the second node's layer, else into
// the first one's. The second layer keeps its buffer when it already has exactly the target size,
// or when its scale-into-buffer flag is on and the target is smaller in both directions (only its
// size changes); otherwise it gets a new buffer. A method other than the five gives a transparent
// image. A first layer without pixels changes nothing (0); a second layer without pixels gets a
// new buffer. -1 after a reported allocation failure (nothing changed).
int ScaleImage(TREE_NODE* pFirst, TREE_NODE* pSecond, int32_t nX1, int32_t nY1, int32_t nX2, int32_t nY2,
               int32_t nTW, int32_t nTH, int32_t nLayers, int32_t nMethod);

// The kernels. Each returns 0, or -1 after reporting that its tables or temporary buffer could not
// be made (error 104030). Sizes of 0 or below write nothing.

// Nearest neighbour, whole pixels, through the workers (job JOB_SCALE_NEAREST).
int ScaleNearest(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                 int32_t nSrcWidth, int32_t nSrcHeight, int32_t tw, int32_t th);
// Bilinear with the sharpening curve on the horizontal fraction; hundredths of a pixel. The plain
// form runs on the calling thread; the threaded form through the workers (JOB_SCALE_BILINEAR) with
// a rounding that can differ from the plain form by one; the present form is the plain form on
// the presentation tables.
int ScaleBilinear(uint8_t* pDst, const uint8_t* pSrc, int32_t nX1, int32_t nY1, int32_t nX2, int32_t nY2,
                  int32_t nSrcWidth, int32_t nSrcHeight, int32_t nTW, int32_t nTH);
int ScaleBilinearThreaded(uint8_t* pDst, const uint8_t* pSrc, int32_t nX1, int32_t nY1, int32_t nX2, int32_t nY2,
                          int32_t nSrcWidth, int32_t nSrcHeight, int32_t nTW, int32_t nTH);
int ScaleBilinearPresent(uint8_t* pDst, const uint8_t* pSrc, int32_t nX1, int32_t nY1, int32_t nX2, int32_t nY2,
                         int32_t nSrcWidth, int32_t nSrcHeight, int32_t nTW, int32_t nTH);
// Four bilinear samples per output pixel (2 x 2, uncurved), averaged with rounding; hundredths of a
// pixel; through the workers (JOB_SCALE_SUPERSAMPLE).
int ScaleSupersampled(uint8_t* pDst, const uint8_t* pSrc, int32_t nX1, int32_t nY1, int32_t nX2, int32_t nY2,
                      int32_t nSrcWidth, int32_t nSrcHeight, int32_t nTW, int32_t nTH);
// Cubic convolution (a = -1) over 16 taps; whole pixels; through the workers (JOB_SCALE_BICUBIC).
int ScaleBicubic(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                 int32_t nSrcWidth, int32_t nSrcHeight, int32_t tw, int32_t th);
// Lanczos-2 in two passes over the whole source image (the rectangle is not used); through the
// workers, the horizontal pass by source rows (JOB_SCALE_LANCZOS_ROWS), then the vertical pass by
// target rows (JOB_SCALE_LANCZOS_COLUMNS).
int ScaleLanczos(uint8_t* pDst, const uint8_t* pSrc, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                 int32_t nSrcWidth, int32_t nSrcHeight, int32_t tw, int32_t th);

// Lanczos pieces: the tables of one axis (horizontal flag 1: widths, 0: heights), filled by
// SetupLanczos (scale, support, tap count, table sizes) and BuildLanczosWeights (first and last
// source index and 16.16 weights per output index). 0, or -1 when the tables cannot be made.
int SetupLanczos(int bHorizontal, int32_t nSrcWidth, int32_t nSrcHeight, int32_t tw, int32_t th);
int BuildLanczosWeights(int bHorizontal, int32_t tw, int32_t th);
double LanczosKernel(double x);
double Sinc(double x);

// The sharpening curve of the bilinear kernels: clamp(trunc((f - 128) * 1.25 + 128), 0, 255).
uint8_t BilinearCurve(int f);
// Cubic convolution kernel, 256 * w(k / 256) truncated, for k = 0..512.
int32_t CubicKernel(int k);

// Job routines (codes 11, 21, 29, 31, 41, 51, 52): the rows [nFirstRow, nEndRow) of the record,
// over the columns [nFirstCol, nEndCol) of its scale arguments; the other columns of those rows
// are cleared (the Lanczos passes write every column). They read the tables the matching poster
// filled. 0.
int JobScaleNearestRows(WORKER_JOB* pJob);
int JobScaleBilinearRows(WORKER_JOB* pJob);
int JobScaleBilinearRowsPresent(WORKER_JOB* pJob);
int JobScaleSupersampledRows(WORKER_JOB* pJob);
int JobScaleBicubicRows(WORKER_JOB* pJob);
int JobScaleLanczosRows(WORKER_JOB* pJob);
int JobScaleLanczosColumns(WORKER_JOB* pJob);
// Registers the job routines with the worker pool (also done by the posters on first use).
void InstallScalingJobs(void);
