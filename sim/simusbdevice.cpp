#include "simusbdevice.h"

#include <umockdev.h>

#include <sys/ioctl.h>   // before linux/usbdevice_fs.h, or the USBDEVFS_* values do not compile
#include <linux/usbdevice_fs.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>

namespace {
constexpr uint8_t kEpIn = 0x81;
constexpr uint8_t kEpOut = 0x02;
constexpr uint8_t kHostReport = 0x02;
constexpr uint8_t kDeviceReport = 0x01;
const char kHidDriver[] = "usbhid";
const char kUsbfsDriver[] = "usbfs";
}

int64_t SimUsbDevice::NowUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

struct SimUsbDevice::Core {
    struct Urb {
        UMockdevIoctlClient* client;
        UMockdevIoctlData* urb;      // our reference; its resolved buffer hangs below it
        UMockdevIoctlData* buffer;   // may be null for a zero-length transfer
        gulong address;              // the URB's address in the client
        uint8_t endpoint;
        size_t transfer;             // index into transfers
        bool done;
    };

    std::mutex lock;
    SensorModel* model = nullptr;
    SimUsbOptions options;
    UMockdevIoctlBase* handler = nullptr;
    bool closed = false;
    bool unplugged = false;
    bool holdOut = false;
    bool driverBound = false;
    UMockdevIoctlClient* claimedBy = nullptr;
    int configuration = 1;
    int detaches = 0;
    int clientsSeen = 0;
    std::set<UMockdevIoctlClient*> clients;
    std::deque<Urb> urbs;
    std::vector<SimUsbTransfer> transfers;

    static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data);
    static void OnConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data);
    static void OnClientGone(gpointer data, GObject* gone);

    void Handle(UMockdevIoctlClient* client);
    void Submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    void Reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    void Discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    void ServeIn();
    void Finish(Urb& u, int status, SimUsbTransfer::Outcome outcome);
    void DropUrb(Urb& u);
    std::string BoundDriver() const
    {
        return driverBound ? kHidDriver : (claimedBy ? kUsbfsDriver : "");
    }
};

namespace {

template <typename T>
T* Resolve(UMockdevIoctlData* arg, UMockdevIoctlData** out)
{
    GError* err = nullptr;
    UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, sizeof(T), &err);
    if (err)
        g_error_free(err);
    // A client that died mid-call leaves nothing to resolve.
    if (!d || d->data_len < int(sizeof(T)))
        return nullptr;
    if (out)
        *out = d;
    return reinterpret_cast<T*>(d->data);
}

} // namespace

gboolean SimUsbDevice::Core::OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data)
{
    static_cast<Core*>(data)->Handle(client);
    return TRUE;
}

void SimUsbDevice::Core::OnConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data)
{
    Core* core = static_cast<Core*>(data);
    std::lock_guard<std::mutex> g(core->lock);
    if (core->closed)
        return;
    ++core->clientsSeen;
    // umockdev never reports a closed client; its object going away is the only sign.
    if (core->clients.insert(client).second)
        g_object_weak_ref(G_OBJECT(client), &Core::OnClientGone, core);
}

void SimUsbDevice::Core::OnClientGone(gpointer data, GObject* gone)
{
    Core* core = static_cast<Core*>(data);
    std::lock_guard<std::mutex> g(core->lock);
    auto* client = reinterpret_cast<UMockdevIoctlClient*>(gone);
    core->clients.erase(client);
    if (core->claimedBy == client)
        core->claimedBy = nullptr;
    for (auto it = core->urbs.begin(); it != core->urbs.end();) {
        if (it->client == client) {
            if (!it->done)
                core->Finish(*it, -ESHUTDOWN, SimUsbTransfer::Outcome::Abandoned);
            core->DropUrb(*it);
            it = core->urbs.erase(it);
        } else {
            ++it;
        }
    }
}

void SimUsbDevice::Core::Finish(Urb& u, int status, SimUsbTransfer::Outcome outcome)
{
    u.done = true;
    if (auto* urb = reinterpret_cast<usbdevfs_urb*>(u.urb->data))
        urb->status = status;
    SimUsbTransfer& t = transfers[u.transfer];
    t.outcome = outcome;
    t.endUs = NowUs();
}

