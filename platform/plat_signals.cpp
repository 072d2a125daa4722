// Quit signals: the handler does only what is safe in a handler (it sets flags); the frame loop
// reads them on its next turn and asks for the quit.
#include "platform/plat_signals.h"

#include <csignal>

namespace {

volatile std::sig_atomic_t s_nPending = 0;   // a signal not yet taken
volatile std::sig_atomic_t s_nSeen = 0;      // signals since the handlers went in

void OnQuitSignal(int nSignal)
{
    if (s_nSeen) {
        // Asked twice: the user means it. The default action ends the process.
        std::signal(nSignal, SIG_DFL);
        std::raise(nSignal);
        return;
    }
    s_nSeen = 1;
    s_nPending = 1;
}

const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

}  // namespace

void PlatInstallQuitSignals(void)
{
    s_nPending = 0;
    s_nSeen = 0;
    struct sigaction sa {};
    sa.sa_handler = OnQuitSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int nSignal : kSignals) sigaction(nSignal, &sa, nullptr);
}

void PlatRemoveQuitSignals(void)
{
    for (int nSignal : kSignals) std::signal(nSignal, SIG_DFL);
    s_nPending = 0;
    s_nSeen = 0;
}

int PlatTakeQuitSignal(void)
{
    if (!s_nPending) return 0;
    s_nPending = 0;
    return 1;
}

int PlatQuitSignalSeen(void)
{
    return s_nSeen ? 1 : 0;
}
