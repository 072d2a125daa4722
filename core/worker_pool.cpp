// The image worker pool: threads, their three events, the job table and posting.
#include "core/worker_pool.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "core/engine_hooks.h"
#include "core/frame_loop.h"
#include "core/sysfacts.h"
#include "platform/plat_thread.h"

// 1 while a worker waits for its start event: set just before the wait, cleared on waking. Also 1
// while no worker runs at all, since then no job can be in flight.
std::atomic<int> g_bWorkerWaiting{1};

WORKER_JOB g_aWorkerJob[KX_WORKER_RECORDS];

namespace {

enum { JOB_CODE_LIMIT = 1024 };

PFN_WORKER_JOB s_apfnJob[JOB_CODE_LIMIT];

PLAT_THREAD* s_ahThread[KX_MAX_WORKERS];
PLAT_EVENT* s_ahStart[KX_MAX_WORKERS];
PLAT_EVENT* s_ahAck[KX_MAX_WORKERS];
PLAT_EVENT* s_ahDone[KX_MAX_WORKERS];
int s_nRunning;                         // threads 0..s_nRunning-1 run
std::atomic<int> s_bStopWorkers{0};     // read by the workers at every wake-up
// One poster at a time; start and stop take it too, so the threads never change under a post.
std::mutex s_mxPool;

int ClampWorkers(int n)
{
    return std::clamp(n, 1, static_cast<int>(KX_MAX_WORKERS));
}

void RunJob(WORKER_JOB* pJob)
{
    const int nCode = pJob->nCode;
    PFN_WORKER_JOB pfn = (nCode > 0 && nCode < JOB_CODE_LIMIT) ? s_apfnJob[nCode] : nullptr;
    pJob->nResult = pfn ? pfn(pJob) : 0;
}

int RunImageWorker(void* pArg)
{
    WORKER_JOB* pJob = static_cast<WORKER_JOB*>(pArg);
    const int i = pJob->nIndex;
    for (;;) {
        g_bWorkerWaiting = 1;
        PlatEventWait(s_ahStart[i], PLAT_INFINITE);
        g_bWorkerWaiting = 0;
        PlatEventWait(s_ahDone[i], 0);   // reset done: the job is taken
        PlatEventSet(s_ahAck[i]);
        if (s_bStopWorkers.load()) {
            PlatEventSet(s_ahDone[i]);
            return 0;
        }
        RunJob(pJob);
        PlatEventSet(s_ahDone[i]);
    }
}

void DestroyWorkerEvents(int i)
{
    PlatEventDestroy(s_ahStart[i]);
    PlatEventDestroy(s_ahAck[i]);
    PlatEventDestroy(s_ahDone[i]);
    s_ahStart[i] = s_ahAck[i] = s_ahDone[i] = nullptr;
}

void StartWorkersLocked(void)
{
    if (s_nRunning > 0) return;
    s_bStopWorkers = 0;
    const int n = ClampWorkers(g_nWorkers);
    for (int i = 0; i < n; ++i) {
        s_ahStart[i] = PlatEventCreate(0);
        s_ahAck[i] = PlatEventCreate(0);
        s_ahDone[i] = PlatEventCreate(1);
        if (!s_ahStart[i] || !s_ahAck[i] || !s_ahDone[i]) {
            DestroyWorkerEvents(i);
            break;
        }
        g_aWorkerJob[i].nIndex = i;
        s_ahThread[i] = PlatThreadStart(RunImageWorker, &g_aWorkerJob[i]);
        if (!s_ahThread[i]) {
            // The rest of the records are run by the poster.
            DestroyWorkerEvents(i);
            break;
        }
        PlatThreadSetIdealProcessor(s_ahThread[i], i);
        s_nRunning = i + 1;
    }
}

void StopWorkersLocked(void)
{
    s_bStopWorkers = 1;
    for (int i = 0; i < s_nRunning; ++i) PlatEventSet(s_ahStart[i]);
    for (int i = 0; i < s_nRunning; ++i) {
        PlatThreadJoin(s_ahThread[i], nullptr);
        s_ahThread[i] = nullptr;
        DestroyWorkerEvents(i);
    }
    s_nRunning = 0;
    for (WORKER_JOB& job : g_aWorkerJob) {
        std::free(job.pScratch);
        job.pScratch = nullptr;
    }
    g_bWorkerWaiting = 1;
}

// Records 0..nCount-1 are filled. Hands them to their workers (the poster runs those without a
// thread itself while the others work), waits for all, and returns the first failure.
int RunPostedLocked(int nCount)
{
    for (int i = 0; i < nCount; ++i) {
        WORKER_JOB& job = g_aWorkerJob[i];
        job.nResult = 0;
        if (!job.pScratch) job.pScratch = static_cast<uint8_t*>(std::calloc(1, KX_WORKER_SCRATCH_BYTES));
    }
    const int nThreaded = std::min(nCount, s_nRunning);
    // Every record is filled before the first start, so the workers are woken together and their
    // acknowledgements collected afterwards: a done event is waited for only once its worker has
    // acknowledged, that is has reset it for this job.
    for (int i = 0; i < nThreaded; ++i) PlatEventSet(s_ahStart[i]);
    for (int i = 0; i < nThreaded; ++i) PlatEventWait(s_ahAck[i], PLAT_INFINITE);
    for (int i = nThreaded; i < nCount; ++i) RunJob(&g_aWorkerJob[i]);
    for (int i = 0; i < nThreaded; ++i) PlatEventWait(s_ahDone[i], PLAT_INFINITE);
    int nResult = 0;
    for (int i = 0; i < nCount && nResult == 0; ++i)
        if (g_aWorkerJob[i].nResult < 0) nResult = g_aWorkerJob[i].nResult;
    return nResult;
}

// Copies the code, rows and arguments of a job into record i, keeping the pool's own fields.
void FillRecord(int i, const WORKER_JOB& src)
{
    WORKER_JOB& job = g_aWorkerJob[i];
    WORKER_JOB copy = src;
    copy.nIndex = i;
    copy.pScratch = job.pScratch;
    // A running worker reads its index from the record when it starts, without waiting for a
    // post; the index was written before its thread started and is not written again.
    std::memcpy(reinterpret_cast<uint8_t*>(&job) + offsetof(WORKER_JOB, nCode),
                reinterpret_cast<const uint8_t*>(&copy) + offsetof(WORKER_JOB, nCode),
                sizeof(WORKER_JOB) - offsetof(WORKER_JOB, nCode));
    if (job.nIndex != i) job.nIndex = i;
}

}  // namespace