void SimUsbDevice::Core::DropUrb(Urb& u)
{
    g_object_unref(u.urb);
    u.urb = nullptr;
    u.buffer = nullptr;
}

void SimUsbDevice::Core::Handle(UMockdevIoctlClient* client)
{
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    const gulong request = umockdev_ioctl_client_get_request(client);
    std::lock_guard<std::mutex> g(lock);
    if (closed || unplugged) {
        if (request == USBDEVFS_REAPURBNDELAY && !closed)
            Reap(client, arg);   // hands out the transfers that failed with the unplug
        else
            umockdev_ioctl_client_complete(client, -1, ENODEV);
        return;
    }
    switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
        auto* caps = Resolve<uint32_t>(arg, nullptr);
        if (!caps)
            break;
        *caps = USBDEVFS_CAP_NO_PACKET_SIZE_LIM;
        umockdev_ioctl_client_complete(client, 0, 0);
        return;
    }
    case USBDEVFS_SETCONFIGURATION: {
        auto* value = Resolve<int>(arg, nullptr);
        if (!value)
            break;
        // The kernel refuses to change the configuration under a claimed interface.
        if (driverBound || claimedBy)
            umockdev_ioctl_client_complete(client, -1, EBUSY);
        else if (*value != 1 && *value != 0 && *value != -1)
            umockdev_ioctl_client_complete(client, -1, EINVAL);
        else {
            configuration = *value == 1 ? 1 : 0;
            umockdev_ioctl_client_complete(client, 0, 0);
        }
        return;
    }
    case USBDEVFS_CLAIMINTERFACE: {
        auto* iface = Resolve<unsigned int>(arg, nullptr);
        if (!iface)
            break;
        if (*iface != 0)
            umockdev_ioctl_client_complete(client, -1, ENOENT);
        else if (driverBound || (claimedBy && claimedBy != client))
            umockdev_ioctl_client_complete(client, -1, EBUSY);
        else {
            claimedBy = client;
            umockdev_ioctl_client_complete(client, 0, 0);
        }
        return;
    }
    case USBDEVFS_RELEASEINTERFACE: {
        auto* iface = Resolve<unsigned int>(arg, nullptr);
        if (!iface)
            break;
        if (*iface != 0 || claimedBy != client)
            umockdev_ioctl_client_complete(client, -1, EINVAL);
        else {
            claimedBy = nullptr;
            umockdev_ioctl_client_complete(client, 0, 0);
        }
        return;
    }
    case USBDEVFS_GETDRIVER: {
        auto* gd = Resolve<usbdevfs_getdriver>(arg, nullptr);
        if (!gd)
            break;
        const std::string name = BoundDriver();
        if (gd->interface != 0 || name.empty()) {
            umockdev_ioctl_client_complete(client, -1, ENODATA);
        } else {
            std::snprintf(gd->driver, sizeof(gd->driver), "%s", name.c_str());
            umockdev_ioctl_client_complete(client, 0, 0);
        }
        return;
    }
    case USBDEVFS_DISCONNECT_CLAIM: {
        auto* dc = Resolve<usbdevfs_disconnect_claim>(arg, nullptr);
        if (!dc)
            break;
        if (dc->interface != 0) {
            umockdev_ioctl_client_complete(client, -1, ENOENT);
            return;
        }
        dc->driver[sizeof(dc->driver) - 1] = '\0';
        const std::string current = BoundDriver();
        bool disconnect = driverBound;
        if ((dc->flags & USBDEVFS_DISCONNECT_CLAIM_IF_DRIVER) && current != dc->driver)
            disconnect = false;
        if ((dc->flags & USBDEVFS_DISCONNECT_CLAIM_EXCEPT_DRIVER) && current == dc->driver)
            disconnect = false;
        if (disconnect) {
            driverBound = false;
            ++detaches;
        }
        if (driverBound || (claimedBy && claimedBy != client))
            umockdev_ioctl_client_complete(client, -1, EBUSY);
        else {
            claimedBy = client;
            umockdev_ioctl_client_complete(client, 0, 0);
        }
        return;
    }
    case USBDEVFS_IOCTL: {
        auto* io = Resolve<usbdevfs_ioctl>(arg, nullptr);
        if (!io)
            break;
        if (io->ifno != 0) {
            umockdev_ioctl_client_complete(client, -1, EINVAL);
        } else if (io->ioctl_code == int(USBDEVFS_DISCONNECT)) {
            if (!driverBound) {
                umockdev_ioctl_client_complete(client, -1, ENODATA);
            } else {
                driverBound = false;
                ++detaches;
                umockdev_ioctl_client_complete(client, 0, 0);
            }
        } else if (io->ioctl_code == int(USBDEVFS_CONNECT)) {
            // The HID driver takes the interface back once nobody holds it.
            if (options.heldByHid && !claimedBy)
                driverBound = true;
            umockdev_ioctl_client_complete(client, 0, 0);
        } else {
            umockdev_ioctl_client_complete(client, -1, ENOTTY);
        }
        return;
    }
    case USBDEVFS_SUBMITURB:
        Submit(client, arg);
        return;
    case USBDEVFS_REAPURBNDELAY:
        Reap(client, arg);
        return;
    case USBDEVFS_DISCARDURB:
        Discard(client, arg);
        return;
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESET:
        umockdev_ioctl_client_complete(client, 0, 0);
        return;
    case USBDEVFS_CONTROL:
        umockdev_ioctl_client_complete(client, -1, EPIPE);   // no control requests are served
        return;
    default:
        umockdev_ioctl_client_complete(client, -1, ENOTTY);
        return;
    }
    umockdev_ioctl_client_complete(client, -1, EFAULT);
}

