#include "Runtime.h"
#include "Startup.h"

int main(int argc, char** argv)
{
    fw::Runtime::bringUp(argc, argv);
    Main();
    return fw::Runtime::shutDown();
}
