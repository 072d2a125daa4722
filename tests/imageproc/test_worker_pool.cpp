// The image worker pool: row shares, identical results for 1..4 workers, failures reaching the
// poster, repeated start and stop, and long runs of posts.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "root/startup.h"
#include "core/engine_hooks.h"
#include "core/frame_loop.h"
#include "core/sysfacts.h"
#include "core/worker_pool.h"
#include "tests/support/engine_test.h"

namespace {

// Codes for the tests' own routines (free in the engine's table).
enum { JOB_TEST_FILTER = 900, JOB_TEST_FAIL = 901, JOB_TEST_COUNT = 902, JOB_TEST_THREAD = 903 };

std::atomic<int> s_nCalls{0};
std::atomic<int> s_nOffPoster{0};
std::atomic<int> s_nWaitingSeenSet{0};
std::thread::id s_idPoster;

// Each output pixel from its source row and the two rows around it, plus the row counter: a job
// that reads outside its share and writes only inside it, as the blend and scale jobs do.
int JobTestFilter(WORKER_JOB* pJob)
{
    const WORKER_SCALE_ARGS& a = pJob->scale;
    for (int y = pJob->nFirstRow; y < pJob->nEndRow; ++y) {
        const int yUp = y > 0 ? y - 1 : y;
        const int yDown = y + 1 < a.nSrcHeight ? y + 1 : y;
        uint8_t* pOut = a.pOut + static_cast<size_t>(y) * a.nOutWidth * 4;
        for (int x = a.nFirstCol; x < a.nEndCol; ++x)
            for (int c = 0; c < 4; ++c) {
                const int v = a.pSrc[(yUp * a.nSrcWidth + x) * 4 + c] + 2 * a.pSrc[(y * a.nSrcWidth + x) * 4 + c] +
                              a.pSrc[(yDown * a.nSrcWidth + x) * 4 + c];
                pOut[x * 4 + c] = static_cast<uint8_t>(v / 4);
            }
        ++pOut[static_cast<size_t>(a.nOutWidth) * 4 - 1];   // last byte of the row: times written
    }
    return 0;
}

// Fails on the worker whose share holds row nSrcY (a damaged part, say); the others succeed.
int JobTestFail(WORKER_JOB* pJob)
{
    return (pJob->scale.nSrcY >= pJob->nFirstRow && pJob->scale.nSrcY < pJob->nEndRow) ? -7 : 0;
}

int JobTestCount(WORKER_JOB* pJob)
{
    s_nCalls += pJob->nEndRow - pJob->nFirstRow;
    return 0;
}

int JobTestThread(WORKER_JOB*)
{
    if (std::this_thread::get_id() != s_idPoster) ++s_nOffPoster;
    if (g_bWorkerWaiting.load() == 0) ++s_nWaitingSeenSet;
    return 0;
}

class WorkerPoolTest : public EngineTest {
protected:
    void SetUp() override
    {
        StopWorkerThreads();
        SetWorkerJobHandler(JOB_TEST_FILTER, JobTestFilter);
        SetWorkerJobHandler(JOB_TEST_FAIL, JobTestFail);
        SetWorkerJobHandler(JOB_TEST_COUNT, JobTestCount);
        SetWorkerJobHandler(JOB_TEST_THREAD, JobTestThread);
        s_idPoster = std::this_thread::get_id();
    }
    void TearDown() override
    {
        StopWorkerThreads();
        for (int nCode : {JOB_TEST_FILTER, JOB_TEST_FAIL, JOB_TEST_COUNT, JOB_TEST_THREAD})
            SetWorkerJobHandler(nCode, nullptr);
    }
};

TEST(WorkerRows, SharesDifferByAtMostOneAndCoverTheRange)
{
    int32_t b = 0, e = 0;
    const int32_t aExpect[4][2] = {{0, 0}, {0, 1}, {1, 2}, {2, 3}};
    for (int i = 0; i < 4; ++i) {
        SplitWorkerRows(0, 3, i, 4, &b, &e);
        EXPECT_EQ(b, aExpect[i][0]);
        EXPECT_EQ(e, aExpect[i][1]);
    }
    for (int nWorkers = 1; nWorkers <= 4; ++nWorkers)
        for (int nRows : {0, 1, 5, 719, 8192}) {
            int32_t nNext = 10;
            for (int i = 0; i < nWorkers; ++i) {
                SplitWorkerRows(10, nRows, i, nWorkers, &b, &e);
                EXPECT_EQ(b, nNext);
                EXPECT_GE(e, b);
                EXPECT_LE(e - b, nRows / nWorkers + 1);
                nNext = e;
            }
            EXPECT_EQ(nNext, 10 + nRows);
        }
}

TEST(WorkerJobTable, RefusesCodesOutsideTheTable)
{
    EXPECT_EQ(SetWorkerJobHandler(0, JobTestCount), -1);
    EXPECT_EQ(SetWorkerJobHandler(-5, JobTestCount), -1);
    EXPECT_EQ(SetWorkerJobHandler(1 << 20, JobTestCount), -1);
    EXPECT_EQ(GetWorkerJobHandler(1 << 20), nullptr);
}

TEST(WorkerPoolInstall, PutsStartAndStopIntoTheHooks)
{
    const ENGINE_HOOKS saved = g_EngineHooks;
    InstallEngineParts();
    EXPECT_EQ(g_EngineHooks.pfnStartWorkerThreads, &StartWorkerThreads);
    EXPECT_EQ(g_EngineHooks.pfnStopWorkerThreads, &StopWorkerThreads);
    g_EngineHooks = saved;
}

// The same filter over 1..4 running workers, and with the pool stopped (the poster runs every
// share), gives identical bytes, and every row is written exactly once.
TEST_F(WorkerPoolTest, ResultsAreIdenticalForOneToFourWorkers)
{
    const int w = 37, h = 53;
    std::vector<uint8_t> src(static_cast<size_t>(w) * h * 4);
    for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint8_t>(i * 131 + (i >> 7));
    WORKER_JOB args{};
    args.scale.nFirstCol = 0;
    args.scale.nEndCol = w - 1;   // the last pixel holds the row counter
    args.scale.nSrcWidth = w;
    args.scale.nSrcHeight = h;
    args.scale.nOutWidth = w;
    args.scale.nOutHeight = h;
    args.scale.pSrc = src.data();

    std::vector<uint8_t> reference;
    for (int bRunning = 0; bRunning <= 1; ++bRunning)
        for (int n = 1; n <= 4; ++n) {
            SetWorkerCountForTest(n);
            if (bRunning) StartWorkerThreads();
            EXPECT_EQ(GetRunningWorkerCount(), bRunning ? n : 0);
            std::vector<uint8_t> out(src.size(), 0);
            args.scale.pOut = out.data();
            ASSERT_EQ(PostRowJob(JOB_TEST_FILTER, &args, 0, h), 0);
            for (int y = 0; y < h; ++y) ASSERT_EQ(out[(static_cast<size_t>(y) * w + w) * 4 - 1], 1) << "row " << y;
            if (reference.empty())
                reference = out;
            else
                EXPECT_EQ(out, reference) << "workers " << n << (bRunning ? " (threads)" : " (poster)");
            StopWorkerThreads();
        }
}

// Jobs run on the worker threads, and a worker at work shows g_bWorkerWaiting cleared (with one
// worker the flag is its own); after shut-down the flag says no job is in flight.
TEST_F(WorkerPoolTest, JobsRunOnTheWorkersAndClearTheWaitingFlag)
{
    SetWorkerCountForTest(1);
    StartWorkerThreads();
    s_nOffPoster = 0;
    s_nWaitingSeenSet = 0;
    WORKER_JOB args{};
    ASSERT_EQ(PostRowJob(JOB_TEST_THREAD, &args, 0, 1), 0);
    EXPECT_EQ(s_nOffPoster.load(), 1);
    EXPECT_EQ(s_nWaitingSeenSet.load(), 1);

    SetWorkerCountForTest(4);
    EXPECT_EQ(GetRunningWorkerCount(), 4);
    s_nOffPoster = 0;
    ASSERT_EQ(PostRowJob(JOB_TEST_THREAD, &args, 0, 4), 0);
    EXPECT_EQ(s_nOffPoster.load(), 4);
    StopWorkerThreads();
    EXPECT_EQ(g_bWorkerWaiting.load(), 1);
}

// A failing share makes the post fail for every worker count and wherever the failing row falls;
// the next post starts clean. Codes without a routine (and the no-work reduce job) succeed.
TEST_F(WorkerPoolTest, AFailedJobIsReportedByThePoster)
{
    for (int n = 1; n <= 4; ++n) {
        SetWorkerCountForTest(n);
        StartWorkerThreads();
        for (int nBadRow : {0, 5, 9}) {
            WORKER_JOB args{};
            args.scale.nSrcY = nBadRow;
            EXPECT_EQ(PostRowJob(JOB_TEST_FAIL, &args, 0, 10), -7) << n << " workers, row " << nBadRow;
            args.scale.nSrcY = 100;
            EXPECT_EQ(PostRowJob(JOB_TEST_FAIL, &args, 0, 10), 0);
        }
        WORKER_JOB none{};
        EXPECT_EQ(PostRowJob(JOB_REDUCE_HALF, &none, 0, 10), 0);
        EXPECT_EQ(PostRowJob(777, &none, 0, 10), 0);
        EXPECT_EQ(PostRowJob(-3, &none, 0, 10), 0);
        StopWorkerThreads();
    }
}

// Prepared records go to the first workers only: two halves of one image on workers 0 and 1, each
// with its own result; more records than workers are refused.
TEST_F(WorkerPoolTest, PreparedRecordsGoToTheFirstWorkers)
{
    SetWorkerCountForTest(3);
    StartWorkerThreads();
    WORKER_JOB aJobs[2] = {};
    aJobs[0].nCode = JOB_TEST_COUNT;
    aJobs[0].nEndRow = 5;
    aJobs[1].nCode = JOB_TEST_FAIL;
    aJobs[1].nEndRow = 2;
    aJobs[1].scale.nSrcY = 1;
    s_nCalls = 0;
    EXPECT_EQ(PostWorkerJobs(aJobs, 2), -7);
    EXPECT_EQ(s_nCalls.load(), 5);
    EXPECT_EQ(g_aWorkerJob[0].nResult, 0);
    EXPECT_EQ(g_aWorkerJob[1].nResult, -7);
    aJobs[1].scale.nSrcY = 3;
    EXPECT_EQ(PostWorkerJobs(aJobs, 2), 0);

    WORKER_JOB aMany[4] = {};
    EXPECT_EQ(PostWorkerJobs(aMany, 4), -1);
    EXPECT_EQ(PostWorkerJobs(aMany, 0), -1);
}

// Start and stop many times, with and without work in between, at every worker count; a second
// start does nothing and a stop of a stopped pool is harmless. Leaks show under the sanitizer,
// hangs as a test time-out.
TEST_F(WorkerPoolTest, RepeatedStartAndStop)
{
    for (int k = 0; k < 40; ++k) {
        const int n = k % 4 + 1;
        SetWorkerCountForTest(n);
        StartWorkerThreads();
        StartWorkerThreads();
        EXPECT_EQ(GetRunningWorkerCount(), n);
        if (k % 2) {
            WORKER_JOB args{};
            s_nCalls = 0;
            ASSERT_EQ(PostRowJob(JOB_TEST_COUNT, &args, 0, 7), 0);
            EXPECT_EQ(s_nCalls.load(), 7);
        }
        StopWorkerThreads();
        StopWorkerThreads();
        EXPECT_EQ(GetRunningWorkerCount(), 0);
    }
}

// Many small posts in a row: a lost wake-up or a done signal taken for the wrong job shows as a
// hang or a wrong count.
TEST_F(WorkerPoolTest, ManyPostsInARow)
{
    for (int n : {2, 4}) {
        SetWorkerCountForTest(n);
        StartWorkerThreads();
        s_nCalls = 0;
        WORKER_JOB args{};
        for (int k = 0; k < 2000; ++k) ASSERT_EQ(PostRowJob(JOB_TEST_COUNT, &args, 0, k % 6), 0);
        int nExpect = 0;
        for (int k = 0; k < 2000; ++k) nExpect += k % 6;
        EXPECT_EQ(s_nCalls.load(), nExpect);
        StopWorkerThreads();
    }
}

}  // namespace
