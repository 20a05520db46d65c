// The layer's own contracts: construction order, the control registry, failures, quitting,
// folders, text and key helpers.
#include "windows/KeyString.h"
#include "TestSupport.h"
#include "framework/Canvas.h"
#include "framework/FolderItem.h"
#include "framework/Label.h"
#include "framework/MessageBox.h"
#include "framework/PushButton.h"
#include "framework/Rectangle.h"
#include "framework/Runtime.h"
#include "runtime/Life.h"
#include "framework/Text.h"
#include "framework/Timer.h"
#include "framework/Window.h"
#include "platform/Platform.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <sys/stat.h>

namespace {

std::vector<std::string> g_log;

class LoggingRectangle : public fw::Rectangle {
public:
    LoggingRectangle(fw::Window& owner, const char* tag)
        : fw::Rectangle(owner)
        , m_tag(tag)
    {
    }
    void Event_Open() override { g_log.push_back(std::string("open ") + m_tag); }

private:
    const char* m_tag;
};

class ProbeWindow : public fw::Window {
public:
    ProbeWindow()
        : fw::Window("ProbeWindow")
    {
    }
    static inline bool failInOpen = false;
    static inline int constructions = 0;
    static inline std::function<void()> onKey;

    bool Event_KeyDown(const std::string&) override
    {
        if (onKey)
            onKey();
        return false;
    }

    void Layout() override
    {
        ++constructions;
        g_log.push_back("Layout");
        applyDesign(fw::WindowDesign { .Width = 200, .Height = 100, .Resizeable = false, .MenuBarVisible = false });
    }
    void CreateControls() override
    {
        g_log.push_back("CreateControls");
        AddControl(std::make_unique<LoggingRectangle>(*this, "a"), "Shape");
        AddControl(std::make_unique<LoggingRectangle>(*this, "b0"), "Cell", 0);
        AddControl(std::make_unique<LoggingRectangle>(*this, "b1"), "Cell", 1);
        AddControl(std::make_unique<fw::Label>(*this), "Text");
    }
    void Event_Open() override
    {
        g_log.push_back("Window open");
        // The accessor finds the window while it is being built.
        g_log.push_back(&fw::Window::implicitInstance<ProbeWindow>() == this ? "found self" : "made another");
        g_log.push_back(Visible() ? "visible too early" : "not yet visible");
        if (failInOpen)
            throw fw::NilObjectException("probe failure");
    }
};

}

