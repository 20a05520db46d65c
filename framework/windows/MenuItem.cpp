#include "MenuItem.h"
#include "runtime/Runtime.h"

namespace fw {

void MenuItem::Append(std::unique_ptr<MenuItem> child)
{
    if (!child)
        throw NilObjectException("A menu item to append was missing.");
    m_children.push_back(std::move(child));
}

MenuItem* MenuItem::Child(const std::string& name) const
{
    for (const auto& child : m_children) {
        if (child->Name == name)
            return child.get();
    }
    return nullptr;
}

MenuItem* MenuItem::findByName(const std::string& name)
{
    if (Name == name)
        return this;
    for (const auto& child : m_children) {
        if (MenuItem* found = child->findByName(name))
            return found;
    }
    return nullptr;
}

void QuitMenuItem::trigger()
{
    Quit(0);
}

}
