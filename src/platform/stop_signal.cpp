#include "platform/stop_signal.h"

#include <atomic>
#include <csignal>

#if defined(_WIN32)
#include <windows.h>
#else
#include <signal.h>
#endif

namespace kovra {

namespace {

// Lock-free, so that it may be touched from a signal handler.
std::atomic<bool> g_stop{false};
static_assert(std::atomic<bool>::is_always_lock_free);

#if defined(_WIN32)

BOOL WINAPI OnConsoleEvent(DWORD)
{
    if (g_stop.exchange(true))
        return FALSE;  // second request: the default handler ends the process
    return TRUE;
}

#else

void OnSignal(int)
{
    g_stop.store(true);
}

#endif

}  // namespace

void InstallStopRequestHandler()
{
#if defined(_WIN32)
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESETHAND;  // the second signal takes its default action
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
#endif
}

bool StopRequested() { return g_stop.load(); }

}  // namespace kovra
