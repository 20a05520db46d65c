// A window on its screen: covering it, placed on the one chosen, and following it as screens
// come, go and change.
#include "WindowWidget.h"
#include "controls/ContentWidget.h"
#include "runtime/Runtime.h"
#include "runtime/ScreenChoice.h"
#include "platform/Platform.h"

#include <QApplication>
#include <QScreen>
#include <QTimer>
#include <QWindow>

namespace fw {

void WindowWidget::coverScreen()
{
    // The screen asked for; else the one the user is working on, holding the active window.
    QScreen* screen = chosenScreen();
    if (!screen && QApplication::activeWindow())
        screen = QApplication::activeWindow()->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    m_coversScreen = true;
    if (!m_turned)
        m_content->setTurn(m_turn); // drawn turned, unless turned whole
    if (screen) {
        m_homeScreen = screen->name();
        setMinimumSize(0, 0);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        setGeometry(screen->geometry());
    }
    layoutFrame();
}

void WindowWidget::placeOnChosenScreen()
{
    if (QScreen* screen = chosenScreen()) {
        QRect frame(QPoint(0, 0), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void WindowWidget::followScreens()
{
    // A television switched on late, a display switched off and on, a projector plugged in:
    // the screen under a window changes size or goes, and the window moves to another.
    if (!windowHandle() || m_followsScreens)
        return;
    m_followsScreens = true;
    connect(windowHandle(), &QWindow::screenChanged, this, [this](QScreen* screen) {
        watchScreen(screen);
        screenChanged();
    });
    watchScreen(windowHandle()->screen());
    connect(qApp, &QGuiApplication::screenAdded, this, [this](QScreen* added) {
        if (m_coversScreen && added->name() == m_homeScreen)
            QTimer::singleShot(0, this, [this] { goHome(); }); // once the toolkit has placed it
    });
}

void WindowWidget::watchScreen(QScreen* screen)
{
    disconnect(m_screenWatch);
    if (screen)
        m_screenWatch = connect(screen, &QScreen::geometryChanged, this, [this] { screenChanged(); });
}

void WindowWidget::screenChanged()
{
    QScreen* screen = windowHandle() ? windowHandle()->screen() : nullptr;
    if (!screen || !isVisible())
        return;
    if (!m_coversScreen) {
        keepWhole(screen->availableGeometry());
        return;
    }
    // A window manager or compositor gives a full-screen window its screen's new size; on an
    // X server without one, nobody does unless the window asks.
    if (geometry() != screen->geometry() && !platform::displaySystemPlacesWindows())
        setGeometry(screen->geometry());
    if (QGuiApplication::platformName() == QLatin1String("wayland"))
        QTimer::singleShot(0, this, [this] { keepScreenSize(); });
    followScreen();
}

void WindowWidget::keepScreenSize()
{
    // Qt 6.4 can lose the compositor's new size for a window that changes screens as the size
    // comes (an output gone and a new one made): the window would keep its old size for good.
    // A full-screen window's size is its output's, so the window takes that itself.
    QScreen* screen = windowHandle() ? windowHandle()->screen() : nullptr;
    if (screen && !screen->geometry().isEmpty() && size() != screen->geometry().size())
        resize(screen->geometry().size());
}

void WindowWidget::goHome()
{
    QScreen* home = screenNamed(m_homeScreen);
    if (!home || !isVisible() || !windowHandle() || windowHandle()->screen() == home)
        return;
    if (!platform::displaySystemPlacesWindows()) {
        // A bare X server: the window is placed where it asks to be.
        setGeometry(home->geometry());
        return;
    }
    // A window manager or compositor keeps a full-screen window on the screen it has; it
    // places one that shows anew on the screen the window asks for.
    hide();
    windowHandle()->setScreen(home);
    setGeometry(home->geometry());
    showFullScreen();
    m_drawn = false;
    raiseAndActivateWhenDrawn();
}

void WindowWidget::keepWhole(const QRect& area)
{
    // A compositor places windows itself; an X window left beyond the screens is brought back.
    if (QGuiApplication::platformName() == QLatin1String("wayland") || area.contains(frameGeometry()))
        return;
    QRect frame = frameGeometry();
    frame.moveCenter(area.center());
    move(frame.topLeft());
}

void WindowWidget::followScreen()
{
    QScreen* screen = windowHandle() ? windowHandle()->screen() : nullptr;
    if (m_openedWidth < 0 || !screen)
        return;
    // Only once the window has its screen's size: any other resize is no change of screen.
    if (size() != screen->geometry().size() || contentSize().width() == m_openedWidth)
        return;
    m_openedWidth = contentSize().width();
    Runtime::dispatch(m_events.screenResized);
}

}
