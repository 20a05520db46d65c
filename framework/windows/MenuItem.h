#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace fw {

// A menu entry; a menu is an item with children. The caption follows the usual conventions:
// "&" marks the access key, "-" makes a separator. Shortcuts read like "Cmd+Q", where Cmd is
// the platform's shortcut modifier (Ctrl here).
class MenuItem {
public:
    MenuItem() = default;
    virtual ~MenuItem() = default;
    MenuItem(const MenuItem&) = delete;
    MenuItem& operator=(const MenuItem&) = delete;

    std::string Name;
    bool AutoEnable = false;
    std::string Text;
    bool Visible = true;
    std::string KeyboardShortcut;

    void Append(std::unique_ptr<MenuItem> child);
    MenuItem* Child(const std::string& name) const;
    const std::vector<std::unique_ptr<MenuItem>>& children() const { return m_children; }
    MenuItem* findByName(const std::string& name);

    bool isSeparator() const { return Text == "-"; }
    // What choosing the item does; an item with no action and no children shows disabled.
    // Only the quit item has one of its own.
    virtual bool hasAction() const { return false; }
    virtual void trigger() { }

private:
    std::vector<std::unique_ptr<MenuItem>> m_children;
};

// The menu item whose built-in action quits the application with status 0.
class QuitMenuItem : public MenuItem {
public:
    bool hasAction() const override { return true; }
    void trigger() override;
};

}
