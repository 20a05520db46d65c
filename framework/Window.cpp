#include "Window.h"
#include "DisplayKeeper.h"
#include "MenuBar.h"
#include "Platform.h"
#include "Runtime.h"
#include "Timer.h"
#include "ToolkitStyle.h"
#include "WindowWidget.h"

#include <QApplication>
#include <QCoreApplication>
#include <QObject>
#include <QTimer>
#include <algorithm>
#include <malloc.h>

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
    : m_className(std::move(className))
    , m_widget(std::make_unique<WindowWidget>(*this))
{
}

Window::~Window()
{
    letDisplaySleep();
    // Controls first: each lets go of its own toolkit object while the window's still exists.
    m_windowless.clear();
    m_controls.clear();
    m_widget.reset();
}

void Window::letDisplaySleep()
{
    if (m_keepsDisplayAwake) {
        m_keepsDisplayAwake = false;
        DisplayKeeper::release();
    }
}

bool Window::Event_KeyDown(const std::string&)
{
    return false;
}

void Window::construct()
{
    try {
        Layout();
        CreateControls();
        arrangeTabOrder();
        for (const auto& control : m_controls)
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
    WindowWidget& w = *m_widget;
    w.setWindowFlags(flagsFor(design));
    w.setWindowTitle(QString::fromUtf8(design.Title));
    updateMenuBar();
    if (design.HasBackColor) {
        QPalette palette = w.palette();
        palette.setColor(QPalette::Window, toQColor(design.BackColor));
        w.setPalette(palette);
        w.setAutoFillBackground(true);
        w.content()->setAutoFillBackground(true);
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
    return m_widget->content()->width();
}

Integer Window::Height() const
{
    return m_widget->content()->height();
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
        throw NilObjectException("Window " + m_className + " has no menu bar to find \"" + name + "\" in.");
    MenuItem* item = m_menuBar->findByName(name);
    if (!item)
        throw NilObjectException("The menu bar of window " + m_className + " has no item \"" + name + "\".");
    return item;
}

void Window::Show()
{
    if (m_closed)
        throw NilObjectException("Window " + m_className + " has been closed and cannot be shown.");
    if (m_design.FullScreen) {
        m_widget->showFullScreen();
        m_widget->followScreens();
        m_widget->prepareFirstFrame();
        if (!m_keepsDisplayAwake) {
            m_keepsDisplayAwake = true;
            DisplayKeeper::hold(m_widget->windowHandle());
            platform::fullScreenShown();
        }
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
    for (const auto& control : m_controls) {
        if (auto* timer = dynamic_cast<Timer*>(control.get()))
            timer->setMode(TimerMode::Off);
    }
    // The caller may be one of the window's own handlers.
    retire(this);
}

void Window::registerControl(std::unique_ptr<Control> control, const std::string& name, Integer index)
{
    if (!control)
        throw NilObjectException("A control to add to window " + m_className + " as \"" + name + "\" was missing.");
    control->m_name = name;
    control->m_index = index;
    if (auto* rect = dynamic_cast<RectControl*>(control.get())) {
        if (rect->isWindowless())
            m_windowless.push_back(rect);
        if (QWidget* widget = rect->widget()) {
            QString objectName = QString::fromStdString(name);
            if (index != NoIndex)
                objectName += QString::number(index);
            widget->setObjectName(objectName);
        }
    }
    m_controls.push_back(std::move(control));
}

Control* Window::ControlByName(const std::string& name) const
{
    for (const auto& control : m_controls) {
        if (control->m_index == NoIndex && control->m_name == name)
            return control.get();
    }
    return nullptr;
}

Control* Window::ControlByNameIndex(const std::string& name, Integer index) const
{
    for (const auto& control : m_controls) {
        if (control->m_index == index && control->m_name == name)
            return control.get();
    }
    return nullptr;
}

void Window::raiseLookupFailure(const std::string& name, Integer index, bool found) const
{
    const std::string what = index == NoIndex ? "\"" + name + "\"" : "\"" + name + "\" (" + std::to_string(index) + ")";
    if (found)
        throw TypeMismatchException("Control " + what + " of window " + m_className + " is not of the expected class.");
    throw NilObjectException("Window " + m_className + " has no control " + what + ".");
}

void Window::arrangeTabOrder()
{
    std::vector<RectControl*> stops;
    for (const auto& control : m_controls) {
        auto* rect = dynamic_cast<RectControl*>(control.get());
        if (rect && rect->widget() && rect->widget()->focusPolicy() != Qt::NoFocus)
            stops.push_back(rect);
    }
    std::stable_sort(stops.begin(), stops.end(), [](auto* a, auto* b) { return a->TabIndex() < b->TabIndex(); });
    for (std::size_t i = 1; i < stops.size(); ++i)
        QWidget::setTabOrder(stops[i - 1]->widget(), stops[i]->widget());
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

// The process-wide list of open windows, and the end of a closed one.
namespace fw {

namespace {

constexpr int ReturnMemoryAfterMs = 1000;

// The layer holds every open window. Like the runtime's state, the list outlives static
// destruction; shut-down empties it.
std::vector<std::unique_ptr<Window>>& openList()
{
    static auto* windows = new std::vector<std::unique_ptr<Window>>;
    return *windows;
}

// A closed window until the toolkit's deferred deletion takes it: that runs only once control
// is back in the event loop that closed it, never in a loop nested inside a handler.
class ClosedWindow : public QObject {
public:
    explicit ClosedWindow(std::unique_ptr<Window> window)
        : m_window(std::move(window))
    {
    }
    ~ClosedWindow() override
    {
        m_window.reset();
        // A closed window's memory goes back to the system, not only to the heap: the
        // full-screen window that usually follows may run for days. A little later, so that
        // walking the heap does not hold up that window's first frame.
        QTimer::singleShot(ReturnMemoryAfterMs, [] { ::malloc_trim(0); });
    }

private:
    std::unique_ptr<Window> m_window;
};

}

void Window::adopt(std::unique_ptr<Window> window)
{
    openList().push_back(std::move(window));
}

void Window::retire(Window* window)
{
    auto& open = openList();
    auto it = std::find_if(open.begin(), open.end(), [window](const auto& w) { return w.get() == window; });
    if (it == open.end())
        return;
    (new ClosedWindow(std::move(*it)))->deleteLater();
    open.erase(it);
}

std::vector<Window*> Window::openWindows()
{
    std::vector<Window*> windows;
    for (const auto& window : openList())
        windows.push_back(window.get());
    return windows;
}

void Window::destroyAll()
{
    auto open = std::move(openList());
    open.clear();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}
