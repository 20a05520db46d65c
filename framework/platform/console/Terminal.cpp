// The console's terminal: in graphics mode while the program draws, given back in text mode
// at every exit, crashes too.
#include "Terminal.h"
#include "platform/Platform.h"

#include <csignal>
#include <cstdlib>
#include <exception>
#include <fcntl.h>
#include <linux/kd.h>
#include <sys/ioctl.h>
#include <unistd.h>

// The kernel takes it, but its headers for programs leave it out.
#ifndef KDSKBMUTE
#define KDSKBMUTE 0x4B51
#endif

namespace fw::platform {

namespace {

// The console's terminal, given back at every exit in text mode with the keyboard mode it had:
// a program that could not give it back (killed, crashed) left graphics mode and the keyboard
// off, which this one then gives back as a console's own. In file scope, not in the run's
// object: the crash and stop signals' handlers give it back too, and reach nothing else.
int s_tty = -1;
long s_keyboardMode = K_UNICODE;
volatile sig_atomic_t s_terminalInGraphics = 0;

// The crash handler's stack, and what an exception that nothing catches ended with before: in
// file scope, as the crash path can reach nothing else.
alignas(16) char s_crashStack[64 * 1024];
std::terminate_handler s_previousTerminate = nullptr;

void onCrash(int signal)
{
    giveConsoleBack();
    // Blocked while this handler runs; delivered, with its default action, as it returns.
    ::raise(signal);
}

}

void takeTerminal()
{
    const int tty = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3);
    int mode = KD_TEXT;
    long keyboard = K_UNICODE;
    if (tty < 0 || ::ioctl(tty, KDGETMODE, &mode) != 0 || ::ioctl(tty, KDGKBMODE, &keyboard) != 0) {
        if (tty >= 0)
            ::close(tty);
        return; // not a virtual terminal (a serial line, ssh): nothing of it to take
    }
    s_tty = tty;
    s_keyboardMode = keyboard == K_XLATE ? K_XLATE : K_UNICODE;
    s_terminalInGraphics = 1;
    ::ioctl(s_tty, KDSETMODE, KD_GRAPHICS);
}

// The handler runs once (reset to the signal's default as it starts) on a stack of its own, so
// that a stack overflow reaches it too.
void giveBackOnCrash()
{
    stack_t stack {};
    stack.ss_sp = s_crashStack;
    stack.ss_size = sizeof s_crashStack;
    ::sigaltstack(&stack, nullptr);
    struct sigaction action {};
    action.sa_handler = onCrash;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_ONSTACK | SA_RESETHAND;
    for (const int signal : { SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGQUIT }) {
        struct sigaction current {};
        // One that the launcher set to be ignored (nohup) stays ignored.
        if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_IGN)
            ::sigaction(signal, &action, nullptr);
    }
    s_previousTerminate = std::set_terminate([] {
        giveConsoleBack();
        // The C++ library's own: it names the exception, then aborts.
        (s_previousTerminate ? s_previousTerminate : std::abort)();
    });
}

CrashStack::CrashStack()
    : m_stack(new char[sizeof s_crashStack])
{
    stack_t stack {};
    stack.ss_sp = m_stack.get();
    stack.ss_size = sizeof s_crashStack;
    if (::sigaltstack(&stack, nullptr) != 0)
        m_stack.reset();
}

CrashStack::~CrashStack()
{
    if (!m_stack)
        return;
    stack_t off {};
    off.ss_flags = SS_DISABLE;
    ::sigaltstack(&off, nullptr);
}

void giveConsoleBack() noexcept
{
    if (!s_terminalInGraphics)
        return;
    s_terminalInGraphics = 0;
    ::ioctl(s_tty, KDSETMODE, KD_TEXT);
    ::ioctl(s_tty, KDSKBMUTE, 0);
    ::ioctl(s_tty, KDSKBMODE, s_keyboardMode);
    constexpr char ShowCursor[] = "\033[?25h";
    [[maybe_unused]] const auto written = ::write(s_tty, ShowCursor, sizeof ShowCursor - 1);
}

}
