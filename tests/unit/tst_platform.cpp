// The layer where it meets the system beneath the toolkit: the desktop's answers on the
// session bus, the full-screen frame's helper thread.
#include "awake/DesktopInhibit.h"
#include "displayserver/WaylandClient.h"
#include "TestSupport.h"
#include "framework/Runtime.h"
#include "framework/Window.h"

#include <QApplication>
#include <QBackingStore>
#include <QImage>
#include <QTemporaryFile>
#include <QThread>
#include <QTest>
#include <atomic>
#include <optional>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

// The frame's helper thread, watched: its advice to fault a buffer's pages in takes 300 ms
// here, so that a paint or a free that does not wait for it comes while it still runs.
namespace {
std::atomic<std::uintptr_t> s_prefaulted { 0 }, s_prefaultedEnd { 0 };
}
extern "C" int madvise(void* address, size_t length, int advice) noexcept
{
    if (advice == MADV_POPULATE_WRITE)
        usleep(300'000);
    const int result = static_cast<int>(syscall(SYS_madvise, address, length, advice));
    if (advice == MADV_POPULATE_WRITE) {
        s_prefaultedEnd = reinterpret_cast<std::uintptr_t>(address) + length;
        s_prefaulted = reinterpret_cast<std::uintptr_t>(address);
    }
    return result;
}

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

class OtherFullScreenWindow : public FullScreenWindow { };

// The desktop's two services asked to keep the display awake while the object lives, as a
// window's hold asks them.
struct BusHold {
    using Inhibit = fw::platform::DesktopInhibit;
    Inhibit saver { Inhibit::ScreenSaver, nullptr, "testing" };
    Inhibit portal { Inhibit::Portal, nullptr, "testing" };
    ~BusHold() { Inhibit::giveBack({ &saver, &portal }); }
};

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
    // Runs the event loop for ms, or until the helper writes a line that ends with `end`.
    void runEvents(int ms, const QString& end = {})
    {
        const QDeadlineTimer deadline(ms);
        const auto written = [&] { return std::any_of(lines.cbegin(), lines.cend(), [&](const QString& line) { return line.endsWith(end); }); };
        while (!deadline.hasExpired() && (end.isEmpty() || !written())) {
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

// What the first paint of a window finds: whether the helper was done, and the buffer.
struct FirstPaint : QObject {
    explicit FirstPaint(fw::Window& window)
        : window(window)
    {
        qApp->installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() != QEvent::Paint || seen)
            return false;
        seen = true;
        prefaulted = s_prefaulted;
        prefaultedEnd = s_prefaultedEnd;
        const auto* image = dynamic_cast<QImage*>(window.widget()->backingStore()->paintDevice());
        bits = image ? reinterpret_cast<std::uintptr_t>(image->constBits()) : 0;
        bytes = image ? static_cast<std::uintptr_t>(image->sizeInBytes()) : 0;
        return false;
    }
    fw::Window& window;
    bool seen = false;
    std::uintptr_t prefaulted = 0, prefaultedEnd = 0, bits = 0, bytes = 0;
};

}

class tst_platform : public QObject {
    Q_OBJECT

private slots:
    // The helper faults in the very buffer that the first frame is painted into, and is done
    // before that paint; a window shown and closed in one handler waits for it before its
    // buffer goes.
    void FramePrefault_helperIsDoneBeforeThePaintAndBeforeTheBufferGoes()
    {
        TestEnvironment env;
        bool doneBeforeDestroyed = false;
        fw::Runtime::dispatch([&] {
            auto& window = fw::Window::implicitInstance<FullScreenWindow>();
            window.Show();
            QObject::connect(window.widget(), &QObject::destroyed, [&] { doneBeforeDestroyed = s_prefaulted != 0; });
            window.Close();
        });
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(doneBeforeDestroyed);

        s_prefaulted = 0;
        auto& window = fw::Window::implicitInstance<FullScreenWindow>();
        FirstPaint paint(window);
        window.Show();
        QTRY_VERIFY(paint.seen);
        QVERIFY2(paint.prefaulted != 0, "painted before the helper was done, or with no helper");
        QVERIFY(paint.prefaulted <= paint.bits && paint.bits + paint.bytes <= paint.prefaultedEnd);
        window.Close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // The desktop's screen saver service answers Inhibit late: each cookie is given back
    // exactly once, whether it comes before a hold's end (waited for there), after it, or
    // after a newer hold has asked; the newer hold's cookie is kept until its end. Each
    // portal request is closed once, also one still unanswered at the end.
    // A connection handed over by the compositor is the toolkit's: the probe before it starts
    // neither takes it nor closes it.
    void WaylandProbe_leavesAHandedOverConnectionAlone()
    {
        int ends[2];
        QVERIFY(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) == 0);
        qputenv("WAYLAND_SOCKET", QByteArray::number(ends[0]));
        QVERIFY(!fw::platform::compositorDrawsTitleBars());
        QCOMPARE(qgetenv("WAYLAND_SOCKET"), QByteArray::number(ends[0]));
        QCOMPARE(::fcntl(ends[0], F_GETFD), FD_CLOEXEC);
        qunsetenv("WAYLAND_SOCKET");
        ::close(ends[0]);
        ::close(ends[1]);
    }

    void DesktopInhibit_everyGrantIsGivenBackOnceHoweverLateItComes()
    {
        Helper saver(qgetenv("FAKE_SCREENSAVER").constData(), { "--answer-after", "30,1000" });
        QVERIFY2(saver.waitForLine("ready") == "ready", qPrintable(saver.lines.join('\n')));
        Helper portal(qgetenv("FAKE_PORTAL").constData(), { "--answer-after", "0,1000,0" });
        QVERIFY2(portal.waitForLine("ready") == "ready", qPrintable(portal.lines.join('\n')));

        // Answered 30 ms late, within the end's wait: given back before the end returns. (Not at
        // once: the stand-in portal's bus library can take a Close that comes at once after
        // Inhibit before the object it closes is there.)
        { BusHold first; }
        QVERIFY2(!saver.waitForLine("UnInhibit 42").isEmpty(), qPrintable(saver.lines.join('\n')));

        // Answered a second late: past the end's wait, and after the next hold asked.
        std::optional<BusHold> third;
        { BusHold second; }
        third.emplace();
        saver.runEvents(5000, "answered 44");
        saver.runEvents(300);
        QCOMPARE(saver.lines.filter("UnInhibit"), QStringList({ "UnInhibit 42", "UnInhibit 43" }));
        third.reset();
        QVERIFY2(!saver.waitForLine("UnInhibit 44").isEmpty(), qPrintable(saver.lines.join('\n')));
        saver.runEvents(300);
        portal.runEvents(1500);
        QCOMPARE(saver.lines.filter("UnInhibit"), QStringList({ "UnInhibit 42", "UnInhibit 43", "UnInhibit 44" }));
        QCOMPARE(portal.lines.filter(QRegularExpression("^Close ")).size(), 3);
        QCOMPARE(portal.lines.filter(QRegularExpression("^Close ")).removeDuplicates(), 0);
    }

    // A service that hands its name over: a grant that its old owner answers after leaving,
    // or one it gave before, goes back to that owner, and the new owner is asked. The answer
    // may come in while the news of the new owner still waits to be read.
    void DesktopInhibit_aHandedOverServiceGetsItsGrantBackAndTheNewOwnerIsAsked_data()
    {
        QTest::addColumn<QString>("answerAfter");
        QTest::addColumn<QString>("leave");
        QTest::addColumn<bool>("answeredBeforeTheNewsIsRead");
        QTest::newRow("answered after leaving") << "200" << "0" << false;
        QTest::newRow("left after answering") << "0" << "300" << false;
        QTest::newRow("answered before the new owner is read") << "2000" << "0" << true;
    }
    void DesktopInhibit_aHandedOverServiceGetsItsGrantBackAndTheNewOwnerIsAsked()
    {
        QFETCH(QString, answerAfter);
        QFETCH(QString, leave);
        QFETCH(bool, answeredBeforeTheNewsIsRead);
        const QByteArray program = qgetenv("FAKE_SCREENSAVER");
        Helper first(program.constData(), { "--answer-after", answerAfter.toLatin1().constData(), "--leave", leave.toLatin1().constData() });
        QVERIFY2(first.waitForLine("ready") == "ready", qPrintable(first.lines.join('\n')));
        fw::platform::DesktopInhibit hold(fw::platform::DesktopInhibit::ScreenSaver, nullptr, "testing");
        first.runEvents(3000, "left");
        if (answeredBeforeTheNewsIsRead)
            first.runEvents(500); // the old owner's leaving is read, its answer still to come
        Helper second(program.constData(), { "--first-cookie", "100" });
        QVERIFY2(second.waitForLine("ready") == "ready", qPrintable(second.lines.join('\n')));
        if (answeredBeforeTheNewsIsRead) {
            QVERIFY2(first.waitForLine("answered") == "answered 42", qPrintable(first.lines.join('\n')));
            QThread::msleep(200); // the bus's thread takes the answer in
        }
        second.runEvents(3000, "-> 100");
        first.runEvents(500, "UnInhibit 42");
        QCOMPARE(first.lines.filter("UnInhibit"), QStringList({ "UnInhibit 42" }));
        QCOMPARE(second.lines.filter("Inhibit"), QStringList({ "Inhibit tst_platform: testing -> 100" }));
        fw::platform::DesktopInhibit::giveBack({ &hold });
        QVERIFY2(!second.waitForLine("UnInhibit 100").isEmpty(), qPrintable(second.lines.join('\n')));
    }

    // Each full-screen window holds the display awake on its own: closing one gives back its
    // grants only, and the other still follows the desktop's services (asked again when the
    // service restarts), until it closes too.
    void DisplayHold_eachFullScreenWindowHoldsOnItsOwn()
    {
        TestEnvironment env;
        auto saver = std::make_unique<Helper>(qgetenv("FAKE_SCREENSAVER").constData(), std::vector<const char*> {});
        QVERIFY2(saver->waitForLine("ready") == "ready", qPrintable(saver->lines.join('\n')));
        Helper portal(qgetenv("FAKE_PORTAL").constData(), {});
        QVERIFY2(portal.waitForLine("ready") == "ready", qPrintable(portal.lines.join('\n')));

        auto& first = fw::Window::implicitInstance<FullScreenWindow>();
        auto& second = fw::Window::implicitInstance<OtherFullScreenWindow>();
        first.Show();
        second.Show();
        saver->runEvents(3000, "-> 43");
        portal.runEvents(1000);
        QCOMPARE(saver->lines.filter("Inhibit").size(), 2);
        QCOMPARE(portal.lines.filter("PortalInhibit").size(), 2);

        first.Close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(saver->waitForLine("UnInhibit"), QString("UnInhibit 42"));
        portal.runEvents(500);
        QCOMPARE(portal.lines.filter("Close ").size(), 1);

        saver.reset(); // the desktop restarts its service: the second window asks the new one
        saver = std::make_unique<Helper>(qgetenv("FAKE_SCREENSAVER").constData(), std::vector<const char*> { "--first-cookie", "100" });
        saver->runEvents(3000, "-> 100");
        second.Close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(saver->waitForLine("UnInhibit"), QString("UnInhibit 100"));
        portal.runEvents(500);
        QCOMPARE(portal.lines.filter("Close ").size(), 2);
    }
};

// The private session bus runs before the toolkit starts, so nothing in the test can reach
// the bus of the desktop it runs on; it starts no services of the machine's own on demand.
int main(int argc, char** argv)
{
    QTemporaryFile config;
    if (!config.open() || !config.write("<busconfig><listen>unix:tmpdir=/tmp</listen><policy context='default'>"
                                        "<allow send_destination='*'/><allow eavesdrop='true'/><allow own='*'/>"
                                        "</policy></busconfig>") || !config.flush())
        return 1;
    const QByteArray configArgument = "--config-file=" + config.fileName().toUtf8();
    Helper bus("dbus-daemon", { configArgument.constData(), "--nofork", "--print-address=1" });
    const QString address = bus.waitForLine("unix:");
    if (address.isEmpty()) {
        std::fprintf(stderr, "no private session bus: %s\n", qPrintable(bus.lines.join('\n')));
        return 1;
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
    QApplication app(argc, argv);
    tst_platform test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_platform.moc"
