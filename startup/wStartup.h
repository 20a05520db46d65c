#pragma once

#include "framework/Canvas.h"
#include "framework/Label.h"
#include "framework/PushButton.h"
#include "framework/Window.h"

// The start window: the start picture with its caption, a hint, and GO / Quit.
class wStartup : public fw::Window {
public:
    wStartup()
        : fw::Window("wStartup")
    {
    }

    void Layout() override;
    void CreateControls() override;
    void CreateControls0();

    fw::Canvas& Canvas1() const;
    fw::Label& Label1() const;
    fw::PushButton& PushButton1() const;
    fw::PushButton& PushButton2() const;
    fw::Label& Label2() const;

    void Canvas1_Paint(fw::Canvas& canvas, fw::Graphics& g, const std::vector<fw::PaintArea>& areas);
    void PushButton1_Action(fw::PushButton& button);
    void PushButton2_Action(fw::PushButton& button);
    void Event_Open() override;
};

// The open start window, or a new one when none is open.
wStartup& wStartup();
