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
