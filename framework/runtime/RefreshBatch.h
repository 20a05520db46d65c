#pragma once

namespace fw {

// Held while an event handler runs (Runtime::dispatch): the windowless controls that the
// handler shows or hides are drawn again when it is done, each once, and not at all when it
// ends as it began (a block flipped twice in one tick). Outside every handler a change is
// drawn at once.
class RefreshBatch {
public:
    RefreshBatch();
    ~RefreshBatch();
    RefreshBatch(const RefreshBatch&) = delete;
    RefreshBatch& operator=(const RefreshBatch&) = delete;

    // Whether a handler runs now: a change it makes waits for the batch to end.
    static bool open();
    // What draws the changes that wait, when a batch ends or a loop starts inside one.
    static void drawWaitingWith(void (*draw)());

    // Around an event loop, which may run inside a handler (start-up runs the main loop in
    // one; a message box runs its own): the handlers it dispatches batch their own changes,
    // and anything else it runs draws its changes at once.
    class NestedLoopGuard {
    public:
        NestedLoopGuard();
        ~NestedLoopGuard();
        NestedLoopGuard(const NestedLoopGuard&) = delete;
        NestedLoopGuard& operator=(const NestedLoopGuard&) = delete;

    private:
        int m_handlersOutside;
    };
};

}