class tst_framework : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_env = std::make_unique<TestEnvironment>();
        g_log.clear();
        ProbeWindow::failInOpen = false;
        ProbeWindow::constructions = 0;
    }
    void cleanup() { m_env.reset(); }

    void Window_constructionRunsHooksInOrderThenShows()
    {
        auto& window = fw::Window::implicitInstance<ProbeWindow>();
        const std::vector<std::string> expected { "Layout", "CreateControls", "open a", "open b0", "open b1",
            "Window open", "found self", "not yet visible" };
        QCOMPARE(g_log, expected);
        QVERIFY(window.Visible());
        QCOMPARE(window.Width(), 200);
        QCOMPARE(window.Height(), 100);
        // A second request returns the same window; nothing is built again.
        QCOMPARE(&fw::Window::implicitInstance<ProbeWindow>(), &window);
        QCOMPARE(ProbeWindow::constructions, 1);
    }

    void Window_registryLooksControlsUpByNameAndIndex()
    {
        auto& window = fw::Window::implicitInstance<ProbeWindow>();
        QVERIFY(window.ControlByName("Shape"));
        QVERIFY(!window.ControlByName("Cell")); // array elements need their index
        QCOMPARE(window.ControlByNameIndex("Cell", 1)->Index(), 1);
        QVERIFY(!window.ControlByNameIndex("Cell", 2));
        QVERIFY_THROWS_EXCEPTION(fw::NilObjectException, window.control<fw::Rectangle>("Cell", 7));
        QVERIFY_THROWS_EXCEPTION(fw::TypeMismatchException, window.control<fw::Rectangle>("Text"));
        try {
            window.control<fw::Rectangle>("Cell", 7);
            QFAIL("a missing array element was found");
        } catch (const fw::NilObjectException& e) {
            QVERIFY2(std::string(e.what()).find("\"Cell\" (7)") != std::string::npos, e.what());
        }
        // The toolkit name matches the registry, so widget lookups agree with it.
        QVERIFY(window.widget()->findChild<QWidget*>("Text"));
    }

    void Window_closedWindowIsRebuiltOnNextUse()
    {
        auto* first = &fw::Window::implicitInstance<ProbeWindow>();
        first->Close();
        QVERIFY(!first->widget()->isVisible());
        QVERIFY(fw::Window::openWindows().empty());
        auto* second = &fw::Window::implicitInstance<ProbeWindow>();
        QCOMPARE(ProbeWindow::constructions, 2);
        QVERIFY(second->isOpen());
    }

    void Window_failedConstructionLeavesNoWindow()
    {
        ProbeWindow::failInOpen = true;
        QVERIFY_THROWS_EXCEPTION(fw::NilObjectException, fw::Window::implicitInstance<ProbeWindow>());
        QVERIFY(fw::Window::openWindows().empty());
    }

    void Rectangle_paintsFillAndBothBorderColours()
    {
        auto& window = fw::Window::implicitInstance<ProbeWindow>();
        auto& shape = window.control<fw::Rectangle>("Shape");
        shape.applyDesign({ .control = { .Left = 10, .Top = 10, .Width = 20, .Height = 10 },
            .FillColor = fw::RGB(10, 20, 30),
            .BorderWidth = 1,
            .TopLeftColor = fw::RGB(255, 0, 0),
            .BottomRightColor = fw::RGB(0, 0, 255) });
        QVERIFY(!shape.widget()); // drawn by the window itself
        QImage image = window.contentWidget()->grab().toImage();
        QCOMPARE(image.pixelColor(15, 15), QColor(10, 20, 30));
        QCOMPARE(image.pixelColor(15, 10), QColor(255, 0, 0));
        QCOMPARE(image.pixelColor(10, 15), QColor(255, 0, 0));
        QCOMPARE(image.pixelColor(15, 19), QColor(0, 0, 255));
        QCOMPARE(image.pixelColor(29, 15), QColor(0, 0, 255));
        const QColor background = image.pixelColor(31, 15);
        QVERIFY(background != QColor(0, 0, 255));
        // Hidden, it leaves the window's background; moved, nothing is left behind.
        shape.setVisible(false);
        QCOMPARE(window.contentWidget()->grab().toImage().pixelColor(15, 15), background);
        shape.setVisible(true);
        shape.setLeft(100);
        image = window.contentWidget()->grab().toImage();
        QCOMPARE(image.pixelColor(15, 15), background);
        QCOMPARE(image.pixelColor(105, 15), QColor(10, 20, 30));
        // On a black window a black border is the background already; over a control drawn
        // before it, it is drawn.
        window.applyDesign(fw::WindowDesign { .Width = 200, .Height = 100, .Resizeable = false, .HasBackColor = true,
            .BackColor = fw::RGB(0, 0, 0), .MenuBarVisible = false });
        window.control<fw::Rectangle>("Cell", 0).applyDesign({ .control = { .Left = 50, .Top = 50, .Width = 30, .Height = 30 },
            .FillColor = fw::RGB(0, 170, 0), .BorderWidth = 0 });
        window.control<fw::Rectangle>("Cell", 1).applyDesign({ .control = { .Left = 60, .Top = 60, .Width = 30, .Height = 30 },
            .FillColor = fw::RGB(255, 255, 0), .BorderWidth = 1 });
        image = window.contentWidget()->grab().toImage();
        for (const QPoint& border : { QPoint(60, 70), QPoint(70, 60), QPoint(89, 70), QPoint(70, 89) })
            QCOMPARE(image.pixelColor(border), QColor(0, 0, 0));
        QCOMPARE(image.pixelColor(70, 70), QColor(255, 255, 0));
        QCOMPARE(image.pixelColor(55, 55), QColor(0, 170, 0));
        QCOMPARE(image.pixelColor(120, 55), QColor(0, 0, 0));
    }

    void Control_positionsAreInWindowCoordinatesInsideAParent()
    {
        auto& window = fw::Window::implicitInstance<ProbeWindow>();
        auto& pad = window.AddControl(std::make_unique<fw::Canvas>(window), "Pad");
        fw::CanvasDesign padDesign;
        padDesign.control = { .Left = 11, .Top = 12, .Width = 100, .Height = 80 };
        pad.applyDesign(padDesign);
        auto& text = window.control<fw::Label>("Text");
        fw::LabelDesign design;
        design.control = { .Left = 11, .Top = 60, .Width = 100, .Height = 20, .InitialParent = "Pad" };
        text.applyDesign(design);
        QCOMPARE(text.widget()->parentWidget(), pad.widget());
        QCOMPARE(text.widget()->pos(), QPoint(0, 48));
        QCOMPARE(text.Left(), 11);
        QCOMPARE(text.Top(), 60);
        design.control.InitialParent = "Nowhere";
        QVERIFY_THROWS_EXCEPTION(fw::NilObjectException, text.applyDesign(design));
    }

    void Label_showsTextLiterallyNeverAsMarkup()
    {
        auto& window = fw::Window::implicitInstance<ProbeWindow>();
        auto& text = window.control<fw::Label>("Text");
        text.setText("press <esc> to <b>quit</b>");
        auto* label = static_cast<QLabel*>(text.widget());
        QCOMPARE(label->textFormat(), Qt::PlainText);
        QCOMPARE(text.Text(), "press <esc> to <b>quit</b>");
        text.setTextSize(30);
        text.setWidth(1000);
        QCOMPARE(label->font().pixelSize(), 30);
        // A single line that a wider font would cut is drawn smaller instead, whole.
        const int wide = QFontMetrics(label->font()).horizontalAdvance(label->text());
        text.setWidth(wide * 9 / 10);
        QVERIFY(label->font().pixelSize() < 30);
        QVERIFY(QFontMetrics(label->font()).horizontalAdvance(label->text()) <= label->contentsRect().width());
        text.setWidth(1000);
        QCOMPARE(label->font().pixelSize(), 30);
    }

    void Runtime_failureInHandlerIsReportedAndEndsRunWithFailureStatus()
    {
        fw::Window::implicitInstance<ProbeWindow>();
        fw::Runtime::dispatch([] { throw fw::NilObjectException("The folder /x could not be found."); });
        QCOMPARE(fw::Runtime::exitStatus(), fw::UnhandledFailureStatus);
        QVERIFY(fw::Runtime::hasQuit());
        // No window stays up behind the message, and no handler runs any more.
        QVERIFY(fw::Window::openWindows().empty());
        bool ran = false;
        fw::Runtime::dispatch([&] { ran = true; });
        QVERIFY(!ran);
        // Shown once start-up is back at the top, where the loop would have run.
        QVERIFY(m_env->messages().empty());
        fw::Runtime::runEventLoop();
        QCOMPARE(m_env->messages().size(), 1u);
        QVERIFY(m_env->messages()[0].find("The folder /x could not be found.") != std::string::npos);
    }

    // The real modal box, shown while the event loop runs: the handler that failed has
    // unwound before it shows, and its window is not deleted under it (run under ASan).
    void Runtime_failingHandlerHasUnwoundBeforeTheMessageShows_data()
    {
        QTest::addColumn<QString>("source");
        for (const char* source : { "button", "paint", "key", "timer" })
            QTest::newRow(source) << QString(source);
    }
    void Runtime_failingHandlerHasUnwoundBeforeTheMessageShows()
    {
        QFETCH(QString, source);
        fw::MessageBox::setInterceptor({});
        auto& window = fw::Window::implicitInstance<ProbeWindow>();
        int runs = 0;
        auto fail = [&] {
            ++runs;
            throw fw::NilObjectException("probe failure from the " + source.toStdString());
        };
        std::function<void()> trigger;
        if (source == "button") {
            auto& button = window.AddControl(std::make_unique<fw::PushButton>(window), "Go");
            fw::PushButtonDesign design;
            design.control = { .Left = 0, .Top = 0, .Width = 50, .Height = 20 };
            button.applyDesign(design);
            button.setActionHandler([&](fw::PushButton&) { fail(); });
            trigger = [&button] { QTest::mouseClick(button.widget(), Qt::LeftButton); };
        } else if (source == "paint") {
            auto& canvas = window.AddControl(std::make_unique<fw::Canvas>(window), "Pad");
            canvas.applyDesign({ .control = { .Left = 0, .Top = 0, .Width = 50, .Height = 50 } });
            canvas.setPaintHandler([&](fw::Canvas&, fw::Graphics&, const auto&) { fail(); });
            trigger = [&canvas] { canvas.widget()->repaint(); };
        } else if (source == "key") {
            ProbeWindow::onKey = fail;
            trigger = [&window] { QTest::keyClick(window.widget(), Qt::Key_A); };
        } else {
            auto& timer = window.AddControl(std::make_unique<fw::Timer>(window), "Tick");
            timer.setActionHandler([&](fw::Timer&) { fail(); });
            timer.applyDesign({ .Mode = fw::TimerMode::Multiple, .Period = 1 });
        }
        QString shown;
        bool windowsGone = false;
        bool delivering = false; // the click, paint or key that failed is still being handled
        QTimer person; // reads the box once it shows, waits a little, and dismisses it
        person.setInterval(20);
        int looks = 0;
        connect(&person, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box && ++looks == 5) {
                shown = box->text();
                windowsGone = fw::Window::openWindows().empty() && !delivering;
                box->accept();
            }
        });
        person.start();
        if (trigger) {
            QTimer::singleShot(0, [&] {
                delivering = true;
                trigger();
                delivering = false;
            });
        }
        fw::Runtime::runEventLoop();
        ProbeWindow::onKey = {};
        QCOMPARE(runs, 1); // never again, the timer included
        QVERIFY2(shown.contains("probe failure from the " + source), qPrintable(shown));
        QVERIFY(windowsGone);
        QCOMPARE(fw::Runtime::exitStatus(), fw::UnhandledFailureStatus);
    }

    void Runtime_anotherApplicationsNamesAndWordsAreTheOnlyOnesUsed()
    {
        fw::Runtime::describeApplication("Tide Clock", "org.example.TideClock", "Showing the tides");
        QCOMPARE(fw::keepAwakeReason(), "Showing the tides");
        fw::Runtime::dispatch([] { throw fw::RuntimeException("The moon is missing."); });
        fw::Runtime::runEventLoop();
        QCOMPARE(m_env->messages().size(), 1u);
        const std::string& text = m_env->messages()[0];
        QVERIFY2(text.starts_with("Tide Clock has met a problem") && text.find("Velquarin") == std::string::npos,
            text.c_str());
    }

    void Runtime_failureOutranksEarlierQuitAndFirstQuitStatusHolds()
    {
        fw::Runtime::quit(3);
        fw::Runtime::quit(0);
        QCOMPARE(fw::Runtime::exitStatus(), 3);
        fw::Runtime::dispatch([] { throw std::runtime_error("late"); });
        QCOMPARE(fw::Runtime::exitStatus(), fw::UnhandledFailureStatus);
    }

    void Runtime_eventLoopReturnsAtOnceAfterQuit()
    {
        fw::Runtime::quit(0);
        fw::Runtime::runEventLoop(); // would block forever otherwise
        QCOMPARE(fw::Runtime::exitStatus(), 0);
    }

    void Runtime_closeRequestFromWindowManagerQuitsWithZero()
    {
        auto& window = fw::Window::implicitInstance<ProbeWindow>();
        QVERIFY(!window.widget()->close()); // refused: the application ends instead
        QVERIFY(fw::Runtime::hasQuit());
        QCOMPARE(fw::Runtime::exitStatus(), 0);
    }

    void PushButton_returnPressesDefaultAndEscapeCancelWhateverHasFocus()
    {
        auto& window = fw::Window::implicitInstance<ProbeWindow>();
        auto& go = window.AddControl(std::make_unique<fw::PushButton>(window), "Go");
        auto& stop = window.AddControl(std::make_unique<fw::PushButton>(window), "Stop");
        fw::PushButtonDesign design;
        design.control = { .Left = 0, .Top = 0, .Width = 50, .Height = 20 };
        design.Caption = "GO";
        design.Default = true;
        go.applyDesign(design);
        design.control.Left = 60;
        design.Caption = "Quit";
        design.Default = false;
        design.Cancel = true;
        stop.applyDesign(design);
        int goCount = 0, stopCount = 0;
        go.setActionHandler([&](fw::PushButton&) { ++goCount; });
        stop.setActionHandler([&](fw::PushButton&) { ++stopCount; });
        QApplication::setActiveWindow(window.widget());
        QVERIFY(QTest::qWaitForWindowActive(window.widget()));
        stop.widget()->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(goCount, 1);
        QCOMPARE(stopCount, 0);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(goCount, 2);
        go.widget()->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QCOMPARE(stopCount, 1);
        QCOMPARE(goCount, 2);
    }

    void Text_AscReadsFirstCodePointAndChrMakesOne_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<qint64>("code");
        QTest::newRow("empty") << QByteArray() << qint64(0);
        QTest::newRow("escape then more") << QByteArray("\x1b[A") << qint64(27);
        QTest::newRow("letter then escape") << QByteArray("a\x1b") << qint64('a');
        QTest::newRow("two bytes") << QByteArray("\xc3\xa9") << qint64(0xE9);
        QTest::newRow("four bytes") << QByteArray("\xf0\x9f\x98\x80") << qint64(0x1F600);
        QTest::newRow("overlong escape") << QByteArray("\xc0\x9b") << qint64(0xFFFD);
        QTest::newRow("truncated") << QByteArray("\xe2\x82") << qint64(0xFFFD);
        QTest::newRow("lone continuation") << QByteArray("\x9b") << qint64(0xFFFD);
        QTest::newRow("surrogate") << QByteArray("\xed\xa0\x80") << qint64(0xFFFD);
        QTest::newRow("beyond unicode") << QByteArray("\xf4\x90\x80\x80") << qint64(0xFFFD);
    }
    void Text_AscReadsFirstCodePointAndChrMakesOne()
    {
        QFETCH(QByteArray, text);
        QFETCH(qint64, code);
        QCOMPARE(fw::Asc(text.toStdString()), code);
        if (code != 0)
            QCOMPARE(fw::Asc(fw::Chr(code)), code);
    }

    void Text_keyStringsForKeysWithoutText()
    {
        QCOMPARE(fw::keyString(Qt::Key_Escape, QString()), "\x1b");
        QCOMPARE(fw::keyString(Qt::Key_Return, "\r"), "\r");
        QCOMPARE(fw::keyString(Qt::Key_Left, QString()), "\x1c");
        QCOMPARE(fw::keyString(Qt::Key_A, "a"), "a");
        QCOMPARE(fw::keyString(Qt::Key_F5, QString()), "");
        QCOMPARE(fw::keyString(Qt::Key_Eacute, QString::fromUtf8("é")), "\xc3\xa9");
    }

    void FolderItem_childNeverEscapesItsFolder()
    {
        fw::FolderItem folder("/tmp/base");
        for (const char* bad : { "", ".", "..", "a/b", "/abs" })
            QVERIFY2(!folder.Child(bad), bad);
        QVERIFY(!folder.Child(std::string("a\0b", 3)));
        QCOMPARE(folder.Child("With Blank")->path().string(), "/tmp/base/With Blank");
    }

    void FolderItem_createAsFolderNeverReplacesWhatIsThere()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath("taken"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("keep me");
        file.close();
        fw::FolderItem taken(dir.filePath("taken").toStdString());
        QVERIFY(taken.Exists());
        QVERIFY(!taken.CreateAsFolder());
        QVERIFY(!taken.LastError().empty());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("keep me"));
    }

    void SpecialFolder_applicationDataFollowsXdgAndNeverFallsBack()
    {
        QTemporaryDir dir;
        const QByteArray xdg = (dir.path() + "/new/data").toUtf8();
        qputenv("XDG_DATA_HOME", xdg);
        auto folder = fw::SpecialFolder::ApplicationData();
        QVERIFY(folder);
        QCOMPARE(QByteArray::fromStdString(folder->path().string()), xdg);
        struct stat info;
        QCOMPARE(::stat(xdg.constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0700u);

        qputenv("XDG_DATA_HOME", "relative/data");
        qputenv("HOME", dir.path().toUtf8());
        QCOMPARE(QString::fromStdString(fw::SpecialFolder::ApplicationData()->path().string()),
            dir.path() + "/.local/share");

        qunsetenv("XDG_DATA_HOME");
        for (const char* home : { "", "relative/home" }) {
            qputenv("HOME", home);
            QVERIFY(!fw::SpecialFolder::ApplicationData());
        }
        qunsetenv("HOME");
        QVERIFY(!fw::SpecialFolder::ApplicationData());
    }

private:
    std::unique_ptr<TestEnvironment> m_env;
};

QTEST_MAIN(tst_framework)
#include "tst_framework.moc"
