#include "MainMenuBar.h"
#include "framework/RuntimeException.h"

namespace {

struct ItemDesign {
    const char* Name;
    const char* Text;
    const char* KeyboardShortcut; // nullptr: the item never gets one
};

constexpr ItemDesign FileMenu { "FileMenu", "&File", "" };
constexpr ItemDesign FileQuit { "FileQuit", "&Quit", "Cmd+Q" };
constexpr ItemDesign EditMenu { "EditMenu", "&Edit", "" };
constexpr ItemDesign EditItems[] = {
    { "EditUndo", "&Undo", "Cmd+Z" },
    { "EditSeparator1", "-", nullptr },
    { "EditCut", "Cu&t", "Cmd+X" },
    { "EditCopy", "&Copy", "Cmd+C" },
    { "EditPaste", "&Paste", "Cmd+V" },
    { "EditClear", "&Delete", "" },
    { "EditSeparator2", "-", nullptr },
    { "EditSelectAll", "Select &All", "Cmd+A" },
};

template <class Item = fw::MenuItem>
std::unique_ptr<fw::MenuItem> build(const ItemDesign& design)
{
    auto item = std::make_unique<Item>();
    item->Name = design.Name;
    item->AutoEnable = true;
    item->Text = design.Text;
    item->Visible = true;
    if (design.KeyboardShortcut)
        item->KeyboardShortcut = design.KeyboardShortcut;
    return item;
}

fw::MenuItem& childOf(const fw::MenuBar& bar, const char* name)
{
    fw::MenuItem* menu = bar.Child(name);
    if (!menu)
        throw fw::NilObjectException(std::string("The menu bar has no menu \"") + name + "\".");
    return *menu;
}

}

MainMenuBar::MainMenuBar()
{
    Untitled0();
    Untitled1();
}

void MainMenuBar::Untitled0()
{
    Append(build(FileMenu));
    auto quit = build<fw::QuitMenuItem>(FileQuit);
    childOf(*this, "FileMenu").Append(std::move(quit));
}

void MainMenuBar::Untitled1()
{
    Append(build(EditMenu));
    for (const ItemDesign& design : EditItems) {
        auto item = build(design);
        childOf(*this, "EditMenu").Append(std::move(item));
    }
}

class MainMenuBar& MainMenuBar()
{
    return fw::MenuBar::implicitInstance<class MainMenuBar>();
}
