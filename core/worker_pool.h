// The image worker pool: a small fixed set of threads (g_nWorkers, 1..4) started once at start-up
// that run row-parallel image work. A poster fills one job record per worker (a job code, the
// worker's share of the rows and the job's arguments), wakes every worker, collects their
// acknowledgements and waits until every one has finished; posting is synchronous for the poster.
//
// Each worker has three auto-reset events: start (poster -> worker), acknowledge (worker ->
// poster, sent once the worker has taken the job and reset its done event) and done (worker ->
// poster; created set, so a wait on a worker that never ran a job returns at once).
//
// The routine a code runs is looked up in a table that the subsystems owning the routines fill
// (SetWorkerJobHandler) when they are installed. A code without a routine, and JOB_REDUCE_HALF,
// completes without work. A routine returns 0, or a negative value when it failed (a damaged
// compressed part, for instance); the poster returns the first failure, so a failed job is never
// taken for success.
//
// One poster at a time: posting takes the pool's lock for the whole round. While the workers are
// not running (before start-up, after shut-down, in tests of other parts) the poster runs every
// record's job itself, one after the other, with the same row shares and the same results.
#pragma once
#include <cstddef>
#include <cstdint>

struct LAYER;

// Job codes.
enum {
    JOB_NONE = 0,
    JOB_SCALE_NEAREST = 11,
    JOB_SCALE_BILINEAR = 21,
    JOB_SCALE_BILINEAR_PRESENT = 29,
    JOB_SCALE_BICUBIC = 31,
    JOB_SCALE_SUPERSAMPLE = 41,
    JOB_REDUCE_HALF = 42,          // posted by the texture upload; no work
    JOB_SCALE_LANCZOS_ROWS = 51,   // the horizontal Lanczos pass, by source rows
    JOB_SCALE_LANCZOS_COLUMNS = 52,   // the vertical Lanczos pass, by target rows
    JOB_ROTATE = 61,
    JOB_BLEND = 101,
    JOB_BLEND_MASK = 102,
    JOB_BLEND_ALPHA = 103,
    JOB_BLEND_MASK_ALPHA = 104,
    JOB_COLOR_COPY = 105,
    JOB_BLEND_BATCH = 106,
    JOB_WINDOW_FILTER = 120,       // the blur and shadow filters' running-sum passes
    JOB_KCG_RAW = 1000,
    JOB_KCG_ZLIB = 1001,
    JOB_KCG_SNAPPY = 1002,
    JOB_KCG_WEBP = 1003,
};

enum {
    KX_WORKER_RECORDS = 64,   // job records; the first g_nWorkers are used
    KX_MAX_WORKERS = 4,
    // Scratch area of every worker for the supersampling job: two rows of two samples per output
    // column (8 bytes per column) for the widest image, made once at start so the job cannot fail.
    KX_WORKER_SCRATCH_BYTES = 8192 * 8 * 2,
};

// Blend jobs (101-104): the visible width, the source offset in the layer, the destination
// start in the target, the target, the layer, and the mask layer with its display pixels (both
// NULL without a mask, the pixels taken at posting time).
struct WORKER_BLEND_ARGS {
    int32_t nWidth;
    int32_t nSrcX, nSrcY;
    int32_t nDstX, nDstY;
    LAYER* pTarget;
    LAYER* pLayer;
    LAYER* pMask;
    uint8_t* pMaskPixels;
};

// KCG jobs (1000-1003): decoded and stored sizes of the two parts, the output pixel buffer and the
// file image (the 56-byte header, then part 1, then part 2). Worker 0 decodes part 1 to the start
// of the output, worker 1 part 2 to the output + part-1 decoded size. The loader checks the sizes
// against the file and the image before it posts.
struct WORKER_KCG_ARGS {
    uint32_t nDecoded1, nStored1;
    uint32_t nDecoded2, nStored2;
    uint8_t* pOut;
    const uint8_t* pFile;
};

// Scale jobs (11, 21, 29, 31, 41, 51, 52): output columns [nFirstCol, nEndCol), the source rectangle, the
// source and output sizes and the two pixel buffers. Units are those of the scaling posters
// (hundredths of a pixel for bilinear and supersampling, pixels for nearest).
struct WORKER_SCALE_ARGS {
    int32_t nFirstCol, nEndCol;
    int32_t nSrcX, nSrcY, nSrcXEnd, nSrcYEnd;
    int32_t nSrcWidth, nSrcHeight;
    int32_t nOutWidth, nOutHeight;
    uint8_t* pOut;
    const uint8_t* pSrc;
};

