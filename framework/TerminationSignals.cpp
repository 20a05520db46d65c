// SIGTERM and SIGINT end the run through the quit path, with status 128 + the signal. The
// handler only writes the signal's number to a pipe; the event loop reads it.
#include "RuntimeState.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace fw {

namespace {

int s_signalPipe[2] = { -1, -1 };

void onSignal(int signal)
{
    const int savedErrno = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    [[maybe_unused]] const auto written = ::write(s_signalPipe[1], &number, 1);
    errno = savedErrno;
}

// A termination signal ends whatever runs: the main loop or a message box over it, and any
// box still to come returns at once. A failure that came first keeps its status.
void endBySignal(int signal)
{
    RuntimeState& s = runtimeState();
    if (!s.quit) {
        s.quit = true;
        s.status = 128 + signal;
    }
    s.terminated = true;
    QApplication::exit(s.status);
}

}

void catchTerminationSignals()
{
    if (::pipe2(s_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    // A launcher may start the program with these blocked; they would then never arrive.
    sigset_t termination;
    sigemptyset(&termination);
    sigaddset(&termination, SIGTERM);
    sigaddset(&termination, SIGINT);
    ::sigprocmask(SIG_UNBLOCK, &termination, nullptr);
}

void readTerminationSignals()
{
    if (s_signalPipe[0] < 0)
        return;
    auto* notifier = new QSocketNotifier(s_signalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [] {
        unsigned char number = 0;
        while (::read(s_signalPipe[0], &number, 1) == 1)
            endBySignal(number);
    });
}

void releaseTerminationSignals()
{
    if (s_signalPipe[0] < 0)
        return;
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGINT, SIG_DFL);
    ::close(s_signalPipe[0]);
    ::close(s_signalPipe[1]);
    s_signalPipe[0] = s_signalPipe[1] = -1;
}

}
