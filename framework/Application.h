#pragma once

namespace fw {

class MenuBar;

// Base of the program's application object. The runtime raises Event_Open once while it
// completes its initialisation.
class Application {
public:
    virtual ~Application() = default;

    virtual void Event_Open() { }

    void setMenuBar(MenuBar* menuBar) { m_menuBar = menuBar; }
    MenuBar* menuBar() const { return m_menuBar; }

private:
    MenuBar* m_menuBar = nullptr;
};

}
