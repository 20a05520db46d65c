// The television told over HDMI-CEC, through the kernel's CEC adapters (/dev/cec*, as a
// Raspberry Pi's HDMI ports have under KMS): no daemon, only the kernel's interface. A board is a
// playback device: on an adapter that has no logical address yet, it claims one of that kind.
#include "DisplayPower.h"

#include <linux/cec-funcs.h>
#include <linux/cec.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fw::platform {

namespace {

constexpr const char OsdName[] = "Control board";

std::vector<std::filesystem::path> adapters()
{
    std::vector<std::filesystem::path> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/dev", error)) {
        if (entry.path().filename().string().rfind("cec", 0) == 0)
            found.push_back(entry.path());
    }
    return found;
}

// The logical address to send from on the adapter, claimed by the program or by whoever set the
// adapter up before; -1 where it cannot send, or is the television's own.
int sender(int adapter)
{
    cec_log_addrs addresses {};
    if (::ioctl(adapter, CEC_ADAP_G_LOG_ADDRS, &addresses) != 0 || (addresses.log_addr_mask & CEC_LOG_ADDR_MASK_TV))
        return -1;
    if (addresses.log_addr_mask)
        return addresses.log_addr[0];
    cec_caps caps {};
    if (::ioctl(adapter, CEC_ADAP_G_CAPS, &caps) != 0 || !(caps.capabilities & CEC_CAP_LOG_ADDRS))
        return -1;
    addresses = {};
    addresses.cec_version = CEC_OP_CEC_VERSION_1_4;
    addresses.vendor_id = CEC_VENDOR_ID_NONE;
    std::strncpy(addresses.osd_name, OsdName, sizeof addresses.osd_name - 1);
    addresses.num_log_addrs = 1;
    addresses.log_addr_type[0] = CEC_LOG_ADDR_TYPE_PLAYBACK;
    addresses.primary_device_type[0] = CEC_OP_PRIM_DEVTYPE_PLAYBACK;
    addresses.all_device_types[0] = CEC_OP_ALL_DEVTYPE_PLAYBACK;
    // Waits while the address is claimed on the bus (a few polls).
    if (::ioctl(adapter, CEC_ADAP_S_LOG_ADDRS, &addresses) != 0 || !addresses.log_addr_mask)
        return -1;
    return addresses.log_addr[0];
}

void send(int adapter, cec_msg message)
{
    // Waits for the television's acknowledgement, or the bus's word that none came.
    ::ioctl(adapter, CEC_TRANSMIT, &message);
}

void tellOn(const std::filesystem::path& device, bool on)
{
    const int adapter = ::open(device.c_str(), O_RDWR | O_CLOEXEC);
    if (adapter < 0)
        return;
    if (const int from = sender(adapter); from >= 0) {
        cec_msg message;
        cec_msg_init(&message, static_cast<__u8>(from), CEC_LOG_ADDR_TV);
        if (!on) {
            cec_msg_standby(&message);
            send(adapter, message);
        } else {
            cec_msg_image_view_on(&message);
            send(adapter, message);
            __u16 address = CEC_PHYS_ADDR_INVALID;
            if (::ioctl(adapter, CEC_ADAP_G_PHYS_ADDR, &address) == 0 && address != CEC_PHYS_ADDR_INVALID) {
                cec_msg_init(&message, static_cast<__u8>(from), CEC_LOG_ADDR_BROADCAST);
                cec_msg_active_source(&message, address);
                send(adapter, message);
            }
        }
    }
    ::close(adapter);
}

// The requests, sent in order on a thread of their own: a bus without a television can take a
// second or more for each. Never destroyed: the thread may still be sending at exit.
class Sender {
public:
    static Sender& only()
    {
        static auto* sender = new Sender;
        return *sender;
    }
    void push(bool on)
    {
        std::lock_guard lock(m_mutex);
        m_waiting.push_back(on);
        m_changed.notify_all();
    }
    void waitIdle(int milliseconds)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return m_waiting.empty() && !m_busy; });
    }

private:
    Sender() { std::thread([this] { run(); }).detach(); }
    void run()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [this] { return !m_waiting.empty(); });
            const bool on = m_waiting.front();
            m_waiting.pop_front();
            m_busy = true;
            lock.unlock();
            for (const auto& adapter : adapters())
                tellOn(adapter, on);
            lock.lock();
            m_busy = false;
            m_changed.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<bool> m_waiting;
    bool m_busy = false;
};

}

bool tellTelevisions(bool on)
{
    if (adapters().empty())
        return false;
    Sender::only().push(on);
    return true;
}

void waitForTelevisions(int milliseconds)
{
    if (!adapters().empty())
        Sender::only().waitIdle(milliseconds);
}

}
