#include "App.h"
#include "myLib.h"

void App::Event_Open()
{
    myLib::InitMyLib(ApplicationName);
}
