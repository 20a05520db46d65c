// Stops one thread of a running program, as a debugger's non-stop mode does, while the rest of
// the program runs on: `freeze_thread TID` (the program's main thread: its process number).
// Prints "frozen" once the thread has stopped, then holds it until the program ends. A signal
// meant for that thread alone goes on to it, and the thread stops again after.
// Ends with 0 once the program has ended, 1 if the thread could not be stopped.
#include <sys/ptrace.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    const pid_t thread = argc == 2 ? static_cast<pid_t>(std::atoi(argv[1])) : 0;
    if (thread <= 0) {
        std::fprintf(stderr, "usage: freeze_thread TID\n");
        return 1;
    }
    int status = 0;
    if (ptrace(PTRACE_SEIZE, thread, nullptr, nullptr) != 0 || ptrace(PTRACE_INTERRUPT, thread, nullptr, nullptr) != 0
        || waitpid(thread, &status, __WALL) != thread) {
        std::fprintf(stderr, "freeze_thread: %d: %s\n", thread, std::strerror(errno));
        return 1;
    }
    std::printf("frozen\n");
    std::fflush(stdout);
    for (;;) {
        if (waitpid(thread, &status, __WALL) != thread)
            return errno == EINTR ? 1 : 0;
        if (WIFEXITED(status) || WIFSIGNALED(status))
            return 0;
        // A stop for a signal (not the tracer's own stop): the signal is delivered, and the
        // thread stopped again.
        if (WIFSTOPPED(status) && status >> 16 == 0) {
            ptrace(PTRACE_CONT, thread, nullptr, WSTOPSIG(status));
            ptrace(PTRACE_INTERRUPT, thread, nullptr, nullptr);
        }
    }
}
