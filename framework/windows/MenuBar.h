#pragma once

#include "../base/ImplicitInstance.h"
#include "MenuItem.h"

#include <memory>
#include <string>
#include <vector>

namespace fw {

// A window's or the application's menus, left to right.
class MenuBar {
public:
    MenuBar() = default;
    virtual ~MenuBar() = default;
    MenuBar(const MenuBar&) = delete;
    MenuBar& operator=(const MenuBar&) = delete;

    void Append(std::unique_ptr<MenuItem> menu);
    MenuItem* Child(const std::string& name) const;
    MenuItem* findByName(const std::string& name) const;
    const std::vector<std::unique_ptr<MenuItem>>& menus() const { return m_menus; }

    // The one menu bar of class B, made on first use; the layer owns it until shut-down.
    template <class B>
    static B& implicitInstance()
    {
        return oneInstance<B>(instances(), &MenuBar::adopt, [](B&) {});
    }

private:
    static std::vector<MenuBar*> instances();
    static void adopt(std::unique_ptr<MenuBar> bar);

    std::vector<std::unique_ptr<MenuItem>> m_menus;
};

}