// Colour copy job (105): rows of a layer's pixels (nWidth pixels a row) filtered into its colour
// cache, colour balance dwBalance first when bBalance, then saturation nSaturation when
// bSaturation; the two buffers have the same size.
struct WORKER_COLOR_ARGS {
    int32_t nWidth;
    uint32_t dwBalance;
    int32_t nSaturation;
    uint8_t bBalance, bSaturation;
    uint8_t* pDst;
    const uint8_t* pSrc;
};

// Rotation job (61): destination rows of a w x h image turned by an angle (0..359) with a kernel
// of the rotation routines; the two buffers are w x h pixels and do not overlap.
struct WORKER_ROTATE_ARGS {
    int32_t nWidth, nHeight;
    int32_t nAngle;
    int32_t nKernel;
    uint8_t* pDst;
    const uint8_t* pSrc;
};

// A job that carries its own record: the compositor's queue of blends into one target (106; the
// rows are the target's rows) or the blur and shadow filters' plan (120). The poster keeps the
// record alive until the post returns.
struct WORKER_BATCH_ARGS {
    void* pBatch;
};

struct WORKER_JOB {
    int32_t nIndex;      // the worker's index, set once at start
    int32_t nCode;       // JOB_*
    int32_t nFirstRow;   // the worker's rows [nFirstRow, nEndRow) (blend, colour copy, scale and rotation jobs)
    int32_t nEndRow;
    int32_t nResult;     // set by the worker: the routine's result (0 when the code has none)
    union {
        WORKER_BLEND_ARGS blend;
        WORKER_KCG_ARGS kcg;
        WORKER_SCALE_ARGS scale;
        WORKER_COLOR_ARGS color;
        WORKER_ROTATE_ARGS rotate;
        WORKER_BATCH_ARGS batch;
    };
    uint8_t* pScratch;   // KX_WORKER_SCRATCH_BYTES owned by the pool (NULL while it is stopped)
};

// A job routine: works on its record's share, returns 0 or negative on failure.
typedef int (*PFN_WORKER_JOB)(WORKER_JOB* pJob);

extern WORKER_JOB g_aWorkerJob[KX_WORKER_RECORDS];

// Installs (or with NULL removes) the routine of a job code. Codes outside the table are
// refused with -1. Routines are installed at start-up, before any post.
int SetWorkerJobHandler(int nCode, PFN_WORKER_JOB pfnJob);
PFN_WORKER_JOB GetWorkerJobHandler(int nCode);

// Rows of worker i of n over [nFirst, nFirst + nRows): [nFirst + i*nRows/n, nFirst + (i+1)*nRows/n).
void SplitWorkerRows(int nFirst, int nRows, int nWorker, int nWorkers, int32_t* pnBegin, int32_t* pnEnd);

// Posts one job over all g_nWorkers workers: record i gets a copy of *pArgs (its code and its
// argument set), the code nCode and the row share i of [nFirstRow, nFirstRow + nRows). Returns 0,
// or the first negative result of a worker.
int PostRowJob(int nCode, const WORKER_JOB* pArgs, int nFirstRow, int nRows);

// Posts nCount prepared records (1..g_nWorkers) to workers 0..nCount-1: record i gets a copy of
// apJobs[i] (code, rows and arguments; its worker index kept). Returns 0, or the first negative
// result. The KCG loader posts its two halves this way.
int PostWorkerJobs(const WORKER_JOB* apJobs, int nCount);

// Start-up and shut-down. StartWorkerThreads creates the events and threads of g_nWorkers workers
// (a thread that cannot start leaves its records to the poster). StopWorkerThreads sets the pool's
// stop flag, wakes every worker, waits for every thread and frees the events and scratch areas.
// Both may be called again; a second start without a stop does nothing.
void StartWorkerThreads(void);
void StopWorkerThreads(void);
// Number of worker threads running (0 while the pool is stopped).
int GetRunningWorkerCount(void);


// Tests: fixes g_nWorkers at n (clamped to 1..4), restarting the threads when they run.
void SetWorkerCountForTest(int nWorkers);
