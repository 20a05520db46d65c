#include "platform/Platform.h"

#include <QBackingStore>
#include <QEvent>
#include <QGuiApplication>
#include <QImage>
#include <QWidget>
#include <QWindow>
#include <thread>

#include <cstdint>
#include <system_error>
#include <sys/mman.h>
#include <unistd.h>

namespace fw::platform {

namespace {

// Where the window's buffer is a single image from the moment it is sized.
bool bufferIsOneImage()
{
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("xcb") || platform == QLatin1String("offscreen");
}

// The helper thread and its join, at the first event that paints into the buffer, resizes it
// or frees it.
class FramePrefault : public QObject {
public:
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

FramePrefault::FramePrefault(QWidget& window)
{
#ifdef MADV_POPULATE_WRITE
    QBackingStore* store = window.backingStore();
    QWindow* handle = window.windowHandle();
    if (!store || !handle || !bufferIsOneImage())
        return;
    // The size the toolkit gives the buffer at the first paint, so the buffer made now is the
    // one painted into.
    store->resize(window.size());
    const auto* image = dynamic_cast<const QImage*>(store->paintDevice());
    if (!image || image->isNull())
        return;
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto start = reinterpret_cast<std::uintptr_t>(image->constBits());
    const auto first = start & ~(page - 1);
    const auto length = start + static_cast<std::uintptr_t>(image->sizeInBytes()) - first;
    // Kernels before 5.14 refuse the advice, and a thread may not be had; either way the
    // first paint faults the pages in itself, as without this.
    try {
        m_worker = std::thread([first, length] {
            madvise(reinterpret_cast<void*>(first), length, MADV_POPULATE_WRITE);
        });
    } catch (const std::system_error&) {
        return;
    }
    handle->installEventFilter(this);
    window.installEventFilter(this);
#else
    (void)window;
#endif
}

FramePrefault::~FramePrefault()
{
    finish();
}

void FramePrefault::finish()
{
    if (m_worker.joinable())
        m_worker.join();
}

bool FramePrefault::eventFilter(QObject*, QEvent* event)
{
    // The expose and the update request lead to the first paint; a hide may free the buffer.
    switch (event->type()) {
    case QEvent::Expose:
    case QEvent::UpdateRequest:
    case QEvent::Hide:
        finish();
        break;
    default:
        break;
    }
    return false;
}

}

std::unique_ptr<QObject> prefaultFirstFrame(QWidget& window)
{
    return std::make_unique<FramePrefault>(window);
}

}
