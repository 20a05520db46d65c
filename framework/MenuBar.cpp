#include "framework/MenuBar.h"
#include "RuntimeState.h"
#include "framework/Runtime.h"

namespace fw {

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
    for (const auto& bar : runtimeState().menuBars)
        bars.push_back(bar.get());
    return bars;
}

void MenuBar::adopt(std::unique_ptr<MenuBar> bar)
{
    runtimeState().menuBars.push_back(std::move(bar));
}

}