int SetWorkerJobHandler(int nCode, PFN_WORKER_JOB pfnJob)
{
    if (nCode <= 0 || nCode >= JOB_CODE_LIMIT) return -1;
    s_apfnJob[nCode] = pfnJob;
    return 0;
}

PFN_WORKER_JOB GetWorkerJobHandler(int nCode)
{
    return (nCode > 0 && nCode < JOB_CODE_LIMIT) ? s_apfnJob[nCode] : nullptr;
}

void SplitWorkerRows(int nFirst, int nRows, int nWorker, int nWorkers, int32_t* pnBegin, int32_t* pnEnd)
{
    if (nWorkers < 1) nWorkers = 1;
    if (nRows < 0) nRows = 0;
    // 64-bit products: rows x worker index never wraps.
    *pnBegin = static_cast<int32_t>(nFirst + static_cast<int64_t>(nWorker) * nRows / nWorkers);
    *pnEnd = static_cast<int32_t>(nFirst + static_cast<int64_t>(nWorker + 1) * nRows / nWorkers);
}

int PostRowJob(int nCode, const WORKER_JOB* pArgs, int nFirstRow, int nRows)
{
    std::lock_guard<std::mutex> lock(s_mxPool);
    const int n = ClampWorkers(g_nWorkers);
    for (int i = 0; i < n; ++i) {
        FillRecord(i, *pArgs);
        g_aWorkerJob[i].nCode = nCode;
        SplitWorkerRows(nFirstRow, nRows, i, n, &g_aWorkerJob[i].nFirstRow, &g_aWorkerJob[i].nEndRow);
    }
    return RunPostedLocked(n);
}

int PostWorkerJobs(const WORKER_JOB* apJobs, int nCount)
{
    std::lock_guard<std::mutex> lock(s_mxPool);
    if (nCount < 1 || nCount > ClampWorkers(g_nWorkers)) return -1;
    for (int i = 0; i < nCount; ++i) FillRecord(i, apJobs[i]);
    return RunPostedLocked(nCount);
}

void StartWorkerThreads(void)
{
    std::lock_guard<std::mutex> lock(s_mxPool);
    StartWorkersLocked();
}

void StopWorkerThreads(void)
{
    std::lock_guard<std::mutex> lock(s_mxPool);
    StopWorkersLocked();
}

int GetRunningWorkerCount(void)
{
    std::lock_guard<std::mutex> lock(s_mxPool);
    return s_nRunning;
}

void SetWorkerCountForTest(int nWorkers)
{
    std::lock_guard<std::mutex> lock(s_mxPool);
    const bool bRunning = s_nRunning > 0;
    if (bRunning) StopWorkersLocked();
    g_nWorkers = static_cast<int8_t>(ClampWorkers(nWorkers));
    if (bRunning) StartWorkersLocked();
}
