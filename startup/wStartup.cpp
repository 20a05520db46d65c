#include "wStartup.h"
#include "VQ1.h"
#include "Window1.h"
#include "wStartupDesign.h"
#include "framework/Cues.h"
#include "framework/Runtime.h"

class wStartup& wStartup()
{
    return fw::Window::implicitInstance<class wStartup>();
}

void wStartup::Layout()
{
    applyDesign(wStartupDesign::Window);
}

void wStartup::CreateControls()
{
    CreateControls0();
}

void wStartup::CreateControls0()
{
    // Each step looks the control up anew in the registry instead of keeping a reference:
    // controls go with their window, and a window closed and asked for again is a new one.
    AddControl(std::make_unique<fw::Canvas>(*this), "Canvas1");
    control<fw::Canvas>("Canvas1").applyDesign(wStartupDesign::Canvas1);
    control<fw::Canvas>("Canvas1").setPaintHandler(
        [this](fw::Canvas& canvas, fw::Graphics& g, const std::vector<fw::PaintArea>& areas) { Canvas1_Paint(canvas, g, areas); });

    AddControl(std::make_unique<fw::Label>(*this), "Label1");
    control<fw::Label>("Label1").applyDesign(wStartupDesign::Label1);

    AddControl(std::make_unique<fw::PushButton>(*this), "PushButton1");
    control<fw::PushButton>("PushButton1").applyDesign(wStartupDesign::PushButton1);
    control<fw::PushButton>("PushButton1").setActionHandler([this](fw::PushButton& b) { PushButton1_Action(b); });

    AddControl(std::make_unique<fw::PushButton>(*this), "PushButton2");
    control<fw::PushButton>("PushButton2").applyDesign(wStartupDesign::PushButton2);
    control<fw::PushButton>("PushButton2").setActionHandler([this](fw::PushButton& b) { PushButton2_Action(b); });

    AddControl(std::make_unique<fw::Label>(*this), "Label2");
    control<fw::Label>("Label2").applyDesign(wStartupDesign::Label2);
}

fw::Canvas& wStartup::Canvas1() const { return control<fw::Canvas>("Canvas1"); }
fw::Label& wStartup::Label1() const { return control<fw::Label>("Label1"); }
fw::PushButton& wStartup::PushButton1() const { return control<fw::PushButton>("PushButton1"); }
fw::PushButton& wStartup::PushButton2() const { return control<fw::PushButton>("PushButton2"); }
fw::Label& wStartup::Label2() const { return control<fw::Label>("Label2"); }

void wStartup::Canvas1_Paint(fw::Canvas& canvas, fw::Graphics& g, const std::vector<fw::PaintArea>&)
{
    const fw::PictureRef picture = VQ1();
    // Without its picture the canvas stays blank; the window works on.
    if (!picture)
        return;
    const fw::Integer width = canvas.Width();
    const fw::Integer height = canvas.Height();
    const fw::Integer pictureWidth = VQ1()->Width();
    const fw::Integer pictureHeight = VQ1()->Height();
    g.DrawPicture(picture, 0, 0, width, height, 0, 0, pictureWidth, pictureHeight);
}

void wStartup::PushButton1_Action(fw::PushButton&)
{
    class Window1& board = ::Window1();
    board.Show();
    Close();
}

void wStartup::PushButton2_Action(fw::PushButton&)
{
    fw::Quit(0);
}

void wStartup::Event_Open()
{
    Label1().setTextSize(wStartupDesign::CaptionTextSize);
    Label1().setBold(true);
    fw::announceState("start");
}
