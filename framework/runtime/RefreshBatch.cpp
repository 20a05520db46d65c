#include "RefreshBatch.h"

namespace fw {

namespace {

// How deep the handlers running now nest, and what draws the changes they made.
int s_handlersRunning = 0;
void (*s_drawWaiting)() = nullptr;

void drawWaiting()
{
    if (s_drawWaiting)
        s_drawWaiting();
}

}

RefreshBatch::RefreshBatch()
{
    ++s_handlersRunning;
}

RefreshBatch::~RefreshBatch()
{
    --s_handlersRunning;
    drawWaiting();
}

bool RefreshBatch::open()
{
    return s_handlersRunning > 0;
}

void RefreshBatch::drawWaitingWith(void (*draw)())
{
    s_drawWaiting = draw;
}

RefreshBatch::NestedLoopGuard::NestedLoopGuard()
    : m_handlersOutside(s_handlersRunning)
{
    // What the handler changed before it runs a loop is on the screen while the loop runs.
    drawWaiting();
    s_handlersRunning = 0;
}

RefreshBatch::NestedLoopGuard::~NestedLoopGuard()
{
    s_handlersRunning = m_handlersOutside;
}

}
