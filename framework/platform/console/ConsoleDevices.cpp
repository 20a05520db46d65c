#include "ConsoleDevices.h"
#include "platform/Platform.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <libudev.h>
#include <map>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fw::platform {

namespace {

namespace fs = std::filesystem;

std::string firstLine(const fs::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// The toolkit names a connector by its type, in words of its own, and its number.
std::string toolkitName(const std::string& kernelName)
{
    static const std::map<std::string, std::string> types = { { "Unknown", "None" }, { "VGA", "VGA" },
        { "DVI-I", "DVI" }, { "DVI-D", "DVI" }, { "DVI-A", "DVI" }, { "Composite", "Composite" },
        { "SVIDEO", "TV" }, { "LVDS", "LVDS" }, { "Component", "CTV" }, { "DIN", "DIN" }, { "DP", "DP" },
        { "HDMI-A", "HDMI" }, { "HDMI-B", "HDMI" }, { "TV", "TV" }, { "eDP", "eDP" }, { "Virtual", "Virtual" },
        { "DSI", "DSI" } };
    const std::size_t dash = kernelName.rfind('-');
    if (dash == std::string::npos)
        return kernelName;
    const auto type = types.find(kernelName.substr(0, dash));
    return (type == types.end() ? std::string("UNKNOWN") : type->second) + kernelName.substr(dash + 1);
}

// Numbers in names sort as numbers: card2 before card10.
bool naturalOrder(const std::string& a, const std::string& b)
{
    const auto split = [](const std::string& name) {
        const std::size_t digits = name.find_last_not_of("0123456789") + 1;
        return std::make_pair(name.substr(0, digits), digits < name.size() ? std::stoul(name.substr(digits)) : 0UL);
    };
    return split(a) < split(b);
}

// The group that grants a device, by name; none for a device only root's group may open (a
// node the device manager has not given its group yet): joining root's group is no advice.
std::string groupOf(const std::string& device)
{
    struct stat info {};
    if (::stat(device.c_str(), &info) != 0 || info.st_gid == 0)
        return {};
    if (const group* entry = ::getgrgid(info.st_gid))
        return entry->gr_name;
    return std::to_string(info.st_gid);
}

bool mayOpen(const std::string& device)
{
    return ::access(device.c_str(), R_OK | W_OK) == 0;
}

}

std::vector<DrmCard> drmCards()
{
    std::vector<DrmCard> cards;
    std::error_code error;
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator("/sys/class/drm", error))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end(), naturalOrder);
    for (const std::string& name : names) {
        if (name.rfind("card", 0) != 0 || name.find('-') != std::string::npos)
            continue;
        DrmCard card;
        card.device = "/dev/dri/" + name;
        for (const std::string& other : names) {
            if (other.rfind(name + "-", 0) == 0) {
                DrmOutput output;
                output.name = other.substr(name.size() + 1);
                output.toolkitName = toolkitName(output.name);
                output.connected = firstLine("/sys/class/drm/" + other + "/status") != "disconnected";
                card.outputs.push_back(output);
            }
        }
        // The render node of the same device.
        for (const fs::directory_entry& entry : fs::directory_iterator("/sys/class/drm/" + name + "/device/drm", error)) {
            const std::string node = entry.path().filename().string();
            if (node.rfind("renderD", 0) == 0)
                card.renderNode = "/dev/dri/" + node;
        }
        if (!card.outputs.empty())
            cards.push_back(card);
    }
    return cards;
}

std::string missingGroups(const std::string& display, const std::string& renderNode)
{
    std::vector<std::string> devices = { display };
    if (!renderNode.empty())
        devices.push_back(renderNode);
    // The input devices: one the user may open is enough for the others of its group; else
    // one whose group is known names the group.
    std::error_code error;
    std::string input;
    bool inputOpens = false;
    for (const fs::directory_entry& entry : fs::directory_iterator("/dev/input", error)) {
        const std::string path = entry.path().string();
        if (inputOpens || entry.path().filename().string().rfind("event", 0) != 0)
            continue;
        inputOpens = mayOpen(path);
        if (input.empty() || inputOpens || groupOf(input).empty())
            input = path;
    }
    if (!input.empty())
        devices.push_back(input);
    std::string missing;
    for (const std::string& device : devices) {
        if (!fs::exists(device, error) || mayOpen(device))
            continue;
        const std::string group = groupOf(device);
        if (!group.empty() && missing.find(group) == std::string::npos)
            missing += (missing.empty() ? "" : ",") + group;
    }
    return missing;
}

bool heldByAnother(const std::string& card)
{
    const int fd = ::open(card.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return false;
    // The first to open a card that nobody drives becomes its master; asking again says
    // whether that is so, or another program is.
    constexpr unsigned long SetMaster = _IO('d', 0x1e); // DRM_IOCTL_SET_MASTER
    // (An unprivileged user is refused with EACCES: the right to ask is the first opener's.)
    const bool held = ::ioctl(fd, SetMaster, 0) != 0 && (errno == EBUSY || errno == EACCES);
    ::close(fd);
    return held;
}

bool keyboardKnownToUdev()
{
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator("/sys/class/input", error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("event", 0) != 0)
            continue;
        const std::string number = firstLine(entry.path() / "dev"); // major:minor
        std::ifstream data("/run/udev/data/c" + number);
        for (std::string line; std::getline(data, line);) {
            if (line == "E:ID_INPUT_KEYBOARD=1")
                return true;
        }
    }
    return false;
}

}

namespace fw::platform {

DisplayWatch::DisplayWatch()
{
    // udev's own announcements, not the kernel's: they come once udev has made the device's
    // node and given it its group, so that it can be opened when told.
    m_udev = udev_new();
    if (m_udev)
        m_monitor = udev_monitor_new_from_netlink(m_udev, "udev");
    if (m_monitor && (udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "drm", nullptr) < 0
                         || udev_monitor_enable_receiving(m_monitor) < 0)) {
        udev_monitor_unref(m_monitor);
        m_monitor = nullptr;
    }
}

DisplayWatch::~DisplayWatch()
{
    if (m_monitor)
        udev_monitor_unref(m_monitor);
    if (m_udev)
        udev_unref(m_udev);
}

int DisplayWatch::descriptor() const
{
    return m_monitor ? udev_monitor_get_fd(m_monitor) : -1;
}

int DisplayWatch::lookAgainMilliseconds() const
{
    // Without udev running nothing is announced.
    std::error_code error;
    return m_monitor && fs::exists("/run/udev/control", error) ? -1 : 3000;
}

void DisplayWatch::forgetChanges()
{
    if (!m_monitor)
        return;
    while (udev_device* device = udev_monitor_receive_device(m_monitor))
        udev_device_unref(device);
}

}
