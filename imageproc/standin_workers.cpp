// Stand-in until the image worker pool exists: with no workers there is never a job in flight, so
// the window thread may always dispatch while the frame thread waits.
#include "core/frame_loop.h"

std::atomic<int> g_bWorkerWaiting{1};
