#pragma once

#include <vector>

class QAction;
class QMenuBar;
class QWidget;

namespace fw {

class MenuBar;

// Makes the toolkit actions for every visible item of menuBar, with the window as their
// owner so that their shortcuts act while it is active. With a toolkit bar the items show in
// its menus; without one (a hidden menu bar) they only give the window their shortcuts.
std::vector<QAction*> buildMenus(QWidget* window, QMenuBar* bar, const MenuBar& menuBar);

}
