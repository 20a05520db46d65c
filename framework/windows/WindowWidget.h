#pragma once

#include "base/Types.h"

#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QMenuBar;

namespace fw {

class ContentWidget;
class ControlHost;
class MenuBar;
class TurnedFrame;

// The toolkit window behind a Window: an optional menu bar above a content area that holds
// the controls. Sizes set through the Window are content sizes.
class WindowWidget : public QWidget {
public:
    // What the window is told: a key (true when it was consumed), and that a full-screen
    // window has taken its screen's new size.
    struct Events {
        std::function<bool(const std::string& key)> keyDown;
        std::function<void()> screenResized;
    };

    WindowWidget(const ControlHost& controls, Events events);
    ~WindowWidget() override;

    QWidget* content() const;
    // The content area's size as its controls are laid out, upright however the window is
    // turned (see turnWindows).
    QSize contentSize() const;
    // The content area fills itself with this colour before it draws its controls.
    void setContentBackground(Color color);
    void setContentSize(int width, int height);
    void setContentSizeLimits(int minWidth, int minHeight, int maxWidth, int maxHeight, bool resizeable);
    // Builds the toolkit menus for menuBar (none for nullptr). Shortcuts act while the
    // window is active, also when the bar is hidden.
    void installMenuBar(const MenuBar* menuBar, bool visible);
    // Fills the chosen screen, or the one the user works on: a full-screen window from now on.
    void coverScreen();
    // Centres the window on the chosen screen, if one was chosen.
    void placeOnChosenScreen();
    // From now on the window keeps to a screen there is as screens change: a full-screen
    // window covers its screen, another stays whole on one.
    void followScreens();
    // Before the window shows, where windows are turned (see turnWindows): one with widgets
    // or a menu bar is turned whole from now on; a full-screen one that only draws turns its
    // drawing itself.
    void turnWhole();
    // Readies the buffer of a window just shown full screen for its first frame (once).
    void prepareFirstFrame();
    // Raises and activates the window now, or once its first frame is drawn.
    void raiseAndActivateWhenDrawn();
    // The content area has been drawn (the window itself is covered by it).
    void contentDrawn();
    // The window's Open event has run: from now on a full-screen window follows its screen.
    void opened();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    int menuBarHeight() const;
    void layoutFrame();
    void watchScreen(QScreen* screen);
    void screenChanged();
    void keepWhole(const QRect& area);
    void keepScreenSize();
    // A full-screen window goes back to the screen it was shown on when that screen comes back.
    void goHome();
    // Raises Event_ScreenResized once a full-screen window has its screen's new size.
    void followScreen();

    const Events m_events;
    ContentWidget* m_content;
    bool m_coversScreen = false;
    QMenuBar* m_menuBar = nullptr;
    int m_menuBarHeight = 0;
    std::vector<QAction*> m_menuActions;
    bool m_drawn = false;
    int m_openedWidth = -1; // the content width a full-screen window was laid out for
    bool m_followsScreens = false;
    QString m_homeScreen; // the name of the screen a full-screen window was shown on
    QMetaObject::Connection m_screenWatch;
    bool m_activateWhenDrawn = false;
    std::unique_ptr<QObject> m_prefault; // the first frame prepared ahead
    const int m_turn; // degrees, clockwise
    std::unique_ptr<TurnedFrame> m_turned;
    // A size of the window for this upright size of its menu bar and content.
    QSize turned(QSize upright) const;
};

}
