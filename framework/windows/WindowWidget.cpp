#include "WindowWidget.h"
#include "controls/ContentWidget.h"
#include "KeyString.h"
#include "TurnedFrame.h"
#include "WindowMenus.h"
#include "runtime/Screens.h"
#include "runtime/Runtime.h"
#include "platform/Platform.h"

#include <QAction>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMenuBar>
#include <QTimer>

namespace fw {
WindowWidget::WindowWidget(const ControlHost& controls, Events events)
    : m_events(std::move(events))
    , m_content(new ContentWidget(controls, [this] { contentDrawn(); }, this))
    , m_turn(windowTurn())
{
    setFocusPolicy(Qt::NoFocus);
}

// Out of line: the prefault helper is joined here, before the toolkit frees the buffer.
WindowWidget::~WindowWidget() = default;

QWidget* WindowWidget::content() const
{
    return m_content;
}

QSize WindowWidget::contentSize() const
{
    return m_content->uprightSize();
}

void WindowWidget::setContentBackground(Color color)
{
    m_content->setBackground(color);
}

int WindowWidget::menuBarHeight() const
{
    return m_menuBarHeight;
}

QSize WindowWidget::turned(QSize upright) const
{
    return m_turned ? m_turned->upright(upright) : upright;
}

void WindowWidget::turnWhole()
{
    if (m_turn == 0 || m_turned)
        return;
    if (!m_menuBar && m_content->findChildren<QWidget*>(Qt::FindDirectChildrenOnly).isEmpty())
        return;
    const QSize upright = size(), least = minimumSize(), most = maximumSize();
    m_content->setTurn(0);
    m_turned = std::make_unique<TurnedFrame>(*this, m_turn, m_menuBar, *m_content);
    if (!m_coversScreen) {
        setMinimumSize(0, 0);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        resize(turned(upright));
        setMinimumSize(turned(least));
        setMaximumSize(turned(most));
    }
    layoutFrame();
}

void WindowWidget::layoutFrame()
{
    const int bar = menuBarHeight();
    if (m_turned) {
        m_turned->layOut(bar);
        return;
    }
    if (m_menuBar)
        m_menuBar->setGeometry(0, 0, width(), bar);
    m_content->setGeometry(0, bar, width(), height() - bar);
}

void WindowWidget::setContentSize(int width, int height)
{
    m_coversScreen = false;
    resize(turned(QSize(width, height + menuBarHeight())));
    layoutFrame();
}

void WindowWidget::setContentSizeLimits(int minWidth, int minHeight, int maxWidth, int maxHeight, bool resizeable)
{
    const int bar = menuBarHeight();
    if (!resizeable) {
        setFixedSize(turned(QSize(m_content->width(), m_content->height() + bar)));
        return;
    }
    setMinimumSize(turned(QSize(minWidth, minHeight + bar)));
    setMaximumSize(turned(QSize(std::min(maxWidth, QWIDGETSIZE_MAX), std::min(maxHeight + bar, QWIDGETSIZE_MAX))));
}

void WindowWidget::installMenuBar(const MenuBar* menuBar, bool visible)
{
    const QSize content = m_content->size();
    for (QAction* action : m_menuActions)
        delete action;
    m_menuActions.clear();
    delete m_menuBar;
    m_menuBar = nullptr;
    // A hidden bar needs no widgets, only the shortcuts of its items.
    if (menuBar && visible) {
        m_menuBar = new QMenuBar(this);
        m_menuBar->setNativeMenuBar(false);
    }
    if (m_turned)
        m_turned->setMenuBar(m_menuBar);
    if (menuBar)
        m_menuActions = buildMenus(this, m_menuBar, *menuBar);
    // Measured once: the first measurement sets up the font database, and the bar's height
    // does not change afterwards.
    m_menuBarHeight = m_menuBar ? m_menuBar->sizeHint().height() : 0;
    if (!isFullScreen() && !content.isEmpty())
        resize(turned(QSize(content.width(), content.height() + menuBarHeight())));
    layoutFrame();
}

void WindowWidget::keyPressEvent(QKeyEvent* event)
{
    const std::string key = keyString(event->key(), event->text());
    bool consumed = false;
    Runtime::dispatch([&] { consumed = m_events.keyDown(key); });
    if (!consumed)
        QWidget::keyPressEvent(event);
}

void WindowWidget::closeEvent(QCloseEvent* event)
{
    // Our own Close() never comes here; a request from the window manager does. The
    // windows have no close box, so such a request means the user wants out.
    event->ignore();
    Runtime::dispatch([] { Quit(0); });
}

void WindowWidget::prepareFirstFrame()
{
    if (!m_prefault && !m_drawn)
        m_prefault = platform::prefaultFirstFrame(*this);
}

void WindowWidget::raiseAndActivateWhenDrawn()
{
    if (!m_drawn) {
        m_activateWhenDrawn = true;
        return;
    }
    raise();
    activateWindow();
    if (!isActiveWindow())
        platform::askForKeyboard(windowHandle());
}

void WindowWidget::contentDrawn()
{
    if (!std::exchange(m_drawn, true)) {
        // Posted from a posted call: it runs after what the frame's flush has posted (on the
        // console, the frame composed into the screen's buffer and flipped to the screen).
        QMetaObject::invokeMethod(this, [this] {
            QMetaObject::invokeMethod(this, [] { platform::tellReady(); }, Qt::QueuedConnection);
        }, Qt::QueuedConnection);
    }
    if (m_activateWhenDrawn) {
        m_activateWhenDrawn = false;
        // Posted: it runs once this frame has gone to the screen.
        QTimer::singleShot(0, this, [this] { raiseAndActivateWhenDrawn(); });
    }
}

void WindowWidget::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutFrame();
    followScreen();
}

void WindowWidget::opened()
{
    if (m_coversScreen)
        m_openedWidth = contentSize().width();
}

}
