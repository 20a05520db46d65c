// A window that asks for the display to be kept awake before the toolkit has made its
// surface, and is hidden and shown again (a new surface) on every key: under a compositor,
// its idle inhibitor should stand on whatever surface the window has.
#include "DisplayKeeper.h"
#include "Platform.h"

#include <QGuiApplication>
#include <QRasterWindow>

namespace {

class Probe : public QRasterWindow {
protected:
    void keyPressEvent(QKeyEvent*) override
    {
        hide();
        show();
    }
};

}

int main(int argc, char** argv)
{
    fw::platform::beforeToolkitStarts();
    QGuiApplication app(argc, argv);
    Probe window;
    window.resize(320, 200);
    fw::DisplayKeeper::hold(&window);
    window.show();
    const int status = app.exec();
    fw::DisplayKeeper::release();
    return status;
}
