// The start picture: stretched over the whole canvas, read once, and every bad file leaving
// a working start window with a blank canvas.
#include "App.h"
#include "MainMenuBar.h"
#include "myLib.h"
#include "TestSupport.h"
#include "VQ1.h"
#include "Window1.h"
#include "wStartup.h"
#include "framework/Graphics.h"
#include "framework/Resources.h"
#include "framework/Runtime.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTest>

namespace {

// A picture whose left half is red and right half blue, so stretching shows at the edges.
QByteArray twoColourJpeg(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(255, 0, 0));
    QPainter(&image).fillRect(width / 2, 0, width - width / 2, height, QColor(0, 0, 255));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 95);
    return bytes;
}

QByteArray pngBytes()
{
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::green);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// The same JPEG claiming to be 60000 x 60000 in its frame header.
QByteArray hugeDeclaredJpeg()
{
    QByteArray bytes = twoColourJpeg(16, 16);
    const int sof = bytes.indexOf(QByteArray("\xff\xc0", 2));
    bytes[sof + 5] = char(0xEA), bytes[sof + 6] = char(0x60); // height
    bytes[sof + 7] = char(0xEA), bytes[sof + 8] = char(0x60); // width
    return bytes;
}

bool near(QColor a, QColor b)
{
    return std::abs(a.red() - b.red()) < 40 && std::abs(a.green() - b.green()) < 40 && std::abs(a.blue() - b.blue()) < 40;
}

}

class tst_picture : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_env = std::make_unique<TestEnvironment>();
        m_resources = std::make_unique<QTemporaryDir>();
        fw::Resources::setFolder(m_resources->path().toStdString());
        VQ1Cache::initialised = false;
        VQ1Cache::pic.reset();
        auto app = std::make_unique<App>();
        app->setMenuBar(&MainMenuBar());
        fw::Runtime::registerApplication(std::move(app));
        myLib::InitMyLib("Velquarin Control Board");
    }
    void cleanup()
    {
        fw::Resources::setFolder({});
        VQ1Cache::pic.reset();
        m_resources.reset();
        m_env.reset();
    }

    void Picture_anySizeFillsTheWholeCanvas_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QSize>("held"); // decoded by halves, never below the canvas's 446 x 275
        QTest::newRow("designed 892x550") << QSize(892, 550) << QSize(446, 275);
        QTest::newRow("four times 1784x1100") << QSize(1784, 1100) << QSize(446, 275);
        QTest::newRow("odd 1785x1101, rounded up") << QSize(1785, 1101) << QSize(447, 276);
        QTest::newRow("small 40x20") << QSize(40, 20) << QSize(40, 20);
        QTest::newRow("tall 100x900") << QSize(100, 900) << QSize(100, 900);
    }
    void Picture_anySizeFillsTheWholeCanvas()
    {
        QFETCH(QSize, size);
        QFETCH(QSize, held);
        writeResource(twoColourJpeg(size.width(), size.height()));
        QCOMPARE(QSize(int(VQ1()->Width()), int(VQ1()->Height())), size);
        QCOMPARE(VQ1()->image().size(), held);
        auto& window = wStartup();
        const QImage image = window.Canvas1().widget()->grab().toImage();
        QCOMPARE(image.size(), QSize(446, 275));
        QVERIFY(near(image.pixelColor(1, 1), Qt::red));
        QVERIFY(near(image.pixelColor(1, 273), Qt::red));
        QVERIFY(near(image.pixelColor(444, 1), Qt::blue));
        QVERIFY(near(image.pixelColor(444, 273), Qt::blue));
        QVERIFY(near(image.pixelColor(200, 137), Qt::red));
        QVERIFY(near(image.pixelColor(246, 137), Qt::blue));
    }

    void Picture_partialRepaintDrawsItWhole()
    {
        writeResource(twoColourJpeg(100, 50));
        auto& window = wStartup();
        QImage target(446, 275, QImage::Format_RGB32);
        target.fill(Qt::white);
        QPainter painter(&target);
        fw::Graphics g(painter);
        window.Canvas1_Paint(window.Canvas1(), g, { { 0, 0, 10, 10 } });
        painter.end();
        QVERIFY(near(target.pixelColor(440, 270), Qt::blue));
        QVERIFY(near(target.pixelColor(100, 200), Qt::red));
    }

    void Picture_isReadOnceHoweverOftenTheCanvasRepaints()
    {
        writeResource(twoColourJpeg(100, 50));
        auto& window = wStartup();
        window.Canvas1().widget()->grab();
        const fw::PictureRef first = VQ1();
        QVERIFY(first);
        QVERIFY(QFile::remove(m_resources->filePath("VQ1.jpeg")));
        for (int i = 0; i < 5; ++i)
            window.Canvas1().widget()->repaint();
        QCOMPARE(VQ1(), first);
        QVERIFY(near(window.Canvas1().widget()->grab().toImage().pixelColor(400, 100), Qt::blue));
    }

    void Picture_notOpenedIsTriedAgainOnNextCall()
    {
        QVERIFY(!VQ1());
        writeResource(twoColourJpeg(100, 50));
        QVERIFY(VQ1());
    }

    void Picture_badFileLeavesBlankCanvasAndWorkingWindow_data()
    {
        QTest::addColumn<QString>("fault");
        for (const char* fault : { "missing", "empty", "truncated", "text", "png", "huge", "folder" })
            QTest::newRow(fault) << QString(fault);
    }
    void Picture_badFileLeavesBlankCanvasAndWorkingWindow()
    {
        QFETCH(QString, fault);
        const QByteArray good = twoColourJpeg(200, 100);
        if (fault == "empty")
            writeResource(QByteArray());
        else if (fault == "truncated")
            writeResource(good.left(good.size() / 2));
        else if (fault == "text")
            writeResource("this is not a picture\n");
        else if (fault == "png")
            writeResource(pngBytes());
        else if (fault == "huge")
            writeResource(hugeDeclaredJpeg());
        else if (fault == "folder")
            QVERIFY(QDir(m_resources->path()).mkdir("VQ1.jpeg"));

        auto& window = wStartup();
        const QImage image = window.Canvas1().widget()->grab().toImage();
        QVERIFY(!VQ1());
        QVERIFY(!fw::Runtime::hasQuit());
        QVERIFY(m_env->messages().empty());
        QVERIFY(!near(image.pixelColor(400, 100), Qt::blue));
        window.PushButton1().Push();
        QVERIFY(Window1().Visible());
        QVERIFY(!fw::Runtime::hasQuit());
    }

private:
    void writeResource(const QByteArray& bytes)
    {
        QFile file(m_resources->filePath("VQ1.jpeg"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    std::unique_ptr<TestEnvironment> m_env;
    std::unique_ptr<QTemporaryDir> m_resources;
};

QTEST_MAIN(tst_picture)
#include "tst_picture.moc"
