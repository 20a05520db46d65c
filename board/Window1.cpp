#include "Window1.h"
#include "MainMenuBar.h"
#include "myLib.h"
#include "Window1Design.h"
#include "framework/Cues.h"
#include "framework/Random.h"
#include "framework/Runtime.h"
#include "framework/Text.h"

#include <array>
#include <utility>

class Window1& Window1()
{
    return fw::Window::implicitInstance<class Window1>();
}

void Window1::Layout()
{
    setMenuBar(&MainMenuBar());
    applyDesign(Window1Design::Window);
}

void Window1::CreateControls()
{
    CreateControls0();
    CreateControls1();
}

void Window1::CreateControls0()
{
    createBlock(0);
    AddControl(std::make_unique<fw::Timer>(*this), "Timer1");
    // Each step looks the control up anew in the registry instead of keeping a reference:
    // controls go with their window, and a window closed and asked for again is a new one.
    control<fw::Timer>("Timer1").applyDesign(Window1Design::Timer1);
    control<fw::Timer>("Timer1").setActionHandler([this](fw::Timer& timer) { Timer1_Action(timer); });
}

void Window1::CreateControls1()
{
    for (fw::Integer index = 1; index < 36; ++index)
        createBlock(index);
}

void Window1::createBlock(fw::Integer index)
{
    AddControl(std::make_unique<Rectangle1Element>(*this, index), "Rectangle1", index);
    Block& block = control<Block>("Rectangle1", index);
    block.applyDesign(Window1Design::block(Window1Design::Blocks[index]));
    block.Colour = Window1Design::BlockColour;
    block.On = Window1Design::BlockOn;
}

Block& Window1::Rectangle1(fw::Integer index) const
{
    return control<Block>("Rectangle1", index);
}

fw::Timer& Window1::Timer1() const
{
    return control<fw::Timer>("Timer1");
}

void Window1::Timer1_Action(fw::Timer&)
{
    // Every draw comes first: the count, then that many block indices. Then each drawn
    // block flips, so one drawn an even number of times ends as it began.
    std::array<fw::Integer, 36> drawList {};
    const auto n = static_cast<fw::Integer>(2 + 33 * fw::Rnd());
    for (fw::Integer i = 1; i <= n; ++i)
        drawList[i] = static_cast<fw::Integer>(36 * fw::Rnd());
    for (fw::Integer i = 1; i <= n; ++i) {
        Block& block = Rectangle1(drawList[i]);
        block.setVisible(!block.Visible());
    }
}

void Window1::BackToOne()
{
    for (fw::Integer index = 0; index < 36; ++index)
        Rectangle1(index).setVisible(true);
    fw::Random::startOver();
    Timer1().Reset();
    // Dark is over: the board blinks again, from its first frame.
    if (std::exchange(m_dark, false)) {
        Timer1().setMode(Window1Design::Timer1.Mode);
        fw::announceState("board");
    }
}

void Window1::Hold()
{
    if (Held())
        return;
    Timer1().setMode(fw::TimerMode::Off);
    fw::announceState("held");
}

void Window1::Resume()
{
    if (!Held())
        return;
    if (std::exchange(m_dark, false)) {
        for (fw::Integer index = 0; index < 36; ++index)
            Rectangle1(index).setVisible(m_litBeforeDark[index]);
    }
    Timer1().setMode(Window1Design::Timer1.Mode);
    fw::announceState("board");
}

void Window1::Dark()
{
    if (m_dark)
        return;
    m_dark = true;
    Timer1().setMode(fw::TimerMode::Off);
    for (fw::Integer index = 0; index < 36; ++index) {
        m_litBeforeDark[index] = Rectangle1(index).Visible();
        Rectangle1(index).setVisible(false);
    }
    fw::announceState("dark");
}

bool Window1::Held() const
{
    return Timer1().Mode() == fw::TimerMode::Off;
}

void Window1::Event_UserSignal()
{
    // Back to one, between takes.
    if (Visible())
        BackToOne();
}

bool Window1::Event_KeyDown(const std::string& key)
{
    if (fw::Asc(key) == 27)
        fw::Quit(0);
    return false;
}

fw::MenuItem& Window1::EditMenu() const { return *menuItemByName("EditMenu"); }
fw::MenuItem& Window1::EditSelectAll() const { return *menuItemByName("EditSelectAll"); }
fw::MenuItem& Window1::EditSeparator2() const { return *menuItemByName("EditSeparator2"); }
fw::MenuItem& Window1::EditClear() const { return *menuItemByName("EditClear"); }
fw::MenuItem& Window1::EditPaste() const { return *menuItemByName("EditPaste"); }
fw::MenuItem& Window1::EditCopy() const { return *menuItemByName("EditCopy"); }
fw::MenuItem& Window1::EditCut() const { return *menuItemByName("EditCut"); }
fw::MenuItem& Window1::EditSeparator1() const { return *menuItemByName("EditSeparator1"); }
fw::MenuItem& Window1::EditUndo() const { return *menuItemByName("EditUndo"); }
fw::MenuItem& Window1::FileMenu() const { return *menuItemByName("FileMenu"); }

fw::QuitMenuItem& Window1::FileQuit() const
{
    auto* item = dynamic_cast<fw::QuitMenuItem*>(menuItemByName("FileQuit"));
    if (!item)
        throw fw::TypeMismatchException("The menu item \"FileQuit\" is not a quit item.");
    return *item;
}

namespace {

// W x k / 1440, through a double as the layout has always computed it; truncates toward zero.
fw::Integer scaled(fw::Integer k)
{
    const fw::Integer width = ::Window1().Width();
    return static_cast<fw::Integer>(static_cast<double>(width * k) / static_cast<double>(Window1Design::DesignWidth));
}

}

void Window1::Event_Open()
{
    // The blink's sequence counts its ticks from here, however long the start window showed.
    fw::Random::startOver();
    layOutBlocks(true);
    fw::announceState("board");
    setMouseCursor(fw::System::Cursors::InvisibleCursor);
}

void Window1::Event_ScreenResized()
{
    // The screen under the board changed size, or the board went to another screen: the same
    // layout for the new width. Which blocks are lit stays, and so does the timer's beat.
    layOutBlocks(false);
}

void Window1::layOutBlocks(bool colours)
{
    using namespace Window1Design;
    const fw::Integer ML = scaled(LeftMargin);
    const fw::Integer PC = scaled(ColumnPitch);
    const fw::Integer BW = scaled(BlockWidth);
    const fw::Integer BH = scaled(BlockHeight);
    const fw::Integer MT = scaled(TopMargin);
    const fw::Integer PR = scaled(RowPitch);

    const fw::Color yellow = fw::RGB(255, 255, 0, 0);
    const fw::Color rowColour[6] = { myLib::red, myLib::red, yellow, yellow, myLib::green, myLib::green };
    for (fw::Integer row = 0; row < 6; ++row) {
        for (fw::Integer index = 6 * row; index < 6 * row + 6; ++index) {
            const fw::Integer column = index - 6 * row;
            Rectangle1(index).setLeft(column * PC + ML);
            Rectangle1(index).setWidth(BW);
            Rectangle1(index).setTop(row * PR + MT);
            Rectangle1(index).setHeight(BH);
            if (colours)
                Rectangle1(index).setFillColor(rowColour[row]);
        }
    }
}
