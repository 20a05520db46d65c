#include "Window.h"
#include "drawing/ToolkitStyle.h"
#include "WindowWidget.h"
#include "MenuBar.h"
#include "runtime/Runtime.h"
#include "runtime/Life.h"
#include "controls/Timer.h"
#include "platform/Platform.h"

#include <QApplication>
#include <utility>

namespace fw {

namespace {

Qt::WindowFlags flagsFor(const WindowDesign& design)
{
    Qt::WindowFlags flags = design.Frame == FrameType::ModalDialog || design.Frame == FrameType::MovableModal
        ? Qt::Dialog
        : Qt::Window;
    if (design.Frame == FrameType::GlobalFloating)
        flags |= Qt::WindowStaysOnTopHint;
    // A full-screen window carries no frame. On Wayland the toolkit draws the frame into the
    // window's own buffer, and Qt 6.4's Wayland client (seen with cage 0.1.4, which asks for
    // client-side decorations and grants full screen only in its second configure) keeps those
    // margins once the window is full screen: the content shifted down and right under a title
    // bar, its bottom cut. A frameless window gets no decorations from the toolkit at all; the
    // toolkit drops the frameless hint where any title-bar button is asked for, so none is.
    if (design.FullScreen && QGuiApplication::platformName() == QLatin1String("wayland"))
        return flags | Qt::FramelessWindowHint;
    flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (design.CloseButton)
        flags |= Qt::WindowCloseButtonHint;
    if (design.MinimizeButton)
        flags |= Qt::WindowMinimizeButtonHint;
    if (design.MaximizeButton && design.Resizeable)
        flags |= Qt::WindowMaximizeButtonHint;
    return flags;
}

}

Window::Window(std::string className)
    : ControlHost(std::move(className))
    , m_widget(std::make_unique<WindowWidget>(*this,
          WindowWidget::Events {
              [this](const std::string& key) { return Event_KeyDown(key); },
              [this] { Event_ScreenResized(); },
          }))
{
}

Window::~Window()
{
    letDisplaySleep();
    // Controls first: each lets go of its own toolkit object while the window's still exists.
    dropControls();
    m_widget.reset();
}

void Window::letDisplaySleep()
{
    platform::releaseDisplay(m_widget->windowHandle());
}

bool Window::Event_KeyDown(const std::string&)
{
    return false;
}

void Window::construct()
{
    try {
        Layout();
        if (!m_designApplied)
            updateMenuBar();
        CreateControls();
        arrangeTabOrder();
        for (const auto& control : controls())
            control->Event_Open();
        Event_Open();
        m_widget->opened();
        if (m_design.Visible)
            Show();
    } catch (...) {
        // A half-built window is never left on the screen or in the registry.
        Close();
        throw;
    }
}

void Window::applyDesign(const WindowDesign& design)
{
    m_design = design;
    m_designApplied = true;
    WindowWidget& w = *m_widget;
    w.setWindowFlags(flagsFor(design));
    w.setWindowTitle(QString::fromUtf8(design.Title));
    updateMenuBar();
    if (design.HasBackColor) {
        QPalette palette = w.palette();
        palette.setColor(QPalette::Window, toQColor(design.BackColor));
        w.setPalette(palette);
        w.setAutoFillBackground(true);
        w.setContentBackground(design.BackColor);
    }
    if (design.FullScreen) {
        // The full-screen size is known before Open runs, so a layout there sees it.
        w.coverScreen();
    } else {
        w.setContentSize(static_cast<int>(design.Width), static_cast<int>(design.Height));
        w.setContentSizeLimits(static_cast<int>(design.MinWidth), static_cast<int>(design.MinHeight),
            static_cast<int>(design.MaxWidth), static_cast<int>(design.MaxHeight), design.Resizeable);
    }
}

Integer Window::Width() const
{
    return m_widget->contentSize().width();
}

Integer Window::Height() const
{
    return m_widget->contentSize().height();
}

bool Window::Visible() const
{
    return m_widget->isVisible();
}

void Window::setMouseCursor(MouseCursor cursor)
{
    m_cursor = cursor;
    if (cursor == MouseCursor::Invisible)
        m_widget->setCursor(Qt::BlankCursor);
    else
        m_widget->unsetCursor();
}

void Window::setMenuBar(MenuBar* menuBar)
{
    m_menuBar = menuBar;
    // Before its design record the window does not know whether the bar shows: the record
    // builds it, once.
    if (m_designApplied)
        updateMenuBar();
}

void Window::updateMenuBar()
{
    const MenuBar* shown = m_menuBar;
    if (!shown && Runtime::application())
        shown = Runtime::application()->menuBar();
    m_widget->installMenuBar(shown, m_design.MenuBarVisible);
}

MenuItem* Window::menuItemByName(const std::string& name) const
{
    if (!m_menuBar)
        throw NilObjectException("Window " + className() + " has no menu bar to find \"" + name + "\" in.");
    MenuItem* item = m_menuBar->findByName(name);
    if (!item)
        throw NilObjectException("The menu bar of window " + className() + " has no item \"" + name + "\".");
    return item;
}

void Window::Show()
{
    if (m_closed)
        throw NilObjectException("Window " + className() + " has been closed and cannot be shown.");
    m_widget->turnWhole();
    if (m_design.FullScreen) {
        m_widget->showFullScreen();
        m_widget->followScreens();
        m_widget->prepareFirstFrame();
        platform::keepDisplayAwake(m_widget->windowHandle(), keepAwakeReason());
        platform::fullScreenShown(m_widget->windowHandle(), firstWindowOfTheSession());
        // Raising and activating a full-screen window before its first frame holds that
        // frame up while the window manager restacks and refocuses: asked for once drawn.
        m_widget->raiseAndActivateWhenDrawn();
        return;
    }
    if (!m_widget->isVisible())
        m_widget->placeOnChosenScreen();
    m_widget->show();
    m_widget->followScreens();
    m_widget->raise();
    m_widget->activateWindow();
}

void Window::Close()
{
    if (m_closed)
        return;
    m_closed = true;
    m_widget->hide();
    letDisplaySleep();
    for (const auto& control : controls()) {
        if (auto* timer = dynamic_cast<Timer*>(control.get()))
            timer->setMode(TimerMode::Off);
    }
    // The caller may be one of the window's own handlers.
    retire(this);
}

QWidget* Window::widget() const
{
    return m_widget.get();
}

QWidget* Window::contentWidget() const
{
    return m_widget->content();
}

}
