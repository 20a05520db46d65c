// The layer where it meets the system beneath the toolkit: the desktop's answers on the
// session bus, the toolkit's fatal messages, the full-screen frame's helper thread.
#include "DesktopInhibit.h"
#include "Runtime.h"
#include "RuntimeState.h"
#include "TestSupport.h"
#include "Window.h"

#include <QDir>
#include <QTest>
#include <QThread>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

class FullScreenWindow : public fw::Window {
public:
    FullScreenWindow()
        : fw::Window("FullScreenWindow")
    {
    }
    void Layout() override
    {
        applyDesign(fw::WindowDesign { .Width = 640, .Height = 480, .Visible = false, .FullScreen = true,
            .MenuBarVisible = false });
    }
};

// Threads of this process that run under the program's own name: the toolkit names its own
// threads, a plain helper thread keeps the name of the process.
int unnamedThreads()
{
    QFile self("/proc/self/comm");
    self.open(QIODevice::ReadOnly);
    const QByteArray name = self.readAll();
    int count = 0;
    for (const QString& task : QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm("/proc/self/task/" + task + "/comm");
        count += comm.open(QIODevice::ReadOnly) && comm.readAll() == name;
    }
    return count;
}

// The exit status of a child that installs the toolkit message handler, marks the toolkit
// started or not, and then meets a fatal message.
int statusAfterFatalMessage(bool started)
{
    const pid_t child = fork();
    if (child == 0) {
        std::freopen("/dev/null", "w", stderr);
        fw::watchToolkitMessages();
        if (started)
            fw::toolkitStarted();
        qFatal("the toolkit gives up");
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

// A helper program whose output (and errors) the test reads line by line. Started with
// posix_spawn rather than the toolkit's process class, which cannot start programs under
// qemu-user (it asks clone for a pidfd): the arm64 build's tests run there.
class Helper {
public:
    Helper(const char* program, std::vector<const char*> arguments)
    {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
        arguments.insert(arguments.begin(), program);
        arguments.push_back(nullptr);
        if (posix_spawnp(&m_pid, program, &actions, nullptr, const_cast<char* const*>(arguments.data()), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        m_out = out[0];
    }
    ~Helper()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0)
            close(m_out);
    }

    // Takes in what the helper has written, waiting up to ms for something to come.
    void read(int ms)
    {
        pollfd ready { m_out, POLLIN, 0 };
        char buffer[4096];
        const ssize_t n = poll(&ready, 1, ms) > 0 ? ::read(m_out, buffer, sizeof buffer) : 0;
        if (n > 0)
            m_pending.append(buffer, n);
        for (qsizetype end; (end = m_pending.indexOf('\n')) >= 0; m_pending.remove(0, end + 1))
            lines << QString::fromUtf8(m_pending.left(end)).trimmed();
    }
    // The first line that starts with prefix, waited for without running the event loop:
    // nothing that the code under test left for later gets a chance to run meanwhile.
    QString waitForLine(const QString& prefix)
    {
        const QDeadlineTimer deadline(3000);
        for (read(0); !deadline.hasExpired(); read(static_cast<int>(deadline.remainingTime()))) {
            for (const QString& line : std::as_const(lines)) {
                if (line.startsWith(prefix))
                    return line;
            }
        }
        return {};
    }
    // Runs the event loop for ms, or until the helper writes line.
    void runEvents(int ms, const QString& line = {})
    {
        const QDeadlineTimer deadline(ms);
        while (!deadline.hasExpired() && (line.isEmpty() || !lines.contains(line))) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            read(5);
        }
    }

    QStringList lines;

private:
    pid_t m_pid = -1;
    int m_out = -1;
    QByteArray m_pending;
};

}

class tst_platform : public QObject {
    Q_OBJECT

private slots:
    void ToolkitMessages_fatalMessageEndsWithCannotStartOnlyWhileStarting()
    {
        QCOMPARE(statusAfterFatalMessage(false), 69);
        QCOMPARE(statusAfterFatalMessage(true), 70);
    }

    void FramePrefault_helperThreadNeverOutlivesTheFirstFrameOrTheWindow()
    {
        TestEnvironment env;
        const int before = unnamedThreads();
        // Shown and closed in one handler: the helper is joined before the buffer goes.
        fw::Runtime::dispatch([] {
            auto& window = fw::Window::implicitInstance<FullScreenWindow>();
            window.Show();
            window.Close();
        });
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(unnamedThreads(), before);

        auto& window = fw::Window::implicitInstance<FullScreenWindow>();
        window.Show();
        QVERIFY(QTest::qWaitForWindowExposed(window.widget()));
        QTRY_COMPARE(unnamedThreads(), before);
        window.Close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // The desktop's screen saver service answers Inhibit late: each cookie is given back
    // exactly once, whether it comes before a release (waited for there), after it, or
    // after a newer hold has asked again; the newer hold's cookie is kept until its release.
    void DesktopInhibit_everyCookieIsGivenBackOnceHoweverLateItComes()
    {
        Helper bus("dbus-daemon", { "--session", "--nofork", "--print-address=1" });
        const QString address = bus.waitForLine("unix:");
        QVERIFY2(!address.isEmpty(), qPrintable("no private session bus: " + bus.lines.join('\n')));
        qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
        const QByteArray program = qgetenv("FAKE_SCREENSAVER");
        Helper saver(program.constData(), { "--answer-after", "100,400" });
        QVERIFY2(saver.waitForLine("ready") == "ready", qPrintable(saver.lines.join('\n')));

        // Answered 100 ms late, within the release's wait: given back before release returns.
        fw::DesktopInhibit::inhibit(nullptr, "testing");
        fw::DesktopInhibit::release();
        QVERIFY2(!saver.waitForLine("UnInhibit 42").isEmpty(), qPrintable(saver.lines.join('\n')));

        // Answered 400 ms late: past the release's wait, and after the next hold asked again.
        fw::DesktopInhibit::inhibit(nullptr, "testing");
        fw::DesktopInhibit::release();
        fw::DesktopInhibit::inhibit(nullptr, "testing");
        saver.runEvents(3000, "answered 44");
        saver.runEvents(200);
        QCOMPARE(saver.lines.filter("UnInhibit"), QStringList({ "UnInhibit 42", "UnInhibit 43" }));
        fw::DesktopInhibit::release();
        QVERIFY2(!saver.waitForLine("UnInhibit 44").isEmpty(), qPrintable(saver.lines.join('\n')));
        saver.runEvents(200);
        QCOMPARE(saver.lines.filter("UnInhibit"), QStringList({ "UnInhibit 42", "UnInhibit 43", "UnInhibit 44" }));
    }
};

QTEST_MAIN(tst_platform)
#include "tst_platform.moc"
