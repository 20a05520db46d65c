#pragma once

#include "../controls/Control.h"
#include "../base/Cursor.h"
#include "../base/Design.h"
#include "../base/ImplicitInstance.h"

#include <memory>
#include <string>
#include <vector>

class QWidget;

namespace fw {

class MenuBar;
class MenuItem;
class WindowWidget;

// A top-level window built from a design record. Subclasses fill in the construction hooks;
// the layer calls them in order: Layout, CreateControls, every control's Event_Open, then the
// window's Event_Open, and finally shows the window when its record says Visible.
class Window : public ControlHost {
public:
    explicit Window(std::string className);
    ~Window() override;

    virtual void Layout() { }
    virtual void CreateControls() { }
    virtual void Event_Open() { }
    // The key as a string (Escape is the character 27); true means the key was consumed.
    virtual bool Event_KeyDown(const std::string& key);
    // A full-screen window has taken the new size of its screen, or of the screen it moved to,
    // since it opened: raised before the next frame is drawn, once for each new width.
    virtual void Event_ScreenResized() { }
    // An operator sent the program SIGUSR1 (kill -USR1 PID) from another shell: raised on the
    // main thread, on every open window. The signal itself never ends the program.
    virtual void Event_UserSignal() { }

    void applyDesign(const WindowDesign& design);
    Integer Width() const;
    Integer Height() const;
    bool Visible() const;
    void setMouseCursor(MouseCursor cursor);
    MouseCursor mouseCursor() const { return m_cursor; }

    // A window without a menu bar of its own shows the application's.
    void setMenuBar(MenuBar* menuBar);
    MenuBar* menuBar() const { return m_menuBar; }
    // Searches the whole tree of the window's menu bar for an item by Name.
    MenuItem* menuItemByName(const std::string& name) const;

    // Makes the window visible and frontmost.
    void Show();
    // Closes the window; it and its controls are gone once the current event is handled.
    void Close();
    bool isOpen() const { return !m_closed; }

    // The one open window of class W, made and constructed on first use. A window under
    // construction is found too, so its own construction steps may ask for it.
    template <class W>
    static W& implicitInstance()
    {
        return oneInstance<W>(openWindows(), &Window::adopt, [](W& window) { window.construct(); });
    }
    static std::vector<Window*> openWindows();
    // Destroys every window, open or closing. Used at shut-down.
    static void destroyAll();

    QWidget* widget() const override;
    QWidget* contentWidget() const override;

private:
    static void adopt(std::unique_ptr<Window> window);
    // Takes a closed window off the list and deletes it once the current event is handled.
    static void retire(Window* window);
    void construct();
    void updateMenuBar();
    void letDisplaySleep();

    WindowDesign m_design;
    bool m_designApplied = false;
    std::unique_ptr<WindowWidget> m_widget;
    MenuBar* m_menuBar = nullptr;
    MouseCursor m_cursor = MouseCursor::Standard;
    bool m_closed = false;
};

}
