// The Linux console with no display server: the program draws through the kernel's mode
// setting (KMS) and reads the keys through libinput. The toolkit has two platforms for it:
// eglfs, which composes its windows with OpenGL on a GBM surface and flips whole frames, and
// linuxfb, which draws into DRM dumb buffers (or, without KMS, into the frame buffer device).
// eglfs is taken where its plug-in is installed and OpenGL renders on the card itself; else
// linuxfb.
#include "platform/Platform.h"
#include "ConsoleDevices.h"
#include "Terminal.h"

#include <QDir>
#include <QGuiApplication>
#include <QWidget>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTemporaryFile>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <exception>
#include <fcntl.h>
#include <linux/kd.h>
#include <memory>
#include <sys/ioctl.h>
#include <unistd.h>


namespace fw::platform {

namespace {

bool pluginInstalled(const QString& relative)
{
    return QFileInfo::exists(QLibraryInfo::path(QLibraryInfo::PluginsPath) + QLatin1Char('/') + relative);
}

// Whether EGL starts on the card through GBM, as eglfs will ask it to, with a driver that
// renders on the card's own engine: Mesa's libraries installed with a driver for it. Where
// Mesa would render in software (a card without a 3D engine, such as most virtual machines'),
// composing windows in OpenGL costs more than copying them. The libraries stay loaded.
bool eglRendersOnCard(const std::string& card)
{
    using GbmCreate = void* (*)(int);
    using GbmDestroy = void (*)(void*);
    using GetProc = void* (*)(const char*);
    using GetDisplay = void* (*)(unsigned, void*, const int*);
    using Initialize = unsigned (*)(void*, int*, int*);
    using Terminate = unsigned (*)(void*);
    using DriverName = const char* (*)(void*);
    void* gbm = dlopen("libgbm.so.1", RTLD_NOW | RTLD_GLOBAL);
    void* egl = dlopen("libEGL.so.1", RTLD_NOW | RTLD_GLOBAL);
    if (!gbm || !egl)
        return false;
    const auto create = reinterpret_cast<GbmCreate>(dlsym(gbm, "gbm_create_device"));
    const auto destroy = reinterpret_cast<GbmDestroy>(dlsym(gbm, "gbm_device_destroy"));
    const auto getProc = reinterpret_cast<GetProc>(dlsym(egl, "eglGetProcAddress"));
    const auto initialize = reinterpret_cast<Initialize>(dlsym(egl, "eglInitialize"));
    const auto terminate = reinterpret_cast<Terminate>(dlsym(egl, "eglTerminate"));
    if (!create || !destroy || !getProc || !initialize || !terminate)
        return false;
    const auto getDisplay = reinterpret_cast<GetDisplay>(getProc("eglGetPlatformDisplayEXT"));
    const int fd = ::open(card.c_str(), O_RDWR | O_CLOEXEC);
    if (!getDisplay || fd < 0) {
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    bool started = false;
    if (void* device = create(fd)) {
        constexpr unsigned PlatformGbm = 0x31D7; // EGL_PLATFORM_GBM_KHR
        if (void* display = getDisplay(PlatformGbm, device, nullptr)) {
            int major = 0;
            int minor = 0;
            if (initialize(display, &major, &minor) != 0) {
                // EGL_MESA_query_driver names the driver; a software one is swrast or kms_swrast.
                const auto driverName = reinterpret_cast<DriverName>(getProc("eglGetDisplayDriverName"));
                const char* driver = driverName ? driverName(display) : nullptr;
                started = driver && !std::strstr(driver, "swrast");
                terminate(display);
            }
        }
        destroy(device);
    }
    ::close(fd);
    return started;
}

// A question asked of libraries that tell their answers on standard error too (Mesa's loader
// naming the drivers it did not find): the answer is the program's to give. Before the
// toolkit starts, nothing else writes there.
template <class Question>
bool withStandardErrorSilenced(Question question)
{
    std::fflush(stderr);
    const int saved = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    const int nothing = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved >= 0 && nothing >= 0)
        ::dup2(nothing, STDERR_FILENO);
    const bool answer = question();
    if (saved >= 0 && nothing >= 0)
        ::dup2(saved, STDERR_FILENO);
    for (const int fd : { saved, nothing }) {
        if (fd >= 0)
            ::close(fd);
    }
    return answer;
}

// Only the chosen output shows, on the chosen card; the card's other outputs are switched off.
std::unique_ptr<QTemporaryFile> writeScreenConfig(const DrmCard& card, const std::string& output)
{
    auto config = std::make_unique<QTemporaryFile>(
        QDir::tempPath() + "/" + QString::fromLocal8Bit(programName()) + QStringLiteral("-kms-XXXXXX.json"));
    if (!config->open())
        return nullptr;
    QByteArray json = "{\"device\": \"" + QByteArray::fromStdString(card.device) + "\", \"hwcursor\": false, \"outputs\": [";
    bool first = true;
    for (const DrmOutput& other : card.outputs) {
        const QByteArray mode = other.name == output ? "preferred" : "off";
        json += QByteArray(first ? "" : ", ") + "{\"name\": \"" + QByteArray::fromStdString(other.toolkitName)
            + "\", \"mode\": \"" + mode + "\"}";
        first = false;
    }
    json += "]}\n";
    if (config->write(json) != json.size() || !config->flush())
        return nullptr;
    qputenv("QT_QPA_EGLFS_KMS_CONFIG", config->fileName().toLocal8Bit());
    return config;
}

}

fw::ConsoleUse prepareConsole(const std::string& screen, std::unique_ptr<ConsoleRun>& run)
{
    fw::ConsoleUse use;
    const bool platformSet = !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    const std::vector<DrmCard> cards = drmCards();
    const DrmCard* card = nullptr;
    std::string output;
    bool screenKnown = false; // the screen named is a connector of a card, connected or not
    for (const DrmCard& candidate : cards) {
        for (const DrmOutput& connector : candidate.outputs) {
            screenKnown = screenKnown || connector.name == screen;
            if (!connector.connected || (!screen.empty() && connector.name != screen))
                continue;
            if (!card) {
                card = &candidate;
                output = connector.name;
            }
        }
    }
    if (!screen.empty() && !card && !cards.empty() && !screenKnown) {
        use.result = fw::ConsoleUse::UnknownScreen;
        for (const DrmCard& candidate : cards) {
            for (const DrmOutput& connector : candidate.outputs) {
                if (connector.connected)
                    use.screens.push_back(connector.name);
            }
        }
        return use;
    }
    // A card's driver still loading, or a screen not plugged in yet (a TV switched on after
    // the computer): it comes. Without any card, the frame buffer device is a screen, and a
    // platform the user named is left to find its own.
    const bool frameBufferOnly = cards.empty() && QFileInfo::exists(QStringLiteral("/dev/fb0"));
    if (!card && (!screen.empty() || (!platformSet && !frameBufferOnly))) {
        use.result = fw::ConsoleUse::NoScreenYet;
        use.message = screen.empty() ? std::string("waiting for a screen: no display has one connected yet")
                                     : "waiting for a screen on " + screen;
        return use;
    }
    if (const std::string groups = missingGroups(card ? card->device : std::string("/dev/fb0"),
            card ? card->renderNode : std::string());
        !groups.empty()) {
        use.result = fw::ConsoleUse::CannotStart;
        use.message = "no permission to use the console's screen and keyboard: the user is not in the group"
            + std::string(groups.find(',') == std::string::npos ? " " : "s ") + groups
            + " (as root: usermod -aG " + groups + " USER, then log in again)";
        return use;
    }
    if (card && heldByAnother(card->device)) {
        use.result = fw::ConsoleUse::CannotStart;
        use.message = "the screen is held by another program (a desktop or another board runs on "
            + card->device + ")";
        return use;
    }
    const bool configSet = !qEnvironmentVariableIsEmpty("QT_QPA_EGLFS_KMS_CONFIG")
        || !qEnvironmentVariableIsEmpty("QT_QPA_KMS_CONFIG");
    auto ready = std::make_unique<ConsoleRun>();
    if (card && !configSet)
        ready->m_screenConfig = writeScreenConfig(*card, output);
    if (!platformSet) {
        if (card) {
            // Without a render node the card has no engine of its own to render on.
            if (!card->renderNode.empty() && pluginInstalled(QStringLiteral("platforms/libqeglfs.so"))
                && pluginInstalled(QStringLiteral("egldeviceintegrations/libqeglfs-kms-integration.so"))
                && withStandardErrorSilenced([card] { return eglRendersOnCard(card->device); })) {
                qputenv("QT_QPA_PLATFORM", "eglfs");
                qputenv("QT_QPA_EGLFS_INTEGRATION", "eglfs_kms");
            } else {
                qputenv("QT_QPA_PLATFORM", "linuxfb");
                qputenv("QT_QPA_FB_DRM", "1");
            }
        } else {
            qputenv("QT_QPA_PLATFORM", "linuxfb");
        }
        // The pointer never shows on a board.
        qputenv("QT_QPA_FB_HIDECURSOR", "1");
        qputenv("QT_QPA_EGLFS_HIDECURSOR", "1");
    }
    // The toolkit's console support would end the process itself on SIGTERM and SIGINT, with
    // a status of its own and the terminal still taken: the program's handlers stay.
    if (!qEnvironmentVariableIsSet("QT_QPA_NO_SIGNAL_HANDLER"))
        qputenv("QT_QPA_NO_SIGNAL_HANDLER", "1");
    if (!keyboardKnownToUdev())
        use.message = "udev names no keyboard (is udev running?): keys may not reach the program; "
                        "end it with a signal (SIGTERM)";
    takeTerminal();
    giveBackOnCrash();
    run = std::move(ready);
    return use;
}

ConsoleRun::ConsoleRun() = default;

ConsoleRun::~ConsoleRun()
{
    giveConsoleBack();
}

void ConsoleRun::toolkitStarted()
{
    m_screenConfig.reset(); // read by now
    if (QGuiApplication::platformName() != QLatin1String("eglfs"))
        return;
    // eglfs draws every window into the surface of the first one it shows, and takes that
    // surface down with it: a board opened while the start window still shows, which then
    // closes, would never be seen. A black window under all others holds the surface for the
    // whole run.
    m_backdrop = std::make_unique<QWidget>(nullptr, Qt::FramelessWindowHint);
    QPalette black = m_backdrop->palette();
    black.setColor(QPalette::Window, Qt::black);
    m_backdrop->setPalette(black);
    m_backdrop->setAutoFillBackground(true);
    m_backdrop->setAttribute(Qt::WA_ShowWithoutActivating);
    m_backdrop->showFullScreen();
}

void ConsoleRun::toolkitEnds()
{
    m_backdrop.reset();
}

}
