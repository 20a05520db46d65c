#pragma once

#include <QObject>
#include <thread>

class QWidget;

namespace fw {

// A full-screen window's first frame goes into a buffer of several megabytes (8 MB at
// 1920x1080, 33 MB at 3840x2160) that the kernel hands over page by page as it is first
// written: on the first paint, after the window manager has mapped the window. This sizes
// the buffer when the window is shown and has its pages faulted in on a helper thread, while
// the window manager frames and maps the window, so the first frame waits for its drawing
// only. Only the page tables change, never the buffer's contents. The helper is joined
// before anything paints into the buffer, resizes it or frees it.
class FramePrefault : public QObject {
public:
    // Starts on window's own buffer; does nothing where the buffer is not one plain image
    // before the first paint (Wayland hands out a buffer per frame) or cannot be prefaulted.
    explicit FramePrefault(QWidget& window);
    ~FramePrefault() override;

    FramePrefault(const FramePrefault&) = delete;
    FramePrefault& operator=(const FramePrefault&) = delete;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void finish();

    std::thread m_worker;
};

}
