#include "MenuBar.h"
#include "runtime/RuntimeState.h"
#include "runtime/Runtime.h"

namespace fw {

namespace {
using MenuBarList = std::vector<std::unique_ptr<MenuBar>>;

MenuBarList& menuBars()
{
    std::shared_ptr<void>& kept = runtimeState().menuBars;
    if (!kept)
        kept = std::make_shared<MenuBarList>();
    return *static_cast<MenuBarList*>(kept.get());
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
    menuBars().push_back(std::move(bar));
}

}
