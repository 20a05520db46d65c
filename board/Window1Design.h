#pragma once

#include "framework/Design.h"

// Design records of the board window and its blocks. The positions are starting values only:
// opening the window lays the blocks out again for its width.
namespace Window1Design {

using fw::RGB;

inline constexpr fw::WindowDesign Window {
    .Width = 1440, .Height = 900,
    .MinWidth = 64, .MinHeight = 64,
    .MaxWidth = 32000, .MaxHeight = 32000,
    .Frame = fw::FrameType::GlobalFloating,
    .Title = "Untitled",
    .CloseButton = false,
    .Resizeable = true,
    .MaximizeButton = false, .MinimizeButton = true, .FullScreenButton = false,
    .Composite = false,
    .MacProcID = 0,
    .Placement = 0,
    .Visible = true,
    .LiveResize = false,
    .FullScreen = true,
    .HasBackColor = true,
    .BackColor = RGB(0, 0, 0, 0),
    .MenuBarVisible = false,
};

// The layout is designed for this window width.
inline constexpr fw::Integer DesignWidth = 1440;

// Layout constants at the design width: margins, pitches and block size.
inline constexpr fw::Integer LeftMargin = 59, ColumnPitch = 232, BlockWidth = 180;
inline constexpr fw::Integer BlockHeight = 60, TopMargin = 51, RowPitch = 109;

struct BlockPlace {
    fw::Integer Index, Left, Top;
};

inline constexpr BlockPlace Blocks[36] = {
    { 0, 59, 51 }, { 1, 291, 51 }, { 2, 531, 51 }, { 3, 761, 51 }, { 4, 989, 51 }, { 5, 1211, 51 },
    { 6, 59, 169 }, { 7, 291, 169 }, { 8, 531, 169 }, { 9, 761, 169 }, { 10, 989, 169 }, { 11, 1211, 169 },
    { 12, 59, 288 }, { 13, 291, 288 }, { 14, 531, 288 }, { 15, 761, 288 }, { 16, 989, 288 }, { 17, 1211, 288 },
    { 18, 59, 407 }, { 19, 291, 407 }, { 20, 531, 407 }, { 21, 761, 407 }, { 22, 989, 407 }, { 23, 1211, 407 },
    { 24, 59, 518 }, { 25, 291, 518 }, { 26, 531, 518 }, { 27, 761, 518 }, { 28, 989, 518 }, { 29, 1211, 518 },
    { 30, 59, 630 }, { 31, 291, 630 }, { 32, 531, 630 }, { 33, 761, 630 }, { 34, 989, 630 }, { 35, 1211, 630 },
};

constexpr fw::RectangleDesign block(const BlockPlace& place)
{
    return fw::RectangleDesign {
        .control = {
            .Left = place.Left, .Top = place.Top, .Width = BlockWidth, .Height = BlockHeight,
            .Index = place.Index,
            .TabIndex = place.Index,
            .TabPanelIndex = 0,
            .LockLeft = true, .LockTop = true, .LockRight = false, .LockBottom = false,
            .Visible = true,
            .Enabled = true,
            .AutoDeactivate = true,
            .HelpTag = "",
            .InitialParent = "",
        },
        .FillColor = RGB(255, 255, 255, 0),
        .BorderWidth = 1,
        .TopLeftColor = RGB(0, 0, 0, 0),
        .BottomRightColor = RGB(0, 0, 0, 0),
    };
}

inline constexpr fw::TimerDesign Timer1 { .Mode = fw::TimerMode::Multiple, .Period = 1400 };

// The block class's own properties, the same in every block's record.
inline constexpr fw::Color BlockColour = RGB(0, 0, 0, 0);
inline constexpr bool BlockOn = false;

}