void SimUsbDevice::Core::Submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg)
{
    UMockdevIoctlData* urbData = nullptr;
    auto* urb = Resolve<usbdevfs_urb>(arg, &urbData);
    if (!urb) {
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }
    if (urb->endpoint != kEpIn && urb->endpoint != kEpOut) {
        umockdev_ioctl_client_complete(client, -1, ENOENT);
        return;
    }
    if ((urb->type != USBDEVFS_URB_TYPE_INTERRUPT && urb->type != USBDEVFS_URB_TYPE_BULK)
        || urb->buffer_length < 0) {
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return;
    }
    UMockdevIoctlData* buffer = nullptr;
    if (urb->buffer_length > 0) {
        GError* err = nullptr;
        buffer = umockdev_ioctl_data_resolve(urbData, offsetof(usbdevfs_urb, buffer),
                                             gsize(urb->buffer_length), &err);
        if (err)
            g_error_free(err);
        if (!buffer) {
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return;
        }
    }
    SimUsbTransfer t;
    t.endpoint = urb->endpoint;
    t.length = urb->buffer_length;
    t.submitUs = NowUs();
    urb->actual_length = 0;
    urb->status = 0;
    Urb u{client, urbData, buffer, urbData->client_addr, urb->endpoint, transfers.size(), false};
    g_object_ref(urbData);
    if (urb->endpoint == kEpOut) {
        if (buffer)
            t.data.assign(buffer->data, buffer->data + buffer->data_len);
        transfers.push_back(t);
        if (!holdOut) {
            urb->actual_length = urb->buffer_length;
            Finish(u, 0, SimUsbTransfer::Outcome::Completed);
            const std::vector<uint8_t>& d = transfers.back().data;
            if (model && d.size() == size_t(kSimMessageLen) && d[0] == kHostReport)
                model->Receive(d.data() + 1, SimLink::Usb);
        }
    } else {
        transfers.push_back(t);
    }
    urbs.push_back(u);
    umockdev_ioctl_client_complete(client, 0, 0);
}

