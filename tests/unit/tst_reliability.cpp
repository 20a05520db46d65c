// Reliability in one process: random key strings through the key translation and the board's
// key handler, and a simulated day of ticks with their repaints.
#include "KeyString.h"
#include "myLib.h"
#include "TestSupport.h"
#include "Window1.h"
#include "framework/Random.h"
#include "framework/Runtime.h"
#include "framework/Text.h"

#include <QRandomGenerator>
#include <QTest>
#include <fstream>

namespace {

std::string randomKeyString(QRandomGenerator& random)
{
    static const std::vector<std::string> pieces { "\x1b", "\xc0\x9b", "\xe0\x80\x9b", "\xf0\x80\x80\x9b", "\xc3",
        "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xff", "\x80", "\r", "\t", "\x7f", "\xc3\xa9", "\xf0\x9f\x98\x80", "a" };
    std::string key;
    const int parts = random.bounded(0, random.bounded(100) < 2 ? 4000 : 8);
    for (int i = 0; i < parts; ++i) {
        if (random.bounded(2))
            key += pieces[random.bounded(static_cast<int>(pieces.size()))];
        else
            key += static_cast<char>(random.bounded(256));
    }
    return key;
}

long residentKiB()
{
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

#if defined(__SANITIZE_ADDRESS__)
constexpr int SimulatedTicks = 5000; // ASan keeps freed memory; LeakSanitizer watches instead
#else
constexpr int SimulatedTicks = 62000; // 24 hours at one tick every 1.4 s
#endif

}

class tst_reliability : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_env = std::make_unique<TestEnvironment>();
        myLib::InitMyLib("Velquarin Control Board");
    }
    void cleanup() { m_env.reset(); }

    void Keys_randomStringsQuitExactlyWhenTheFirstCharacterIsEscape()
    {
        QRandomGenerator random(20261207);
        int quits = 0;
        auto* board = &Window1();
        for (int i = 0; i < 100000; ++i) {
            const std::string bytes = randomKeyString(random);
            // Through the key translation, as typed text, and straight to the handler.
            const std::string translated = fw::keyString(Qt::Key_unknown, QString::fromUtf8(bytes.data(), bytes.size()));
            for (const std::string& key : { bytes, translated }) {
                const bool escapeFirst = !key.empty() && key[0] == '\x1b';
                QVERIFY(!board->Event_KeyDown(key));
                QCOMPARE(fw::Runtime::hasQuit(), escapeFirst);
                if (escapeFirst) {
                    ++quits;
                    QCOMPARE(fw::Runtime::exitStatus(), 0);
                    fw::Runtime::resetForTesting();
                    board = &Window1();
                }
            }
            // Invalid and overlong sequences read as U+FFFD, never as a control character.
            const fw::Integer code = fw::Asc(bytes);
            if (!bytes.empty() && static_cast<unsigned char>(bytes[0]) >= 0x80)
                QVERIFY(code >= 0x80);
        }
        QVERIFY(quits > 100);
    }

    void LongRun_aDayOfTicksKeepsMemoryFlatAndTheBoardRight()
    {
        auto& board = Window1();
        board.Timer1().setMode(fw::TimerMode::Off); // this test is the clock
        QApplication::processEvents();
        int draws = 0;
        fw::Random::setSource([&] {
            ++draws;
            return QRandomGenerator::global()->generateDouble();
        });
        long afterWarmUp = 0;
        for (int tick = 1; tick <= SimulatedTicks; ++tick) {
            draws = 0;
            std::vector<bool> before;
            for (int i = 0; i < 36; ++i)
                before.push_back(board.Rectangle1(i).Visible());
            board.Timer1_Action(board.Timer1());
            QApplication::processEvents(); // the repaint the tick causes
            int changed = 0;
            for (int i = 0; i < 36; ++i)
                changed += board.Rectangle1(i).Visible() != before[i];
            const int n = draws - 1;
            QVERIFY(n >= 2 && n <= 34 && changed <= n && changed % 2 == n % 2);
            if (tick == 1000)
                afterWarmUp = residentKiB();
        }
        const long growth = residentKiB() - afterWarmUp;
        qInfo("%d ticks: resident memory grew by %ld KiB after the first 1000", SimulatedTicks, growth);
#if !defined(__SANITIZE_ADDRESS__)
        QVERIFY2(growth <= 1024, qPrintable(QString("grew by %1 KiB").arg(growth)));
#endif
        // What shows is what the blocks say.
        const QImage image = board.widget()->grab().toImage();
        int shown = 0;
        for (int i = 0; i < 36; ++i) {
            const Block& block = board.Rectangle1(i);
            const QPoint centre(int(block.Left() + block.Width() / 2), int(block.Top() + block.Height() / 2));
            QCOMPARE(image.pixelColor(centre) == QColor(0, 0, 0), !block.Visible());
            shown += block.Visible();
        }
        QVERIFY(shown > 0 && shown < 36);
    }

private:
    std::unique_ptr<TestEnvironment> m_env;
};

QTEST_MAIN(tst_reliability)
#include "tst_reliability.moc"
