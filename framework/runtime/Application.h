#pragma once

#include <string>

namespace fw {

class MenuBar;

// Base of the program's application object. The runtime raises Event_Open once while it
// completes its initialisation.
class Application {
public:
    virtual ~Application() = default;

    virtual void Event_Open() { }
    // A cue from the show came over the network (Cues.h): its name, then its arguments after
    // one blank each, as sent. Raised on the main thread.
    virtual void Event_Cue(const std::string& cue) { (void)cue; }

    void setMenuBar(MenuBar* menuBar) { m_menuBar = menuBar; }
    MenuBar* menuBar() const { return m_menuBar; }

private:
    MenuBar* m_menuBar = nullptr;
};

}
