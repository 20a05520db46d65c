#pragma once

#include "Block.h"
#include "framework/MenuBar.h"
#include "framework/Timer.h"
#include "framework/Window.h"

// The board: a full-screen black window with 36 blocks in six rows of six.
class Window1 : public fw::Window {
public:
    // An element of the control array Rectangle1.
    class Rectangle1Element : public Block {
    public:
        Rectangle1Element(fw::Window& owner, fw::Integer index)
            : Block(owner)
        {
            setIndex(index);
        }
    };

    Window1()
        : fw::Window("Window1")
    {
    }

    void Layout() override;
    void CreateControls() override;
    void CreateControls0();
    void CreateControls1();
    Block& Rectangle1(fw::Integer index) const;
    fw::Timer& Timer1() const;
    void Timer1_Action(fw::Timer& timer);
    // Back to the board's first frame: every block lit, the timer's period and the blink's
    // sequence from their beginning.
    void BackToOne();
    // The board stops changing and keeps the blocks it shows lit; back to one while held
    // lights every block and stays held. Resume goes on with the sequence where it held, a
    // whole period later.
    void Hold();
    void Resume();
    bool Held() const;
    // Every block out, held (the ship loses power); resume lights the blocks that were lit and
    // goes on a whole period later; back to one lights every block and blinks from the start.
    void Dark();
    bool IsDark() const { return m_dark; }

    fw::MenuItem& EditMenu() const;
    fw::MenuItem& EditSelectAll() const;
    fw::MenuItem& EditSeparator2() const;
    fw::MenuItem& EditClear() const;
    fw::MenuItem& EditPaste() const;
    fw::MenuItem& EditCopy() const;
    fw::MenuItem& EditCut() const;
    fw::MenuItem& EditSeparator1() const;
    fw::MenuItem& EditUndo() const;
    fw::MenuItem& FileMenu() const;
    fw::QuitMenuItem& FileQuit() const;

    void Event_Open() override;
    void Event_ScreenResized() override;
    bool Event_KeyDown(const std::string& key) override;
    void Event_UserSignal() override;

private:
    void createBlock(fw::Integer index);
    bool m_dark = false;
    bool m_litBeforeDark[36] = {};
    // Places every block for the window's width; with colours, gives each its row's colour too.
    void layOutBlocks(bool colours);
};

// The one board window, made and constructed on first use.
Window1& Window1();
