// The turns of a wait between threads: the window thread serves while it waits.
#include "platform/plat_thread.h"

#include <chrono>
#include <thread>

#include "platform/plat_window_backend.h"

void PlatWaitTurn(uint32_t nMs)
{
    PlatServeWindowThreadInWait(PLAT_SERVE_ALL);
    if (nMs == 0) std::this_thread::yield();
    else std::this_thread::sleep_for(std::chrono::milliseconds(nMs));
}

void PlatWaitUntil(PLAT_WAIT_DONE pfnDone, void* pArg, uint32_t nMs)
{
    while (!pfnDone(pArg)) PlatWaitTurn(nMs);
}
