// The layer where it meets the system beneath the toolkit: the desktop's answers on the
// session bus, the toolkit's fatal messages, the full-screen frame's helper thread.
#include "DesktopInhibit.h"
#include "Runtime.h"
#include "RuntimeState.h"
#include "TestSupport.h"
#include "Window.h"

#include <QDir>
#include <QProcess>
#include <QTest>
#include <QThread>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

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

void readLines(QProcess& process, QStringList& lines)
{
    while (process.canReadLine())
        lines << QString::fromUtf8(process.readLine()).trimmed();
}

// Waits for a helper's line without running the event loop: nothing that the code under test
// left for later gets a chance to run meanwhile.
bool waitForLine(QProcess& process, QStringList& lines, const QString& line)
{
    QDeadlineTimer deadline(3000);
    for (readLines(process, lines); !lines.contains(line) && !deadline.hasExpired(); readLines(process, lines))
        process.waitForReadyRead(static_cast<int>(deadline.remainingTime()));
    return lines.contains(line);
}

// Runs the event loop for ms, or until the helper prints line.
void runEvents(QProcess& process, QStringList& lines, int ms, const QString& line = {})
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired() && (line.isEmpty() || !lines.contains(line))) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        readLines(process, lines);
        QThread::msleep(5);
    }
}

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
        QProcess bus;
        bus.start("dbus-daemon", { "--session", "--nofork", "--print-address=1" });
        QVERIFY2(bus.waitForReadyRead(5000), "no private session bus");
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus.readLine().trimmed());
        QProcess saver;
        saver.start(qEnvironmentVariable("FAKE_SCREENSAVER"), { "--answer-after", "100,400" });
        QStringList lines;
        QVERIFY2(waitForLine(saver, lines, "ready"), qPrintable(saver.readAllStandardError()));

        // Answered 100 ms late, within the release's wait: given back before release returns.
        fw::DesktopInhibit::inhibit(nullptr, "testing");
        fw::DesktopInhibit::release();
        QVERIFY2(waitForLine(saver, lines, "UnInhibit 42"), qPrintable(lines.join('\n')));

        // Answered 400 ms late: past the release's wait, and after the next hold asked again.
        fw::DesktopInhibit::inhibit(nullptr, "testing");
        fw::DesktopInhibit::release();
        fw::DesktopInhibit::inhibit(nullptr, "testing");
        runEvents(saver, lines, 3000, "answered 44");
        runEvents(saver, lines, 200);
        QCOMPARE(lines.filter("UnInhibit"), QStringList({ "UnInhibit 42", "UnInhibit 43" }));
        fw::DesktopInhibit::release();
        QVERIFY2(waitForLine(saver, lines, "UnInhibit 44"), qPrintable(lines.join('\n')));
        runEvents(saver, lines, 200);
        QCOMPARE(lines.filter("UnInhibit"), QStringList({ "UnInhibit 42", "UnInhibit 43", "UnInhibit 44" }));
        saver.kill();
        saver.waitForFinished();
        bus.kill();
        bus.waitForFinished();
    }
};

QTEST_MAIN(tst_platform)
#include "tst_platform.moc"
