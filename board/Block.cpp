#include "Block.h"
#include "myLib.h"

void Block::Event_Open()
{
    setFillColor(myLib::red);
}
