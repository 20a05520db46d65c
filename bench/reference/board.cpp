// The same job written directly on Qt Widgets, as the benchmark's reference: the start window
// (menu bar, picture, caption, hint, GO and Quit) and the full-screen board of 36 blocks that
// blink at random every 1.4 s until Escape. No layer between it and the toolkit.
//   reference_board PICTURE [--seed N]
// With --seed N the blink follows the same sequence as the program's with that seed (a
// Mersenne Twister, 53 bits a draw), so that the two do the same work tick for tick.
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTimer>
#include <QVBoxLayout>
#include <array>
#include <cstdint>
#include <optional>
#include <random>
#include <string>

namespace {

constexpr int DesignWidth = 1440;
std::optional<std::mt19937> seeded;

double draw()
{
    if (!seeded)
        return QRandomGenerator::global()->generateDouble();
    const std::uint32_t high = (*seeded)() >> 5;
    const std::uint32_t low = (*seeded)() >> 6;
    return (high * 67108864.0 + low) / 9007199254740992.0;
}
const QColor RowColours[] = { QColor(255, 0, 0), QColor(255, 0, 0), QColor(255, 255, 0), QColor(255, 255, 0),
    QColor(0, 170, 0), QColor(0, 170, 0) };

class Board : public QWidget {
public:
    Board()
    {
        setWindowTitle("Untitled");
        setCursor(Qt::BlankCursor);
        setAttribute(Qt::WA_OpaquePaintEvent);
        lit.fill(true);
        connect(&timer, &QTimer::timeout, this, [this] { tick(); });
        timer.start(1400);
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QPainter painter(this);
        painter.fillRect(event->rect(), Qt::black);
        for (int i = 0; i < 36; ++i) {
            if (lit[i] && event->region().intersects(block(i)))
                painter.fillRect(block(i).adjusted(1, 1, -1, -1), RowColours[i / 6]); // inside a black border
        }
    }
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->key() == Qt::Key_Escape)
            QApplication::exit(0);
    }

private:
    QRect block(int i) const
    {
        const auto q = [this](int k) { return width() * k / DesignWidth; };
        return QRect(q(59) + (i % 6) * q(232), q(51) + (i / 6) * q(109), q(180), q(60));
    }
    void tick()
    {
        // Between 2 and 34 draws; a block drawn twice ends as it began.
        const int draws = static_cast<int>(2 + 33 * draw());
        for (int n = 0; n < draws; ++n) {
            const int i = static_cast<int>(36 * draw());
            lit[i] = !lit[i];
            update(block(i));
        }
    }

    std::array<bool, 36> lit;
    QTimer timer;
};

class Canvas : public QWidget {
public:
    Canvas(const QString& picture, QWidget* parent)
        : QWidget(parent)
        , image(picture)
    {
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        if (!image.isNull())
            QPainter(this).drawPixmap(rect(), image);
    }

private:
    QPixmap image;
};

class StartWindow : public QWidget {
public:
    explicit StartWindow(const QString& picture)
    {
        setWindowTitle("Untitled");
        auto* bar = new QMenuBar(this);
        bar->addMenu("&File")->addAction("&Quit", QKeySequence("Ctrl+Q"), [] { QApplication::exit(0); });
        QMenu* edit = bar->addMenu("&Edit");
        for (const char* item : { "&Undo", "-", "Cu&t", "&Copy", "&Paste", "&Delete", "-", "Select &All" }) {
            if (item == std::string_view("-"))
                edit->addSeparator();
            else
                edit->addAction(item)->setEnabled(false);
        }
        auto* content = new QWidget(this);
        auto* column = new QVBoxLayout(this);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(0);
        column->setMenuBar(bar);
        column->addWidget(content);
        content->setFixedSize(470, 332);

        auto* canvas = new Canvas(picture, content);
        canvas->setGeometry(11, 12, 446, 275);
        auto* caption = new QLabel("Zozorod Udidovad", canvas);
        caption->setGeometry(0, 215, 446, 50);
        caption->setAlignment(Qt::AlignCenter);
        QFont font = caption->font();
        font.setPixelSize(30);
        font.setBold(true);
        caption->setFont(font);
        caption->setStyleSheet("color: #66ff66");
        auto* hint = new QLabel("When running, press <esc> to quit", content);
        hint->setTextFormat(Qt::PlainText);
        hint->setGeometry(20, 299, 246, 20);
        auto* quit = new QPushButton("Quit", content);
        quit->setGeometry(278, 299, 80, 20);
        connect(quit, &QPushButton::clicked, [] { QApplication::exit(0); });
        auto* go = new QPushButton("GO", content);
        go->setGeometry(370, 299, 80, 20);
        go->setDefault(true);
        go->setFocus();
        connect(go, &QPushButton::clicked, this, [this] { showBoard(); });
        setFixedSize(sizeHint());
    }

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
            showBoard();
        else if (event->key() == Qt::Key_Escape)
            QApplication::exit(0);
    }

private:
    void showBoard()
    {
        auto* board = new Board;
        board->setAttribute(Qt::WA_DeleteOnClose);
        board->setGeometry(screen()->geometry());
        board->showFullScreen();
        board->activateWindow();
        close();
    }
};

}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    if (argc > 3 && argv[2] == std::string_view("--seed"))
        seeded.emplace(static_cast<std::uint32_t>(std::stoul(argv[3])));
    StartWindow start(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString());
    start.show();
    return QApplication::exec();
}
