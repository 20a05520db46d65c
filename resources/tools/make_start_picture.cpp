// Draws the start picture, a panel of lamps, gauges and meters, and writes it as a JPEG.
// Usage: make_start_picture OUTPUT.jpeg
// The drawing is fixed (no randomness), so the same file comes out every time.
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>
#include <cstdio>

namespace {

// Twice the 446 x 275 it is shown at, so it stays sharp on a 2x screen.
constexpr int Width = 892;
constexpr int Height = 550;

void lamp(QPainter& p, QPointF centre, double radius, QColor colour, bool lit)
{
    QRadialGradient glow(centre, radius * (lit ? 2.4 : 1.2));
    glow.setColorAt(0, lit ? colour.lighter(170) : colour.darker(300));
    glow.setColorAt(0.4, lit ? colour : colour.darker(400));
    glow.setColorAt(1, QColor(0, 0, 0, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawEllipse(centre, radius * 2.4, radius * 2.4);
    p.setPen(QPen(QColor(20, 24, 30), 3));
    p.setBrush(lit ? colour : colour.darker(350));
    p.drawEllipse(centre, radius, radius);
}

void gauge(QPainter& p, QPointF centre, double radius, double value)
{
    p.setPen(QPen(QColor(90, 100, 112), 6));
    p.setBrush(QColor(14, 18, 24));
    p.drawEllipse(centre, radius, radius);
    for (int i = 0; i <= 10; ++i) {
        const double angle = (225 - i * 27) * M_PI / 180;
        const QPointF dir(std::cos(angle), -std::sin(angle));
        p.setPen(QPen(i >= 8 ? QColor(230, 60, 50) : QColor(200, 210, 220), i % 5 ? 2 : 4));
        p.drawLine(centre + dir * radius * 0.72, centre + dir * radius * 0.88);
    }
    const double angle = (225 - value * 270) * M_PI / 180;
    p.setPen(QPen(QColor(255, 170, 40), 5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(centre, centre + QPointF(std::cos(angle), -std::sin(angle)) * radius * 0.8);
    p.setBrush(QColor(60, 66, 74));
    p.setPen(Qt::NoPen);
    p.drawEllipse(centre, radius * 0.1, radius * 0.1);
}

void meter(QPainter& p, QRectF frame, int level)
{
    p.setPen(QPen(QColor(70, 80, 92), 3));
    p.setBrush(QColor(10, 12, 16));
    p.drawRoundedRect(frame, 6, 6);
    const int bars = 12;
    const double h = (frame.height() - 16) / bars;
    for (int i = 0; i < bars; ++i) {
        const QColor colour = i >= 10 ? QColor(235, 50, 40) : i >= 7 ? QColor(250, 220, 40) : QColor(40, 200, 70);
        const QRectF bar(frame.left() + 8, frame.bottom() - 8 - (i + 1) * h + 2, frame.width() - 16, h - 4);
        p.fillRect(bar, i < level ? colour : colour.darker(500));
    }
}

void rivet(QPainter& p, QPointF at)
{
    QRadialGradient shine(at - QPointF(2, 2), 8);
    shine.setColorAt(0, QColor(200, 205, 210));
    shine.setColorAt(1, QColor(60, 64, 70));
    p.setPen(Qt::NoPen);
    p.setBrush(shine);
    p.drawEllipse(at, 6, 6);
}

}

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.jpeg\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    QImage image(Width, Height, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient steel(0, 0, 0, Height);
    steel.setColorAt(0, QColor(52, 60, 72));
    steel.setColorAt(0.7, QColor(30, 35, 44));
    steel.setColorAt(1, QColor(12, 14, 18));
    p.fillRect(image.rect(), steel);

    // Panel seams and the frame.
    p.setPen(QPen(QColor(18, 20, 26), 4));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(10, 10, Width - 20, Height - 20));
    p.drawLine(QPointF(Width * 0.5, 20), QPointF(Width * 0.5, Height * 0.72));
    for (QPointF at : { QPointF(28, 28), QPointF(Width - 28, 28), QPointF(28, Height - 28), QPointF(Width - 28, Height - 28) })
        rivet(p, at);

    // Left half: two gauges over a row of lamps.
    gauge(p, QPointF(130, 150), 90, 0.35);
    gauge(p, QPointF(330, 150), 90, 0.8);
    const QColor lampColours[] = { QColor(240, 40, 40), QColor(250, 220, 30), QColor(40, 210, 70), QColor(60, 150, 255) };
    for (int i = 0; i < 8; ++i)
        lamp(p, QPointF(60 + i * 50, 300), 14, lampColours[i % 4], (i * 5 + 1) % 3 != 0);

    // Right half: level meters and a grid of small lamps.
    for (int i = 0; i < 5; ++i)
        meter(p, QRectF(470 + i * 44, 50, 34, 260), 3 + (i * 7) % 10);
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 4; ++column)
            lamp(p, QPointF(730 + column * 36, 70 + row * 60), 10, lampColours[(row + column) % 4], (row * 3 + column) % 4 != 1);
    }

    // The lower band stays dark, so a caption laid over it reads well.
    QLinearGradient band(0, Height * 0.74, 0, Height);
    band.setColorAt(0, QColor(0, 0, 0, 0));
    band.setColorAt(0.25, QColor(6, 8, 10, 230));
    band.setColorAt(1, QColor(4, 5, 6, 255));
    p.fillRect(QRectF(0, Height * 0.74, Width, Height * 0.26), band);
    p.end();

    if (!image.save(QString::fromLocal8Bit(argv[1]), "JPEG", 88)) {
        std::fprintf(stderr, "could not write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
