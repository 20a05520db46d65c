#pragma once

#include "framework/Rectangle.h"

// One block of the board.
class Block : public fw::Rectangle {
public:
    using fw::Rectangle::Rectangle;

    fw::Color Colour = fw::RGB(0, 0, 0);
    bool On = false;

    void Event_Open() override;
};