void SimUsbDevice::Core::ServeIn()
{
    if (!model || unplugged)
        return;
    for (Urb& u : urbs) {
        if (u.done || u.endpoint != kEpIn)
            continue;
        const std::optional<SimMessage> frame = model->NextFrame();
        if (!frame)
            return;
        auto* urb = reinterpret_cast<usbdevfs_urb*>(u.urb->data);
        SimMessage msg = *frame;
        msg[0] = kDeviceReport;
        const int n = std::min(kSimMessageLen, u.buffer ? u.buffer->data_len : 0);
        if (n > 0)
            std::memcpy(u.buffer->data, msg.data(), size_t(n));
        urb->actual_length = n;
        transfers[u.transfer].data.assign(msg.begin(), msg.begin() + n);
        Finish(u, 0, SimUsbTransfer::Outcome::Completed);
        return;   // one frame per reap
    }
}

void SimUsbDevice::Core::Reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg)
{
    // libusb reaps without waiting, over and over while a transfer is pending (the emulated
    // node always looks writable): this is where a waiting IN gets the device's next frame.
    ServeIn();
    for (auto it = urbs.begin(); it != urbs.end(); ++it) {
        if (it->client != client || !it->done)
            continue;
        GError* err = nullptr;
        // The argument is the address of the host's pointer slot: resolve the slot, then
        // point it at the URB (setting the pointer on the argument itself breaks libusb).
        UMockdevIoctlData* slot = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), &err);
        if (err)
            g_error_free(err);
        if (!slot || !umockdev_ioctl_data_set_ptr(slot, 0, it->urb)) {
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return;
        }
        umockdev_ioctl_client_complete(client, 0, 0);
        // Only now has an IN frame reached the host: one completed but never reaped (the
        // client died first) was never delivered.
        const SimUsbTransfer& t = transfers[it->transfer];
        if (model && it->endpoint == kEpIn && t.outcome == SimUsbTransfer::Outcome::Completed
            && t.data.size() == size_t(kSimMessageLen)) {
            SimMessage frame;
            std::copy(t.data.begin(), t.data.end(), frame.begin());
            model->Delivered(frame, SimLink::Usb);
        }
        DropUrb(*it);
        urbs.erase(it);
        return;
    }
    umockdev_ioctl_client_complete(client, -1, unplugged ? ENODEV : EAGAIN);
}

void SimUsbDevice::Core::Discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg)
{
    // The argument carries the URB's address by value.
    gulong address = 0;
    if (arg && arg->data_len >= int(sizeof(address)))
        std::memcpy(&address, arg->data, sizeof(address));
    for (Urb& u : urbs) {
        if (u.client == client && u.address == address && !u.done) {
            Finish(u, -ENOENT, SimUsbTransfer::Outcome::Discarded);
            umockdev_ioctl_client_complete(client, 0, 0);
            return;
        }
    }
    umockdev_ioctl_client_complete(client, -1, EINVAL);
}

SimUsbDevice::SimUsbDevice(const SimUsbOptions& options, std::unique_ptr<SensorModel> model)
    : m_Options(options)
    , m_Model(std::move(model))
    , m_Core(std::make_shared<Core>())
{
    m_Core->model = m_Model.get();
    m_Core->options = options;
    m_Core->driverBound = options.heldByHid;
}

SimUsbDevice::~SimUsbDevice()
{
    Detach();
}

bool SimUsbDevice::Attach(void* testbed, const std::string& sysPath, int devNum, std::string* error)
{
    m_Testbed = testbed;
    m_SysPath = sysPath;
    m_DevNum = devNum;
    if (m_Options.failsOpen)
        return true;   // no node to open, so no handler either
    m_Core->handler = umockdev_ioctl_base_new();
    g_signal_connect(m_Core->handler, "handle-ioctl", G_CALLBACK(&Core::OnIoctl), m_Core.get());
    g_signal_connect(m_Core->handler, "client-connected", G_CALLBACK(&Core::OnConnected),
                     m_Core.get());
    GError* err = nullptr;
    const bool ok = umockdev_testbed_attach_ioctl(static_cast<UMockdevTestbed*>(testbed),
                                                  DevNode().c_str(), m_Core->handler, &err);
    if (!ok && error)
        *error = err ? err->message : "attach failed";
    if (err)
        g_error_free(err);
    return ok;
}

