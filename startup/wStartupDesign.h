#pragma once

#include "framework/Design.h"

namespace wStartupDesign {

using fw::RGB;

inline constexpr fw::WindowDesign Window {
    .Width = 470, .Height = 332,
    .MinWidth = 64, .MinHeight = 64,
    .MaxWidth = 32000, .MaxHeight = 32000,
    .Frame = fw::FrameType::ModalDialog,
    .Title = "Untitled",
    .CloseButton = false,
    .Resizeable = false,
    .MaximizeButton = false, .MinimizeButton = false, .FullScreenButton = false,
    .Composite = false,
    .MacProcID = 0,
    .Placement = 0,
    .Visible = true,
    .LiveResize = true,
    .FullScreen = false,
    .HasBackColor = false,
    .BackColor = RGB(0xFF, 0xFF, 0xFF, 0),
    .MenuBarVisible = true,
};

constexpr fw::ControlDesign control(fw::Integer left, fw::Integer top, fw::Integer width, fw::Integer height,
    fw::Integer tabIndex, const char* initialParent = "")
{
    return fw::ControlDesign {
        .Left = left, .Top = top, .Width = width, .Height = height,
        .Index = fw::NoIndex,
        .TabIndex = tabIndex,
        .TabPanelIndex = 0,
        .TabStop = true,
        .LockLeft = true, .LockTop = true, .LockRight = false, .LockBottom = false,
        .Visible = true,
        .Enabled = true,
        .AutoDeactivate = true,
        .HelpTag = "",
        .InitialParent = initialParent,
    };
}

inline constexpr fw::CanvasDesign Canvas1 {
    .control = control(11, 12, 446, 275, 0),
    .UseFocusRing = true,
    .AcceptFocus = false,
    .AcceptTabs = false,
    .DoubleBuffer = false,
    .EraseBackground = true,
    .Transparent = true,
};

inline constexpr fw::LabelDesign Label1 {
    .control = control(11, 227, 446, 50, 0, "Canvas1"),
    .Text = "Zozorod Udidovad",
    .TextAlign = fw::Alignment::Center,
    .TextColor = RGB(0x66, 0xFF, 0x66, 0),
    .style = { .TextFont = "System", .TextSize = 0, .TextUnit = 0, .Bold = false, .Italic = false, .Underline = false },
    .Multiline = false,
    .Selectable = false,
    .Transparent = true,
    .DataSource = "",
    .DataField = "",
};

inline constexpr fw::PushButtonDesign PushButton1 {
    .control = control(370, 299, 80, 20, 1),
    .Caption = "GO",
    .Default = true,
    .Cancel = false,
    .ButtonStyle = 0,
    .style = { .TextFont = "System", .TextSize = 0, .TextUnit = 0, .Bold = false, .Italic = false, .Underline = false },
};

inline constexpr fw::PushButtonDesign PushButton2 {
    .control = control(278, 299, 80, 20, 2),
    .Caption = "Quit",
    .Default = false,
    .Cancel = true,
    .ButtonStyle = 0,
    .style = { .TextFont = "System", .TextSize = 0, .TextUnit = 0, .Bold = false, .Italic = false, .Underline = false },
};

inline constexpr fw::LabelDesign Label2 {
    .control = control(20, 299, 246, 20, 3),
    .Text = "When running, press <esc> to quit",
    .TextAlign = fw::Alignment::Default,
    .TextColor = RGB(0, 0, 0, 0),
    .style = { .TextFont = "System", .TextSize = 0, .TextUnit = 0, .Bold = false, .Italic = false, .Underline = false },
    .Multiline = false,
    .Selectable = false,
    .Transparent = true,
    .DataSource = "",
    .DataField = "",
};

// What the window's Open step makes of the caption.
inline constexpr double CaptionTextSize = 30;

}
