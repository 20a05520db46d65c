// Draws the 256 px application icon, the same picture as the scalable icon beside it.
// Usage: make_icon OUTPUT.png
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    QImage image(256, 256, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x4a, 0x52, 0x60), 6));
    p.setBrush(QColor(0x1b, 0x1f, 0x26));
    p.drawRoundedRect(QRectF(8, 8, 240, 240), 36, 36);

    // Three rows of three blocks, two of them dark as if just blinked off.
    const QColor rows[] = { QColor(255, 0, 0), QColor(255, 255, 0), QColor(0, 170, 0) };
    const bool lit[3][3] = { { true, true, true }, { true, false, true }, { true, true, false } };
    p.setPen(QPen(Qt::black, 2));
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 3; ++column) {
            if (!lit[row][column])
                continue;
            p.setBrush(rows[row]);
            p.drawRect(QRectF(36 + column * 66, 52 + row * 61, 52, 30));
        }
    }
    p.end();
    if (!image.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "could not write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
