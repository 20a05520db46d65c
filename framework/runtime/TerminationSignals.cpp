// SIGTERM, SIGINT and SIGHUP (the terminal that started the program closed) end the run
// through the quit path, with status 128 + the signal. The
// handler only writes the signal's number to a pipe; the event loop reads it. A stop request
// must stop the program even where no event loop reads the pipe (the toolkit waiting for a
// display server that does not answer): if the program is not out within StopBoundSeconds
// of the first signal, or a second one comes, it ends at once with the status already decided
// (a failure's, or the user's quit), else with that same status. A quit that did not come
// from a signal is bounded too, once nothing waits for the user: the toolkit takes leave of a
// display server that has stopped answering by waiting for it for ever.
// SIGUSR1 never ends the program: ignored from its start, then read through the same pipe and
// raised on every open window (Event_UserSignal) while the event loop runs.
#include "TerminationSignals.h"
#include "platform/Platform.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <iterator>
#include <poll.h>
#include <unistd.h>

namespace fw {

namespace {

constexpr unsigned StopBoundSeconds = 1;
constexpr unsigned LeaveBoundSeconds = 3;

// The handler runs on whichever of the program's threads the kernel picks (the toolkit's
// display and bus threads among them), so two signals can be handled at once: the first is
// decided by a compare-and-exchange, which these lock-free atomics make safe in a handler.
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);
int s_signalPipe[2] = { -1, -1 };
std::atomic<int> s_firstSignal { 0 };
// The status the run decided on, once `s_hasDecided` says there is one: kept here alone, since
// the handler that ends the program at once reads it.
std::atomic<int> s_decidedStatus { 0 };
std::atomic<bool> s_hasDecided { false };
// Ended by a termination signal: nothing waits for the user any more. The main thread's alone.
bool s_endedBySignal = false;
// What a SIGUSR1 calls, on the main thread, once the event loop reads the signals.
void (*s_userSignal)() = nullptr;
// Whether SIGINT and SIGHUP were taken over, so that the release gives back only what was
// taken. In file scope with the rest: signal dispositions are the process's, set once, before
// the runtime is up (a SIGUSR1 may come before main() runs).
constexpr int Optional[] = { SIGINT, SIGHUP };
bool s_catches[std::size(Optional)] = {};

[[noreturn]] void endNow()
{
    platform::giveConsoleBack();
    ::_exit(s_hasDecided ? s_decidedStatus.load() : 128 + s_firstSignal);
}

void onSignal(int signal)
{
    int none = 0;
    if (!s_firstSignal.compare_exchange_strong(none, signal))
        endNow();
    const int savedErrno = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    [[maybe_unused]] const auto written = ::write(s_signalPipe[1], &number, 1);
    ::alarm(StopBoundSeconds);
    errno = savedErrno;
}

void onUserSignal(int)
{
    const int savedErrno = errno;
    const unsigned char number = SIGUSR1;
    [[maybe_unused]] const auto written = ::write(s_signalPipe[1], &number, 1);
    errno = savedErrno;
}

// Before anything else runs, before the command line is read: a SIGUSR1 that comes that
// early must not end the program with the signal's default action.
[[maybe_unused]] const bool s_userSignalIgnored = std::signal(SIGUSR1, SIG_IGN) != SIG_ERR;

void onStopBoundPassed(int)
{
    endNow();
}

// A signal that the launcher set to be ignored stays ignored (a shell does so for SIGINT and
// SIGQUIT of a background job, nohup for SIGHUP); SIGTERM, the service manager's stop
// request, is always taken.
bool ignoredAtStart(int signal)
{
    struct sigaction current {};
    return ::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

// A termination signal ends whatever runs: the main loop or a message box over it, and any
// box still to come returns at once. A failure that came first keeps its status.
void endBySignal(int signal)
{
    if (!s_hasDecided)
        decideStatus(128 + signal);
    s_endedBySignal = true;
    QCoreApplication::exit(s_decidedStatus);
}

}

void decideStatus(int status)
{
    s_decidedStatus = status;
    s_hasDecided = true;
}

bool statusDecided()
{
    return s_hasDecided;
}

int decidedStatus()
{
    return s_hasDecided ? s_decidedStatus.load() : 0;
}

bool endedBySignal()
{
    return s_endedBySignal;
}

void forgetDecidedStatus()
{
    s_hasDecided = false;
    s_endedBySignal = false;
}

void catchTerminationSignals()
{
    if (s_signalPipe[0] >= 0 || ::pipe2(s_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // Any further termination signal waits while the handler runs, so the first one decides.
    sigaddset(&action.sa_mask, SIGTERM);
    for (const int signal : Optional)
        sigaddset(&action.sa_mask, signal);
    action.sa_flags = SA_RESTART;
    // A launcher may start the program with these blocked; they would then never arrive.
    sigset_t termination;
    sigemptyset(&termination);
    sigaddset(&termination, SIGTERM);
    for (std::size_t i = 0; i < std::size(Optional); ++i) {
        s_catches[i] = !ignoredAtStart(Optional[i]);
        if (s_catches[i]) {
            ::sigaction(Optional[i], &action, nullptr);
            sigaddset(&termination, Optional[i]);
        }
    }
    ::sigaction(SIGTERM, &action, nullptr);
    struct sigaction user {};
    user.sa_handler = onUserSignal;
    sigemptyset(&user.sa_mask);
    user.sa_flags = SA_RESTART;
    ::sigaction(SIGUSR1, &user, nullptr);
    sigaddset(&termination, SIGUSR1);
    struct sigaction bound {};
    bound.sa_handler = onStopBoundPassed;
    sigemptyset(&bound.sa_mask);
    ::sigaction(SIGALRM, &bound, nullptr);
    sigaddset(&termination, SIGALRM);
    ::sigprocmask(SIG_UNBLOCK, &termination, nullptr);
}

int waitUnlessStopped(int descriptor, int milliseconds)
{
    if (s_signalPipe[0] < 0)
        return 0;
    pollfd ready[] = { { s_signalPipe[0], POLLIN, 0 }, { descriptor, POLLIN, 0 } };
    for (;;) {
        if (::poll(ready, 2, milliseconds) < 0 && errno != EINTR)
            return 0;
        unsigned char number = 0;
        while (::read(s_signalPipe[0], &number, 1) == 1) {
            if (number != SIGUSR1) { // SIGUSR1 has nothing to go back to yet
                ::alarm(0); // ended here, in order
                return 128 + number;
            }
        }
        if (!(ready[0].revents & POLLIN) || ready[1].revents)
            return 0;
    }
}

void readTerminationSignals(void (*userSignal)())
{
    if (s_signalPipe[0] < 0)
        return;
    s_userSignal = userSignal;
    auto* notifier = new QSocketNotifier(s_signalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [] {
        unsigned char number = 0;
        while (::read(s_signalPipe[0], &number, 1) == 1) {
            if (number != SIGUSR1)
                endBySignal(number);
            else if (s_userSignal)
                s_userSignal();
        }
    });
}

void startQuitDeadline()
{
    if (s_signalPipe[0] >= 0 && s_firstSignal == 0)
        ::alarm(LeaveBoundSeconds);
}

void releaseTerminationSignals()
{
    if (s_signalPipe[0] < 0)
        return;
    // Out of the event loop now: what is left of the orderly quit stays within the bound.
    // SIGUSR1 is ignored again before the pipe it writes to closes.
    std::signal(SIGUSR1, SIG_IGN);
    std::signal(SIGTERM, SIG_DFL);
    for (std::size_t i = 0; i < std::size(Optional); ++i) {
        if (s_catches[i])
            std::signal(Optional[i], SIG_DFL);
    }
    ::close(s_signalPipe[0]);
    ::close(s_signalPipe[1]);
    s_signalPipe[0] = s_signalPipe[1] = -1;
}

}
