#include "WindowMenus.h"
#include "MenuBar.h"
#include "runtime/Runtime.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

namespace fw {

namespace {

QKeySequence shortcutFor(const std::string& text)
{
    QString keys = QString::fromStdString(text);
    keys.replace(QStringLiteral("Cmd+"), QStringLiteral("Ctrl+"));
    return QKeySequence(keys, QKeySequence::PortableText);
}

void addItems(QWidget* window, QMenu* menu, const MenuItem& parent, std::vector<QAction*>& made)
{
    for (const auto& child : parent.children()) {
        MenuItem* item = child.get();
        if (!item->Visible)
            continue;
        if (item->isSeparator()) {
            if (menu)
                menu->addSeparator();
            continue;
        }
        if (!item->children().empty()) {
            addItems(window, menu ? menu->addMenu(QString::fromStdString(item->Text)) : nullptr, *item, made);
            continue;
        }
        auto* action = new QAction(QString::fromStdString(item->Text), window);
        action->setShortcut(shortcutFor(item->KeyboardShortcut));
        action->setEnabled(item->hasAction());
        QObject::connect(action, &QAction::triggered, action, [item] { Runtime::dispatch([item] { item->trigger(); }); });
        if (menu)
            menu->addAction(action);
        window->addAction(action);
        made.push_back(action);
    }
}

}

std::vector<QAction*> buildMenus(QWidget* window, QMenuBar* bar, const MenuBar& menuBar)
{
    std::vector<QAction*> made;
    for (const auto& menu : menuBar.menus()) {
        if (!menu->Visible)
            continue;
        QMenu* qmenu = bar ? bar->addMenu(QString::fromStdString(menu->Text)) : nullptr;
        addItems(window, qmenu, *menu, made);
    }
    return made;
}

}
