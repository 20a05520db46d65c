#include "MenuBar.h"
#include "runtime/Runtime.h"

namespace fw {

namespace {
// The implicit instances, from the first one adopted until shut-down.
std::vector<std::unique_ptr<MenuBar>>& menuBars()
{
    static auto* bars = new std::vector<std::unique_ptr<MenuBar>>;
    return *bars;
}
}

void MenuBar::Append(std::unique_ptr<MenuItem> menu)
{
    if (!menu)
        throw NilObjectException("A menu to append to the menu bar was missing.");
    m_menus.push_back(std::move(menu));
}

MenuItem* MenuBar::Child(const std::string& name) const
{
    for (const auto& menu : m_menus) {
        if (menu->Name == name)
            return menu.get();
    }
    return nullptr;
}

MenuItem* MenuBar::findByName(const std::string& name) const
{
    for (const auto& menu : m_menus) {
        if (MenuItem* found = menu->findByName(name))
            return found;
    }
    return nullptr;
}

std::vector<MenuBar*> MenuBar::instances()
{
    std::vector<MenuBar*> bars;
    for (const auto& bar : menuBars())
        bars.push_back(bar.get());
    return bars;
}

void MenuBar::adopt(std::unique_ptr<MenuBar> bar)
{
    if (menuBars().empty())
        Runtime::atShutDown([] { menuBars().clear(); });
    menuBars().push_back(std::move(bar));
}

}
