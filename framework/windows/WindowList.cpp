// The process-wide list of open windows, and the end of a closed one.
#include "Window.h"
#include "runtime/Life.h"

#include <QCoreApplication>
#include <QObject>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <malloc.h>

namespace fw {

namespace {

constexpr int ReturnMemoryAfterMs = 1000;

class WindowList final : public OpenWindows {
public:
    // At a failure nobody handled, a full-screen window that stays on top would hide the
    // message: every window goes from the screen now, with its hidden pointer.
    void leaveScreen() override
    {
        for (Window* window : Window::openWindows()) {
            window->widget()->unsetCursor();
            window->Close();
        }
    }
    void hearUserSignal() override
    {
        for (Window* window : Window::openWindows())
            window->Event_UserSignal();
    }
    void destroyAll() override { Window::destroyAll(); }

    std::vector<std::unique_ptr<Window>> open;
};

// Never destroyed: windows may still be open when the toolkit ends the process itself.
std::vector<std::unique_ptr<Window>>& openList()
{
    static auto* list = [] {
        auto* made = new WindowList;
        followWindows(*made);
        return made;
    }();
    return list->open;
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
    if (QCoreApplication::instance())
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}