void SimUsbDevice::Renew()
{
    auto fresh = std::make_shared<Core>();
    fresh->model = m_Model.get();
    fresh->options = m_Options;
    fresh->driverBound = m_Options.heldByHid;   // the HID driver binds again on plug-in
    {
        std::lock_guard<std::mutex> g(m_Core->lock);
        // The records go on across the replug; pending URBs stay with the old state.
        fresh->transfers = m_Core->transfers;
        fresh->clientsSeen = m_Core->clientsSeen;
        fresh->detaches = m_Core->detaches;
    }
    m_Retired.push_back(m_Core);
    m_Core = fresh;
    if (m_Model)
        m_Model->Replug();
}

void SimUsbDevice::Detach()
{
    for (auto& core : m_Retired)
        DetachCore(*core);
    DetachCore(*m_Core);
}

void SimUsbDevice::DetachCore(Core& core)
{
    if (!core.handler)
        return;
    {
        std::lock_guard<std::mutex> g(core.lock);
        core.closed = true;
        for (UMockdevIoctlClient* c : core.clients)
            g_object_weak_unref(G_OBJECT(c), &Core::OnClientGone, &core);
        core.clients.clear();
        for (Core::Urb& u : core.urbs)
            core.DropUrb(u);
        core.urbs.clear();
    }
    g_signal_handlers_disconnect_by_data(core.handler, &core);
    g_object_unref(core.handler);
    core.handler = nullptr;
}

std::string SimUsbDevice::DevNode() const
{
    char buf[64];
    std::snprintf(buf, sizeof(buf), "/dev/bus/usb/001/%03d", m_DevNum);
    return buf;
}

void SimUsbDevice::Unplug()
{
    {
        std::lock_guard<std::mutex> g(m_Core->lock);
        if (m_Core->unplugged)
            return;
        m_Core->unplugged = true;
        for (Core::Urb& u : m_Core->urbs)
            if (!u.done)
                m_Core->Finish(u, -ESHUTDOWN, SimUsbTransfer::Outcome::Failed);
    }
    if (m_Model)
        m_Model->Unplug();
}

bool SimUsbDevice::IsUnplugged() const
{
    std::lock_guard<std::mutex> g(m_Core->lock);
    return m_Core->unplugged;
}

void SimUsbDevice::SetHoldOut(bool hold)
{
    std::lock_guard<std::mutex> g(m_Core->lock);
    m_Core->holdOut = hold;
}

std::vector<SimUsbTransfer> SimUsbDevice::Transfers() const
{
    std::lock_guard<std::mutex> g(m_Core->lock);
    return m_Core->transfers;
}

std::vector<SimUsbTransfer> SimUsbDevice::Transfers(uint8_t endpoint) const
{
    std::vector<SimUsbTransfer> out;
    for (const SimUsbTransfer& t : Transfers())
        if (t.endpoint == endpoint)
            out.push_back(t);
    return out;
}

void SimUsbDevice::ClearTransfers()
{
    std::lock_guard<std::mutex> g(m_Core->lock);
    // Pending URBs index into the list: keep their records, drop the rest.
    std::vector<SimUsbTransfer> kept;
    for (Core::Urb& u : m_Core->urbs) {
        kept.push_back(m_Core->transfers[u.transfer]);
        u.transfer = kept.size() - 1;
    }
    m_Core->transfers.swap(kept);
}

bool SimUsbDevice::IsClaimed() const
{
    std::lock_guard<std::mutex> g(m_Core->lock);
    return m_Core->claimedBy != nullptr;
}

bool SimUsbDevice::KernelDriverBound() const
{
    std::lock_guard<std::mutex> g(m_Core->lock);
    return m_Core->driverBound;
}

int SimUsbDevice::Detaches() const
{
    std::lock_guard<std::mutex> g(m_Core->lock);
    return m_Core->detaches;
}

int SimUsbDevice::ClientsSeen() const
{
    std::lock_guard<std::mutex> g(m_Core->lock);
    return m_Core->clientsSeen;
}
