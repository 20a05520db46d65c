#pragma once

#include "Types.h"

#include <limits>

// Design records: the property values a window or control has when it is created. The
// layer applies them field by field through the same setters the program uses later.
namespace fw {

// Frame types of a window.
enum class FrameType : int {
    Document = 0,
    MovableModal = 1,
    ModalDialog = 2,
    Floating = 3,
    PlainBox = 4,
    ShadowedBox = 5,
    Rounded = 6,
    GlobalFloating = 7,
};

struct WindowDesign {
    Integer Width = 300, Height = 300;
    Integer MinWidth = 64, MinHeight = 64;
    Integer MaxWidth = 32000, MaxHeight = 32000;
    FrameType Frame = FrameType::Document;
    const char* Title = "Untitled";
    bool CloseButton = true;
    bool Resizeable = true;
    bool MaximizeButton = true, MinimizeButton = true, FullScreenButton = false;
    bool Composite = false;
    Integer MacProcID = 0;
    Integer Placement = 0;
    bool Visible = true;
    bool LiveResize = true;
    bool FullScreen = false;
    bool HasBackColor = false;
    Color BackColor = RGB(255, 255, 255);
    bool MenuBarVisible = true;
};

// The index a control holds when it is not an element of a control array.
constexpr Integer NoIndex = std::numeric_limits<std::int32_t>::min();

// What every visible control's record holds.
struct ControlDesign {
    Integer Left = 0, Top = 0, Width = 0, Height = 0;
    Integer Index = NoIndex;
    Integer TabIndex = 0;
    Integer TabPanelIndex = 0;
    bool TabStop = true;
    bool LockLeft = true, LockTop = true, LockRight = false, LockBottom = false;
    bool Visible = true;
    bool Enabled = true;
    bool AutoDeactivate = true;
    const char* HelpTag = "";
    const char* InitialParent = "";
};

struct RectangleDesign {
    ControlDesign control;
    Color FillColor = RGB(255, 255, 255);
    Integer BorderWidth = 1;
    Color TopLeftColor = RGB(0, 0, 0);
    Color BottomRightColor = RGB(0, 0, 0);
};

struct CanvasDesign {
    ControlDesign control;
    bool UseFocusRing = true;
    bool AcceptFocus = false;
    bool AcceptTabs = false;
    bool DoubleBuffer = false;
    bool EraseBackground = true;
    bool Transparent = true;
};

enum class Alignment : int { Default = 0, Center = 1, Right = 2 };

struct TextStyle {
    const char* TextFont = "System";
    double TextSize = 0;
    Integer TextUnit = 0;
    bool Bold = false, Italic = false, Underline = false;
};

struct LabelDesign {
    ControlDesign control;
    const char* Text = "";
    Alignment TextAlign = Alignment::Default;
    Color TextColor = RGB(0, 0, 0);
    TextStyle style;
    bool Multiline = false;
    bool Selectable = false;
    bool Transparent = true;
    const char* DataSource = "";
    const char* DataField = "";
};

struct PushButtonDesign {
    ControlDesign control;
    const char* Caption = "";
    bool Default = false;
    bool Cancel = false;
    Integer ButtonStyle = 0;
    TextStyle style;
};

enum class TimerMode : int { Off = 0, Single = 1, Multiple = 2 };

struct TimerDesign {
    TimerMode Mode = TimerMode::Multiple;
    Integer Period = 1000;
};

}
