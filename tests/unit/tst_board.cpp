// The board window: its construction, the proportional layout, colours by row, the pointer
// and the menu bar it carries hidden.
#include "MainMenuBar.h"
#include "myLib.h"
#include "TestSupport.h"
#include "Window1.h"
#include "framework/Runtime.h"
#include "framework/Screens.h"

#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QScreen>
#include <QMenuBar>
#include <QTest>
#include <qpa/qplatformnativeinterface.h>
#include <qpa/qwindowsysteminterface.h>

namespace {

struct Grid {
    fw::Integer left[6], top[6], width, height;
};

fw::Color colourOfRow(int row)
{
    return row < 2 ? fw::RGB(255, 0, 0) : row < 4 ? fw::RGB(255, 255, 0) : fw::RGB(0, 170, 0);
}

// Lays the open board out again as if it had opened at this content size.
void openAt(class Window1& board, int width, int height)
{
    board.widget()->setMinimumSize(0, 0);
    board.widget()->setGeometry(0, 0, width, height);
    QCOMPARE(board.Width(), width);
    board.Event_Open();
}

}

class tst_board : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_env = std::make_unique<TestEnvironment>();
        myLib::InitMyLib("Velquarin Control Board");
    }
    void cleanup() { m_env.reset(); }

    void Board_opensFullScreenBlackWithEveryBlockLaidOutForItsScreen()
    {
        auto& board = Window1();
        const QRect screen = board.widget()->screen()->geometry();
        QCOMPARE(screen.width(), 800); // the offscreen platform's screen
        QVERIFY(board.Visible());
        QCOMPARE(board.Width(), 800);
        QCOMPARE(board.widget()->palette().color(QPalette::Window), QColor(0, 0, 0));
        QVERIFY(board.widget()->windowFlags() & Qt::WindowStaysOnTopHint);
        // The design records' white fill and uneven positions never survive the open step.
        for (int i = 0; i < 36; ++i) {
            Block& block = board.Rectangle1(i);
            QVERIFY(block.Visible());
            QVERIFY(block.FillColor() == colourOfRow(i / 6));
            QCOMPARE(QRect(block.Left(), block.Top(), block.Width(), block.Height()),
                QRect(32 + 128 * (i % 6), 28 + 60 * (i / 6), 100, 33));
            QCOMPARE(block.BorderWidth(), 1);
            QVERIFY(block.TopLeftColor() == fw::RGB(0, 0, 0));
        }
        QCOMPARE(board.mouseCursor(), fw::MouseCursor::Invisible);
        QCOMPARE(board.widget()->cursor().shape(), Qt::BlankCursor);
    }

    void Board_layoutMatchesWorkedExamples_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<QVector<qint64>>("lefts");
        QTest::addColumn<QVector<qint64>>("tops");
        QTest::addColumn<qint64>("blockWidth");
        QTest::addColumn<qint64>("blockHeight");
        QTest::newRow("1440") << 1440 << QVector<qint64> { 59, 291, 523, 755, 987, 1219 }
                              << QVector<qint64> { 51, 160, 269, 378, 487, 596 } << qint64(180) << qint64(60);
        QTest::newRow("1920") << 1920 << QVector<qint64> { 78, 387, 696, 1005, 1314, 1623 }
                              << QVector<qint64> { 68, 213, 358, 503, 648, 793 } << qint64(240) << qint64(80);
        QTest::newRow("2560") << 2560 << QVector<qint64> { 104, 516, 928, 1340, 1752, 2164 }
                              << QVector<qint64> { 90, 283, 476, 669, 862, 1055 } << qint64(320) << qint64(106);
        QTest::newRow("64") << 64 << QVector<qint64> { 2, 12, 22, 32, 42, 52 }
                            << QVector<qint64> { 2, 6, 10, 14, 18, 22 } << qint64(8) << qint64(2);
    }
    void Board_layoutMatchesWorkedExamples()
    {
        QFETCH(int, width);
        QFETCH(QVector<qint64>, lefts);
        QFETCH(QVector<qint64>, tops);
        QFETCH(qint64, blockWidth);
        QFETCH(qint64, blockHeight);
        auto& board = Window1();
        openAt(board, width, 900);
        for (int i = 0; i < 36; ++i) {
            Block& block = board.Rectangle1(i);
            QCOMPARE(block.Left(), lefts[i % 6]);
            QCOMPARE(block.Top(), tops[i / 6]);
            QCOMPARE(block.Width(), blockWidth);
            QCOMPARE(block.Height(), blockHeight);
        }
    }

    void Board_layoutDependsOnWidthAloneAndIsNotRedoneOnResize()
    {
        auto& board = Window1();
        openAt(board, 1440, 900);
        auto place = [&](int i) {
            const Block& b = board.Rectangle1(i);
            return QRect(int(b.Left()), int(b.Top()), int(b.Width()), int(b.Height()));
        };
        std::vector<QRect> tall, shortOne;
        for (int i = 0; i < 36; ++i)
            shortOne.push_back(place(i));
        openAt(board, 1440, 1200);
        for (int i = 0; i < 36; ++i)
            tall.push_back(place(i));
        QCOMPARE(tall, shortOne);

        board.widget()->resize(1000, 700);
        QCOMPARE(board.Rectangle1(35).Left(), 1219);
        QCOMPARE(board.Rectangle1(35).Top(), 596);
        QCOMPARE(board.Rectangle1(35).Width(), 180);

        // Laid out anew when its screen changes size, as a screen's change reaches a shown
        // board: the lit blocks stay lit, the others dark.
        board.Show();
        QVERIFY(QTest::qWaitForWindowExposed(board.widget()));
        for (int i : { 0, 7, 35 })
            board.Rectangle1(i).setVisible(false);
        QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
        const auto configuration = reinterpret_cast<QJsonObject (*)(QPlatformNativeInterface*)>(
            native->nativeResourceForIntegration("configuration"))(native);
        const auto reconfigure = reinterpret_cast<void (*)(QJsonObject, QPlatformNativeInterface*)>(
            native->nativeResourceForIntegration("setConfiguration"));
        const auto screenSize = [&](int width, int height) {
            QJsonArray screens = configuration["screens"].toArray();
            QJsonObject screen = screens[0].toObject();
            screen["width"] = width;
            screen["height"] = height;
            screens[0] = screen;
            QJsonObject changed = configuration;
            changed["screens"] = screens;
            reconfigure(changed, native);
            // The window manager or compositor gives a full-screen window its screen's new
            // size; the offscreen platform leaves that to the test.
            QWindowSystemInterface::handleGeometryChange<QWindowSystemInterface::SynchronousDelivery>(
                board.widget()->windowHandle(), QRect(0, 0, width, height));
        };
        screenSize(1440, 900);
        QTRY_COMPARE(board.Rectangle1(35).Left(), 1219);
        screenSize(1000, 700);
        QTRY_COMPARE(board.Rectangle1(35).Left(), 845);
        QCOMPARE(board.Rectangle1(35).Top(), 410);
        for (int i = 0; i < 36; ++i)
            QCOMPARE(board.Rectangle1(i).Visible(), i != 0 && i != 7 && i != 35);
        reconfigure(configuration, native);
    }

    // Upright, and turned for a screen on its side (the layout for the width seen turned) or
    // upside down.
    void Board_pixelsShowRowColoursOnBlack_data()
    {
        QTest::addColumn<int>("turn");
        for (int turn : { 0, 90, 180, 270 })
            QTest::newRow(QByteArray::number(turn)) << turn;
    }
    void Board_pixelsShowRowColoursOnBlack()
    {
        QFETCH(int, turn);
        fw::turnWindows(turn);
        auto& board = Window1();
        fw::turnWindows(0);
        const int w = turn % 180 == 0 ? 1440 : 900, h = turn % 180 == 0 ? 900 : 1440;
        board.widget()->setMinimumSize(0, 0);
        board.widget()->setGeometry(0, 0, w, h);
        QCOMPARE(board.Width(), 1440);
        QCOMPARE(board.Height(), 900);
        board.Event_Open();
        const QImage image = board.widget()->grab().toImage();
        // The pixel at (x, y) of the upright board, on the screen.
        const auto at = [&](int x, int y) {
            return image.pixelColor(turn == 90 ? w - 1 - y : turn == 180 ? w - 1 - x : turn == 270 ? y : x,
                turn == 90 ? x : turn == 180 ? h - 1 - y : turn == 270 ? h - 1 - x : y);
        };
        QCOMPARE(at(10, 10), QColor(0, 0, 0));
        QCOMPARE(at(59 + 90, 51 + 30), QColor(255, 0, 0));
        QCOMPARE(at(523 + 90, 269 + 30), QColor(255, 255, 0));
        QCOMPARE(at(1219 + 90, 596 + 30), QColor(0, 170, 0));
        QCOMPARE(at(1219, 596), QColor(0, 0, 0)); // the one-pixel border
        QCOMPARE(at(1219 + 179, 596 + 59), QColor(0, 0, 0));
        QCOMPARE(at(1219 + 178, 596 + 58), QColor(0, 170, 0));
        QCOMPARE(at(700, 800), QColor(0, 0, 0)); // below the grid
    }

    void Board_lookupOfMissingBlockFails()
    {
        auto& board = Window1();
        QVERIFY_THROWS_EXCEPTION(fw::NilObjectException, board.Rectangle1(36));
        QVERIFY_THROWS_EXCEPTION(fw::NilObjectException, board.Rectangle1(-1));
    }

    void Board_carriesTheOneMenuBarHiddenWithWorkingShortcuts()
    {
        auto& board = Window1();
        QCOMPARE(board.menuBar(), static_cast<fw::MenuBar*>(&MainMenuBar()));
        auto* bar = board.widget()->findChild<QMenuBar*>();
        QVERIFY(!bar || !bar->isVisible());
        QCOMPARE(board.Height(), board.widget()->height()); // no room kept for a hidden bar

        QApplication::setActiveWindow(board.widget());
        QVERIFY(QTest::qWaitForWindowActive(board.widget()));
        QTest::keyClick(board.widget(), Qt::Key_Q, Qt::ControlModifier);
        QVERIFY(fw::Runtime::hasQuit());
        QCOMPARE(fw::Runtime::exitStatus(), 0);
    }

private:
    std::unique_ptr<TestEnvironment> m_env;
};

QTEST_MAIN(tst_board)
#include "tst_board.moc"
